// Operating a running service under a write load: a backup taken meanwhile is a consistent copy
// holding every write acknowledged before it began, and SIGTERM ends the process with every reply
// whole and every acknowledged write kept.

#include "ServerHarness.h"
#include "contract/Methods.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>

using namespace testing_rh;
using protocol::Response;

namespace {

int modeOf(const QString& path) {
    struct stat st {};
    return ::stat(path.toLocal8Bit().constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

QString integrityOf(const QString& path) {
    QString result;
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("ic"));
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(QStringLiteral("PRAGMA integrity_check")) && q.next())
                result = q.value(0).toString();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("ic"));
    return result;
}

// Each client owns one position tie of branch 0004 and turns it on and off, one call a round.
struct TieLoad {
    static constexpr int Clients = 6;
    std::vector<std::unique_ptr<LineClient>> clients;
    std::vector<int> acked = std::vector<int>(Clients, 0);

    static QString cargo(int i) { return QStringLiteral("%1").arg(i + 1, 4, 10, QChar(u'0')); }
    static QString arguments(int i) {
        return QStringLiteral("[\"0004\",\"01002\",\"%1\"]").arg(cargo(i));
    }

    bool open(quint16 port) {
        for (int i = 0; i < Clients; ++i) {
            clients.push_back(std::make_unique<LineClient>(port));
            if (!clients.back()->open(QStringLiteral("0004")).ok) return false;
        }
        return true;
    }
    // One call from every client, sent together, then every answer read.
    void round() {
        for (int i = 0; i < Clients; ++i)
            clients[size_t(i)]->send(QByteArray::fromStdString(protocol::requestJson(
                acked[size_t(i)],
                QString::fromLatin1(acked[size_t(i)] % 2 ? "SetDelCarg" : "SetInsCarg"),
                {QStringLiteral("0004"), QStringLiteral("01002"), cargo(i)})));
        for (int i = 0; i < Clients; ++i) {
            const auto line = clients[size_t(i)]->readLine();
            ASSERT_TRUE(line);
            simdjson::dom::parser parser;
            const Response r = protocol::parseResponse(
                std::string_view(line->constData(), size_t(line->size())), parser);
            ASSERT_TRUE(r.ok) << r.errorMessage.toStdString();
            ++acked[size_t(i)];
        }
    }
};

