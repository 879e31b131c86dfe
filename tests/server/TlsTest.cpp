// The service on a LAN: over TLS a client that trusts the office's certificate reads and writes;
// a plain-text client, or one that trusts another certificate, never gets a session; the start
// refuses what cannot work and says when secrets would travel in plain text.

#include "DemoServer.h"

#include <QFile>
#include <QSslSocket>
#include <gtest/gtest.h>

using namespace testing_rh;
using protocol::Response;

namespace {

const QString Token = QStringLiteral("segredo-do-escritorio-0123456789");

class Tls : public DemoServerTest {
protected:
    QString tokenFile() {
        QFile file(server.path(QStringLiteral("tokens")));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(Token.toUtf8() + '\n');
        file.close();
        file.setPermissions(QFileDevice::ReadOwner);
        return file.fileName();
    }
};

TEST_F(Tls, OnlyAClientTrustingTheCertificateGetsASession) {
    serve(server.tlsArguments() + QStringList{QStringLiteral("--token-file"), tokenFile()});
    EXPECT_FALSE(server.log().contains(QStringLiteral("texto puro"))) << server.log().toStdString();

    LineClient office(server.port(), trusting(QStringLiteral("ca.crt")));
    ASSERT_TRUE(office.connected());
    ASSERT_TRUE(office.open(QStringLiteral("0001"), Token).ok);
    EXPECT_EQ(packetOf(office.call(QStringLiteral("GetGeral"), {QStringLiteral("1")})).rows.size(),
              1);
    ASSERT_TRUE(
        office.call(QStringLiteral("SetInsPad"), {QStringLiteral("01002"), QStringLiteral("0001")})
            .ok);
    EXPECT_EQ(storedValue(server.dbPath(),
                          QStringLiteral("SELECT COUNT(*) FROM RHAUDITORIA WHERE NMMETODO = "
                                         "'SetInsPad'")),
              QStringLiteral("1"));

    // A client that trusts another certificate stops at the handshake: the token never leaves.
    LineClient stranger(server.port(), trusting(QStringLiteral("other.crt")));
    EXPECT_FALSE(stranger.connected());
    EXPECT_FALSE(stranger.handshakeErrors().isEmpty());

    // Plain text gets no answer it could read, and the connection ends.
    LineClient plain(server.port());
    ASSERT_TRUE(plain.connected());
    plain.send(QByteArray::fromStdString(protocol::openRequestJson(
        1, {QStringLiteral("ZOL00900.rdmParametrosZOL"), QStringLiteral("0001"), Token})));
    const std::optional<QByteArray> answer = plain.readLine(5000);
    EXPECT_FALSE(answer && answer->contains("\"result\"")) << answer->toStdString();
    EXPECT_TRUE(plain.waitClosed(5000));

    // The server goes on serving the office.
    EXPECT_TRUE(office.call(QStringLiteral("GetGeral"), {QStringLiteral("1")}).ok);
    EXPECT_TRUE(server.log().contains(QStringLiteral("TLS não negociado")))
        << server.log().toStdString();
}

TEST_F(Tls, StartRefusesWhatCannotWorkAndWarnsOfPlainText) {
    const QStringList tls = server.tlsArguments();
    const QString cert = tls[1], key = tls[3];
    QFile::setPermissions(key, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                   QFileDevice::ReadGroup);
    // Not a key, though kept as one.
    const QString notKey = server.path(QStringLiteral("not-a-key"));
    QFile::copy(cert, notKey);
    QFile::setPermissions(notKey, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QStringList base = {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                              QStringLiteral("--db"), server.dbUrl()};
    const struct {
        QStringList args;
        QString said;
    } refused[] = {
        {{QStringLiteral("--tls-cert"), cert}, QStringLiteral("--tls-key")},
        {{QStringLiteral("--tls-cert"), cert, QStringLiteral("--tls-key"), key},
         QStringLiteral("chmod 600")},
        {{QStringLiteral("--tls-cert"), key, QStringLiteral("--tls-key"), key},
         QStringLiteral("certificado PEM")},
        {{QStringLiteral("--tls-cert"), cert, QStringLiteral("--tls-key"), notKey},
         QStringLiteral("chave privada")},
    };
    for (const auto& r : refused) {
        QString out;
        EXPECT_NE(ServerProcess::runToEnd(base + r.args, &out), 0)
            << r.args.join(' ').toStdString();
        EXPECT_TRUE(out.contains(r.said)) << out.toStdString();
        EXPECT_EQ(out.count(u'\n'), 1) << out.toStdString();
    }
    // A token file without TLS still serves, once said so.
    serve({QStringLiteral("--token-file"), tokenFile()});
    EXPECT_EQ(server.log().count(QStringLiteral("texto puro")), 1) << server.log().toStdString();
    LineClient c(server.port());
    EXPECT_TRUE(c.open(QStringLiteral("0001"), Token).ok);
}

} // namespace
