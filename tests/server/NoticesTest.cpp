// Notices of changes: a session that subscribes hears of every write to its records by anyone,
// through the same server or another one on the same database, within two seconds; one that does
// not subscribe hears nothing; a burst of writes is told a few times a second, and answers keep
// their order; a subscriber that does not read is closed as any client that does not read.

#include "contract/Notices.h"
#include "DemoServer.h"
#include "PgTesting.h"
#include "QtPrinters.h"
#include "server/ChangeWatch.h"

#include <QDateTime>
#include <QDebug>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <gtest/gtest.h>

using namespace testing_rh;
using protocol::Response;

namespace {

const QString Questionnaires = QStringLiteral("questionario:0001");

Response parseLine(const QByteArray& line) {
    simdjson::dom::parser parser;
    return protocol::parseResponse(std::string_view(line.constData(), size_t(line.size())), parser);
}

QJsonObject paramsOf(const Response& notice) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(notice.noticeParamsJson)).object();
}

// The next notice the client receives within the time, skipping nothing else: a line that is
// not a notice fails the test.
std::optional<Response> nextNotice(LineClient& client, int timeoutMs) {
    const std::optional<QByteArray> line = client.readLine(timeoutMs);
    if (!line) return std::nullopt;
    Response r = parseLine(*line);
    EXPECT_TRUE(r.notice) << line->toStdString();
    return r;
}

void subscribe(LineClient& client, const QString& records) {
    ASSERT_TRUE(client.open().ok);
    const Response r = client.call(QString(contract::SubscribeMethod), {records});
    ASSERT_TRUE(r.ok) << r.errorMessage.toStdString();
}

// A write through one server is told to a subscriber of the other (or the same) within 2 s, with
// its record, method and writer; a write to a record not subscribed is not told, nor is anything
// to a session that did not subscribe.
void writesAreToldToSubscribers(ServerProcess& writes, ServerProcess& watches) {
    LineClient watcher(watches.port()), silent(watches.port()), writer(writes.port());
    ASSERT_NO_FATAL_FAILURE(subscribe(watcher, QStringLiteral("geral,") + Questionnaires));
    ASSERT_TRUE(silent.open().ok);
    ASSERT_TRUE(writer.open().ok);
    for (const auto& [method, args] : QList<QPair<QString, QStringList>>{
             {QStringLiteral("SetInsCarg"),
              {QStringLiteral("0002"), QStringLiteral("01001"), QStringLiteral("0003")}},
             {QStringLiteral("SetInsPad"), {QStringLiteral("01002"), QStringLiteral("0001")}}}) {
        QVector<protocol::Argument> arguments(args.begin(), args.end());
        ASSERT_TRUE(writer.call(method, arguments).ok);
    }
    QElapsedTimer clock;
    clock.start();
    const std::optional<Response> notice = nextNotice(watcher, 2000);
    ASSERT_TRUE(notice) << "nenhum aviso em 2 s";
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_EQ(notice->noticeMethod, contract::ChangeNotice.data());
    const QJsonObject params = paramsOf(*notice);
    // Branch 0002's tie is no news here: the first notice is branch 0001's mark.
    EXPECT_EQ(params.value(u"registro").toString(), Questionnaires);
    EXPECT_EQ(params.value(u"metodo").toString(), QStringLiteral("SetInsPad"));
    EXPECT_TRUE(params.contains(u"quem") && params.contains(u"quando"));
    EXPECT_FALSE(watcher.readLine(500)) << "um aviso a mais";
    const Response ping = silent.call(QStringLiteral("ping"), {});
    EXPECT_TRUE(ping.ok && !ping.notice);
    EXPECT_FALSE(silent.readLine(300));
}

} // namespace

TEST(Notices, WritesAreToldOnTheSameServer) {
    ServerProcess server;
    ASSERT_TRUE(server.initDemo());
    ASSERT_TRUE(server.start());
    writesAreToldToSubscribers(server, server);
}