TEST(Shutdown, BackupUnderWriteLoadIsConsistentAndHoldsEveryEarlierWrite) {
    ServerProcess server;
    QString out;
    ASSERT_TRUE(server.initDemo(&out)) << out.toStdString();
    ASSERT_TRUE(server.start()) << server.log().toStdString();
    TieLoad load;
    ASSERT_TRUE(load.open(server.port()));
    for (int r = 0; r < 10; ++r)
        ASSERT_NO_FATAL_FAILURE(load.round());
    const std::vector<int> ackedBefore = load.acked;
    const QString copy = server.path(QStringLiteral("copia.db"));
    QProcess backup;
    backup.setProcessChannelMode(QProcess::MergedChannels);
    backup.start(ServerProcess::binary(),
                 {QStringLiteral("--db"), server.dbUrl(), QStringLiteral("--backup"), copy});
    ASSERT_TRUE(backup.waitForStarted());
    // The writes go on while the copy is taken.
    int during = 0;
    while (backup.state() != QProcess::NotRunning || during < 3) {
        ASSERT_NO_FATAL_FAILURE(load.round());
        ++during;
        backup.waitForFinished(1);
    }
    ASSERT_EQ(backup.exitStatus(), QProcess::NormalExit);
    ASSERT_EQ(backup.exitCode(), 0) << backup.readAll().toStdString();
    EXPECT_EQ(modeOf(copy), 0600);
    EXPECT_EQ(integrityOf(copy), QStringLiteral("ok"));

    // The copy's audit holds each client's calls up to some point no earlier than the backup's
    // start, and its ties are exactly what those calls leave.
    QVector<int> inCopy(TieLoad::Clients, 0);
    for (const AuditRow& row : auditRows(copy))
        for (int i = 0; i < TieLoad::Clients; ++i)
            if (row.arguments == TieLoad::arguments(i)) {
                EXPECT_EQ(row.method,
                          QString::fromLatin1(inCopy[i] % 2 ? "SetDelCarg" : "SetInsCarg"));
                ++inCopy[i];
            }
    ServerProcess onCopy;
    onCopy.shareDatabase(copy);
    ASSERT_TRUE(onCopy.start()) << onCopy.log().toStdString();
    LineClient reader(onCopy.port());
    ASSERT_TRUE(reader.open(QStringLiteral("0004")).ok);
    const protocol::DataPacket ties =
        packetOf(reader.call(QStringLiteral("GetCargo"), {QStringLiteral("01002")}));
    const QStringList codes = column(ties, QStringLiteral("CDCARGO"));
    const QStringList checks = column(ties, QStringLiteral("IDCHECK"));
    for (int i = 0; i < TieLoad::Clients; ++i) {
        SCOPED_TRACE(i);
        EXPECT_GE(inCopy[i], ackedBefore[size_t(i)]);
        EXPECT_LE(inCopy[i], load.acked[size_t(i)]);
        EXPECT_EQ(checks.value(codes.indexOf(TieLoad::cargo(i))),
                  QString::fromLatin1(inCopy[i] % 2 ? "S" : "N"));
    }

    // An existing file is never overwritten; PostgreSQL is sent to pg_dump.
    QString refusal;
    EXPECT_NE(
        ServerProcess::runToEnd(
            {QStringLiteral("--db"), server.dbUrl(), QStringLiteral("--backup"), copy}, &refusal),
        0);
    EXPECT_TRUE(refusal.contains(QStringLiteral("já existe"))) << refusal.toStdString();
    EXPECT_EQ(integrityOf(copy), QStringLiteral("ok"));
}

// A client that reads raw bytes, so that a reply cut by the server's end shows as a partial line.
struct RawClient {
    QTcpSocket socket;
    QByteArray received;
    explicit RawClient(quint16 port) {
        socket.connectToHost(QHostAddress::LocalHost, port);
        socket.waitForConnected(10000);
    }
    void send(const std::string& line) {
        socket.write(line.data(), qint64(line.size()));
        while (socket.bytesToWrite() > 0 && socket.waitForBytesWritten(10000)) {
        }
    }
    // Reads until the connection ends.
    void drain() {
        while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(10000))
            received += socket.readAll();
        received += socket.readAll();
    }
};

