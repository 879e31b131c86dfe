// Replies kept by the workers are never stale: two rhserver processes (two workers each) on one
// database, and every read made after a write was acknowledged, through either process and
// however often it was read before, shows that write; a refused write changes nothing read. The
// same cases run on SQLite and on PostgreSQL.

#include "DemoServer.h"
#include "PgTesting.h"
#include "ServerHarness.h"

#include "server/Freshness.h"
#include "server/KeptReplies.h"
#include "server/ParamService.h"
#include "server/Schema.h"
#include "server/Storage.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace testing_rh;
using protocol::Delta;
using protocol::DeltaChange;
using protocol::Response;
namespace ErrorCode = protocol::ErrorCode;

namespace {

const QString One = QStringLiteral("1");

double cesta(LineClient& c) {
    const protocol::DataPacket p = packetOf(c.call(QStringLiteral("GetGeral"), {One}));
    const int field = p.indexOf(QStringLiteral("VRCESTABAS"));
    return p.rows.isEmpty() || field < 0 ? -1 : p.rows[0][field].toDouble();
}

Delta cestaDelta(double from, double to) {
    Delta d;
    d.fields = {{QStringLiteral("CDPARAMRH"), protocol::FieldType::String, 1},
                {QStringLiteral("VRCESTABAS"), protocol::FieldType::Float, 0}};
    d.changes.push_back({DeltaChange::Op::Update, {One, from}, {One, to}});
    return d;
}

double tolerance(LineClient& c, const QString& branch) {
    const protocol::DataPacket p = packetOf(c.call(QStringLiteral("GetFilial"), {branch}));
    const int field = p.indexOf(QStringLiteral("VRTOLEAPON"));
    return p.rows.isEmpty() || field < 0 ? -1 : p.rows[0][field].toDouble();
}

// The flag of one position in the session branch's list of a questionnaire.
QString positionFlag(LineClient& c, const QString& inspecao, const QString& cargo) {
    const protocol::DataPacket p = packetOf(c.call(QStringLiteral("GetCargo"), {inspecao}));
    const int index = column(p, QStringLiteral("CDCARGO")).indexOf(cargo);
    return index < 0 ? QString() : column(p, QStringLiteral("IDCHECK"))[index];
}

// Whether the questionnaire list of the session's branch says the questionnaire has positions.
QString questionnaireFlag(LineClient& c, const QString& inspecao) {
    const protocol::DataPacket p = packetOf(c.call(QStringLiteral("GetInspecao"), {One}));
    const int index = column(p, QStringLiteral("CDINSPECAO")).indexOf(inspecao);
    return index < 0 ? QString() : column(p, QStringLiteral("IDCARG"))[index];
}

// GetGeral calls numbered 1 to count, one line each, to send in one go.
QByteArray geralCalls(int count) {
    QByteArray calls;
    for (int id = 1; id <= count; ++id)
        calls += QByteArrayLiteral(R"({"jsonrpc":"2.0","id":)") + QByteArray::number(id) +
                 QByteArrayLiteral(R"(,"method":"GetGeral","params":["1"]})"
                                   "\n");
    return calls;
}

// Reads sent at once by every reader, three each, so that a server answers several in one turn:
// every one of them, in its order, shows the expected value.
void readTogether(const std::vector<LineClient*>& readers, double expected) {
    const QByteArray calls = geralCalls(3);
    for (LineClient* r : readers)
        r->send(calls);
    for (LineClient* r : readers)
        for (int id = 1; id <= 3; ++id) {
            const Response answer = parse(r->readLine());
            EXPECT_EQ(answer.id, id);
            const protocol::DataPacket p = packetOf(answer);
            ASSERT_EQ(p.rows.size(), 1);
            EXPECT_EQ(p.rows[0][p.indexOf(QStringLiteral("VRCESTABAS"))].toDouble(), expected)
                << "a reply older than an acknowledged write, among reads sent together";
        }
}

struct Clients {
    LineClient writer;     // first process, branch 0001
    LineClient sameServer; // first process, branch 0001
    LineClient other;      // second process, branch 0001
    LineClient otherAgain; // second process, branch 0001 (its other worker)
    LineClient elsewhere;  // second process, branch 0004

