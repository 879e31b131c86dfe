// Requests a client sends at once are answered in order on one worker, their writes under one
// commit: each write still stands or falls alone, a read among them sees the writes before it,
// and what is answered as written is what is stored, also when the database refuses the commit
// or the connection is cut in the middle of a group.

#include "DatabaseRelay.h"
#include "PgTesting.h"
#include "ServerHarness.h"

#include "contract/Layouts.h"
#include "server/RhServer.h"
#include "server/Schema.h"
#include "server/Storage.h"

#include <QRandomGenerator>
#include <QUrl>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

using namespace testing_rh;
namespace ErrorCode = protocol::ErrorCode;

namespace {

const QString Branch = QStringLiteral("0001");
const QString Questionnaire = QStringLiteral("01002");

std::unique_ptr<rhserver::RhServer> serve(const QString& url, int workers = 2) {
    auto server = std::make_unique<rhserver::RhServer>(
        rhserver::ServerOptions{url, {}, protocol::DefaultMaxMessage, workers});
    QString error;
    EXPECT_TRUE(server->start(QHostAddress::LocalHost, 0, &error)) << error.toStdString();
    return server;
}

std::string tie(std::int64_t id, bool on, const QString& position) {
    return protocol::requestJson(id,
                                 on ? QStringLiteral("SetInsCarg") : QStringLiteral("SetDelCarg"),
                                 {Branch, Questionnaire, position});
}

// The positions a packet of GetCargo shows as tied, in order.
QStringList tiedIn(const protocol::DataPacket& p) {
    QStringList tied;
    const int check = p.indexOf(QStringLiteral("IDCHECK"));
    const int code = p.indexOf(QStringLiteral("CDCARGO"));
    for (const protocol::Row& row : p.rows)
        if (row[check].toString() == QLatin1String("S")) tied << row[code].toString();
    tied.sort();
    return tied;
}

// The positions tied to the questionnaire, as a connection of its own reads them.
QStringList tiedPositions(LineClient& client) {
    return tiedIn(packetOf(client.call(QStringLiteral("GetCargo"), {Questionnaire})));
}

// One write of two changes to the general parameters: the first applies, then the second names an
// index that is not registered, and the whole write is refused.
std::string halfRefusedGeral(std::int64_t id, const protocol::DataPacket& geral) {
    protocol::Delta delta;
    QVector<int> at;
    for (const char* name : {"CDPARAMRH", "IDTPINDCB", "CDINDICECB"}) {
        delta.fields << *contract::geral().field(QLatin1String(name));
        at << geral.indexOf(QLatin1String(name));
    }
    protocol::Row stored;
    for (int i : at)
        stored << geral.rows.at(0).at(i);
    protocol::Row otherType = stored, unknownIndex = stored;
    otherType[1] =
        stored[1].toString() == QLatin1String("P") ? QStringLiteral("V") : QStringLiteral("P");
    unknownIndex[2] = QStringLiteral("9999");
    delta.changes << protocol::DeltaChange{protocol::DeltaChange::Op::Update, stored, otherType}
                  << protocol::DeltaChange{protocol::DeltaChange::Op::Update, stored, unknownIndex};
    return protocol::requestJson(id, QString(contract::method::SetGeral), {delta});
}

// A row of a table of the test's own needs the questionnaire's tie to the position, checked only
// at commit: the database then refuses to commit a transaction that unties it.
void guardTie(const QString& url, const QString& position) {
    QString error;
    const auto address = rhserver::DbAddress::parse(url, &error);
    ASSERT_TRUE(address) << error.toStdString();
    rhserver::Storage side(*address);
    ASSERT_TRUE(side.open(&error)) << error.toStdString();
    side.execDirect(QStringLiteral("DROP TABLE IF EXISTS USOCARGO"));
    side.execDirect(QStringLiteral(
        "CREATE TABLE USOCARGO (CDFILIAL VARCHAR(4), CDINSPECAO VARCHAR(10), CDCARGO VARCHAR(4), "
        "FOREIGN KEY (CDFILIAL, CDINSPECAO, CDCARGO) REFERENCES INSPCARGO (CDFILIAL, CDINSPECAO, "
        "CDCARGO) DEFERRABLE INITIALLY DEFERRED)"));
    side.execDirect(QStringLiteral("INSERT INTO USOCARGO VALUES ('%1', '%2', '%3')")
                        .arg(Branch, Questionnaire, position));
}

// lastCommitRefused: the database refuses the commit of the group after the read (guardTie).
void answersInOrderAndStoresWhatItAnswers(const QString& url, bool lastCommitRefused) {
    auto server = serve(url);
    LineClient client(server->port()), other(server->port());
    ASSERT_TRUE(client.open(Branch).ok);
    ASSERT_TRUE(other.open(Branch).ok);
    const QStringList before = tiedPositions(other);
    ASSERT_TRUE(before.isEmpty()) << before.join(u',').toStdString();
    const QStringList positions = {QStringLiteral("0001"), QStringLiteral("0002"),
                                   QStringLiteral("0003"), QStringLiteral("0004"),
                                   QStringLiteral("0005")};
    const QString guarded = positions[4];
    ASSERT_TRUE(other.request(tie(1, true, guarded)).ok);
    if (lastCommitRefused) {
        ASSERT_NO_FATAL_FAILURE(guardTie(url, guarded));
    }
    const protocol::Response geral = other.call(QStringLiteral("GetGeral"), {QStringLiteral("1")});

    // What each line is and what it must answer, sent in one piece.
    struct Line {
        std::string request;
        int error; // 0: a result
    };
    std::vector<Line> lines;
    std::int64_t id = 1;
    for (const QString& p : positions.mid(0, 3))
        lines.push_back({tie(++id, true, p), 0});
    lines.push_back({tie(++id, true, QStringLiteral("9999")), ErrorCode::Refused});
    lines.push_back({halfRefusedGeral(++id, packetOf(geral)), ErrorCode::Refused});
    lines.push_back({protocol::requestJson(++id, QStringLiteral("GetCargo"), {Questionnaire}), 0});
    const size_t readAt = lines.size() - 1;
    lines.push_back({tie(++id, false, positions[0]), 0});
    lines.push_back(
        {"{\"jsonrpc\":\"2.0\",\"id\":" + std::to_string(++id) + ",\"method\":\"Nada\"}\n",
         ErrorCode::MethodNotFound});
    lines.push_back({tie(++id, true, positions[3]), 0});
    lines.push_back({tie(++id, false, guarded), 0});
    QByteArray all;
    for (const Line& l : lines)
        all += QByteArray::fromStdString(l.request);
    client.send(all);

    const QStringList firstGroup = positions.mid(0, 3) + QStringList{guarded};
    for (size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(lines[i].request);
        // A refused commit takes back every write of the group that was answered as done.
        const int error = lastCommitRefused && i > readAt && lines[i].error == 0
                              ? ErrorCode::StorageFailure
                              : lines[i].error;
        const protocol::Response r = parse(client.readLine());
        EXPECT_EQ(r.id, std::int64_t(i) + 2);
        EXPECT_EQ(r.ok, error == 0);
        EXPECT_EQ(r.errorCode, error);
        if (i == readAt) {
            EXPECT_EQ(tiedIn(packetOf(r)), firstGroup);
        }
    }
    EXPECT_EQ(tiedPositions(other), lastCommitRefused ? firstGroup : positions.mid(1, 3));
    EXPECT_EQ(other.call(QStringLiteral("GetGeral"), {QStringLiteral("1")}).resultJson,
              geral.resultJson);
}

// Reads sent with writes in one piece, to a worker that has not read them yet and then to one that
// keeps their reply: the read after a write shows it, whichever way the one before was answered.
void aReadAfterAWriteInOnePieceShowsIt(const QString& url) {
    auto server = serve(url, 1);
    auto elsewhere = serve(url);
    LineClient client(server->port()), other(elsewhere->port());
    ASSERT_TRUE(client.open(Branch).ok);
    ASSERT_TRUE(other.open(Branch).ok);
    std::int64_t id = 1;
    for (const char* round : {"lido agora", "resposta guardada"}) {
        SCOPED_TRACE(round);
        const protocol::DataPacket before =
            packetOf(other.call(QStringLiteral("GetGeral"), {QStringLiteral("1")}));
        const int type = before.indexOf(QStringLiteral("IDTPINDCB"));
        const QString was = before.rows.at(0).at(type).toString();
        const QString now = was == QLatin1String("P") ? QStringLiteral("V") : QStringLiteral("P");
        protocol::Delta delta;
        for (const char* name : {"CDPARAMRH", "IDTPINDCB"})
            delta.fields << *contract::geral().field(QLatin1String(name));
        const protocol::Row stored{QStringLiteral("1"), was};
        delta.changes << protocol::DeltaChange{
            protocol::DeltaChange::Op::Update, stored, {QStringLiteral("1"), now}};
        const QByteArray piece = QByteArray::fromStdString(
            protocol::requestJson(id + 1, QStringLiteral("GetGeral"), {QStringLiteral("1")}) +
            protocol::requestJson(id + 2, QString(contract::method::SetGeral), {delta}) +
            protocol::requestJson(id + 3, QStringLiteral("GetGeral"), {QStringLiteral("1")}));
        id += 3;
        client.send(piece);
        EXPECT_EQ(packetOf(parse(client.readLine())).rows.at(0).at(type).toString(), was);
        ASSERT_TRUE(parse(client.readLine()).ok);
        EXPECT_EQ(packetOf(parse(client.readLine())).rows.at(0).at(type).toString(), now);
    }
}

} // namespace

