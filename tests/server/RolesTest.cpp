// Named tokens with roles: which token files a server takes, what a reading token may do, and the
// audit naming every caller; then the history method that reads the audit back.

#include "DemoServer.h"
#include "PgTesting.h"

#include "server/Storage.h"

#include <QFile>
#include <QSqlQuery>
#include <gtest/gtest.h>

using namespace testing_rh;
using protocol::Response;
namespace ErrorCode = protocol::ErrorCode;

namespace {

const char* const namedTokens = "# quem pode abrir sessões\n"
                                "\n"
                                "gestor   admin    seg-gestor-1-0123456789\n"
                                "consulta\tleitura\tseg-consulta-1-0123456789\n";

// Writes the token file (owner only) and starts the server with it.
bool startWithTokens(ServerProcess& server, const QByteArray& text) {
    QFile file(server.path(QStringLiteral("tokens")));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return server.start({QStringLiteral("--token-file"), file.fileName()});
}

class Roles : public DemoServerTest {
protected:
    bool startWith(const QByteArray& text) { return startWithTokens(server, text); }
};

TEST_F(Roles, TokenFilesTheServerTakesOrRefusesWithTheLine) {
    struct Case {
        const char* text;
        bool starts;
        const char* says;
    };
    const Case cases[] = {
        {"gestor admin a\nconsulta leitura\n", false, "linha 2"},
        {"gestor dono a\n", false, "admin ou leitura"},
        {"gestor admin a\ngestor leitura b\n", false, "já foi usado"},
        {"gestor admin a\noutro leitura a\n", false, "repete"},
        {"# só comentários\n\n", false, "nenhum token"},
        {"#preencher\n", false, "nenhum token"}, // a comment is never a token
        {"# o token do rh\n\nsegredo-antigo-0123456789\n", true, ""},
        {"nome/errado admin a\n", false, "linha 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ServerProcess other;
        other.shareDatabase(server.dbPath());
        QFile file(other.path(QStringLiteral("tokens")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(c.text);
        file.close();
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        EXPECT_EQ(other.start({QStringLiteral("--token-file"), file.fileName()}), c.starts);
        EXPECT_TRUE(other.log().contains(QString::fromUtf8(c.says))) << other.log().toStdString();
    }
}

TEST_F(Roles, AnOldOneTokenFileIsAnAdminNamedAdmin) {
    ASSERT_TRUE(startWith("segredo-antigo-0123456789\n")) << server.log().toStdString();
    LineClient c(server.port());
    ASSERT_TRUE(c.open(QStringLiteral("0001"), QStringLiteral("segredo-antigo-0123456789")).ok);
    ASSERT_TRUE(
        c.call(QStringLiteral("SetInsPad"), {QStringLiteral("01002"), QStringLiteral("0001")}).ok);
    const QVector<AuditRow> rows = auditRows(server.dbPath());
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].token, QStringLiteral("admin"));
    EXPECT_EQ(rows[0].refused, QStringLiteral("N"));
}

TEST_F(Roles, AReadingTokenReadsButEveryWriteIsRefused) {
    ASSERT_TRUE(startWith(namedTokens)) << server.log().toStdString();
    LineClient reader(server.port());
    ASSERT_TRUE(
        reader.open(QStringLiteral("0001"), QStringLiteral("seg-consulta-1-0123456789")).ok);
    const protocol::DataPacket geral =
        packetOf(reader.call(QStringLiteral("GetGeral"), {QStringLiteral("1")}));
    EXPECT_EQ(geral.rows.size(), 1);
    EXPECT_TRUE(reader.call(QStringLiteral("GetCargo"), {QStringLiteral("01002")}).ok);
    EXPECT_TRUE(reader.call(QStringLiteral("ping"), {}).ok);
    EXPECT_TRUE(
        reader.call(QStringLiteral("GetHistorico"), {QString(), QString(), QString(), QString()})
            .ok);

    protocol::Delta delta;
    delta.fields = geral.fields;
    delta.changes.push_back({protocol::DeltaChange::Op::Update, geral.rows[0], geral.rows[0]});
    delta.changes[0].newValues[geral.indexOf(QStringLiteral("QTDIASFERIPG"))] = 12.0;
    const QString before = dumpStoredData(server.dbPath());
    const struct {
        const char* method;
        QVector<protocol::Argument> args;
    } writes[] = {
        {"SetGeral", {delta}},
        {"SetInsPad", {QStringLiteral("01002"), QStringLiteral("0001")}},
        {"SetInsCarg", {QStringLiteral("0001"), QStringLiteral("01002"), QStringLiteral("0003")}},
        {"SetDelTdDep", {QStringLiteral("0001"), QStringLiteral("01002")}},
    };
    for (const auto& w : writes) {
        SCOPED_TRACE(w.method);
        const Response r = reader.call(QString::fromLatin1(w.method), w.args);
        EXPECT_EQ(r.errorCode, ErrorCode::NotAuthorised);
        // A sentence for a person: no method, token or table named.
        EXPECT_TRUE(r.errorMessage.contains(QStringLiteral("apenas consultar")))
            << r.errorMessage.toStdString();
        EXPECT_FALSE(r.errorMessage.contains(QLatin1String(w.method)));
        EXPECT_FALSE(r.errorMessage.contains(QStringLiteral("token")));
    }
    EXPECT_EQ(dumpStoredData(server.dbPath()), before);
    // The first refusal of the minute is audited, by its size; the others are in the log.
    QVector<AuditRow> rows = auditRows(server.dbPath());
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].method, QStringLiteral("SetGeral"));
    EXPECT_EQ(rows[0].token, QStringLiteral("consulta"));
    EXPECT_EQ(rows[0].refused, QStringLiteral("S"));
    EXPECT_FALSE(rows[0].arguments.contains(QStringLiteral("QTDIASFERIPG")));
    EXPECT_TRUE(server.log().contains(QStringLiteral("o token consulta (leitura)")));
    EXPECT_TRUE(server.log().contains(QStringLiteral("chamou SetDelTdDep")));
    // The same write with the admin token goes through and names it.
    LineClient admin(server.port());
    ASSERT_TRUE(admin.open(QStringLiteral("0001"), QStringLiteral("seg-gestor-1-0123456789")).ok);
    ASSERT_TRUE(admin.call(QStringLiteral("SetGeral"), {delta}).ok);
    rows = auditRows(server.dbPath());
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows.back().token, QStringLiteral("gestor"));
    EXPECT_EQ(rows.back().refused, QStringLiteral("N"));
    EXPECT_EQ(storedValue(server.dbPath(), QStringLiteral("SELECT QTDIASFERIPG FROM PARAMRH")),
              QStringLiteral("12"));
}

