// The desktop's side of the protocol: TNetConnection against a real rhserver, a closed port and a
// peer that never answers. Calls block, never hang, and a lost connection is made again.

#include "ServerHarness.h"
#include "contract/Methods.h"

#include "Consiste.h"
#include "Exceptions.h"
#include "NetConnection.h"
#include "RecordingHost.h"
#include "SlowServer.h"

#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpServer>
#include <QThread>
#include <gtest/gtest.h>
#include <optional>

using namespace testing_rh;

namespace {

quint16 closedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

struct Connection {
    TNetConnection net;
    int beforeConnect = 0;
    explicit Connection(quint16 port) {
        net.ServerName = QString(contract::ServerObjectName);
        net.BeforeConnect = [this, port](TNetConnection& c) {
            ++beforeConnect;
            c.Host = QStringLiteral("127.0.0.1");
            c.Port = port;
        };
    }
};

} // namespace

TEST(Connection, CallsByNameReturnPacketsAndServerRefusalsRaiseItsSentence) {
    RecordingHost host;
    ServerProcess server;
    ASSERT_TRUE(server.initDemo());
    ASSERT_TRUE(server.start());
    Connection c(server.port());
    c.net.SetConnected(true);
    ASSERT_TRUE(c.net.Connected()) << c.net.LastError().toStdString();
    EXPECT_EQ(c.beforeConnect, 1);
    const protocol::DataPacket geral = CheckResultServ(
        c.net.AppServer().call(QStringLiteral("GetGeral"), {QStringLiteral("1")}), true, 0);
    ASSERT_EQ(geral.rows.size(), 1);
    try {
        CheckResultServ(c.net.AppServer().call(QStringLiteral("SetInsPad"),
                                               {QStringLiteral("99999"), QStringLiteral("0001")}),
                        true, 0);
        FAIL() << "an unknown questionnaire must be refused";
    } catch (const EServerError& e) {
        EXPECT_EQ(e.code(), protocol::ErrorCode::Refused);
        EXPECT_FALSE(e.message().isEmpty());
    }
    // The refusal left the connection usable.
    EXPECT_NO_THROW(CheckResultServ(
        c.net.AppServer().call(QStringLiteral("GetFilial"), {QStringLiteral("0001")}), true, 0));
}

// A reply far larger than the rest, alternating with small ones on one connection: the parser
// that read the large one is given back and a fresh one reads the next, with nothing carried over.
TEST(Connection, LargeAndSmallRepliesAlternateOnOneConnection) {
    RecordingHost host;
    ServerProcess server;
    ASSERT_TRUE(server.initDemo());
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("big"));
        db.setDatabaseName(server.dbPath());
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(QStringLiteral(
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 4000) "
            "INSERT INTO CARGO (CDCARGO, NMCARGO) SELECT printf('%04X', 40000 + i), 'Cargo longo ' "
            "|| i "
            "FROM n")));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("big"));
    ASSERT_TRUE(server.start());
    Connection c(server.port());
    const auto call = [&c](const QString& method, const QString& arg) {
        const protocol::Response r = c.net.AppServer().call(method, {arg});
        const protocol::DataPacket packet = CheckResultServ(r, true, 0);
        return std::make_pair(protocol::packetToJson(packet).size(), packet);
    };
    const auto [firstBytes, first] = call(QStringLiteral("GetCargo"), QStringLiteral("01001"));
    ASSERT_GT(firstBytes, 64u * 1024);
    ASSERT_GT(first.rows.size(), 4000);
    for (int round = 0; round < 3; ++round) {
        const auto [bytes, geral] = call(QStringLiteral("GetGeral"), QStringLiteral("1"));
        ASSERT_EQ(geral.rows.size(), 1);
        const auto [again, list] = call(QStringLiteral("GetCargo"), QStringLiteral("01001"));
        EXPECT_EQ(again, firstBytes);
        EXPECT_TRUE(list.rows == first.rows) << "round " << round;
    }
}

TEST(Connection, AFailedConnectIsQuietAndTheNextCallRaisesOrConnects) {
    RecordingHost host;
    const quint16 port = closedPort();
    Connection c(port);
    c.net.ThrowException = false;
    EXPECT_NO_THROW(c.net.SetConnected(true));
    EXPECT_FALSE(c.net.Connected());
    EXPECT_TRUE(c.net.LastError().startsWith(
        QStringLiteral("Não foi possível comunicar com o servidor de aplicação")))
        << c.net.LastError().toStdString();
    EXPECT_THROW(c.net.AppServer().call(QStringLiteral("GetGeral"), {QStringLiteral("1")}),
                 EServerError);
    EXPECT_EQ(c.beforeConnect, 2); // host and port are asked again for every connect

    c.net.ThrowException = true;
    EXPECT_THROW(c.net.SetConnected(true), EServerError);
}

TEST(Connection, APeerThatNeverAnswersEndsInATimeoutNotAHang) {
    RecordingHost host;
    QTcpServer silent; // accepts connections and never reads them
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    Connection c(silent.serverPort());
    c.net.TimeoutMs = 300;
    c.net.ThrowException = true;
    try {
        c.net.SetConnected(true);
        FAIL() << "open must time out";
    } catch (const EServerError& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("não respondeu a tempo")))
            << e.message().toStdString();
    }
    EXPECT_FALSE(c.net.Connected());
}