TEST(Notices, WritesAreToldAcrossServersOnOneSqliteFile) {
    ServerProcess first, second;
    ASSERT_TRUE(first.initDemo());
    second.shareDatabase(first.dbPath());
    ASSERT_TRUE(first.start());
    ASSERT_TRUE(second.start());
    writesAreToldToSubscribers(first, second);
}

class PostgresNotices : public PostgresTest {};

TEST_F(PostgresNotices, WritesAreToldAcrossServersOnOneDatabase) {
    ServerProcess first, second;
    first.useDatabase(url);
    second.useDatabase(url);
    ASSERT_TRUE(first.start());
    ASSERT_TRUE(second.start());
    writesAreToldToSubscribers(first, second);
}

// A subscriber's own write waits on a row lock while another client changes four of its records
// again and again: once its answer is out it hears the last change of every one of them.
TEST_F(PostgresNotices, ASubscriberWhoseCallWaitsHearsTheLastChangeOfEachRecord) {
    ServerProcess server;
    server.useDatabase(url);
    ASSERT_TRUE(server.start());
    const QStringList branches = {QStringLiteral("0001"), QStringLiteral("0002"),
                                  QStringLiteral("0003"), QStringLiteral("0004")};
    LineClient watcher(server.port()), writer(server.port());
    QStringList records;
    for (const QString& b : branches)
        records << QStringLiteral("questionario:") + b;
    ASSERT_NO_FATAL_FAILURE(subscribe(watcher, records.join(u',')));
    ASSERT_TRUE(writer.open().ok);
    PgSide side(url);
    side.value(QStringLiteral("BEGIN"));
    side.value(QStringLiteral("SELECT 1 FROM INSPECAO WHERE CDINSPECAO = '01002' FOR UPDATE"));
    watcher.send(QByteArray::fromStdString(protocol::requestJson(
        77, QStringLiteral("SetInsPad"), {QStringLiteral("01002"), QStringLiteral("0001")})));
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; clock.elapsed() < 6000; ++i) {
        const QString branch = branches[i % branches.size()];
        const QString method =
            (i / branches.size()) % 2 ? QStringLiteral("SetDelPad") : QStringLiteral("SetInsPad");
        ASSERT_TRUE(writer.call(method, {QStringLiteral("01001"), branch}).ok);
    }
    QThread::msleep(500);
    side.value(QStringLiteral("ROLLBACK"));
    QHash<QString, QString> heard; // record: when its last change told was stored
    bool answered = false;
    while (const std::optional<QByteArray> line = watcher.readLine(2000)) {
        const Response r = parseLine(*line);
        if (!r.notice) {
            EXPECT_EQ(r.id, 77);
            EXPECT_TRUE(r.ok) << r.errorMessage.toStdString();
            answered = true;
            continue;
        }
        const QJsonObject params = paramsOf(r);
        heard[params.value(u"registro").toString()] = params.value(u"quando").toString();
    }
    EXPECT_TRUE(answered);
    for (const QString& branch : branches) {
        // When the record's last change was stored, as its audit row says.
        const QString stored = side.value(
            QStringLiteral("SELECT DTAUDITORIA FROM RHAUDITORIA WHERE NMMETODO IN ('SetInsPad', "
                           "'SetDelPad') AND DSARGUMENTOS LIKE '%\"01001\"%\"%1\"%' ORDER BY "
                           "NRAUDITORIA DESC LIMIT 1")
                .arg(branch));
        EXPECT_FALSE(stored.isEmpty());
        EXPECT_EQ(heard.value(QStringLiteral("questionario:") + branch), stored)
            << branch.toStdString();
    }
}