TEST(GroupedWrites, AReadAfterAWriteInOnePieceShowsItOnSqlite) {
    ensureApplication();
    const DemoSqlite db;
    aReadAfterAWriteInOnePieceShowsIt(db.url);
}

TEST_F(PostgresTest, AReadAfterAWriteInOnePieceShowsIt) {
    ASSERT_NO_FATAL_FAILURE(resetPostgres(url));
    aReadAfterAWriteInOnePieceShowsIt(url);
}

TEST(GroupedWrites, AnswerInOrderAndStoreWhatTheyAnswerOnSqlite) {
    ensureApplication();
    for (const bool lastCommitRefused : {false, true}) {
        SCOPED_TRACE(lastCommitRefused ? "último commit recusado" : "commits aceitos");
        const DemoSqlite db;
        answersInOrderAndStoresWhatItAnswers(db.url, lastCommitRefused);
    }
}

TEST_F(PostgresTest, GroupedWritesAnswerInOrderAndStoreWhatTheyAnswer) {
    for (const bool lastCommitRefused : {false, true}) {
        SCOPED_TRACE(lastCommitRefused ? "último commit recusado" : "commits aceitos");
        ASSERT_NO_FATAL_FAILURE(resetPostgres(url));
        answersInOrderAndStoresWhatItAnswers(url, lastCommitRefused);
    }
}

