#!/usr/bin/env bash
# Makes the tests' certificates (kept in the repository, valid for a century): an office
# authority, the service's certificate for localhost and 127.0.0.1 signed by it, and an
# unrelated self-signed certificate a client must not accept. Test material only.
set -euo pipefail
cd "$(dirname "$0")"
days=36500
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days $days \
  -subj "/O=RH Testes/CN=Autoridade de testes" -keyout ca.key -out ca.crt
openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
  -subj "/O=RH Testes/CN=localhost" -keyout server.key -out server.csr
printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' >server.ext
openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days $days \
  -extfile server.ext -out server.crt
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days $days \
  -subj "/O=Outra/CN=localhost" -addext "subjectAltName=DNS:localhost,IP:127.0.0.1" \
  -keyout other.key -out other.crt
rm -f server.csr server.ext ca.srl ca.key other.key
