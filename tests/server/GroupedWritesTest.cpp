// Requests a client sends at once are answered in order on one worker, their writes under one
// commit: each write still stands or falls alone, a read among them sees the writes before it,
// and what is answered as written is what is stored, also when the database connection is cut
// in the middle of a group.

#include "PgTesting.h"
#include "ServerHarness.h"

#include "server/RhServer.h"
#include "server/Schema.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

using namespace testing_rh;
namespace ErrorCode = protocol::ErrorCode;

namespace {

const QString Branch = QStringLiteral("0001");
const QString Questionnaire = QStringLiteral("01002");

std::unique_ptr<rhserver::RhServer> serve(const QString& url) {
    auto server = std::make_unique<rhserver::RhServer>(
        rhserver::ServerOptions{url, {}, protocol::DefaultMaxMessage, 2});
    QString error;
    EXPECT_TRUE(server->start(QHostAddress::LocalHost, 0, &error)) << error.toStdString();
    return server;
}

std::string tie(std::int64_t id, bool on, const QString& position) {
    return protocol::requestJson(id,
                                 on ? QStringLiteral("SetInsCarg") : QStringLiteral("SetDelCarg"),
                                 {Branch, Questionnaire, position});
}

// The positions tied to the questionnaire, as a connection of its own reads them.
QStringList tiedPositions(LineClient& client) {
    const protocol::DataPacket p =
        packetOf(client.call(QStringLiteral("GetCargo"), {Questionnaire}));
    QStringList tied;
    const int check = p.indexOf(QStringLiteral("IDCHECK"));
    const int code = p.indexOf(QStringLiteral("CDCARGO"));
    for (const protocol::Row& row : p.rows)
        if (row[check].toString() == QLatin1String("S")) tied << row[code].toString();
    tied.sort();
    return tied;
}

void answersInOrderAndStoresWhatItAnswers(const QString& url) {
    auto server = serve(url);
    LineClient client(server->port()), other(server->port());
    ASSERT_TRUE(client.open(Branch).ok);
    ASSERT_TRUE(other.open(Branch).ok);
    const QStringList before = tiedPositions(other);
    ASSERT_TRUE(before.isEmpty()) << before.join(u',').toStdString();

    // What each line is and what it must answer, sent in one piece.
    struct Line {
        std::string request;
        int error; // 0: a result
    };
    const QStringList positions = {QStringLiteral("0001"), QStringLiteral("0002"),
                                   QStringLiteral("0003"), QStringLiteral("0004")};
    std::vector<Line> lines;
    std::int64_t id = 1;
    for (const QString& p : positions.mid(0, 3))
        lines.push_back({tie(++id, true, p), 0});
    lines.push_back({tie(++id, true, QStringLiteral("9999")), ErrorCode::Refused});
    lines.push_back({protocol::requestJson(++id, QStringLiteral("GetCargo"), {Questionnaire}), 0});
    const size_t readAt = lines.size() - 1;
    lines.push_back({tie(++id, false, positions[0]), 0});
    lines.push_back(
        {"{\"jsonrpc\":\"2.0\",\"id\":" + std::to_string(++id) + ",\"method\":\"Nada\"}\n",
         ErrorCode::MethodNotFound});
    lines.push_back({tie(++id, true, positions[3]), 0});
    QByteArray all;
    for (const Line& l : lines)
        all += QByteArray::fromStdString(l.request);
    client.send(all);

    for (size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(lines[i].request);
        const protocol::Response r = parse(client.readLine());
        EXPECT_EQ(r.id, std::int64_t(i) + 2);
        EXPECT_EQ(r.ok, lines[i].error == 0);
        EXPECT_EQ(r.errorCode, lines[i].error);
        if (i == readAt) {
            const protocol::DataPacket p = packetOf(r);
            EXPECT_EQ(column(p, QStringLiteral("IDCHECK")).count(QStringLiteral("S")), 3);
        }
    }
    EXPECT_EQ(tiedPositions(other), positions.mid(1));
}

} // namespace

TEST(GroupedWrites, AnswerInOrderAndStoreWhatTheyAnswerOnSqlite) {
    ensureApplication();
    QTemporaryDir dir;
    const QString url = QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("rh.db"));
    QString error;
    ASSERT_TRUE(rhserver::initDatabase(url, true, &error)) << error.toStdString();
    answersInOrderAndStoresWhatItAnswers(url);
}

TEST_F(PostgresTest, GroupedWritesAnswerInOrderAndStoreWhatTheyAnswer) {
    answersInOrderAndStoresWhatItAnswers(url);
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