// The service's database connections are cut while groups of writes are under way: every write
// answered as done is stored, and every one answered with a failure is not.
TEST_F(PostgresTest, AGroupCutShortStoresNoneOfWhatItAnsweredAsFailed) {
    auto server = serve(url);
    LineClient client(server->port()), other(server->port());
    ASSERT_TRUE(client.open(Branch).ok);
    ASSERT_TRUE(other.open(Branch).ok);
    const protocol::DataPacket cargos =
        packetOf(other.call(QStringLiteral("GetCargo"), {Questionnaire}));
    const QStringList positions = column(cargos, QStringLiteral("CDCARGO"));
    ASSERT_GE(positions.size(), 20);
    PgSide side(url);
    QSet<QString> tied; // as the answers say it must be stored
    int failed = 0;
    std::int64_t id = 1000;
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        // Each position toggled three times, in one piece.
        std::vector<std::pair<QString, bool>> writes;
        QSet<QString> planned = tied;
        for (int pass = 0; pass < 3; ++pass)
            for (const QString& p : positions) {
                const bool on = !planned.contains(p);
                on ? (void)planned.insert(p) : (void)planned.remove(p);
                writes.push_back({p, on});
            }
        QByteArray all;
        const std::int64_t first = id + 1;
        for (const auto& [position, on] : writes)
            all += QByteArray::fromStdString(tie(++id, on, position));
        client.send(all);
        std::thread cutter([&side, delay = QRandomGenerator::global()->bounded(40)] {
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
            side.cutServiceConnections();
        });
        for (size_t i = 0; i < writes.size(); ++i) {
            const protocol::Response r = parse(client.readLine());
            ASSERT_EQ(r.id, first + std::int64_t(i));
            if (!r.ok) {
                EXPECT_EQ(r.errorCode, ErrorCode::StorageFailure) << r.errorMessage.toStdString();
                ++failed;
                continue;
            }
            writes[i].second ? (void)tied.insert(writes[i].first)
                             : (void)tied.remove(writes[i].first);
        }
        cutter.join();
        QStringList expected(tied.begin(), tied.end());
        expected.sort();
        const QString stored =
            side.value(QStringLiteral("SELECT string_agg(CDCARGO, ',' ORDER BY CDCARGO) FROM "
                                      "INSPCARGO WHERE CDFILIAL = '%1' AND CDINSPECAO = '%2'")
                           .arg(Branch, Questionnaire));
        ASSERT_EQ(stored, expected.join(u',')) << failed << " falhas até aqui";
    }
    // Else the cuts fell between groups only, and the test showed nothing.
    EXPECT_GT(failed, 0);
}