// Three clients write a record each in groups, so that transactions overlap, while every database
// connection of the service is cut twice; another program took an audit number before all of
// them and commits long after (as a commit waiting on a stalled standby). Every record's last
// change is told.
TEST_F(PostgresNotices, EveryChangeIsToldAfterBackendCutsUnderAWriteLoad) {
    ServerProcess server;
    server.useDatabase(url);
    ASSERT_TRUE(server.start());
    const QStringList branches = {QStringLiteral("0001"), QStringLiteral("0002"),
                                  QStringLiteral("0003"), QStringLiteral("0004")};
    QStringList records;
    for (const QString& b : branches)
        records << QStringLiteral("questionario:") + b;
    LineClient watcher(server.port());
    ASSERT_NO_FATAL_FAILURE(subscribe(watcher, records.join(u',')));
    PgSide late(url), side(url);
    late.value(QStringLiteral("BEGIN"));
    late.value(QStringLiteral("DELETE FROM INSPPADRAO WHERE CDFILIAL = '0004'"));
    late.value(QStringLiteral("INSERT INTO INSPPADRAO (CDFILIAL, CDINSPECAO) VALUES ('0004', "
                              "'01002')"));
    late.value(QStringLiteral("INSERT INTO RHAUDITORIA (DTAUDITORIA, CDFILIAL, IDSESSAO, "
                              "NMMETODO, DSARGUMENTOS) VALUES ('%1', '0004', 'outro', "
                              "'SetInsPad', '[\"01002\",\"0004\"]')")
                   .arg(QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)));
    late.value(QStringLiteral("NOTIFY rh_dados"));

    std::vector<std::unique_ptr<LineClient>> writers;
    for (int w = 0; w < 3; ++w) {
        writers.push_back(std::make_unique<LineClient>(server.port()));
        ASSERT_TRUE(writers.back()->open().ok);
    }
    constexpr int Group = 20;
    QElapsedTimer clock;
    clock.start();
    int cuts = 0;
    for (int round = 0; clock.elapsed() < 3000; ++round) {
        for (int w = 0; w < 3; ++w) {
            QByteArray group;
            for (int i = 0; i < Group; ++i)
                group += QByteArray::fromStdString(
                    protocol::requestJson(i + 1,
                                          (round * Group + i) % 2 ? QStringLiteral("SetDelPad")
                                                                  : QStringLiteral("SetInsPad"),
                                          {QStringLiteral("01001"), branches[w]}));
            writers[size_t(w)]->send(group);
        }
        // Stored or not, each write is answered; what was stored is what must be told.
        for (auto& writer : writers)
            for (int i = 0; i < Group; ++i)
                ASSERT_TRUE(writer->readLine()) << "round " << round;
        if (clock.elapsed() > 1000 * (cuts + 1) && cuts < 2)
            cuts += side.cutServiceConnections(server.pid()) > 0;
    }
    EXPECT_EQ(cuts, 2);
    // Long after later numbers were told.
    QThread::msleep(std::max<qint64>(0, 12000 - clock.elapsed()));
    late.value(QStringLiteral("COMMIT"));

    QHash<QString, QString> last; // record: when its last change was stored
    for (const QString& branch : branches)
        last[QStringLiteral("questionario:") + branch] = side.value(
            QStringLiteral("SELECT DTAUDITORIA FROM RHAUDITORIA WHERE NMMETODO IN ('SetInsPad', "
                           "'SetDelPad') AND DSARGUMENTOS LIKE '%\"%1\"]' ORDER BY NRAUDITORIA "
                           "DESC LIMIT 1")
                .arg(branch));
    QHash<QString, QString> heard;
    while (heard != last) {
        const std::optional<Response> notice = nextNotice(watcher, 5000);
        ASSERT_TRUE(notice) << QDebug::toString(heard).toStdString()
                            << " != " << QDebug::toString(last).toStdString();
        const QJsonObject params = paramsOf(*notice);
        heard[params.value(u"registro").toString()] = params.value(u"quando").toString();
    }
}

class NoticeLoad : public DemoServerTest {};