    Clients(quint16 first, quint16 second)
        : writer(first)
        , sameServer(first)
        , other(second)
        , otherAgain(second)
        , elsewhere(second) {}
    std::vector<LineClient*> readers() { return {&writer, &sameServer, &other, &otherAgain}; }
};

// Everything below runs on the two servers; writeOutside changes VRCESTABAS without any server,
// or is empty where that cannot be seen.
void checkFreshness(ServerProcess& first, ServerProcess& second,
                    const std::function<void(double)>& writeOutside) {
    ASSERT_TRUE(first.start({QStringLiteral("--workers"), QStringLiteral("2")}))
        << first.log().toStdString();
    ASSERT_TRUE(second.start({QStringLiteral("--workers"), QStringLiteral("2")}))
        << second.log().toStdString();
    Clients c(first.port(), second.port());
    for (LineClient* r : c.readers())
        ASSERT_TRUE(r->open().ok);
    ASSERT_TRUE(c.elsewhere.open(QStringLiteral("0004")).ok);

    // Each value is read twice by everyone first, so that every worker holds the reply.
    double current = cesta(c.writer);
    for (const double next : {101.5, 202.25, 303.0}) {
        for (int twice = 0; twice < 2; ++twice)
            for (LineClient* r : c.readers())
                ASSERT_EQ(cesta(*r), current);
        const Response w = c.writer.call(QStringLiteral("SetGeral"), {cestaDelta(current, next)});
        ASSERT_TRUE(w.ok) << w.errorMessage.toStdString();
        current = next;
        for (LineClient* r : c.readers())
            EXPECT_EQ(cesta(*r), current) << "a reply older than an acknowledged write";
        readTogether(c.readers(), current);
    }

    // A refused write (its old value is not the stored one) leaves every reply as it was.
    const Response refused =
        c.other.call(QStringLiteral("SetGeral"), {cestaDelta(current + 1, 999.0)});
    EXPECT_EQ(refused.errorCode, ErrorCode::Conflict);
    for (LineClient* r : c.readers())
        EXPECT_EQ(cesta(*r), current);
    // A write through the second process is seen by the first as well.
    ASSERT_TRUE(c.otherAgain.call(QStringLiteral("SetGeral"), {cestaDelta(current, 404.0)}).ok);
    current = 404.0;
    for (LineClient* r : c.readers())
        EXPECT_EQ(cesta(*r), current);

    // Replies that depend on the arguments: another branch's record keeps its own reply.
    const double toleranceOf2 = tolerance(c.other, QStringLiteral("0002"));
    EXPECT_EQ(tolerance(c.other, QStringLiteral("0001")), 10.0);
    Delta filial;
    filial.fields = {{QStringLiteral("CDFILIAL"), protocol::FieldType::String, 4},
                     {QStringLiteral("VRTOLEAPON"), protocol::FieldType::Float, 0}};
    filial.changes.push_back(
        {DeltaChange::Op::Update, {QStringLiteral("0001"), 10.0}, {QStringLiteral("0001"), 12.5}});
    ASSERT_TRUE(c.writer.call(QStringLiteral("SetFilial"), {filial}).ok);
    EXPECT_EQ(tolerance(c.other, QStringLiteral("0001")), 12.5);
    EXPECT_EQ(tolerance(c.other, QStringLiteral("0002")), toleranceOf2);

    // Replies that depend on the session's branch: a tie of branch 0004 shows in 0004's lists
    // only, and its removal as well.
    const QString insp = QStringLiteral("01001"), cargo = QStringLiteral("0003");
    struct Expected {
        const char* method;
        QString branch0001, branch0004;
    };
    const Expected steps[] = {{nullptr, QStringLiteral("N"), QStringLiteral("N")},
                              {"SetInsCarg", QStringLiteral("N"), QStringLiteral("S")},
                              {"SetDelCarg", QStringLiteral("N"), QStringLiteral("N")}};
    for (const Expected& step : steps) {
        if (step.method) {
            ASSERT_TRUE(
                c.writer
                    .call(QString::fromLatin1(step.method), {QStringLiteral("0004"), insp, cargo})
                    .ok);
        }
        for (int twice = 0; twice < 2; ++twice) {
            EXPECT_EQ(positionFlag(c.other, insp, cargo), step.branch0001) << step.method;
            EXPECT_EQ(positionFlag(c.elsewhere, insp, cargo), step.branch0004) << step.method;
            EXPECT_EQ(questionnaireFlag(c.other, insp), QStringLiteral("S")) << step.method;
            EXPECT_EQ(questionnaireFlag(c.elsewhere, insp), step.branch0004) << step.method;
        }
    }

    if (writeOutside) {
        writeOutside(505.0);
        for (LineClient* r : c.readers())
            EXPECT_EQ(cesta(*r), 505.0) << "a write made without the servers";
        readTogether(c.readers(), 505.0);
    }
}

TEST(ReplyCache, TwoServersOnOneSqliteFileNeverAnswerStale) {
    ServerProcess first, second;
    QString out;
    ASSERT_TRUE(first.initDemo(&out)) << out.toStdString();
    second.shareDatabase(first.dbPath());
    const QString path = first.dbPath();
    checkFreshness(first, second, [path](double value) {
        ensureApplication();
        {
            QSqlDatabase db =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("outside"));
            db.setDatabaseName(path);
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
            ASSERT_TRUE(db.open());
            QSqlQuery q(db);
            ASSERT_TRUE(q.exec(QStringLiteral("UPDATE PARAMRH SET VRCESTABAS = %1").arg(value)))
                << q.lastError().text().toStdString();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("outside"));
    });
}

