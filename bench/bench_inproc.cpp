// One GetGeral handled in-process (request line in, response line out, no socket) against the
// same row read with the SQLite C API, in interleaved rounds on one SQLite file; and the same for
// GetFilial with a different branch code each call (10,000 that all exist, in a shuffled order),
// which no cache holds. Prints "inproc_ours_us", "inproc_sqlite_us", "inproc_unc_ours_us" and
// "inproc_unc_sqlite_us" (medians of the rounds' means).
//   bench_inproc [ROUNDS]
//   bench_inproc fill DB   gives branches 0000 to 9999 parameters in DB (sqlite:… or
//                          postgresql://…)

#include "contract/Methods.h"
#include "server/ParamService.h"
#include "server/Schema.h"
#include "server/Session.h"
#include "server/Storage.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <random>
#include <vector>

namespace {

constexpr const char* GeralSql =
    "SELECT P.CDPARAMRH, P.VRPRAZEFEFUN, P.VRPEENCEFET, P.VRPEENCTEMP, P.VRPEDESCVT, "
    "P.IDTPINDCB, P.CDINDICECB, P.DTBASECB, P.VRCESTABAS, I.NMINDICE, P.IDTPFERIASPG, "
    "P.QTDIASFERIPG FROM PARAMRH P LEFT JOIN INDICE I ON I.CDINDICE = P.CDINDICECB "
    "WHERE P.CDPARAMRH = ?";
constexpr const char* FilialSql =
    "SELECT P.CDFILIAL, F.NMFILIAL, P.DIFECHRH, P.DTULTFECHRH, P.VRTOLEAPON, P.NMDIRPONTO, "
    "P.CDCONMEDDEF, C.NMCONVMEDI, P.IDTPHORARIO, P.IDTIPOAPON, P.IDUTRELOGIO, P.IDSAIEVEN, "
    "P.VRFATCOMP, P.IDSAID1, P.IDENTRAD2, P.IDSAID2, P.IDENTRAD1 FROM PARAMFILIAL P JOIN FILIAL F "
    "ON F.CDFILIAL = P.CDFILIAL LEFT JOIN CONVMEDI C ON C.CDCONVMEDI = P.CDCONMEDDEF "
    "WHERE P.CDFILIAL = ?";
constexpr int Keys = 10000;

// Every four-digit branch code a branch with parameters, as a large company's database holds
// them, so that reads of codes in turn find rows, as users' reads do.
bool fillBranches(rhserver::Storage& storage, QString* error) {
    QSqlDatabase& db = storage.db();
    QSqlQuery q(db);
    db.transaction();
    // Each a copy of branch 0001's parameters, under its own code and name.
    for (const char* sql :
         {"INSERT INTO FILIAL (CDFILIAL, NMFILIAL) SELECT ?, 'Filial de teste' FROM FILIAL "
          "WHERE CDFILIAL = '0001' ON CONFLICT DO NOTHING",
          "INSERT INTO PARAMFILIAL (CDFILIAL, DIFECHRH, DTULTFECHRH, VRTOLEAPON, NMDIRPONTO, "
          "CDCONMEDDEF, IDTPHORARIO, IDTIPOAPON, IDUTRELOGIO, IDSAIEVEN, VRFATCOMP, IDSAID1, "
          "IDENTRAD2, IDSAID2, IDENTRAD1) SELECT ?, DIFECHRH, DTULTFECHRH, VRTOLEAPON, NMDIRPONTO, "
          "CDCONMEDDEF, IDTPHORARIO, IDTIPOAPON, IDUTRELOGIO, IDSAIEVEN, VRFATCOMP, IDSAID1, "
          "IDENTRAD2, IDSAID2, IDENTRAD1 FROM PARAMFILIAL WHERE CDFILIAL = '0001' "
          "ON CONFLICT DO NOTHING"}) {
        QVariantList codes;
        for (int k = 0; k < Keys; ++k)
            codes << QStringLiteral("%1").arg(k, 4, 10, QLatin1Char('0'));
        q.prepare(QString::fromLatin1(sql));
        q.addBindValue(codes);
        if (!q.execBatch()) {
            *error = q.lastError().text();
            db.rollback();
            return false;
        }
    }
    return db.commit();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The baseline reads every column the way a reply needs it: numbers as doubles, texts as bytes.
size_t readRow(sqlite3_stmt* statement, const char* key = "1") {
    sqlite3_bind_text(statement, 1, key, -1, SQLITE_STATIC);
    size_t bytes = 0;
    while (sqlite3_step(statement) == SQLITE_ROW) {
        for (int c = 0; c < sqlite3_column_count(statement); ++c) {
            if (sqlite3_column_type(statement, c) == SQLITE_FLOAT ||
                sqlite3_column_type(statement, c) == SQLITE_INTEGER)
                bytes += size_t(sqlite3_column_double(statement, c) != 0);
            else if (sqlite3_column_type(statement, c) == SQLITE_TEXT)
                bytes += size_t(sqlite3_column_bytes(statement, c)) +
                         size_t(sqlite3_column_text(statement, c)[0] != 0);
        }
    }
    sqlite3_reset(statement);
    return bytes;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString error;
    if (argc == 3 && QByteArray(argv[1]) == "fill") {
        const auto address = rhserver::DbAddress::parse(QString::fromLocal8Bit(argv[2]), &error);
        if (!address) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 2;
        }
        rhserver::Storage storage(*address);
        if (!storage.open(&error) || !fillBranches(storage, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        return 0;
    }
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 7;
    const int calls = 5000;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.db"));
    if (!rhserver::initDatabase(QStringLiteral("sqlite:") + path, true, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const auto address = rhserver::DbAddress::parse(QStringLiteral("sqlite:") + path, &error);
    rhserver::Storage storage(*address);
    if (!storage.open(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    if (!fillBranches(storage, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    rhserver::ParamService service(storage);
    simdjson::dom::parser parser;
    const rhserver::SessionConfig config{{}, QStringLiteral("bench")};
    rhserver::Session session(config, service, parser, QStringLiteral("bench"));
    const std::string open = protocol::openRequestJson(
        1, {QString(contract::ServerObjectName), QStringLiteral("0001"), {}});
    session.handle(QByteArray::fromStdString(open.substr(0, open.size() - 1)));
    std::string request =
        protocol::requestJson(2, QStringLiteral("GetGeral"), {QStringLiteral("1")});
    const QByteArray line = QByteArray::fromStdString(request.substr(0, request.size() - 1));
    if (session.handle(line).find("\"result\"") == std::string::npos) {
        std::fprintf(stderr, "GetGeral falhou: %s\n", session.handle(line).c_str());
        return 1;
    }

    sqlite3* db = nullptr;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) ||
        sqlite3_prepare_v3(db, GeralSql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr)) {
        std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(db));
        return 1;
    }
    if (readRow(statement) == 0) {
        std::fprintf(stderr, "sqlite: a linha 1 não foi lida\n");
        return 1;
    }

    sqlite3_stmt* filial = nullptr;
    if (sqlite3_prepare_v3(db, FilialSql, -1, SQLITE_PREPARE_PERSISTENT, &filial, nullptr)) {
        std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(db));
        return 1;
    }
    std::vector<QByteArray> filialLines;
    std::vector<std::string> keys;
    std::vector<int> order(Keys);
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), std::mt19937(7)); // not the index's own order
    for (int k : order) {
        keys.push_back(QStringLiteral("%1").arg(k, 4, 10, QLatin1Char('0')).toStdString());
        const std::string r = protocol::requestJson(3, QStringLiteral("GetFilial"),
                                                    {QString::fromStdString(keys.back())});
        filialLines.push_back(QByteArray::fromStdString(r.substr(0, r.size() - 1)));
    }

    std::vector<double> ours, base, oursUncached, baseUncached;
    size_t sink = 0;
    int key = 0;
    QElapsedTimer clock;
    for (int r = 0; r < rounds; ++r) {
        clock.start();
        for (int i = 0; i < calls; ++i)
            sink += session.handle(line).size();
        ours.push_back(double(clock.nsecsElapsed()) / 1000.0 / calls);
        clock.start();
        for (int i = 0; i < calls; ++i)
            sink += readRow(statement);
        base.push_back(double(clock.nsecsElapsed()) / 1000.0 / calls);
        const int from = key;
        clock.start();
        for (int i = 0; i < calls; ++i)
            sink += session.handle(filialLines[size_t(key++ % Keys)]).size();
        oursUncached.push_back(double(clock.nsecsElapsed()) / 1000.0 / calls);
        key = from;
        clock.start();
        for (int i = 0; i < calls; ++i)
            sink += readRow(filial, keys[size_t(key++ % Keys)].c_str());
        baseUncached.push_back(double(clock.nsecsElapsed()) / 1000.0 / calls);
    }
    sqlite3_finalize(statement);
    sqlite3_finalize(filial);
    sqlite3_close(db);
    std::printf("inproc_ours_us %.2f\ninproc_sqlite_us %.2f\ninproc_unc_ours_us %.2f\n"
                "inproc_unc_sqlite_us %.2f\ninproc_bytes_seen %zu\n",
                median(ours), median(base), median(oursUncached), median(baseUncached), sink);
    return 0;
}
