// Two rhserver processes on one SQLite file under a mixed load of reads, ties and deltas from many
// connections at once. Afterwards: no protocol error, every acknowledged change stored once and
// every refused delta absent, and the audit table, replayed through a model of its own, gives
// exactly the stored data. Bounded in connections and calls so that it runs in seconds.

#include "PgTesting.h"
#include "ServerHarness.h"

#include "contract/Methods.h"
#include "server/Schema.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QSqlRecord>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

using namespace testing_rh;
using protocol::Delta;
using protocol::DeltaChange;
using protocol::Response;
namespace ErrorCode = protocol::ErrorCode;

namespace {

// What the audit says happened, applied to plain values.
struct Model {
    QSet<QString> ties; // "TABLE questionnaire/item" of branch 0004
    double cesta = 0;

    void replay(const AuditRow& row) {
        const QJsonArray args = QJsonDocument::fromJson(row.arguments.toUtf8()).array();
        if (row.method == QLatin1String("SetGeral")) {
            const QString text = row.arguments;
            const Delta d = protocol::deltaFromJson(text.mid(1, text.size() - 2).toStdString());
            const int field = d.indexOf(QStringLiteral("VRCESTABAS"));
            ASSERT_GE(field, 0);
            for (const DeltaChange& c : d.changes) {
                // An applied update found the value it read.
                EXPECT_EQ(c.oldValues[field].toDouble(), cesta) << text.toStdString();
                cesta = c.newValues[field].toDouble();
            }
            return;
        }
        const contract::Method* method = contract::findMethod(row.method.toStdString());
        ASSERT_TRUE(method && method->tie.table != contract::Tie::Table::None)
            << row.method.toStdString();
        const contract::Tie& call = method->tie;
        const QString table = call.table == contract::Tie::Table::Cargo
                                  ? QStringLiteral("INSPCARGO")
                                  : QStringLiteral("INSPDEPTO");
        const QString prefix = table + u' ' + args[call.inspecaoArg].toString() + u'/';
        if (call.itemArg < 0) {
            // A delete-all that removed nothing would have left no row.
            const qsizetype before = ties.size();
            ties.removeIf([&](const QString& t) { return t.startsWith(prefix); });
            EXPECT_LT(ties.size(), before) << "nothing to delete: " << prefix.toStdString();
            return;
        }
        const QString tie = prefix + args[call.itemArg].toString();
        EXPECT_NE(ties.contains(tie), call.insert)
            << row.method.toStdString() << ' ' << tie.toStdString();
        if (call.insert)
            ties.insert(tie);
        else
            ties.remove(tie);
    }
};

// Reads of the shared database, whichever the engine.
struct Reader {
    std::function<QVector<AuditRow>()> audit;
    std::function<QString(const QString&)> value;
    const char* joined; // the engine's aggregate that joins texts with commas

