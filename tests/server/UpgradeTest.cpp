// A database made by the first schema keeps opening: --init adds who made each change to its
// audit without losing the rows already there, on both engines.

#include "PgTesting.h"
#include "ServerHarness.h"

#include "server/RhServer.h"
#include "server/Schema.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace testing_rh;

namespace {

// Takes a current database back to the first schema, with one audit row written then.
void downgradeToFirstSchema(const QString& url) {
    QString error;
    const auto address = rhserver::DbAddress::parse(url, &error);
    ASSERT_TRUE(address) << error.toStdString();
    rhserver::Storage s(*address);
    ASSERT_TRUE(s.open(&error)) << error.toStdString();
    s.execDirect(QStringLiteral("DROP INDEX RHAUDITORIA_DATA"));
    s.execDirect(QStringLiteral("ALTER TABLE RHAUDITORIA DROP COLUMN NMTOKEN"));
    s.execDirect(QStringLiteral("ALTER TABLE RHAUDITORIA DROP COLUMN IDRECUSADO"));
    s.execDirect(QStringLiteral("ALTER TABLE RHAUDITORIA DROP COLUMN NMENDERECO"));
    s.execDirect(QStringLiteral("DELETE FROM RHVERSAO WHERE NRVERSAO > 1"));
    s.execDirect(QStringLiteral(
        "INSERT INTO RHAUDITORIA (DTAUDITORIA, CDFILIAL, IDSESSAO, NMMETODO, DSARGUMENTOS) VALUES "
        "('2025-03-01T10:00:00.000Z', '0001', 'antiga', 'SetInsPad', '[\"01002\",\"0001\"]')"));
}

void upgradeKeepsTheAudit(const QString& url) {
    QString error;
    ASSERT_TRUE(rhserver::initDatabase(url, true, &error)) << error.toStdString();
    ASSERT_NO_FATAL_FAILURE(downgradeToFirstSchema(url));
    {
        // A server of this version does not serve the old schema: it says to run --init.
        rhserver::RhServer refused({url, {}, protocol::DefaultMaxMessage, 1});
        EXPECT_FALSE(refused.start(QHostAddress::LocalHost, 0, &error));
        EXPECT_TRUE(error.contains(QStringLiteral("--init"))) << error.toStdString();
    }
    QString report;
    ASSERT_TRUE(rhserver::initDatabase(url, false, &error, &report)) << error.toStdString();
    EXPECT_TRUE(
        report.contains(QStringLiteral("da versão 1 para a %1").arg(rhserver::SchemaVersion)))
        << report.toStdString();
    rhserver::ServerOptions options{url, {}, protocol::DefaultMaxMessage, 1};
    options.tokens = {{QStringLiteral("gestor"), rhserver::Role::Admin, QStringLiteral("s1")},
                      {QStringLiteral("painel"), rhserver::Role::Reader, QStringLiteral("s2")}};
    rhserver::RhServer server(options);
    ASSERT_TRUE(server.start(QHostAddress::LocalHost, 0, &error)) << error.toStdString();
    LineClient c(server.port());
    ASSERT_TRUE(c.open(QStringLiteral("0001"), QStringLiteral("s1")).ok);
    ASSERT_TRUE(
        c.call(QStringLiteral("SetInsPad"), {QStringLiteral("01002"), QStringLiteral("0001")}).ok);
    const protocol::DataPacket history =
        packetOf(c.call(QStringLiteral("GetHistorico"), {QStringLiteral("0001"), {}, {}, {}}));
    ASSERT_EQ(history.rows.size(), 2);
    EXPECT_EQ(column(history, QStringLiteral("NMTOKEN")),
              (QStringList{QStringLiteral("gestor"), {}}));
    EXPECT_EQ(column(history, QStringLiteral("IDRECUSADO")),
              (QStringList{QStringLiteral("N"), QStringLiteral("N")}));
    EXPECT_EQ(column(history, QStringLiteral("DTAUDITORIA")).last(),
              QStringLiteral("2025-03-01T10:00:00.000Z"));

    // The period and the page bounds, and a reader's refused write, on this engine too.
    LineClient reader(server.port());
    ASSERT_TRUE(reader.open(QStringLiteral("0002"), QStringLiteral("s2")).ok);
    EXPECT_EQ(
        reader.call(QStringLiteral("SetInsPad"), {QStringLiteral("01002"), QStringLiteral("0002")})
            .errorCode,
        protocol::ErrorCode::NotAuthorised);
    const auto rows = [&](const QString& branch, const QString& from, const QString& to,
                          const QString& before) {
        return column(
            packetOf(reader.call(QStringLiteral("GetHistorico"), {branch, from, to, before})),
            QStringLiteral("NMMETODO"));
    };
    const QString newest = column(history, QStringLiteral("NRAUDITORIA")).first();
    EXPECT_EQ(rows({}, QStringLiteral("2025-01-01T00:00:00Z"),
                   QStringLiteral("2025-12-31T00:00:00Z"), {}),
              QStringList{QStringLiteral("SetInsPad")});
    EXPECT_EQ(rows(QStringLiteral("0001"), {}, {}, newest).size(), 1);
    const protocol::DataPacket refused =
        packetOf(reader.call(QStringLiteral("GetHistorico"), {QStringLiteral("0002"), {}, {}, {}}));
    EXPECT_EQ(column(refused, QStringLiteral("NMTOKEN")), QStringList{QStringLiteral("painel")});
    EXPECT_EQ(column(refused, QStringLiteral("IDRECUSADO")), QStringList{QStringLiteral("S")});
    EXPECT_TRUE(
        packetOf(reader.call(QStringLiteral("GetInspecao"), {QStringLiteral("1")})).rows.size() >
        0);
}

TEST(Upgrade, AFirstSchemaSqliteDatabaseIsUpgradedWithItsAudit) {
    ensureApplication();
    QTemporaryDir dir;
    upgradeKeepsTheAudit(QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("rh.db")));
}

TEST(Upgrade, AFirstSchemaPostgreSqlDatabaseIsUpgradedWithItsAudit) {
    const QString url = qEnvironmentVariable("RH_TEST_PG");
    if (url.isEmpty()) GTEST_SKIP() << "RH_TEST_PG não definido";
    ensureApplication();
    ASSERT_NO_FATAL_FAILURE(dropEverything(url));
    upgradeKeepsTheAudit(url);
}

} // namespace
