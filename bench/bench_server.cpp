// GetGeral calls per second against rhserver over one connection and over several at once.
// Starts the service in-process on a temporary SQLite file unless --server names a running one;
// then, in-process only, the time of one write with SQLite's synchronous FULL and NORMAL.

#include "contract/Methods.h"
#include "server/RhServer.h"
#include "server/Schema.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

struct Result {
    quint64 calls = 0;
    std::vector<qint64> latenciesNs;
};

// One blocking client that makes the calls, in turn, until the time is up.
Result hammer(const QString& host, quint16 port, int milliseconds,
              const std::vector<std::string>& calls = {
                  protocol::requestJson(2, QStringLiteral("GetGeral"), {QStringLiteral("1")})}) {
    Result result;
    QTcpSocket socket;
    socket.connectToHost(host, port);
    if (!socket.waitForConnected(5000)) return result;
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    protocol::LineReader reader;
    simdjson::dom::parser parser;
    const auto exchange = [&](const std::string& line) {
        socket.write(line.data(), qint64(line.size()));
        socket.waitForBytesWritten(5000);
        for (;;) {
            if (auto answer = reader.takeLine()) {
                return protocol::parseResponse(
                           std::string_view(answer->constData(), size_t(answer->size())), parser)
                    .ok;
            }
            if (!socket.waitForReadyRead(5000)) return false;
            reader.append(socket.readAll());
        }
    };
    if (!exchange(protocol::openRequestJson(
            1, {QString(contract::ServerObjectName), QStringLiteral("0001"), {}})))
        return result;
    QElapsedTimer clock, one;
    clock.start();
    while (clock.elapsed() < milliseconds) {
        one.start();
        if (!exchange(calls[result.calls % calls.size()])) break;
        result.latenciesNs.push_back(one.nsecsElapsed());
        ++result.calls;
    }
    return result;
}

void report(const char* label, const std::vector<Result>& results, int milliseconds) {
    quint64 calls = 0;
    std::vector<qint64> all;
    for (const Result& r : results) {
        calls += r.calls;
        all.insert(all.end(), r.latenciesNs.begin(), r.latenciesNs.end());
    }
    std::sort(all.begin(), all.end());
    const auto pct = [&](double p) {
        return all.empty() ? 0.0 : double(all[size_t(p * double(all.size() - 1))]) / 1000.0;
    };
    std::printf("%-28s %9.0f chamadas/s   p50 %7.1f us   p99 %7.1f us\n", label,
                double(calls) * 1000.0 / milliseconds, pct(0.5), pct(0.99));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    int seconds = 3, connections = 16;
    QString host = QStringLiteral("127.0.0.1"), external;
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--seconds"))
            seconds = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--connections"))
            connections = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--server"))
            external = args[i + 1];
    }
    QTemporaryDir dir;
    std::unique_ptr<rhserver::RhServer> server;
    quint16 port = 0;
    if (external.isEmpty()) {
        const QString db = QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("bench.db"));
        QString error;
        if (!rhserver::initDatabase(db, true, &error)) {
            std::fprintf(stderr, "%s\n", error.toUtf8().constData());
            return 1;
        }
        server = std::make_unique<rhserver::RhServer>(
            rhserver::ServerOptions{db, {}, protocol::DefaultMaxMessage, 0});
        if (!server->start(QHostAddress::LocalHost, 0, &error)) {
            std::fprintf(stderr, "%s\n", error.toUtf8().constData());
            return 1;
        }
        port = server->port();
    } else {
        host = external.section(u':', 0, 0);
        port = quint16(external.section(u':', 1, 1).toUInt());
    }
    const int ms = seconds * 1000;
    report("GetGeral, 1 conexão", {hammer(host, port, ms)}, ms);
    std::vector<Result> results(static_cast<size_t>(connections));
    std::vector<std::thread> threads;
    for (int i = 0; i < connections; ++i)
        threads.emplace_back([&, i] { results[size_t(i)] = hammer(host, port, ms); });
    for (auto& t : threads)
        t.join();
    const QByteArray label = QStringLiteral("GetGeral, %1 conexões").arg(connections).toUtf8();
    report(label.constData(), results, ms);
    if (!external.isEmpty()) return 0;
    // A standard questionnaire marked and unmarked in turn: every call commits one write.
    const std::vector<std::string> writes = {
        protocol::requestJson(3, QStringLiteral("SetInsPad"),
                              {QStringLiteral("01002"), QStringLiteral("0001")}),
        protocol::requestJson(4, QStringLiteral("SetDelPad"),
                              {QStringLiteral("01002"), QStringLiteral("0001")})};
    for (const bool full : {true, false}) {
        server.reset();
        rhserver::ServerOptions options{QStringLiteral("sqlite:") +
                                            dir.filePath(QStringLiteral("bench.db")),
                                        {},
                                        protocol::DefaultMaxMessage,
                                        0};
        options.sqliteFullSync = full;
        server = std::make_unique<rhserver::RhServer>(options);
        QString error;
        if (!server->start(QHostAddress::LocalHost, 0, &error)) {
            std::fprintf(stderr, "%s\n", error.toUtf8().constData());
            return 1;
        }
        report(full ? "escrita, synchronous=FULL" : "escrita, synchronous=NORMAL",
               {hammer(host, server->port(), ms, writes)}, ms);
    }
    return 0;
}