TEST_F(Roles, HistoryIsNewestFirstFilteredAndPaged) {
    ASSERT_TRUE(server.start()) << server.log().toStdString();
    LineClient first(server.port()), second(server.port());
    ASSERT_TRUE(first.open(QStringLiteral("0001")).ok);
    ASSERT_TRUE(second.open(QStringLiteral("0002")).ok);
    // Two pages' worth and one more: alternate a standard mark on and off.
    const int calls = 201;
    for (int i = 0; i < calls; ++i)
        ASSERT_TRUE(first
                        .call(QString::fromLatin1(i % 2 ? "SetDelPad" : "SetInsPad"),
                              {QStringLiteral("01002"), QStringLiteral("0001")})
                        .ok);
    ASSERT_TRUE(
        second.call(QStringLiteral("SetInsPad"), {QStringLiteral("01002"), QStringLiteral("0002")})
            .ok);
    const auto history = [&](const QString& branch, const QString& from, const QString& to,
                             const QString& before) {
        return packetOf(first.call(QStringLiteral("GetHistorico"), {branch, from, to, before}));
    };
    const QString yesterday =
        QDateTime::currentDateTimeUtc().addDays(-1).toString(Qt::ISODateWithMs);
    const QString tomorrow = QDateTime::currentDateTimeUtc().addDays(1).toString(Qt::ISODateWithMs);

    const protocol::DataPacket page = history({}, {}, {}, {});
    ASSERT_EQ(page.rows.size(), 200);
    const QStringList numbers = column(page, QStringLiteral("NRAUDITORIA"));
    for (int i = 1; i < numbers.size(); ++i)
        EXPECT_GT(numbers[i - 1].toDouble(), numbers[i].toDouble());
    EXPECT_EQ(column(page, QStringLiteral("CDFILIAL")).first(), QStringLiteral("0002"));
    const protocol::DataPacket rest = history({}, {}, {}, numbers.last());
    ASSERT_EQ(rest.rows.size(), calls + 1 - 200);
    EXPECT_LT(column(rest, QStringLiteral("NRAUDITORIA")).first().toDouble(),
              numbers.last().toDouble());

    const struct {
        QString branch, from, to;
        qsizetype rows;
    } filters[] = {
        {QStringLiteral("0002"), {}, {}, 1},
        {QStringLiteral("0003"), {}, {}, 0},
        {{}, tomorrow, {}, 0},
        {{}, {}, yesterday, 0},
        {QStringLiteral("0002"), yesterday, tomorrow, 1},
    };
    for (const auto& f : filters) {
        SCOPED_TRACE((f.branch + u' ' + f.from + u' ' + f.to).toStdString());
        EXPECT_EQ(history(f.branch, f.from, f.to, {}).rows.size(), f.rows);
    }
    EXPECT_EQ(first
                  .call(QStringLiteral("GetHistorico"),
                        {QString(), QStringLiteral("ontem"), QString(), QString()})
                  .errorCode,
              ErrorCode::InvalidParams);
    EXPECT_EQ(first
                  .call(QStringLiteral("GetHistorico"),
                        {QString(), QString(), QString(), QStringLiteral("-1")})
                  .errorCode,
              ErrorCode::InvalidParams);
}

