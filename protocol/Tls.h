#pragma once
// TLS on the wire between desktops and the service: the server's certificate and key, and what a
// client trusts, read from PEM files.

#include <QSslConfiguration>
#include <QString>

namespace protocol {

// The listener's settings: the certificate (with its chain) and the private key, TLS 1.2 or
// later. A null configuration, with the reason in `error`, when they cannot be used.
QSslConfiguration serverTls(const QString& certFile, const QString& keyFile, QString* error);

// A client's settings: it trusts only the certificates in the file (the server's own or the
// authority that signed it) and checks the host name. Null, with the reason, when unusable.
QSslConfiguration clientTls(const QString& trustFile, QString* error);

// The first of the handshake's problems in words a user understands, or empty.
QString handshakeFailureText(const QList<QSslError>& errors);

} // namespace protocol