// 1,000 writes in a burst: a subscriber hears a few notices a second, and its own pipelined
// reads are answered in order, notices only between whole lines. A session's own writes are no
// news to it.
TEST_F(NoticeLoad, ABurstIsToldAFewTimesASecondAndAnswersKeepTheirOrder) {
    serve();
    LineClient watcher(server.port()), writer(server.port());
    ASSERT_NO_FATAL_FAILURE(subscribe(watcher, Questionnaires));
    ASSERT_NO_FATAL_FAILURE(subscribe(writer, Questionnaires));
    QByteArray burst;
    for (int i = 0; i < 1000; ++i)
        burst += QByteArray::fromStdString(protocol::requestJson(
            i + 1, i % 2 ? QStringLiteral("SetDelPad") : QStringLiteral("SetInsPad"),
            {QStringLiteral("01002"), QStringLiteral("0001")}));
    QByteArray reads;
    for (int i = 0; i < 100; ++i)
        reads += QByteArray::fromStdString(
            protocol::requestJson(i + 1, QStringLiteral("GetGeral"), {QStringLiteral("1")}));
    QElapsedTimer clock;
    clock.start();
    writer.send(burst);
    watcher.send(reads);
    int answered = 0, notices = 0;
    while (answered < 100) {
        const std::optional<QByteArray> line = watcher.readLine(10000);
        ASSERT_TRUE(line) << answered << " respostas";
        const Response r = parseLine(*line);
        if (r.notice) {
            ++notices;
            continue;
        }
        ASSERT_EQ(r.id, ++answered);
    }
    for (int i = 1; i <= 1000; ++i) {
        const std::optional<QByteArray> line = writer.readLine(10000);
        ASSERT_TRUE(line);
        const Response r = parseLine(*line);
        ASSERT_FALSE(r.notice) << "a session was told of its own write";
        ASSERT_EQ(r.id, i);
    }
    const qint64 burstMs = clock.elapsed();
    while (nextNotice(watcher, 1000))
        ++notices;
    const qint64 allowed = (clock.elapsed() / rhserver::ChangeWatch::NoticeGapMs) + 2;
    EXPECT_GE(notices, 1);
    EXPECT_LE(notices, allowed) << notices << " avisos em " << clock.elapsed() << " ms (rajada de "
                                << burstMs << " ms)";
}

// A subscriber whose pipelined reads the network thread answers itself, turn after turn, hears a
// change stored meanwhile with those answers, not only once some other call comes.
TEST_F(NoticeLoad, APipeliningSubscriberHearsWhatCameWhileTheNetworkThreadAnswered) {
    serve();
    // A second client: the subscriber's reads are answered in turns, not each at once.
    LineClient watcher(server.port()), writer(server.port());
    ASSERT_NO_FATAL_FAILURE(subscribe(watcher, Questionnaires));
    ASSERT_TRUE(writer.open().ok);
    constexpr int Batch = 1000, MostReads = 300 * Batch;
    int sent = 0, answered = 0;
    for (int round = 0; round < 4; ++round) {
        ASSERT_TRUE(writer
                        .call(round % 2 ? QStringLiteral("SetDelPad") : QStringLiteral("SetInsPad"),
                              {QStringLiteral("01002"), QStringLiteral("0001")})
                        .ok);
        // Reads keep coming until the notice is heard: the network thread is answering them
        // whenever it comes.
        bool heard = false;
        while (!heard || answered < sent) {
            if (!heard && sent - answered < Batch) {
                ASSERT_LT(sent, MostReads) << "round " << round << ": nenhum aviso";
                QByteArray reads;
                for (int i = 0; i < Batch; ++i)
                    reads += QByteArray::fromStdString(protocol::requestJson(
                        ++sent, QStringLiteral("GetGeral"), {QStringLiteral("1")}));
                watcher.send(reads);
            }
            const std::optional<QByteArray> line = watcher.readLine(5000);
            ASSERT_TRUE(line) << "round " << round << ": " << answered << " de " << sent;
            const Response r = parseLine(*line);
            if (r.notice)
                heard = true;
            else
                ASSERT_EQ(r.id, ++answered);
        }
    }
}

