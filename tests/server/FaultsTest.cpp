// The server killed with SIGKILL in the middle of a write load: after a restart the SQLite file is
// intact, every acknowledged write is there, and the audit holds one row per acknowledged change.
// The readiness check under a write load; a start while the database is not there yet. What makes
// writes impossible while the server runs (the file gone, a full disk, a synchronous standby
// stopped): not ready, no write acknowledged, and SIGTERM still ends the service.

#include "DatabaseRelay.h"
#include "PgTesting.h"
#include "ServerHarness.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QUrl>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

using namespace testing_rh;
using protocol::Response;
namespace ErrorCode = protocol::ErrorCode;

namespace {

TEST(Faults, KilledUnderWriteLoadKeepsEveryAcknowledgedWrite) {
    ServerProcess server;
    QString out;
    ASSERT_TRUE(server.initDemo(&out)) << out.toStdString();
    ASSERT_TRUE(server.start()) << server.log().toStdString();
    // Each client owns three positions of questionnaire 01002 in branch 0003 (no ties there in
    // the demo data), so the last acknowledged call on a tie says what must be stored.
    constexpr int Clients = 6, Rounds = 40;
    std::vector<std::unique_ptr<LineClient>> clients;
    for (int i = 0; i < Clients; ++i) {
        clients.push_back(std::make_unique<LineClient>(server.port()));
        ASSERT_TRUE(clients.back()->open(QStringLiteral("0003")).ok);
    }
    const auto cargo = [](int client, int k) {
        return QStringLiteral("%1").arg(client * 3 + k + 1, 4, 10, QChar(u'0'));
    };
    QHash<QString, bool> expected; // tie -> present, after the last acknowledged call
    QSet<QString> uncertain;       // in flight when the server died
    int acknowledgedChanges = 0;
    QRandomGenerator random(20261207);
    for (int round = 0; round <= Rounds; ++round) {
        std::vector<std::pair<QString, bool>> sent;
        for (int i = 0; i < Clients; ++i) {
            const QString code = cargo(i, random.bounded(3));
            const bool insert = random.bounded(2) == 0;
            clients[size_t(i)]->send(QByteArray::fromStdString(protocol::requestJson(
                round, QString::fromLatin1(insert ? "SetInsCarg" : "SetDelCarg"),
                {QStringLiteral("0003"), QStringLiteral("01002"), code})));
            sent.emplace_back(code, insert);
        }
        if (round == Rounds) server.kill(); // with these requests in flight
        for (int i = 0; i < Clients; ++i) {
            const auto& [code, insert] = sent[size_t(i)];
            const auto line = clients[size_t(i)]->readLine(round == Rounds ? 2000 : 10000);
            if (!line || !line->contains("\"result\":true")) {
                ASSERT_EQ(round, Rounds) << (line ? line->toStdString() : "sem resposta");
                uncertain.insert(code);
                continue;
            }
            if (expected.value(code) != insert) ++acknowledgedChanges;
            expected[code] = insert;
        }
    }
    ASSERT_TRUE(server.start()) << server.log().toStdString();
    EXPECT_EQ(storedValue(server.dbPath(), QStringLiteral("PRAGMA integrity_check")),
              QStringLiteral("ok"));
    LineClient check(server.port());
    ASSERT_TRUE(check.open(QStringLiteral("0003")).ok);
    const protocol::DataPacket cargos =
        packetOf(check.call(QStringLiteral("GetCargo"), {QStringLiteral("01002")}));
    const QStringList codes = column(cargos, QStringLiteral("CDCARGO"));
    const QStringList ticks = column(cargos, QStringLiteral("IDCHECK"));
    for (int i = 0; i < Clients; ++i)
        for (int k = 0; k < 3; ++k) {
            const QString code = cargo(i, k);
            if (uncertain.contains(code)) continue;
            SCOPED_TRACE(code.toStdString());
            EXPECT_EQ(ticks[codes.indexOf(code)] == QLatin1String("S"), expected.value(code));
        }
    const qsizetype rows = auditRows(server.dbPath()).size();
    EXPECT_GE(rows, acknowledgedChanges);
    EXPECT_LE(rows, acknowledgedChanges + uncertain.size());
}

// The database is not there when rhserver starts: it waits, says so, and listens only once every
// connection it needs is ready; without the wait it ends at once, never half started.
TEST_F(PostgresTest, AStartWaitsForTheDatabaseAndListensOnlyWhenReady) {
    QUrl address(url);
    DatabaseRelay relay(address.host(), quint16(address.port(5432)));
    address.setPort(relay.port());
    relay.refuse(true);
    ServerProcess server;
    server.useDatabase(address.toString());
    QString output;
    EXPECT_NE(ServerProcess::runToEnd({QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                                       QStringLiteral("--db"), address.toString()},
                                      &output),
              0);
    EXPECT_FALSE(output.contains(QStringLiteral("listening"))) << output.toStdString();
    QElapsedTimer clock;
    clock.start();
    std::thread opens([&relay] {
        std::this_thread::sleep_for(std::chrono::seconds(3));
        relay.refuse(false);
    });
    const bool started = server.start({QStringLiteral("--start-wait"), QStringLiteral("30")});
    opens.join();
    ASSERT_TRUE(started) << server.log().toStdString();
    EXPECT_GE(clock.elapsed(), 2900);
    EXPECT_TRUE(server.log().contains(QStringLiteral("ainda não atende")))
        << server.log().toStdString();
    LineClient c(server.port());
    ASSERT_TRUE(c.open().ok);
    EXPECT_TRUE(c.call(QStringLiteral("ping"), {}).ok);
}

// A filesystem of 8 MiB of its own (tmpfs; mounting needs root), to be filled up.
struct SmallDisk {
    QTemporaryDir dir;
    bool mounted = false;
    SmallDisk() {
        if (::geteuid() != 0) return;
        mounted = QProcess::execute(QStringLiteral("mount"),
                                    {"-t", "tmpfs", "-o", "size=8m", "tmpfs", dir.path()}) == 0;
    }
    ~SmallDisk() {
        if (mounted) QProcess::execute(QStringLiteral("umount"), {"-l", dir.path()});
    }
    QString filler() const { return dir.filePath(QStringLiteral("enchimento")); }
    // Writes until the disk takes no more.
    void fill() const {
        const int fd = ::open(QFile::encodeName(filler()).constData(), O_WRONLY | O_CREAT, 0600);
        const QByteArray block(64 * 1024, '\0');
        while (fd >= 0 && ::write(fd, block.constData(), size_t(block.size())) > 0) {
        }
        if (fd >= 0) ::close(fd);
    }
};

// The SQLite file deleted or moved away while the server runs, or its disk full: the readiness
// check says not ready, and every write is refused with a sentence that names the cause, none
// acknowledged. Once the file is back or the disk has room, both work again.
TEST(Faults, AFileGoneOrAFullDiskIsNotReadyAndTakesNoWrite) {
    SmallDisk disk;
    struct Fault {
        const char* name;
        const char* cause; // a word of the sentence the writes are refused with
        std::function<void(const QString& db)> make;
        std::function<void(const QString& db)> mend; // none: the file is gone for good
    };
    const Fault faults[] = {
        {"apagado", "apagado", [](const QString& db) { ASSERT_TRUE(QFile::remove(db)); }, {}},
        {"movido", "movido",
         [](const QString& db) { ASSERT_TRUE(QFile::rename(db, db + QStringLiteral(".fora"))); },
         [](const QString& db) { ASSERT_TRUE(QFile::rename(db + QStringLiteral(".fora"), db)); }},
        {"disco cheio", "cheio", [&](const QString&) { disk.fill(); },
         [&](const QString&) { ASSERT_TRUE(QFile::remove(disk.filler())); }},
    };
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.name);
        const bool onSmallDisk = &fault == &faults[2];
        if (onSmallDisk && !disk.mounted) GTEST_SKIP() << "disco cheio: montar um tmpfs pede root";
        ServerProcess server;
        if (onSmallDisk) server.shareDatabase(disk.dir.filePath(QStringLiteral("rh.db")));
        QString out;
        ASSERT_TRUE(server.initDemo(&out)) << out.toStdString();
        ASSERT_TRUE(server.start()) << server.log().toStdString();
        LineClient c(server.port());
        ASSERT_TRUE(c.open().ok);
        ASSERT_EQ(server.rhcall({QStringLiteral("ping")}, &out), 0) << out.toStdString();
        ASSERT_NO_FATAL_FAILURE(fault.make(server.dbPath()));
        EXPECT_EQ(server.rhcall({QStringLiteral("ping")}, &out), 1) << out.toStdString();
        EXPECT_TRUE(out.contains(QLatin1String(fault.cause))) << out.toStdString();
        int acknowledged = 0;
        for (int i = 1; i <= 20; ++i) {
            const Response r = c.call(QStringLiteral("SetInsCarg"),
                                      {QStringLiteral("0002"), QStringLiteral("01001"),
                                       QStringLiteral("%1").arg(i, 4, 10, QChar(u'0'))});
            acknowledged += r.ok;
            if (r.ok) continue;
            EXPECT_EQ(r.errorCode, ErrorCode::StorageFailure);
            EXPECT_TRUE(r.errorMessage.contains(QLatin1String(fault.cause)))
                << r.errorMessage.toStdString();
        }
        EXPECT_EQ(acknowledged, 0);
        if (!fault.mend) continue;
        ASSERT_NO_FATAL_FAILURE(fault.mend(server.dbPath()));
        EXPECT_EQ(server.rhcall({QStringLiteral("ping")}, &out), 0) << out.toStdString();
        EXPECT_TRUE(
            c.call(QStringLiteral("SetInsCarg"),
                   {QStringLiteral("0002"), QStringLiteral("01001"), QStringLiteral("0001")})
                .ok);
    }
}

