// rhcall against a real rhserver: results on stdout with exit 0, the server's sentence on stderr
// with a non-zero exit otherwise.

#include "DemoServer.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <gtest/gtest.h>

using namespace testing_rh;

namespace {

struct CallRun {
    int code = -1;
    QString out, err;
};

class RhCall : public DemoServerTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(DemoServerTest::SetUp());
        ASSERT_NO_FATAL_FAILURE(serve());
    }
    CallRun rhcall(const QStringList& args, const QByteArray& input = {}) {
        QProcess p;
        p.start(QStringLiteral(RHCALL_PATH),
                QStringList{QStringLiteral("--server"),
                            QStringLiteral("127.0.0.1:%1").arg(server.port())} +
                    args);
        EXPECT_TRUE(p.waitForStarted());
        p.write(input);
        p.closeWriteChannel();
        EXPECT_TRUE(p.waitForFinished(30000));
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }
};

TEST_F(RhCall, PrintsTheResultOfACall) {
    const CallRun r = rhcall({QStringLiteral("GetConvMed"), QString(), QStringLiteral("T")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const protocol::DataPacket p = protocol::packetFromJson(r.out.trimmed().toStdString());
    EXPECT_EQ(
        p.rows.size(),
        storedValue(server.dbPath(), QStringLiteral("SELECT COUNT(*) FROM CONVMEDI")).toInt());

    const CallRun ping = rhcall({QStringLiteral("ping")});
    ASSERT_EQ(ping.code, 0) << ping.err.toStdString();
    EXPECT_TRUE(ping.out.contains(QStringLiteral("\"database\":\"ok\"")));

    // The session branch decides the flags.
    ASSERT_EQ(
        rhcall({QStringLiteral("SetInsPad"), QStringLiteral("02003"), QStringLiteral("0003")}).code,
        0);
    const CallRun mine = rhcall({QStringLiteral("--branch"), QStringLiteral("0003"),
                                 QStringLiteral("GetInspecao"), QStringLiteral("1")});
    const CallRun other = rhcall({QStringLiteral("GetInspecao"), QStringLiteral("1")});
    ASSERT_EQ(mine.code, 0);
    const protocol::DataPacket flags = protocol::packetFromJson(mine.out.trimmed().toStdString());
    EXPECT_TRUE(column(flags, QStringLiteral("IDPADR")).contains(QStringLiteral("S")));
    EXPECT_NE(mine.out, other.out);
}

TEST_F(RhCall, ErrorsExitNonZeroWithTheServersMessage) {
    const CallRun bad = rhcall({QStringLiteral("SetInsCarg"), QStringLiteral("01001"),
                                QStringLiteral("0001"), QStringLiteral("0001")});
    EXPECT_NE(bad.code, 0);
    EXPECT_TRUE(bad.out.isEmpty());
    EXPECT_TRUE(bad.err.contains(QStringLiteral("não está cadastrada"))) << bad.err.toStdString();
    EXPECT_TRUE(bad.err.contains(QStringLiteral("-32011")));
    const CallRun unknown = rhcall({QStringLiteral("Apagar")});
    EXPECT_NE(unknown.code, 0);
    EXPECT_TRUE(unknown.err.contains(QStringLiteral("-32601"))) << unknown.err.toStdString();
    const CallRun branch = rhcall({QStringLiteral("--branch"), QStringLiteral("9999"),
                                   QStringLiteral("GetGeral"), QStringLiteral("1")});
    EXPECT_NE(branch.code, 0);
    EXPECT_FALSE(branch.err.isEmpty());
    const CallRun args = rhcall({QStringLiteral("GetGeral")});
    EXPECT_NE(args.code, 0);
    EXPECT_TRUE(args.err.contains(QStringLiteral("-32602"))) << args.err.toStdString();
    ServerProcess none;
    QProcess p;
    p.start(QStringLiteral(RHCALL_PATH),
            {QStringLiteral("--server"), QStringLiteral("127.0.0.1:1"), QStringLiteral("ping")});
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_NE(p.exitCode(), 0);
    EXPECT_FALSE(p.readAllStandardError().isEmpty());
}

// Over TLS rhcall trusts only the certificate it is given; plain text gets no session.
TEST_F(RhCall, OverTlsTrustsOnlyTheGivenCertificate) {
    ASSERT_TRUE(server.start(server.tlsArguments())) << server.log().toStdString();
    const QString ca = tlsFixture(QStringLiteral("ca.crt"));
    const CallRun ping = rhcall({QStringLiteral("--tls-ca"), ca, QStringLiteral("ping")});
    EXPECT_EQ(ping.code, 0) << ping.err.toStdString();
    const CallRun branches = rhcall({QStringLiteral("--tls-ca"), ca, QStringLiteral("LkPesqFilial"),
                                     QString(), QStringLiteral("T")});
    ASSERT_EQ(branches.code, 0) << branches.err.toStdString();
    EXPECT_EQ(protocol::packetFromJson(branches.out.trimmed().toStdString()).rows.size(),
              storedValue(server.dbPath(), QStringLiteral("SELECT COUNT(*) FROM FILIAL")).toInt());
    const CallRun stranger =
        rhcall({QStringLiteral("--tls-ca"), tlsFixture(QStringLiteral("other.crt")),
                QStringLiteral("GetGeral"), QStringLiteral("1")});
    EXPECT_EQ(stranger.code, 2);
    EXPECT_TRUE(stranger.err.contains(QStringLiteral("não é o confiado")))
        << stranger.err.toStdString();
    EXPECT_TRUE(stranger.out.isEmpty());
    const CallRun plain = rhcall({QStringLiteral("GetGeral"), QStringLiteral("1")});
    EXPECT_NE(plain.code, 0);
    EXPECT_TRUE(plain.out.isEmpty()) << plain.out.toStdString();
}

TEST_F(RhCall, SendsADeltaFromAFileOrStandardInput) {
    const CallRun geral = rhcall({QStringLiteral("GetGeral"), QStringLiteral("1")});
    ASSERT_EQ(geral.code, 0);
    const protocol::DataPacket p = protocol::packetFromJson(geral.out.trimmed().toStdString());
    const int days = p.indexOf(QStringLiteral("QTDIASFERIPG"));
    protocol::Delta d;
    d.fields = p.fields;
    d.changes.push_back({protocol::DeltaChange::Op::Update, p.rows[0], p.rows[0]});
    d.changes[0].newValues[days] = 25.0;
    QFile file(server.path(QStringLiteral("delta.json")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray::fromStdString(protocol::deltaToJson(d)));
    file.close();
    const CallRun fromFile = rhcall({QStringLiteral("SetGeral"), file.fileName()});
    ASSERT_EQ(fromFile.code, 0) << fromFile.err.toStdString();
    EXPECT_EQ(fromFile.out.trimmed(), QStringLiteral("true"));
    // The same delta again is stale now: the stored value is no longer its old one.
    const CallRun stale = rhcall({QStringLiteral("SetGeral"), QStringLiteral("-")},
                                 QByteArray::fromStdString(protocol::deltaToJson(d)));
    EXPECT_NE(stale.code, 0);
    EXPECT_TRUE(stale.err.contains(QStringLiteral("-32010"))) << stale.err.toStdString();
    EXPECT_EQ(
        storedValue(server.dbPath(), QStringLiteral("SELECT QTDIASFERIPG FROM PARAMRH")).toDouble(),
        25.0);
    const CallRun garbage = rhcall({QStringLiteral("SetGeral"), QStringLiteral("-")}, "{not json");
    EXPECT_NE(garbage.code, 0);
    EXPECT_FALSE(garbage.err.isEmpty());
}

} // namespace

namespace {

// rhcall ping as a health check: 0 only when a session opens and the database takes writes.
TEST(RhCallHealth, PingExitsOneWheneverTheServiceIsNotReady) {
    ServerProcess server;
    QString out;
    ASSERT_TRUE(server.initDemo(&out)) << out.toStdString();
    QFile tokens(server.path(QStringLiteral("tokens")));
    ASSERT_TRUE(tokens.open(QIODevice::WriteOnly));
    tokens.write("monitor leitura seg-monitor-0123456789\n");
    tokens.close();
    tokens.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QFile mine(server.path(QStringLiteral("meu-token"))),
        wrong(server.path(QStringLiteral("outro")));
    ASSERT_TRUE(mine.open(QIODevice::WriteOnly) && wrong.open(QIODevice::WriteOnly));
    mine.write("seg-monitor-0123456789\n");
    wrong.write("seg-errado-0123456789\n");
    mine.close();
    wrong.close();
    for (QFile* f : {&mine, &wrong})
        f->setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    ASSERT_TRUE(server.start({QStringLiteral("--token-file"), tokens.fileName()}));
    const QString here = QStringLiteral("127.0.0.1:%1").arg(server.port());
    const auto ping = [&](const QString& address, const QString& tokenFile) {
        QProcess p;
        p.start(QStringLiteral(RHCALL_PATH),
                {QStringLiteral("--server"), address, QStringLiteral("--token-file"), tokenFile,
                 QStringLiteral("ping")});
        EXPECT_TRUE(p.waitForFinished(30000));
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    };
    EXPECT_EQ(ping(here, mine.fileName()), 0);
    EXPECT_EQ(ping(here, wrong.fileName()), 1);
    // A token its group may read is refused before anything is sent.
    mine.setPermissions(mine.permissions() | QFileDevice::ReadGroup);
    EXPECT_EQ(ping(here, mine.fileName()), 1);
    mine.setPermissions(QFileDevice::ReadOwner);
    EXPECT_EQ(ping(here, mine.fileName()), 0);
    // Another writer holds the database's write lock: not ready, though the process answers.
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("lock"));
        db.setDatabaseName(server.dbPath());
        ASSERT_TRUE(db.open());
        QSqlQuery lock(db);
        ASSERT_TRUE(lock.exec(QStringLiteral("BEGIN IMMEDIATE")));
        EXPECT_EQ(ping(here, mine.fileName()), 1);
        ASSERT_TRUE(lock.exec(QStringLiteral("ROLLBACK")));
        EXPECT_EQ(ping(here, mine.fileName()), 0);
        lock = QSqlQuery();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("lock"));
    server.stop();
    EXPECT_EQ(ping(here, mine.fileName()), 1);
}

} // namespace