// A subscriber that sends and never reads is closed as any client that does not read; another
// subscriber keeps hearing of changes.
TEST_F(NoticeLoad, ASubscriberThatDoesNotReadIsClosedAndTheOthersKeepHearing) {
    serve({QStringLiteral("--idle-timeout"), QStringLiteral("2")});
    LineClient deaf(server.port()), listener(server.port()), writer(server.port());
    ASSERT_NO_FATAL_FAILURE(subscribe(deaf, Questionnaires));
    ASSERT_NO_FATAL_FAILURE(subscribe(listener, Questionnaires));
    ASSERT_TRUE(writer.open().ok);
    QByteArray requests;
    for (int i = 0; i < 20000; ++i)
        requests += QByteArray::fromStdString(
            protocol::requestJson(i, QStringLiteral("GetCargo"), {QStringLiteral("01001")}));
    deaf.sendWithoutReading(requests);
    QElapsedTimer clock;
    clock.start();
    // Each write is heard; the ping keeps the listener from being an idle session.
    const auto writeAndHear = [&](int round) {
        ASSERT_TRUE(writer
                        .call(round % 2 ? QStringLiteral("SetDelPad") : QStringLiteral("SetInsPad"),
                              {QStringLiteral("01002"), QStringLiteral("0001")})
                        .ok);
        listener.send(QByteArray::fromStdString(
            protocol::requestJson(round + 1, QStringLiteral("ping"), {})));
        bool heard = false, answered = false;
        while (!(heard && answered)) {
            const std::optional<QByteArray> line = listener.readLine(2000);
            ASSERT_TRUE(line) << "round " << round << (heard ? ": sem resposta" : ": sem aviso");
            const Response r = parseLine(*line);
            ASSERT_TRUE(r.notice || r.ok) << line->toStdString();
            (r.notice ? heard : answered) = true;
        }
    };
    bool closed = false;
    int round = 0;
    for (; clock.elapsed() < 20000 && !closed; ++round) {
        ASSERT_NO_FATAL_FAILURE(writeAndHear(round));
        closed = deaf.waitClosedWithoutReading(100);
    }
    EXPECT_TRUE(closed);
    EXPECT_TRUE(server.log().contains(QStringLiteral("não lê as respostas")))
        << server.log().toStdString();
    ASSERT_NO_FATAL_FAILURE(writeAndHear(round));
}

// A subscription is bounded by what it may hold: 40,000 names are refused at once, without
// keeping another client's ping waiting; the 17th name is refused however the names repeat.
TEST_F(NoticeLoad, ASubscriptionLongerThanItMayBeIsRefusedAtOnce) {
    serve();
    LineClient flooder(server.port()), other(server.port());
    ASSERT_TRUE(flooder.open().ok);
    ASSERT_TRUE(other.open().ok);
    QStringList names;
    for (int i = 0; i < 40000; ++i)
        names << QStringLiteral("filial:%1").arg(i % 10000, 4, 10, QChar(u'0'));
    QElapsedTimer took;
    took.start();
    flooder.send(QByteArray::fromStdString(
        protocol::requestJson(7, QString(contract::SubscribeMethod), {names.join(u',')})));
    EXPECT_TRUE(other.call(QStringLiteral("ping"), {}).ok);
    const std::optional<QByteArray> answer = flooder.readLine(5000);
    ASSERT_TRUE(answer);
    EXPECT_EQ(parseLine(*answer).errorCode, protocol::ErrorCode::InvalidParams);
    EXPECT_LT(took.elapsed(), 1000);

    const QString same = QStringList(17, contract::generalRecord()).join(u',');
    EXPECT_EQ(flooder.call(QString(contract::SubscribeMethod), {same}).errorCode,
              protocol::ErrorCode::InvalidParams);
    const QString sixteen = QStringList(16, contract::generalRecord()).join(u',');
    EXPECT_TRUE(flooder.call(QString(contract::SubscribeMethod), {sixteen}).ok);
}
