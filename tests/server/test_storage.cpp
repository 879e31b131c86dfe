// Schema versions, --init, the embedded service, and (with RH_TEST_PG) the PostgreSQL engine.

#include "ServerHarness.h"

#include "server/RhServer.h"
#include "server/Schema.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <gtest/gtest.h>

using namespace testing_rh;
namespace ErrorCode = protocol::ErrorCode;

namespace {

TEST(Storage, UninitialisedDatabaseIsNeverServed) {
    ServerProcess server;
    QString out;
    // No file at all, and an empty file: both point the operator to --init.
    EXPECT_NE(ServerProcess::runToEnd({"--listen", "127.0.0.1:0", "--db", server.dbUrl()}, &out),
              0);
    EXPECT_TRUE(out.contains(QStringLiteral("--init"))) << out.toStdString();
    EXPECT_FALSE(QFile::exists(server.dbPath()));
    QFile empty(server.dbPath());
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    EXPECT_NE(ServerProcess::runToEnd({"--listen", "127.0.0.1:0", "--db", server.dbUrl()}, &out),
              0);
    EXPECT_TRUE(out.contains(QStringLiteral("--init"))) << out.toStdString();

    rhserver::RhServer embedded({server.dbUrl(), {}, protocol::DefaultMaxMessage, 1});
    QString error;
    EXPECT_FALSE(embedded.start(QHostAddress::LocalHost, 0, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("--init"))) << error.toStdString();
    EXPECT_FALSE(rhserver::RhServer({QStringLiteral("mysql://x"), {}, 1024, 1})
                     .start(QHostAddress::LocalHost, 0, &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(Storage, InitCreatesTheSchemaOnceAndKeepsData) {
    ServerProcess server;
    QString out;
    ASSERT_EQ(ServerProcess::runToEnd({"--init", "--db", server.dbUrl()}, &out), 0)
        << out.toStdString();
    // Without demo data: the general record alone, no branches.
    EXPECT_EQ(storedValue(server.dbPath(),
                          QStringLiteral("SELECT COUNT(*) FROM PARAMRH WHERE CDPARAMRH = '1'")),
              QStringLiteral("1"));
    EXPECT_EQ(storedValue(server.dbPath(), QStringLiteral("SELECT COUNT(*) FROM FILIAL")),
              QStringLiteral("0"));
    ASSERT_TRUE(server.initDemo(&out)) << out.toStdString();
    ASSERT_TRUE(server.start());
    {
        LineClient c(server.port());
        ASSERT_TRUE(c.open().ok);
        ASSERT_TRUE(
            c.call(QStringLiteral("SetInsPad"), {QStringLiteral("02003"), QStringLiteral("0001")})
                .ok);
    }
    server.stop();
    const QString before = dumpStoredData(server.dbPath());
    ASSERT_TRUE(server.initDemo(&out)) << out.toStdString();
    EXPECT_EQ(dumpStoredData(server.dbPath()), before);
    EXPECT_EQ(storedValue(server.dbPath(), QStringLiteral("SELECT MAX(NRVERSAO) FROM RHVERSAO")),
              QString::number(rhserver::SchemaVersion));
    EXPECT_EQ(auditRows(server.dbPath()).size(), 1);
    EXPECT_EQ(storedValue(server.dbPath(), QStringLiteral("PRAGMA journal_mode")),
              QStringLiteral("wal"));
}

TEST(Storage, LevelsOfACodePicture) {
    EXPECT_EQ(rhserver::levelLengths(QStringLiteral("99.999")), (QVector<int>{2, 5}));
    EXPECT_EQ(rhserver::levelLengths(QStringLiteral("9.99.9999")), (QVector<int>{1, 3, 7}));
    EXPECT_TRUE(rhserver::levelLengths(QString()).isEmpty());
    EXPECT_TRUE(rhserver::levelLengths(QStringLiteral("99..9")).isEmpty());
}

// The desktop host starts the service in-process and calls it with blocking sockets from the
// same thread: the service must answer from threads of its own.
TEST(Storage, EmbeddedServiceAnswersBlockingCallsFromTheStartingThread) {
    ServerProcess files;
    QString error;
    ASSERT_TRUE(rhserver::initDatabase(files.dbUrl(), true, &error)) << error.toStdString();
    rhserver::RhServer first(
        {files.dbUrl(), QStringLiteral("chave"), protocol::DefaultMaxMessage, 2});
    rhserver::RhServer second({files.dbUrl(), {}, protocol::DefaultMaxMessage, 1});
    ASSERT_TRUE(first.start(QHostAddress::LocalHost, 0, &error)) << error.toStdString();
    ASSERT_TRUE(second.start(QHostAddress::LocalHost, 0, &error)) << error.toStdString();
    ASSERT_NE(first.port(), second.port());
    rhserver::RhServer clash({files.dbUrl(), {}, protocol::DefaultMaxMessage, 1});
    EXPECT_FALSE(clash.start(QHostAddress::LocalHost, first.port(), &error));
    EXPECT_FALSE(error.isEmpty());

    LineClient a(first.port()), b(second.port());
    EXPECT_EQ(a.open().errorCode, ErrorCode::NotAuthorised);
    ASSERT_TRUE(a.open(QStringLiteral("0001"), QStringLiteral("chave")).ok);
    ASSERT_TRUE(b.open(QStringLiteral("0002")).ok);
    ASSERT_TRUE(a.call(QStringLiteral("SetInsCarg"),
                       {QStringLiteral("0001"), QStringLiteral("02003"), QStringLiteral("0011")})
                    .ok);
    // Both services share the database: a write through one is read through the other.
    LineClient c(second.port());
    ASSERT_TRUE(c.open(QStringLiteral("0001")).ok);
    const protocol::DataPacket cargos =
        packetOf(c.call(QStringLiteral("GetCargo"), {QStringLiteral("02003")}));
    EXPECT_EQ(column(cargos, QStringLiteral("IDCHECK")).count(QStringLiteral("S")), 1);

    first.stop();
    EXPECT_TRUE(a.waitClosed());
    EXPECT_TRUE(b.call(QStringLiteral("GetGeral"), {QStringLiteral("1")}).ok);
    first.stop(); // twice is harmless
    ASSERT_TRUE(first.start(QHostAddress::LocalHost, 0, &error)) << error.toStdString();
    LineClient again(first.port());
    EXPECT_TRUE(again.call(QStringLiteral("ping"), {}).ok);
}

// The same service over PostgreSQL, when RH_TEST_PG names a database the test may reset.
TEST(Storage, PostgreSqlEngineServesTheSameMethods) {
    const QString url = qEnvironmentVariable("RH_TEST_PG");
    if (url.isEmpty()) GTEST_SKIP() << "RH_TEST_PG não definido";
    ensureApplication();
    QString error;
    const auto address = rhserver::DbAddress::parse(url, &error);
    ASSERT_TRUE(address) << error.toStdString();
    {
        rhserver::Storage reset(*address);
        ASSERT_TRUE(reset.open(&error)) << error.toStdString();
        for (const char* table :
             {"RHAUDITORIA", "INSPPADRAO", "INSPDEPTO", "INSPCARGO", "PARAMFILIAL", "PARAMRH",
              "CODPICT", "INSPECAO", "DEPTO", "CARGO", "CONVMEDI", "INDICE", "FILIAL", "RHVERSAO"})
            reset.execDirect(
                QStringLiteral("DROP TABLE IF EXISTS %1 CASCADE").arg(QLatin1String(table)));
    }
    ASSERT_TRUE(rhserver::initDatabase(url, true, &error)) << error.toStdString();
    ASSERT_TRUE(rhserver::initDatabase(url, true, &error)) << error.toStdString();
    rhserver::RhServer server({url, {}, protocol::DefaultMaxMessage, 2});
    ASSERT_TRUE(server.start(QHostAddress::LocalHost, 0, &error)) << error.toStdString();
    LineClient a(server.port()), b(server.port());
    ASSERT_TRUE(a.open().ok);
    ASSERT_TRUE(b.open().ok);
    EXPECT_TRUE(a.call(QStringLiteral("ping"), {}).ok);

    const protocol::DataPacket geral =
        packetOf(a.call(QStringLiteral("GetGeral"), {QStringLiteral("1")}));
    ASSERT_EQ(geral.rows.size(), 1);
    EXPECT_FALSE(geral.rows[0][geral.indexOf(QStringLiteral("NMINDICE"))].toString().isEmpty());
    EXPECT_EQ(geral.rows[0][geral.indexOf(QStringLiteral("DTBASECB"))].typeId(), QMetaType::QDate);
    EXPECT_EQ(packetOf(a.call(QStringLiteral("GetFilial"), {QStringLiteral("0001")})).rows.size(),
              1);
    EXPECT_TRUE(
        packetOf(a.call(QStringLiteral("GetFilial"), {QStringLiteral("0004")})).rows.isEmpty());
    EXPECT_GE(packetOf(a.call(QStringLiteral("GetInspecao"), {QStringLiteral("1")})).rows.size(),
              3);
    EXPECT_EQ(packetOf(a.call(QStringLiteral("GetConvMed"), {QString(), QStringLiteral("T")}))
                  .rows.size(),
              5);

    for (int i = 0; i < 2; ++i)
        EXPECT_TRUE(
            a.call(QStringLiteral("SetInsCarg"),
                   {QStringLiteral("0001"), QStringLiteral("02003"), QStringLiteral("0011")})
                .ok);
    EXPECT_EQ(a.call(QStringLiteral("SetInsCarg"),
                     {QStringLiteral("02003"), QStringLiteral("0001"), QStringLiteral("0011")})
                  .errorCode,
              ErrorCode::Refused);
    EXPECT_EQ(column(packetOf(b.call(QStringLiteral("GetCargo"), {QStringLiteral("02003")})),
                     QStringLiteral("IDCHECK"))
                  .count(QStringLiteral("S")),
              1);

    // Two deltas read from the same record and changing the same field: the second is refused.
    protocol::Delta d;
    d.fields = {geral.fields[0], geral.fields[1], geral.fields[7]};
    const protocol::Row& row = geral.rows[0];
    d.changes.push_back({protocol::DeltaChange::Op::Update,
                         {row[0], row[1], row[7]},
                         {row[0], 120.0, QDate(2027, 2, 1)}});
    EXPECT_TRUE(a.call(QStringLiteral("SetGeral"), {d}).ok);
    d.changes[0].newValues[1] = 150.0;
    EXPECT_EQ(b.call(QStringLiteral("SetGeral"), {d}).errorCode, ErrorCode::Conflict);
    const protocol::DataPacket after =
        packetOf(b.call(QStringLiteral("GetGeral"), {QStringLiteral("1")}));
    EXPECT_EQ(after.rows[0][1].toDouble(), 120.0);
    EXPECT_EQ(after.rows[0][7].toDate(), QDate(2027, 2, 1));
    const QString hostile = QStringLiteral("x'); DELETE FROM PARAMFILIAL; --");
    EXPECT_EQ(a.call(QStringLiteral("GetFilial"), {hostile}).ok, true);
    EXPECT_EQ(packetOf(a.call(QStringLiteral("GetFilial"), {QStringLiteral("0001")})).rows.size(),
              1);
}

} // namespace