// A lone client's reads are answered at once, each as soon as it is read: thousands sent in one
// go come back whole and in order, the server still serving after them.
class NetworkThreadReads : public DemoServerTest {};

TEST_F(NetworkThreadReads, ALoneClientsPipelinedReadsComeBackInOrder) {
    ASSERT_NO_FATAL_FAILURE(serve());
    LineClient client(server.port());
    ASSERT_TRUE(client.open().ok);
    constexpr int Calls = 6000; // the answers stay within what the server holds for a client
    client.send(geralCalls(Calls));
    for (int id = 1; id <= Calls; ++id) {
        const Response answer = parse(client.readLine());
        ASSERT_EQ(answer.id, id);
        ASSERT_TRUE(answer.ok);
    }
    EXPECT_GT(cesta(client), 0);
}

class PostgresCache : public PostgresTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(PostgresTest::SetUp());
        if (IsSkipped()) return;
        first.useDatabase(url);
        second.useDatabase(url);
    }

    ServerProcess first, second;
};

TEST_F(PostgresCache, TwoServersOnOneDatabaseNeverAnswerStale) {
    checkFreshness(first, second, {});
}

// A worker whose database connection was cut and opened again keeps nothing it read before.
TEST_F(PostgresCache, AWorkerThatReconnectsDropsWhatItKept) {
    ASSERT_TRUE(first.start()) << first.log().toStdString();
    ASSERT_TRUE(second.start({QStringLiteral("--workers"), QStringLiteral("1")}))
        << second.log().toStdString();
    LineClient writer(first.port()), reader(second.port());
    ASSERT_TRUE(writer.open().ok);
    ASSERT_TRUE(reader.open().ok);
    const double before = cesta(reader);
    ASSERT_EQ(cesta(reader), before);

    QString error;
    const auto address = rhserver::DbAddress::parse(url, &error);
    rhserver::Storage admin(*address);
    ASSERT_TRUE(admin.open(&error)) << error.toStdString();
    QSqlQuery cut(admin.db());
    ASSERT_TRUE(cut.exec(QStringLiteral("SELECT COUNT(pg_terminate_backend(pid)) FROM "
                                        "pg_stat_activity WHERE application_name = 'rhserver-%1'")
                             .arg(second.pid())));
    ASSERT_TRUE(cut.next());
    EXPECT_EQ(cut.value(0).toInt(), 3); // the worker's, the one kept for ping, the change watch's
    ASSERT_TRUE(writer.call(QStringLiteral("SetGeral"), {cestaDelta(before, before + 7)}).ok);

    // The call that finds the connection gone is refused; none answers the old value.
    Response r = reader.call(QStringLiteral("GetGeral"), {One});
    if (!r.ok) {
        EXPECT_EQ(r.errorCode, ErrorCode::StorageFailure);
        r = reader.call(QStringLiteral("GetGeral"), {One});
    }
    const protocol::DataPacket p = packetOf(r);
    ASSERT_EQ(p.rows.size(), 1);
    EXPECT_EQ(p.rows[0][p.indexOf(QStringLiteral("VRCESTABAS"))].toDouble(), before + 7);
}