TEST(Shutdown, SigtermUnderWriteLoadCutsNoReplyAndKeepsEveryAcknowledgedWrite) {
    ServerProcess server;
    QString out;
    ASSERT_TRUE(server.initDemo(&out)) << out.toStdString();
    ASSERT_TRUE(server.start()) << server.log().toStdString();
    // Each client owns one branch record and moves its folder along a chain of values.
    const QStringList branches = {QStringLiteral("0001"), QStringLiteral("0002"),
                                  QStringLiteral("0003")};
    constexpr int Pipelined = 2000;
    std::vector<std::unique_ptr<RawClient>> clients;
    protocol::DataPacket shape;
    QStringList first;
    {
        LineClient c(server.port());
        ASSERT_TRUE(c.open().ok);
        for (const QString& b : branches) {
            const protocol::DataPacket p = packetOf(c.call(QStringLiteral("GetFilial"), {b}));
            ASSERT_EQ(p.rows.size(), 1);
            shape = p;
            first << p.rows[0][p.indexOf(QStringLiteral("NMDIRPONTO"))].toString();
        }
    }
    const int key = shape.indexOf(QStringLiteral("CDFILIAL"));
    const int folder = shape.indexOf(QStringLiteral("NMDIRPONTO"));
    const auto value = [&](int client, int step) {
        return step == 0 ? first[client]
                         : QStringLiteral("/srv/ponto/c%1-%2").arg(client).arg(step);
    };
    // Every client's calls go out in one write, so that all are queued at the server at once.
    std::vector<std::string> batches(size_t(branches.size()));
    for (int i = 0; i < branches.size(); ++i) {
        clients.push_back(std::make_unique<RawClient>(server.port()));
        clients.back()->send(protocol::openRequestJson(
            1, {QString(contract::ServerObjectName), branches[i], QString()}));
        for (int step = 1; step <= Pipelined; ++step) {
            protocol::Delta d;
            d.fields = {shape.fields[key], shape.fields[folder]};
            d.changes.push_back({protocol::DeltaChange::Op::Update,
                                 {branches[i], value(i, step - 1)},
                                 {branches[i], value(i, step)}});
            batches[size_t(i)] +=
                protocol::requestJson(100 + step, QStringLiteral("SetFilial"), {d});
        }
    }
    for (int i = 0; i < branches.size(); ++i)
        clients[size_t(i)]->socket.write(batches[size_t(i)].data(),
                                         qint64(batches[size_t(i)].size()));
    for (auto& c : clients)
        c->socket.flush();
    // The end arrives while the calls are being answered: once the first client has its first
    // answers, with hundreds still queued.
    RawClient& firstClient = *clients.front();
    while (firstClient.received.count('\n') < 3 && firstClient.socket.waitForReadyRead(10000))
        firstClient.received += firstClient.socket.readAll();
    QElapsedTimer ending;
    ending.start();
    ASSERT_EQ(::kill(pid_t(server.pid()), SIGTERM), 0);
    // The clients keep reading their answers meanwhile, as real ones do.
    while (server.running() && ending.elapsed() < 20000) {
        for (auto& c : clients)
            if (c->socket.waitForReadyRead(5)) c->received += c->socket.readAll();
        server.waitEnded(1);
    }
    ASSERT_FALSE(server.running()) << "did not end after SIGTERM";
    if (qEnvironmentVariableIsSet("RH_SHOW_ACKED"))
        fprintf(stderr, "ended %lld ms after SIGTERM\n", ending.elapsed());
    EXPECT_EQ(server.exitCode(), 0) << server.log().toStdString();

    std::vector<int> lastAcked(size_t(branches.size()), 0);
    for (int i = 0; i < branches.size(); ++i) {
        SCOPED_TRACE(i);
        RawClient& c = *clients[size_t(i)];
        c.drain();
        EXPECT_TRUE(c.received.isEmpty() || c.received.endsWith('\n'))
            << "a reply was cut: " << c.received.right(80).toStdString();
        for (const QByteArray& line : c.received.split('\n')) {
            if (line.isEmpty()) continue;
            simdjson::dom::parser parser;
            Response r;
            ASSERT_NO_THROW(r = protocol::parseResponse(
                                std::string_view(line.constData(), size_t(line.size())), parser))
                << line.toStdString();
            if (r.id > 100 && r.ok) lastAcked[size_t(i)] = int(r.id - 100);
        }
    }
    if (qEnvironmentVariableIsSet("RH_SHOW_ACKED"))
        for (int a : lastAcked)
            fprintf(stderr, "answered before the end: %d\n", a);
    ASSERT_TRUE(server.start()) << server.log().toStdString();
    LineClient check(server.port());
    ASSERT_TRUE(check.open().ok);
    for (int i = 0; i < branches.size(); ++i) {
        SCOPED_TRACE(i);
        const protocol::DataPacket p =
            packetOf(check.call(QStringLiteral("GetFilial"), {branches[i]}));
        const QString stored = p.rows[0][folder].toString();
        int step = -1;
        for (int s = 0; s <= Pipelined; ++s)
            if (value(i, s) == stored) step = s;
        // Never older than the last answer the client got; a later call may have been applied
        // with its answer unsent when the end came.
        EXPECT_GE(step, lastAcked[size_t(i)]) << stored.toStdString();
    }
}

} // namespace