    // The ties of branch 0004 as the model names them, sorted.
    QStringList ties() const {
        QStringList all;
        for (const char* table : {"INSPCARGO", "INSPDEPTO"}) {
            const QString item = QLatin1String(table) == QLatin1String("INSPCARGO")
                                     ? QStringLiteral("CDCARGO")
                                     : QStringLiteral("CDDEPTO");
            const QString concat =
                QStringLiteral("'%1 ' || CDINSPECAO || '/' || %2").arg(QLatin1String(table), item);
            all += value(QStringLiteral("SELECT %1 FROM %2 WHERE CDFILIAL = '0004'")
                             .arg(QString::fromLatin1(joined).arg(concat), QLatin1String(table)))
                       .split(u',', Qt::SkipEmptyParts);
        }
        all.sort();
        return all;
    }
    QStringList replayed(const Model& model) const {
        QStringList out(model.ties.begin(), model.ties.end());
        out.sort();
        return out;
    }
};

void runLoad(ServerProcess& first, ServerProcess& second, const Reader& db) {
    ASSERT_TRUE(first.start()) << first.log().toStdString();
    ASSERT_TRUE(second.start()) << second.log().toStdString();
    const QStringList tiesBefore = db.ties();

    // RH_LOAD_CLIENTS and RH_LOAD_ROUNDS make it a longer run by hand (the figures it prints).
    const int Clients = qEnvironmentVariableIntValue("RH_LOAD_CLIENTS") > 0
                            ? qEnvironmentVariableIntValue("RH_LOAD_CLIENTS")
                            : 40;
    const int Rounds = qEnvironmentVariableIntValue("RH_LOAD_ROUNDS") > 0
                           ? qEnvironmentVariableIntValue("RH_LOAD_ROUNDS")
                           : 40;
    std::vector<std::unique_ptr<LineClient>> clients;
    for (int i = 0; i < Clients; ++i) {
        clients.push_back(std::make_unique<LineClient>(i % 2 ? second.port() : first.port()));
        ASSERT_TRUE(clients.back()->open(QStringLiteral("0004")).ok);
    }
    const protocol::DataPacket geral =
        packetOf(clients[0]->call(QStringLiteral("GetGeral"), {QStringLiteral("1")}));
    const int cestaField = geral.indexOf(QStringLiteral("VRCESTABAS"));
    QRandomGenerator random(7400);
    QSet<double> acceptedValues, refusedValues;
    std::vector<double> lastRead(Clients, geral.rows[0][cestaField].toDouble());
    std::vector<qint64> latenciesUs;
    int errors = 0;
    QElapsedTimer total;
    total.start();
    for (int round = 0; round < Rounds; ++round) {
        std::vector<int> kind(Clients);
        std::vector<double> proposed(Clients);
        QElapsedTimer roundClock;
        roundClock.start();
        for (int i = 0; i < Clients; ++i) {
            kind[size_t(i)] = random.bounded(3);
            std::string request;
            if (kind[size_t(i)] == 0) {
                request =
                    protocol::requestJson(round, QStringLiteral("GetGeral"), {QStringLiteral("1")});
            } else if (kind[size_t(i)] == 1) {
                // Forty clients each own one position of one questionnaire; more share them.
                request = protocol::requestJson(
                    round, QString::fromLatin1(random.bounded(2) ? "SetInsCarg" : "SetDelCarg"),
                    {QStringLiteral("0004"), QString::fromLatin1(i % 40 < 20 ? "01002" : "02003"),
                     QStringLiteral("%1").arg(i % 20 + 1, 4, 10, QChar(u'0'))});
            } else {
                // A delta from the value this client read last: it races with every other.
                proposed[size_t(i)] = 1000 + round * 100000.0 + i; // unique per call
                Delta d;
                d.fields = {geral.fields[0], geral.fields[cestaField]};
                d.changes.push_back({DeltaChange::Op::Update,
                                     {QStringLiteral("1"), lastRead[size_t(i)]},
                                     {QStringLiteral("1"), proposed[size_t(i)]}});
                request = protocol::requestJson(round, QStringLiteral("SetGeral"), {d});
            }
            clients[size_t(i)]->send(QByteArray::fromStdString(request));
        }
        for (int i = 0; i < Clients; ++i) {
            const auto line = clients[size_t(i)]->readLine();
            ASSERT_TRUE(line) << "sem resposta";
            latenciesUs.push_back(roundClock.nsecsElapsed() / 1000);
            simdjson::dom::parser parser;
            const Response r = protocol::parseResponse(
                std::string_view(line->constData(), size_t(line->size())), parser);
            if (kind[size_t(i)] == 0) {
                ASSERT_TRUE(r.ok) << r.errorMessage.toStdString();
                lastRead[size_t(i)] =
                    protocol::packetFromJson(r.resultJson).rows[0][cestaField].toDouble();
            } else if (kind[size_t(i)] == 1) {
                errors += !r.ok;
            } else if (r.ok) {
                acceptedValues.insert(proposed[size_t(i)]);
                lastRead[size_t(i)] = proposed[size_t(i)];
            } else {
                EXPECT_EQ(r.errorCode, ErrorCode::Conflict) << r.errorMessage.toStdString();
                refusedValues.insert(proposed[size_t(i)]);
            }
        }
    }
    const qint64 elapsedMs = std::max<qint64>(1, total.elapsed());
    EXPECT_EQ(errors, 0);
    EXPECT_FALSE(acceptedValues.isEmpty());
    EXPECT_FALSE(refusedValues.isEmpty());

    // The audit, replayed from the demo data, gives the stored data; each accepted delta is in it
    // once, no refused one is.
    Model model;
    model.ties = QSet<QString>(tiesBefore.begin(), tiesBefore.end());
    model.cesta = geral.rows[0][cestaField].toDouble();
    const QVector<AuditRow> rows = db.audit();
    QHash<double, int> logged;
    for (const AuditRow& row : rows) {
        ASSERT_NO_FATAL_FAILURE(model.replay(row));
        if (row.method == QLatin1String("SetGeral")) ++logged[model.cesta];
    }
    for (double v : acceptedValues)
        EXPECT_EQ(logged.value(v), 1) << v;
    for (double v : refusedValues)
        EXPECT_EQ(logged.value(v), 0) << v;
    EXPECT_EQ(
        db.value(QStringLiteral("SELECT VRCESTABAS FROM PARAMRH WHERE CDPARAMRH = '1'")).toDouble(),
        model.cesta);
    EXPECT_EQ(db.ties(), db.replayed(model));

    std::sort(latenciesUs.begin(), latenciesUs.end());
    std::printf("carga: %d chamadas em %lld ms (%lld/s), p99 de uma rodada %lld us\n",
                Clients * Rounds, static_cast<long long>(elapsedMs),
                static_cast<long long>(Clients * Rounds * 1000LL / elapsedMs),
                static_cast<long long>(latenciesUs[latenciesUs.size() * 99 / 100]));
}

// The reads of a test on the PostgreSQL database, made over first; null without RH_TEST_PG.
std::optional<Reader> postgresReader(QString* url) {
    *url = qEnvironmentVariable("RH_TEST_PG");
    if (url->isEmpty()) return std::nullopt;
    resetPostgres(*url);
    QString error;
    const auto address = rhserver::DbAddress::parse(*url, &error);
    EXPECT_TRUE(address) << error.toStdString();
    auto reader = std::make_shared<rhserver::Storage>(*address);
    EXPECT_TRUE(reader->open(&error)) << error.toStdString();
    const auto rows = [reader](const QString& sql) {
        QSqlQuery q(reader->db());
        EXPECT_TRUE(q.exec(sql)) << sql.toStdString();
        QVector<QStringList> out;
        while (q.next()) {
            QStringList row;
            for (int i = 0; i < q.record().count(); ++i)
                row << q.value(i).toString();
            out.push_back(row);
        }
        return out;
    };
    return Reader{[rows] {
                      QVector<AuditRow> audit;
                      for (const QStringList& r : rows(QStringLiteral(
                               "SELECT DTAUDITORIA, CDFILIAL, IDSESSAO, NMMETODO, "
                               "DSARGUMENTOS FROM RHAUDITORIA ORDER BY NRAUDITORIA")))
                          audit.push_back({r[0], r[1], r[2], r[3], r[4]});
                      return audit;
                  },
                  [rows](const QString& sql) {
                      const auto r = rows(sql);
                      return r.isEmpty() ? QString() : r[0].value(0);
                  },
                  "STRING_AGG(%1, ',')"};
}

Reader sqliteReader(const QString& path) {
    return {[path] { return auditRows(path); },
            [path](const QString& sql) { return storedValue(path, sql); }, "GROUP_CONCAT(%1)"};
}

// An insert racing a delete-all of the same questionnaire from two connections, over and over:
// whichever takes effect first, the audit replayed in its own order gives what is stored.
void raceTiesWithDeleteAll(ServerProcess& server, const Reader& db) {
    ASSERT_TRUE(server.start()) << server.log().toStdString();
    LineClient inserting(server.port()), deleting(server.port());
    const QString branch = QStringLiteral("0004"), inspecao = QStringLiteral("01002");
    ASSERT_TRUE(inserting.open(branch).ok);
    ASSERT_TRUE(deleting.open(branch).ok);
    Model model;
    const QStringList before = db.ties();
    model.ties = QSet<QString>(before.begin(), before.end());
    const auto ok = [](const std::optional<QByteArray>& line) {
        const Response r = parse(line);
        EXPECT_TRUE(r.ok) << r.errorMessage.toStdString();
    };
    qsizetype replayed = 0;
    for (int i = 0; i < 300; ++i) {
        const bool cargo = i % 2 == 0;
        const auto code = [&](int n) {
            return QStringLiteral("%1").arg(n, cargo ? 4 : 3, 10, QChar(u'0'));
        };
        const auto insert = [&](const QString& item) -> QVector<protocol::Argument> {
            if (cargo) return {branch, inspecao, item};
            return {inspecao, branch, item};
        };
        const QString insertMethod =
            cargo ? QStringLiteral("SetInsCarg") : QStringLiteral("SetInsDep");
        // A tie for the delete-all to remove, so that it always leaves an audit row.
        ASSERT_TRUE(inserting.call(insertMethod, insert(code(cargo ? 20 : 10))).ok);
        inserting.send(QByteArray::fromStdString(
            protocol::requestJson(i, insertMethod, insert(code(i / 2 % 9 + 1)))));
        // The delete-all follows at a varying distance, to meet the insert at each of its steps.
        std::this_thread::sleep_for(std::chrono::microseconds(i % 16 * 40));
        deleting.send(QByteArray::fromStdString(protocol::requestJson(
            i, cargo ? QStringLiteral("SetDelTdCarg") : QStringLiteral("SetDelTdDep"),
            {branch, inspecao})));
        ok(inserting.readLine());
        ok(deleting.readLine());
        // Checked after each race: a tie left behind is gone after the next delete-all.
        const QVector<AuditRow> rows = db.audit();
        for (; replayed < rows.size(); ++replayed)
            ASSERT_NO_FATAL_FAILURE(model.replay(rows[replayed]));
        ASSERT_EQ(db.ties(), db.replayed(model)) << "corrida " << i;
    }
}

TEST(Load, TieRacesReplayToWhatIsStoredOnSqlite) {
    ServerProcess server;
    QString out;
    ASSERT_TRUE(server.initDemo(&out)) << out.toStdString();
    raceTiesWithDeleteAll(server, sqliteReader(server.dbPath()));
}

TEST(Load, TieRacesReplayToWhatIsStoredOnPostgreSql) {
    QString url;
    const std::optional<Reader> db = postgresReader(&url);
    if (!db) GTEST_SKIP() << "RH_TEST_PG não definido";
    ServerProcess server;
    server.useDatabase(url);
    raceTiesWithDeleteAll(server, *db);
}

TEST(Load, TwoServersOnOneSqliteFileKeepEveryAcknowledgedChangeOnce) {
    ServerProcess first, second;
    QString out;
    ASSERT_TRUE(first.initDemo(&out)) << out.toStdString();
    second.shareDatabase(first.dbPath());
    runLoad(first, second, sqliteReader(first.dbPath()));
    EXPECT_EQ(storedValue(first.dbPath(), QStringLiteral("PRAGMA integrity_check")),
              QStringLiteral("ok"));
}

TEST(Load, TwoServersOnOnePostgreSqlDatabaseKeepEveryAcknowledgedChangeOnce) {
    QString url;
    const std::optional<Reader> db = postgresReader(&url);
    if (!db) GTEST_SKIP() << "RH_TEST_PG não definido";
    ServerProcess first, second;
    first.useDatabase(url);
    second.useDatabase(url);
    runLoad(first, second, *db);
}

} // namespace
