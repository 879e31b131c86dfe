#include "Tls.h"

#include "SecretFile.h"

#include <QDateTime>
#include <QSslKey>
#include <QSslSocket>

namespace protocol {

namespace {

bool tlsAvailable(QString* error) {
    if (QSslSocket::supportsSsl()) return true;
    *error = QStringLiteral("este sistema não oferece TLS: a biblioteca OpenSSL (libssl3) não foi "
                            "encontrada.");
    return false;
}

} // namespace

QSslConfiguration serverTls(const QString& certFile, const QString& keyFile, QString* error) {
    if (!tlsAvailable(error)) return {};
    const QList<QSslCertificate> chain = QSslCertificate::fromPath(certFile, QSsl::Pem);
    if (chain.isEmpty()) {
        *error = QStringLiteral("o arquivo %1 não contém um certificado PEM.").arg(certFile);
        return {};
    }
    if (chain.first().expiryDate() < QDateTime::currentDateTimeUtc()) {
        *error = QStringLiteral("o certificado de %1 venceu em %2; nenhum cliente o aceitaria.")
                     .arg(certFile, chain.first().expiryDate().toString(Qt::ISODate));
        return {};
    }
    // The key is a secret like the tokens: nobody but the service's account may read it.
    const std::optional<QByteArray> pem = readSecretFile(keyFile, error);
    if (!pem) return {};
    QSslKey key;
    for (const QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa}) {
        key = QSslKey(*pem, algorithm, QSsl::Pem, QSsl::PrivateKey);
        if (!key.isNull()) break;
    }
    if (key.isNull()) {
        *error = QStringLiteral("o arquivo %1 não contém uma chave privada PEM (RSA ou EC) sem "
                                "senha.")
                     .arg(keyFile);
        return {};
    }
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificateChain(chain);
    tls.setPrivateKey(key);
    tls.setProtocol(QSsl::TlsV1_2OrLater);
    // Clients prove who they are with a token, not a certificate.
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    return tls;
}

QSslConfiguration clientTls(const QString& trustFile, QString* error) {
    if (!tlsAvailable(error)) return {};
    const QList<QSslCertificate> trusted = QSslCertificate::fromPath(trustFile, QSsl::Pem);
    if (trusted.isEmpty()) {
        *error = QStringLiteral("o arquivo %1 não contém um certificado PEM.").arg(trustFile);
        return {};
    }
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    // Only what the office gave: a certificate some public authority signed for another
    // machine must not pass.
    tls.setCaCertificates(trusted);
    tls.setProtocol(QSsl::TlsV1_2OrLater);
    tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
    return tls;
}

QString handshakeFailureText(const QList<QSslError>& errors) {
    for (const QSslError& e : errors) {
        switch (e.error()) {
        case QSslError::HostNameMismatch:
            return QStringLiteral("o certificado do servidor foi emitido para outro nome de "
                                  "máquina");
        case QSslError::CertificateExpired:
            return QStringLiteral("o certificado do servidor venceu");
        case QSslError::CertificateNotYetValid:
            return QStringLiteral("o certificado do servidor ainda não é válido (confira o "
                                  "relógio desta máquina)");
        case QSslError::SelfSignedCertificate:
        case QSslError::SelfSignedCertificateInChain:
        case QSslError::UnableToGetLocalIssuerCertificate:
        case QSslError::UnableToGetIssuerCertificate:
        case QSslError::UnableToVerifyFirstCertificate:
        case QSslError::CertificateUntrusted:
            return QStringLiteral("o certificado do servidor não é o confiado por esta máquina "
                                  "(--tls-ca)");
        default:
            break;
        }
    }
    return errors.isEmpty() ? QString()
                            : QStringLiteral("o certificado do servidor foi recusado (%1)")
                                  .arg(errors.first().errorString());
}

} // namespace protocol
