// A database made by an earlier schema keeps opening: --init adds what each version added to its
// audit (who made each change, the id of the transaction that made it) without losing the rows
// already there, on both engines, from the first schema and from the one before this.

#include "PgTesting.h"
#include "ServerHarness.h"

#include "server/RhServer.h"
#include "server/Schema.h"

#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace testing_rh;

namespace {

// Takes a current database back to an earlier schema, with one audit row written then.
void downgradeTo(const QString& url, int version) {
    // What each version added, by version.
    const QStringList added[] = {
        {},
        {},
        {QStringLiteral("DROP INDEX RHAUDITORIA_DATA"),
         QStringLiteral("ALTER TABLE RHAUDITORIA DROP COLUMN NMTOKEN"),
         QStringLiteral("ALTER TABLE RHAUDITORIA DROP COLUMN IDRECUSADO")},
        {QStringLiteral("ALTER TABLE RHAUDITORIA DROP COLUMN NMENDERECO")},
        {QStringLiteral("DROP INDEX RHAUDITORIA_GRAVACAO"),
         QStringLiteral("ALTER TABLE RHAUDITORIA DROP COLUMN IDGRAVACAO")},
    };
    ASSERT_EQ(std::size(added), size_t(rhserver::SchemaVersion + 1));
    QString error;
    const auto address = rhserver::DbAddress::parse(url, &error);
    ASSERT_TRUE(address) << error.toStdString();
    rhserver::Storage s(*address);
    ASSERT_TRUE(s.open(&error)) << error.toStdString();
    for (int v = rhserver::SchemaVersion; v > version; --v)
        for (const QString& sql : added[v])
            s.execDirect(sql);
    s.execDirect(QStringLiteral("DELETE FROM RHVERSAO WHERE NRVERSAO > %1").arg(version));
    s.execDirect(QStringLiteral(
        "INSERT INTO RHAUDITORIA (DTAUDITORIA, CDFILIAL, IDSESSAO, NMMETODO, DSARGUMENTOS) VALUES "
        "('2025-03-01T10:00:00.000Z', '0001', 'antiga', 'SetInsPad', '[\"01002\",\"0001\"]')"));
}

// The first column of each row, as text.
QStringList storedColumn(const QString& url, const QString& sql) {
    QString error;
    rhserver::Storage s(*rhserver::DbAddress::parse(url, &error));
    EXPECT_TRUE(s.open(&error)) << error.toStdString();
    QSqlQuery q(s.db());
    EXPECT_TRUE(q.exec(sql)) << q.lastError().text().toStdString();
    QStringList values;
    while (q.next())
        values << q.value(0).toString();
    return values;
}

void upgradeKeepsTheAudit(const QString& url, int from) {
    QString error;
    ASSERT_TRUE(rhserver::initDatabase(url, true, &error)) << error.toStdString();
    ASSERT_NO_FATAL_FAILURE(downgradeTo(url, from));
    {
        // A server of this version does not serve the old schema: it says to run --init.
        rhserver::RhServer refused({url, {}, protocol::DefaultMaxMessage, 1});
        EXPECT_FALSE(refused.start(QHostAddress::LocalHost, 0, &error));
        EXPECT_TRUE(error.contains(QStringLiteral("--init"))) << error.toStdString();
    }
    QString report;
    ASSERT_TRUE(rhserver::initDatabase(url, false, &error, &report)) << error.toStdString();
    EXPECT_TRUE(report.contains(
        QStringLiteral("da versão %1 para a %2").arg(from).arg(rhserver::SchemaVersion)))
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
    // The new write carries the id its commit would be looked up by; the old row has none.
    const QStringList ids = storedColumn(
        url,
        QStringLiteral("SELECT COALESCE(IDGRAVACAO, '-') FROM RHAUDITORIA ORDER BY NRAUDITORIA"));
    ASSERT_EQ(ids.size(), 2);
    EXPECT_EQ(ids[0], QStringLiteral("-"));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9a-f]{32}$")).match(ids[1]).hasMatch())
        << ids[1].toStdString();

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

TEST(Upgrade, AnEarlierSchemaSqliteDatabaseIsUpgradedWithItsAudit) {
    ensureApplication();
    for (int from : {1, rhserver::SchemaVersion - 1}) {
        SCOPED_TRACE(from);
        QTemporaryDir dir;
        upgradeKeepsTheAudit(QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("rh.db")),
                             from);
    }
}

TEST(Upgrade, AnEarlierSchemaPostgreSqlDatabaseIsUpgradedWithItsAudit) {
    const QString url = qEnvironmentVariable("RH_TEST_PG");
    if (url.isEmpty()) GTEST_SKIP() << "RH_TEST_PG não definido";
    ensureApplication();
    for (int from : {1, rhserver::SchemaVersion - 1}) {
        SCOPED_TRACE(from);
        ASSERT_NO_FATAL_FAILURE(dropEverything(url));
        upgradeKeepsTheAudit(url, from);
    }
}

} // namespace