// What one worker keeps stays bounded whatever the arguments, and an accepted write anywhere in
// the process empties it.
TEST(ReplyCacheBounds, KeepsAtMostItsLimitsAndDropsAllAfterAWrite) {
    ensureApplication();
    const DemoSqlite db;
    QString error;
    rhserver::Storage storage(*rhserver::DbAddress::parse(db.url, &error));
    ASSERT_TRUE(storage.open(&error)) << error.toStdString();
    rhserver::ReplyCache cache(storage);
    ASSERT_TRUE(cache.validate());

    const std::string small(100, 'x');
    for (size_t i = 0; i < rhserver::ReplyCache::MaxEntries + 10; ++i) {
        cache.store("GetCargo\n[\"" + std::to_string(i) + "\"]", small);
        ASSERT_LE(cache.size(), rhserver::ReplyCache::MaxEntries);
    }
    EXPECT_GT(cache.size(), 0u);
    const std::string kept =
        "GetCargo\n[\"" + std::to_string(rhserver::ReplyCache::MaxEntries + 9) + "\"]";
    ASSERT_NE(cache.find(kept), nullptr);
    EXPECT_EQ(*cache.find(kept), small);

    // A reply larger than a quarter of the budget is answered but not kept; bytes are bounded.
    cache.store("GetCargo\n[\"big\"]", std::string(rhserver::ReplyCache::MaxBytes / 4 + 1, 'y'));
    EXPECT_EQ(cache.find("GetCargo\n[\"big\"]"), nullptr);
    const std::string large(rhserver::ReplyCache::MaxBytes / 5, 'z');
    for (int i = 0; i < 12; ++i)
        cache.store("GetDepto\n[\"" + std::to_string(i) + "\"]", large);
    EXPECT_LE(cache.size(), size_t(5));

    ASSERT_TRUE(cache.validate());
    EXPECT_GT(cache.size(), 0u); // nothing changed: what was kept stays
    rhserver::ReplyCache::writeCommitted();
    ASSERT_TRUE(cache.validate());
    EXPECT_EQ(cache.size(), 0u);
}

// The network thread's kept replies over a demo SQLite file made for the test.
class KeptReplies : public ::testing::Test {
protected:
    void SetUp() override {
        ensureApplication();
        QString error;
        ASSERT_TRUE(rhserver::initDatabase(QStringLiteral("sqlite:") + path, true, &error))
            << error.toStdString();
        kept = std::make_unique<rhserver::KeptReplies>(
            *rhserver::DbAddress::parse(QStringLiteral("sqlite:") + path, &error));
        ASSERT_TRUE(kept->enabled());
    }

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("rh.db"));
    std::unique_ptr<rhserver::KeptReplies> kept;
};