// The connection goes right after COMMIT reached the database, before its reply came back: each
// write is answered with what was stored, looked up on a new connection, never "nothing stored".
TEST_F(PostgresTest, ACommitWhoseReplyIsLostIsAnsweredWithWhatWasStored) {
    QUrl address(url);
    DatabaseRelay relay(address.host(), quint16(address.port(5432)));
    address.setPort(relay.port());
    auto server = serve(address.toString());
    LineClient client(server->port());
    ASSERT_TRUE(client.open(Branch).ok);
    PgSide side(url);
    const QString tiedSql = QStringLiteral("SELECT COALESCE(string_agg(CDCARGO, ',' ORDER BY "
                                           "CDCARGO), '') FROM INSPCARGO WHERE CDFILIAL = '%1' "
                                           "AND CDINSPECAO = '%2'")
                                .arg(Branch, Questionnaire);
    const QStringList untied =
        side.value(QStringLiteral("SELECT string_agg(CDCARGO, ',' ORDER BY CDCARGO) FROM CARGO "
                                  "WHERE CDCARGO NOT IN (SELECT CDCARGO FROM INSPCARGO WHERE "
                                  "CDFILIAL = '%1' AND CDINSPECAO = '%2')")
                       .arg(Branch, Questionnaire))
            .split(u',');
    ASSERT_GE(untied.size(), 2);
    QStringList expected = side.value(tiedSql).split(u',', Qt::SkipEmptyParts);

    // A group of two writes, one commit.
    relay.cutAfter("COMMIT");
    client.send(QByteArray::fromStdString(tie(1, true, untied[0]) + tie(2, true, untied[1])));
    for (int id : {1, 2}) {
        const protocol::Response r = parse(client.readLine());
        EXPECT_EQ(r.id, id);
        EXPECT_TRUE(r.ok) << r.errorCode << " " << r.errorMessage.toStdString();
    }
    EXPECT_EQ(relay.cuts(), 1);
    // A write alone.
    relay.cutAfter("COMMIT");
    const protocol::Response alone =
        client.call(QStringLiteral("SetDelCarg"), {Branch, Questionnaire, untied[0]});
    EXPECT_TRUE(alone.ok) << alone.errorCode << " " << alone.errorMessage.toStdString();
    EXPECT_EQ(relay.cuts(), 2);

    expected << untied[1];
    expected.sort();
    EXPECT_EQ(side.value(tiedSql), expected.join(u','));
    // And the service goes on.
    EXPECT_TRUE(client.call(QStringLiteral("GetCargo"), {Questionnaire}).ok);
}