// A reader sending large refused writes as fast as it can: one small audit row a minute, and no
// change of the data for other connections to learn of, on either engine.
void refusalsStayBounded(ServerProcess& server, const QString& dbUrl) {
    ASSERT_TRUE(startWithTokens(server, namedTokens)) << server.log().toStdString();
    QString error;
    const auto address = rhserver::DbAddress::parse(dbUrl, &error);
    ASSERT_TRUE(address) << error.toStdString();
    rhserver::Storage watcher(*address);
    ASSERT_TRUE(watcher.open(&error)) << error.toStdString();
    LineClient reader(server.port());
    ASSERT_TRUE(
        reader.open(QStringLiteral("0001"), QStringLiteral("seg-consulta-1-0123456789")).ok);
    const QString large(60 * 1024, u'x');
    const auto refuse = [&] {
        EXPECT_EQ(
            reader.call(QStringLiteral("SetInsPad"), {large, QStringLiteral("0001")}).errorCode,
            ErrorCode::NotAuthorised);
    };
    refuse();
    watcher.changedElsewhere(); // the one audit row, and what came before watching
    for (int i = 0; i < 200; ++i)
        refuse();
    EXPECT_EQ(watcher.changedElsewhere(), std::optional<bool>(false));
    QSqlQuery q(watcher.db());
    ASSERT_TRUE(q.exec(QStringLiteral("SELECT COUNT(*), MAX(LENGTH(DSARGUMENTOS)) FROM RHAUDITORIA "
                                      "WHERE IDRECUSADO = 'S'")));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toInt(), 1);
    EXPECT_LT(q.value(1).toInt(), 100);
}

TEST(Refusals, AReaderCannotFillTheAuditOnSqlite) {
    ServerProcess server;
    QString out;
    ASSERT_TRUE(server.initDemo(&out)) << out.toStdString();
    refusalsStayBounded(server, server.dbUrl());
}

class PostgresRefusals : public PostgresTest {};

TEST_F(PostgresRefusals, AReaderCannotFillTheAuditOnPostgreSql) {
    ServerProcess server;
    server.useDatabase(url);
    refusalsStayBounded(server, url);
}

} // namespace