// The network thread answers only well-formed reads whose replies may be kept, and keeps a result
// only when nothing was committed between handing the call to a worker and its answer.
TEST_F(KeptReplies, AnswersOnlyKeptReadsAndNothingReadAcrossACommit) {
    const QString branch = QStringLiteral("0001");

    const struct {
        const char* line;
        bool taken;
    } lines[] = {
        {R"({"jsonrpc":"2.0","id":7,"method":"GetGeral","params":["1"]})", true},
        {R"({"jsonrpc":"2.0","id":"x","method":"GetCargo","params":["01001"]})", true},
        {R"({"jsonrpc":"2.0","id":7,"method":"SetInsPad","params":["01001","0001"]})", false},
        {R"({"jsonrpc":"2.0","id":7,"method":"GetHistorico","params":["0001"]})", false},
        {R"({"jsonrpc":"2.0","id":7,"method":"GetGeral","params":[]})", false},
        {R"({"jsonrpc":"2.0","id":7,"method":"GetGeral","params":[1]})", false},
        {R"({"jsonrpc":"2.0","id":7,"method":"GetGeral","params":["1"],"method":"SetGeral"})",
         false},
        {R"({"jsonrpc":"2.0","id":7,"method":"GetGeral","params":["\u0000"]})", false},
        {R"({"jsonrpc":"2.0","method":"GetGeral","params":["1"]})", false},
        {R"({"jsonrpc":"1.0","id":7,"method":"GetGeral","params":["1"]})", false},
        {R"({"jsonrpc":"2.0","id":{},"method":"GetGeral","params":["1"]})", false},
    };
    for (const auto& l : lines) {
        SCOPED_TRACE(l.line);
        EXPECT_EQ(kept->readRequest(QByteArray(l.line), branch).has_value(), l.taken);
    }
    const auto read = kept->readRequest(QByteArray(lines[0].line), branch);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->idJson, "7");
    // The branch is part of the key: another branch's session does not get this one's result.
    EXPECT_NE(kept->readRequest(QByteArray(lines[0].line), QStringLiteral("0002"))->key, read->key);

    const auto commitElsewhere = [this] {
        {
            QSqlDatabase db =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("w"));
            db.setDatabaseName(path);
            ASSERT_TRUE(db.open());
            ASSERT_TRUE(QSqlQuery(db).exec(
                QStringLiteral("UPDATE PARAMRH SET VRCESTABAS = VRCESTABAS + 1")));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("w"));
    };
    const struct {
        const char* meanwhile;
        std::function<void()> happen;
    } cases[] = {
        {"nothing", [] {}},
        {"a commit by another connection", commitElsewhere},
        {"a write of this process", [] { rhserver::ReplyCache::writeCommitted(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.meanwhile);
        EXPECT_EQ(kept->find(read->key), nullptr);
        const auto stamp = kept->stampNow();
        c.happen();
        kept->store(stamp, read->key, "{\"kept\":1}");
        const std::string* found = kept->find(read->key);
        EXPECT_EQ(found != nullptr, std::string(c.meanwhile) == "nothing");
        // Kept until the next change, then dropped.
        if (found) {
            commitElsewhere();
            EXPECT_EQ(kept->find(read->key), nullptr);
        }
    }

    // A record is read at once, a list is left to the workers; a record read here is kept without
    // a look, and dropped at the first commit after it.
    const std::optional<std::string> geral = kept->readNow(*read);
    ASSERT_TRUE(geral);
    EXPECT_EQ(protocol::packetFromJson(*geral).rows.size(), 1);
    EXPECT_FALSE(kept->readNow(*kept->readRequest(QByteArray(lines[1].line), branch)));
    kept->keepReadNow(read->key, *geral);
    ASSERT_NE(kept->find(read->key), nullptr);
    EXPECT_EQ(*kept->find(read->key), *geral);
    commitElsewhere();
    EXPECT_EQ(kept->find(read->key), nullptr);

    // Results of the largest size kept, under distinct keys, stay within the byte bound.
    const std::string large(rhserver::KeptReplies::MaxResult, 'r');
    for (int i = 0; i < 1000; ++i) {
        const auto stamp = kept->stampNow();
        kept->store(stamp, "GetCargo\n[\"" + std::to_string(i) + "\"]", large);
        ASSERT_LE(kept->bytes(), rhserver::KeptReplies::MaxBytes);
        EXPECT_NE(kept->find("GetCargo\n[\"" + std::to_string(i) + "\"]"), nullptr);
    }
}

// With the file locked by another program a record is not read on the network thread, which
// would wait; it is once the lock goes.
TEST_F(KeptReplies, LeavesAReadThatWouldWaitToTheWorkers) {
    const auto read = kept->readRequest(
        QByteArray(R"({"jsonrpc":"2.0","id":7,"method":"GetFilial","params":["0002"]})"),
        QStringLiteral("0001"));
    ASSERT_TRUE(read);
    {
        QSqlDatabase locker =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("locker"));
        locker.setDatabaseName(path);
        ASSERT_TRUE(locker.open());
        QSqlQuery q(locker);
        ASSERT_TRUE(q.exec(QStringLiteral("PRAGMA locking_mode=EXCLUSIVE")));
        q.finish();
        ASSERT_TRUE(q.exec(QStringLiteral("BEGIN EXCLUSIVE")))
            << q.lastError().text().toStdString();
        QElapsedTimer clock;
        clock.start();
        EXPECT_FALSE(kept->readNow(*read));
        EXPECT_LT(clock.elapsed(), 100);
        ASSERT_TRUE(q.exec(QStringLiteral("ROLLBACK")));
        q.finish();
        locker.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("locker"));
    const std::optional<std::string> branch = kept->readNow(*read);
    ASSERT_TRUE(branch);
    EXPECT_EQ(protocol::packetFromJson(*branch).rows.size(), 1);
}

} // namespace

// The service used by itself, as the fuzzer and the in-process benchmark use it: a look for
// changes serves only the batch it was made in, so outside one every kept reply is looked for.
TEST(ReplyCache, OutsideABatchEveryKeptReplyIsLookedFor) {
    ensureApplication();
    for (const bool batchFirst : {false, true}) {
        SCOPED_TRACE(batchFirst ? "depois de um lote" : "sem lote");
        const DemoSqlite db;
        QString error;
        const auto address = rhserver::DbAddress::parse(db.url, &error);
        rhserver::Storage storage(*address), outside(*address);
        ASSERT_TRUE(storage.open(&error)) << error.toStdString();
        ASSERT_TRUE(outside.open(&error)) << error.toStdString();
        rhserver::ParamService service(storage);
        rhserver::SessionInfo session;
        session.branch = QStringLiteral("0001");
        const contract::Method& getGeral = *contract::findMethod("GetGeral");
        const QVector<protocol::Argument> args{One};
        const auto read = [&] {
            return service.call(session, getGeral, args, rhserver::appliedJson(args));
        };
        if (batchFirst) {
            service.startBatch({});
            read();
            service.endBatch();
        }
        const std::string before = read();
        ASSERT_EQ(read(), before); // now served from what was kept
        outside.execDirect(QStringLiteral("UPDATE PARAMRH SET VRCESTABAS = 4321"));
        EXPECT_NE(read(), before);
    }
}
