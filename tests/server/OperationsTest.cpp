// What an operator relies on: file modes, the token file, where the service may listen, a log
// that clients cannot forge or flood, slowed token guesses, and an orderly end on signals.

#include "DemoServer.h"
#include "contract/Methods.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <sys/stat.h>

using namespace testing_rh;
using protocol::Response;
namespace ErrorCode = protocol::ErrorCode;

namespace {

int modeOf(const QString& path) {
    struct stat st {};
    return ::stat(path.toLocal8Bit().constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

QString writeToken(ServerProcess& server, QFileDevice::Permissions permissions) {
    QFile token(server.path(QStringLiteral("token")));
    EXPECT_TRUE(token.open(QIODevice::WriteOnly | QIODevice::Truncate));
    token.write("segredo-do-servico-0123\n");
    token.close();
    token.setPermissions(permissions);
    return token.fileName();
}

class Operations : public DemoServerTest {
protected:
};

TEST_F(Operations, DatabaseFilesAreTheOwnersAlone) {
    EXPECT_EQ(modeOf(server.dbPath()), 0600);
    ASSERT_TRUE(server.start()) << server.log().toStdString();
    LineClient c(server.port());
    ASSERT_TRUE(c.open().ok);
    ASSERT_TRUE(
        c.call(QStringLiteral("SetInsPad"), {QStringLiteral("01002"), QStringLiteral("0001")}).ok);
    for (const char* suffix : {"", "-wal", "-shm"}) {
        SCOPED_TRACE(suffix);
        const QString path = server.dbPath() + QLatin1String(suffix);
        ASSERT_TRUE(QFileInfo::exists(path));
        EXPECT_EQ(modeOf(path), 0600);
    }
}

TEST_F(Operations, StartRefusesAnExposedTokenOrAnOpenListenerWithoutOne) {
    QString out;
    const auto owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    // 0644, 0640 and 0660: anyone of the group who reads it takes the token, who writes it adds
    // one.
    for (const QFileDevice::Permissions exposed :
         {owner | QFileDevice::ReadGroup | QFileDevice::ReadOther, owner | QFileDevice::ReadGroup,
          owner | QFileDevice::ReadGroup | QFileDevice::WriteGroup}) {
        const QString token = writeToken(server, exposed);
        EXPECT_NE(
            ServerProcess::runToEnd(
                {"--listen", "127.0.0.1:0", "--db", server.dbUrl(), "--token-file", token}, &out),
            0);
        EXPECT_TRUE(out.contains(QStringLiteral("chmod 600"))) << out.toStdString();
        EXPECT_EQ(out.count(u'\n'), 1) << out.toStdString();
    }
    // A token of 4 characters is guessed in moments: refused, in one line.
    QFile shortToken(server.path(QStringLiteral("curto")));
    ASSERT_TRUE(shortToken.open(QIODevice::WriteOnly));
    shortToken.write("1234\n");
    shortToken.close();
    shortToken.setPermissions(QFileDevice::ReadOwner);
    EXPECT_NE(ServerProcess::runToEnd({"--listen", "127.0.0.1:0", "--db", server.dbUrl(),
                                       "--token-file", shortToken.fileName()},
                                      &out),
              0);
    EXPECT_TRUE(out.contains(QStringLiteral("menos de 20 caracteres"))) << out.toStdString();
    EXPECT_EQ(out.count(u'\n'), 1) << out.toStdString();
    EXPECT_NE(ServerProcess::runToEnd({"--listen", "0.0.0.0:0", "--db", server.dbUrl()}, &out), 0);
    EXPECT_TRUE(out.contains(QStringLiteral("--token-file"))) << out.toStdString();
    // A warning, not a refusal: more workers than cores; a file only its owner may read is taken.
    const QString token = writeToken(server, QFileDevice::ReadOwner);
    ASSERT_TRUE(server.start(
        {QStringLiteral("--token-file"), token, QStringLiteral("--workers"), QStringLiteral("64")}))
        << server.log().toStdString();
    EXPECT_TRUE(server.log().contains(QStringLiteral("aviso: --workers 64")))
        << server.log().toStdString();
}

// A method name or a field type holding a newline stays inside its own log line, escaped and cut.
TEST_F(Operations, ClientTextCannotForgeOrStretchLogLines) {
    ASSERT_TRUE(server.start()) << server.log().toStdString();
    LineClient c(server.port());
    ASSERT_TRUE(c.open().ok);
    const std::string forged = "x\\n00:00 rhserver: FORJADO\\r";
    c.request(R"({"jsonrpc":"2.0","id":1,"method":")" + forged +
              R"(","params":[]})"
              "\n");
    c.request(
        R"({"jsonrpc":"2.0","id":2,"method":"SetGeral","params":[{"fields":[{"name":"CDPARAMRH","type":"string\nrhserver: forjado"}],"changes":[]}]})"
        "\n");
    // A right-to-left override would make the line read otherwise than it was written.
    c.request(R"({"jsonrpc":"2.0","id":4,"method":"Get\u202eGeral","params":[]})"
              "\n");
    c.request(R"({"jsonrpc":"2.0","id":3,"method":")" + std::string(20000, 'm') +
              R"(","params":[]})"
              "\n");
    const Response refused =
        c.call(QStringLiteral("SetInsCarg"),
               {QStringLiteral("0001"), QStringLiteral("01001"), QStringLiteral("9999")});
    EXPECT_EQ(refused.errorCode, ErrorCode::Refused);
    EXPECT_TRUE(c.call(QStringLiteral("GetGeral"), {QStringLiteral("1")}).ok);
    const QStringList lines = server.log().split(u'\n', Qt::SkipEmptyParts);
    static const QRegularExpression stamp(QStringLiteral(R"(^\d{4}-\d\d-\d\dT[\d:.]+ rhserver: )"));
    for (const QString& line : lines) {
        if (line.startsWith(QLatin1String("rhserver listening"))) continue;
        EXPECT_TRUE(stamp.match(line).hasMatch()) << "[" << line.toStdString() << "]";
        EXPECT_FALSE(line.contains(u'\r'));
        EXPECT_FALSE(line.contains(QChar(0x202e)));
        EXPECT_LT(line.size(), 1200);
    }
    ASSERT_EQ(lines.filter(QStringLiteral("FORJADO")).size(), 1);
    EXPECT_TRUE(lines.filter(QStringLiteral("FORJADO"))[0].contains(QStringLiteral("x\\n00:00")));
    EXPECT_EQ(lines.filter(QStringLiteral("forjado")).size(), 1);
    EXPECT_EQ(lines.filter(QStringLiteral("Get\\u202eGeral")).size(), 1)
        << server.log().toStdString();
    // A refused write names its method, the session's branch and the client.
    const QStringList write = lines.filter(QStringLiteral("SetInsCarg (filial 0001)"));
    ASSERT_EQ(write.size(), 1) << server.log().toStdString();
    EXPECT_TRUE(write[0].contains(QStringLiteral("127.0.0.1"))) << write[0].toStdString();
    EXPECT_TRUE(write[0].contains(QStringLiteral("-32011"))) << write[0].toStdString();
}

