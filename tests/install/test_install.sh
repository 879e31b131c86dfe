#!/usr/bin/env bash
# The installed tree runs on its own: install into a temporary prefix, start rhserver from
# there on a fresh demo database and call it with the installed rhcall.
set -euo pipefail
build=$1
modules_from_bin=$2
prefix=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; fi
  rm -rf "$prefix"
}
trap cleanup EXIT
fail() { echo "FALHOU: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
bin=$prefix/bin
for program in rh rhserver rhcall; do
  [ -x "$bin/$program" ] || fail "$program não foi instalado"
  if ldd "$bin/$program" | grep -q "not found"; then fail "$program não acha suas bibliotecas"; fi
done
module=$bin/$modules_from_bin/libzol00900.so
[ -f "$module" ] || fail "o módulo não está onde o rh instalado o procura ($module)"
if ldd "$module" | grep -q "not found"; then fail "o módulo não acha suas bibliotecas"; fi
[ -f "$prefix/share/applications/rh.desktop" ] || fail "sem entrada de menu"
"$bin/rh" --help >/dev/null || fail "rh --help"
for program in rh rhserver rhcall; do
  "$bin/$program" --version | grep -q "^$program " || fail "$program --version"
done

db="sqlite:$prefix/rh.db"
"$bin/rhserver" --db "$db" --init --demo >/dev/null 2>&1 || fail "rhserver --init --demo"
# The demo's payroll folders are made in the service's state folder, here the database's.
for branch in 0001 0002 0003; do
  [ -d "$prefix/folha/$branch" ] || fail "a pasta da folha da filial $branch não foi criada"
done
printf '# nome papel token\nmonitor leitura seg-monitor-0123456789\n' >"$prefix/tokens"
chmod 600 "$prefix/tokens"
printf 'seg-monitor-0123456789\n' >"$prefix/monitor"
chmod 600 "$prefix/monitor"
"$bin/rhserver" --listen 127.0.0.1:0 --db "$db" --token-file "$prefix/tokens" 2>"$prefix/log" &
pid=$!
port=
for _ in $(seq 1 100); do
  port=$(sed -n 's/.*rhserver listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$prefix/log" | head -n 1)
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || fail "rhserver não começou a escutar: $(cat "$prefix/log")"
"$bin/rhcall" --server "127.0.0.1:$port" --token-file "$prefix/monitor" ping >/dev/null ||
  fail "rhcall ping instalado: $(cat "$prefix/log")"
answer=$("$bin/rhcall" --server "127.0.0.1:$port" --token-file "$prefix/monitor" --branch 0001 \
  GetFilial 0001)
echo "$answer" | grep -q '"0001"' || fail "GetFilial pelo rhcall instalado: $answer"
kill "$pid"
wait "$pid" || fail "rhserver não terminou bem com SIGTERM"
pid=
if "$bin/rhcall" --server "127.0.0.1:$port" --token-file "$prefix/monitor" ping 2>/dev/null; then
  fail "rhcall ping respondeu 0 com o servidor parado"
fi
echo "1 passed, 0 failed"