// The primary's synchronous standby stops: the readiness check says not ready, a write waits
// unanswered, and SIGTERM still ends the service within 15 s, answering that write -32012: its
// commit is cut short, stored on the primary but not on the standby a failover would promote.
TEST(Faults, AStoppedStandbyIsNotReadyAndSigtermAnswersItsStalledWrite) {
    PostgresPair pair;
    if (pair.missing()) GTEST_SKIP() << "PostgreSQL (servidor) não está instalado";
    ASSERT_TRUE(pair.started()) << pair.output().toStdString();
    ServerProcess server;
    server.useDatabase(pair.primaryUrl());
    QString out;
    ASSERT_TRUE(server.initDemo(&out)) << out.toStdString();
    ASSERT_TRUE(server.start()) << server.log().toStdString();
    EXPECT_EQ(server.rhcall({QStringLiteral("ping")}, &out), 0) << out.toStdString();
    ASSERT_TRUE(pair.stopStandby()) << pair.output().toStdString();
    LineClient writer(server.port());
    ASSERT_TRUE(writer.open().ok);
    writer.send(QByteArray::fromStdString(protocol::requestJson(
        7, QStringLiteral("SetInsCarg"),
        {QStringLiteral("0001"), QStringLiteral("01002"), QStringLiteral("0005")})));
    EXPECT_EQ(server.rhcall({QStringLiteral("ping")}, &out), 1) << out.toStdString();
    EXPECT_FALSE(writer.readLine(1)) << "a write was answered without its standby";

    QElapsedTimer ending;
    ending.start();
    ASSERT_EQ(::kill(pid_t(server.pid()), SIGTERM), 0);
    const std::optional<QByteArray> answer = writer.readLine(20000);
    EXPECT_TRUE(server.waitEnded(int(std::max<qint64>(1, 15000 - ending.elapsed()))))
        << "still running " << ending.elapsed() << " ms after SIGTERM";
    ASSERT_TRUE(answer) << "the stalled write got no answer";
    EXPECT_EQ(parse(answer).errorCode, ErrorCode::OutcomeUnknown) << answer->toStdString();
}

} // namespace