// A flood of refused requests, or of connections that send nothing, writes a few dozen lines a
// second, and says how many it left out.
TEST_F(Operations, ClientFloodsAreLoggedAtABoundedRate) {
    ASSERT_TRUE(server.start()) << server.log().toStdString();
    const auto bounded = [&](const QString& marker, const std::function<void()>& flood,
                             const std::function<void()>& oneMore) {
        QElapsedTimer clock;
        clock.start();
        const qsizetype before = server.log().size();
        flood();
        const qint64 seconds = clock.elapsed() / 1000 + 2;
        // The next event after the second is over reports the count left out.
        QElapsedTimer wait;
        wait.start();
        while (!server.log().mid(before).contains(QStringLiteral("omitidas")) &&
               wait.elapsed() < 10000)
            oneMore();
        const QStringList lines = server.log().mid(before).split(u'\n', Qt::SkipEmptyParts);
        EXPECT_LE(lines.filter(marker).size(), 50 * (seconds + 10));
        EXPECT_EQ(lines.filter(QStringLiteral("omitidas")).size(), 1) << server.log().toStdString();
    };
    LineClient c(server.port());
    bounded(
        QStringLiteral("erro -32002"),
        [&] {
            QByteArray flood;
            for (int i = 0; i < 3000; ++i)
                flood += R"({"jsonrpc":"2.0","id":1,"method":"GetGeral","params":["1"]})"
                         "\n";
            c.send(flood);
            for (int i = 0; i < 3000; ++i)
                ASSERT_TRUE(c.readLine()) << i;
        },
        [&] {
            EXPECT_EQ(c.call(QStringLiteral("GetGeral"), {QStringLiteral("1")}).errorCode,
                      ErrorCode::NotOpen);
        });
    const auto connectAndLeave = [&] {
        LineClient empty(server.port());
        ASSERT_TRUE(empty.connected());
        empty.close();
    };
    bounded(
        QStringLiteral("conexão"),
        [&] {
            for (int i = 0; i < 1500; ++i)
                connectAndLeave();
        },
        [&] {
            connectAndLeave();
            QThread::msleep(10);
        });
}