TEST(Connection, ALostConnectionIsMadeAgainForTheNextCall) {
    RecordingHost host;
    ServerProcess first;
    ASSERT_TRUE(first.initDemo());
    ASSERT_TRUE(first.start());
    quint16 port = first.port();
    TNetConnection net;
    net.ServerName = QString(contract::ServerObjectName);
    net.BeforeConnect = [&port](TNetConnection& c) {
        c.Host = QStringLiteral("127.0.0.1");
        c.Port = port;
    };
    net.SetConnected(true);
    ASSERT_TRUE(net.Connected());
    first.stop();
    EXPECT_THROW(net.AppServer().call(QStringLiteral("GetGeral"), {QStringLiteral("1")}),
                 EServerError);
    EXPECT_FALSE(net.Connected());

    ServerProcess second;
    ASSERT_TRUE(second.initDemo());
    ASSERT_TRUE(second.start());
    port = second.port();
    const protocol::DataPacket p = CheckResultServ(
        net.AppServer().call(QStringLiteral("GetGeral"), {QStringLiteral("1")}), true, 0);
    EXPECT_EQ(p.rows.size(), 1);
    EXPECT_TRUE(net.Connected());
}

// A connection the server closed while the desktop sat idle (its idle timeout, or a server that
// stopped and came back on the same port) serves the very next call, without an error first.
// A server that closes the connection says why first, on a line with no id: the user reads that.
TEST(Connection, TheServersReasonForClosingReachesTheUser) {
    RecordingHost host;
    ServerProcess server;
    ASSERT_TRUE(server.initDemo());
    ASSERT_TRUE(server.start({QStringLiteral("--max-message"), QStringLiteral("4096")}));
    Connection c(server.port());
    try {
        CheckResultServ(c.net.AppServer().call(QStringLiteral("GetFilial"), {QString(8000, u'0')}),
                        true, 0);
        FAIL() << "a message over the limit must fail";
    } catch (const EServerError& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("passa do limite de 4096 bytes")))
            << e.message().toStdString();
    }
}

TEST(Connection, ASessionClosedByTheServerMeanwhileServesTheNextCall) {
    RecordingHost host;
    enum Case { Restarted, ClosedIdle, ClosedIdleAsTheCallWentOut };
    for (const Case at : {Restarted, ClosedIdle, ClosedIdleAsTheCallWentOut}) {
        SCOPED_TRACE(at == Restarted    ? "server restarted"
                     : at == ClosedIdle ? "idle session closed"
                                        : "idle session closed as the call went out");
        ServerProcess server;
        ASSERT_TRUE(server.initDemo());
        ASSERT_TRUE(server.start(
            at == Restarted ? QStringList{}
                            : QStringList{QStringLiteral("--idle-timeout"), QStringLiteral("1")}));
        const quint16 port = server.port();
        // The relay holds the call back until the server has closed the session for idleness.
        std::optional<SlowServer> relay;
        if (at == ClosedIdleAsTheCallWentOut) relay.emplace(port);
        Connection c(relay ? relay->port() : port);
        EXPECT_NO_THROW(CheckResultServ(
            c.net.AppServer().call(QStringLiteral("GetGeral"), {QStringLiteral("1")}), true, 0));
        if (at == Restarted) {
            server.stop();
            ASSERT_TRUE(server.start(
                {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:%1").arg(port)}));
        } else if (at == ClosedIdle) {
            QElapsedTimer clock;
            clock.start();
            while (!server.log().contains(QStringLiteral("sem uso; encerrando")) &&
                   clock.elapsed() < 10000)
                QThread::msleep(20);
            ASSERT_TRUE(server.log().contains(QStringLiteral("sem uso; encerrando")));
        } else {
            relay->gate("GetGeral", SlowServer::Mode::Hold);
        }
        ASSERT_TRUE(c.net.Connected()); // nothing has told the socket yet
        EXPECT_NO_THROW(CheckResultServ(
            c.net.AppServer().call(QStringLiteral("GetGeral"), {QStringLiteral("1")}), true, 0));
        EXPECT_EQ(c.beforeConnect, 2);
    }
}

TEST(Connection, WrongObjectOrTokenIsRefusedAtConnect) {
    RecordingHost host;
    ServerProcess server;
    ASSERT_TRUE(server.initDemo());
    QFile token(server.path(QStringLiteral("token")));
    ASSERT_TRUE(token.open(QIODevice::WriteOnly));
    token.write("segredo-0123456789-abcdef\n");
    token.close();
    token.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    ASSERT_TRUE(server.start({QStringLiteral("--token-file"), token.fileName()}));
    Connection c(server.port());
    c.net.SetConnected(true); // the recording host gives no token
    EXPECT_FALSE(c.net.Connected());
    EXPECT_FALSE(c.net.LastError().isEmpty());

    Connection other(server.port());
    other.net.ServerName = QStringLiteral("ZOL00900.outroObjeto");
    other.net.ThrowException = true;
    try {
        other.net.SetConnected(true);
        FAIL();
    } catch (const EServerError& e) {
        EXPECT_TRUE(e.code() == protocol::ErrorCode::UnknownObject ||
                    e.code() == protocol::ErrorCode::NotAuthorised);
    }
}