// Each wrong token costs a connection, and after a few the wrong ones from the address are told
// to wait; the right token is never refused (behind a balancer every desktop shares the address),
// and a success does not forget the failures.
TEST_F(Operations, WrongTokensArePausedPerAddressTheRightOneNever) {
    const QString token = writeToken(server, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    ASSERT_TRUE(server.start({QStringLiteral("--token-file"), token}))
        << server.log().toStdString();
    const auto guess = [&](const QString& tried) {
        LineClient guesser(server.port());
        const Response r = guesser.open(QStringLiteral("0001"), tried);
        EXPECT_EQ(r.errorCode, ErrorCode::NotAuthorised);
        EXPECT_TRUE(guesser.waitClosed(5000)); // one guess per connection
        return r.errorMessage;
    };
    for (int i = 0; i < 5; ++i) // the wrong tokens an address may try before it waits
        EXPECT_TRUE(guess(QStringLiteral("palpite-%1").arg(i)).contains(u"não confere"));
    EXPECT_TRUE(guess(QStringLiteral("mais-um")).contains(u"tentativas"));
    LineClient desktop(server.port());
    ASSERT_TRUE(desktop.open(QStringLiteral("0001"), QStringLiteral("segredo-do-servico-0123")).ok);
    EXPECT_TRUE(desktop.call(QStringLiteral("GetGeral"), {QStringLiteral("1")}).ok);
    EXPECT_TRUE(guess(QStringLiteral("depois")).contains(u"tentativas"));
}

TEST_F(Operations, SessionIdsAreRandomAndHangupEndsInOrder) {
    ASSERT_TRUE(server.start()) << server.log().toStdString();
    {
        LineClient a(server.port()), b(server.port());
        ASSERT_TRUE(a.open().ok);
        ASSERT_TRUE(b.open().ok);
        ASSERT_TRUE(
            a.call(QStringLiteral("SetInsPad"), {QStringLiteral("01002"), QStringLiteral("0001")})
                .ok);
        ASSERT_TRUE(
            b.call(QStringLiteral("SetDelPad"), {QStringLiteral("01002"), QStringLiteral("0001")})
                .ok);
    }
    const QVector<AuditRow> rows = auditRows(server.dbPath());
    ASSERT_EQ(rows.size(), 2);
    static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{32}$"));
    for (const AuditRow& r : rows)
        EXPECT_TRUE(hex.match(r.session).hasMatch()) << r.session.toStdString();
    EXPECT_NE(rows[0].session, rows[1].session);
    ASSERT_EQ(::kill(pid_t(server.pid()), SIGHUP), 0);
    EXPECT_TRUE(server.waitEnded());
    EXPECT_EQ(server.exitCode(), 0);
    EXPECT_TRUE(server.log().contains(QStringLiteral("serviço encerrado")))
        << server.log().toStdString();
}

} // namespace

// A flood of refused requests from one address leaves the others' lines in the log, and every
// session opened is logged with its address, session and token.
TEST_F(Operations, OneAddressFloodingTheLogSilencesNoOther) {
    ASSERT_TRUE(server.start()) << server.log().toStdString();
    QTcpSocket flooder;
    ASSERT_TRUE(flooder.bind(QHostAddress(QStringLiteral("127.0.0.2"))));
    flooder.connectToHost(QHostAddress::LocalHost, server.port());
    ASSERT_TRUE(flooder.waitForConnected(5000));
    QByteArray flood = QByteArray::fromStdString(protocol::openRequestJson(
        1, {QString(contract::ServerObjectName), QStringLiteral("0001"), {}}));
    for (int i = 0; i < 300; ++i)
        flood +=
            QByteArray::fromStdString(protocol::requestJson(i + 2, QStringLiteral("Enchente"), {}));
    flooder.write(flood);
    ASSERT_TRUE(flooder.waitForBytesWritten(5000));
    // Its answers read: the refusals were all logged or counted by now.
    int answered = 0;
    while (answered < 301 && flooder.waitForReadyRead(5000))
        while (flooder.canReadLine()) {
            flooder.readLine();
            ++answered;
        }
    ASSERT_EQ(answered, 301);
    LineClient other(server.port());
    ASSERT_TRUE(other.open().ok);
    EXPECT_EQ(other.call(QStringLiteral("Marcador"), {}).errorCode, ErrorCode::MethodNotFound);
    QElapsedTimer waited;
    waited.start();
    while (!server.log().contains(QStringLiteral("Marcador")) && waited.elapsed() < 2000)
        QThread::msleep(20);
    EXPECT_TRUE(server.log().contains(QStringLiteral("Marcador")));
    const QStringList lines = server.log().split(u'\n');
    EXPECT_LE(lines.filter(QStringLiteral("Enchente")).size(), 20);
    EXPECT_EQ(lines
                  .filter(QRegularExpression(
                      QStringLiteral("^.* rhserver: sessão [0-9a-f]+ aberta "
                                     "por 127\\.0\\.0\\.[12], token -, filial 0001$")))
                  .size(),
              2)
        << server.log().toStdString();
}
