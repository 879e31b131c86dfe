// rhserver: the parameters application server. Only wires the library to the command line.

#include "server/AccessTokens.h"
#include "server/Backup.h"
#include "server/CommandLine.h"
#include "server/Log.h"
#include "server/RhServer.h"
#include "server/Schema.h"
#include "server/Storage.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int failWith(const QString& message) {
    // One line, even when a database driver's text brings several.
    const QString line = message.simplified();
    std::fprintf(stderr, "rhserver: %s\n", line.toUtf8().constData());
    return 2;
}

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &c, 1);
}

// Where the service keeps its state: the folder systemd gives it, else the SQLite file's folder;
// empty for a PostgreSQL database run by hand.
QString stateFolder(const QString& db) {
    const QString given = qEnvironmentVariable("STATE_DIRECTORY").section(u':', 0, 0);
    if (!given.isEmpty()) return given;
    if (db.startsWith(QLatin1String("sqlite:"))) return QFileInfo(db.mid(7)).absolutePath();
    return {};
}

} // namespace

int main(int argc, char** argv) {
    // Buffers of large messages come straight from the system and go back to it when freed;
    // with the default moving threshold they would stay in the heap once a client sent one.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    rhserver::tuneSqlite();
    // Files made here (database, WAL, shared memory) are the service account's alone.
    ::umask(077);
    // Qt's own event loop instead of GLib's: every request wakes two threads, and GLib's
    // loop costs more at each wake-up. The server needs nothing of GLib.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB")) qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    rhserver::CommandLine line;
    QString problem;
    if (!rhserver::parseCommandLine(app.arguments(), &line, &problem)) return failWith(problem);
    if (line.help) {
        std::fputs(rhserver::commandLineUsage(), stdout);
        return 0;
    }
    if (line.version) {
        std::printf("rhserver %s\n", rhserver::ServerVersion);
        return 0;
    }
    for (const QString& warning : line.warnings)
        rhserver::logLine(warning);
    const QString &db = line.db, &backup = line.backup, &tokenFile = line.tokenFile;
    rhserver::ServerOptions& options = line.options;
    if (!backup.isEmpty()) {
        QString error;
        if (!rhserver::backupDatabase(db, backup, &error)) return failWith(error);
        rhserver::logLine(QStringLiteral("cópia do banco gravada em %1").arg(backup));
        return 0;
    }

    if (line.init) {
        QString error, report;
        if (!rhserver::initDatabase(db, line.demo, &error, &report, stateFolder(db)))
            return failWith(error);
        rhserver::logLine(QStringLiteral("banco inicializado: %1").arg(report));
        if (!line.listenGiven) return 0;
    }

    if (!tokenFile.isEmpty()) {
        QString error;
        if (!rhserver::readTokenFile(tokenFile, &options.tokens, &error)) return failWith(error);
    }
    if (!line.address.isLoopback() && options.tokens.isEmpty())
        return failWith(QStringLiteral("--listen %1 aceita conexões de outras máquinas; informe "
                                       "também --token-file com o token que elas devem mostrar.")
                            .arg(line.listen));

    rhserver::RhServer server(options);
    QString error;
    if (!server.start(line.address, line.port, &error)) return failWith(error);
    std::fprintf(stderr, "rhserver listening on %s:%u\n",
                 line.address.toString().toUtf8().constData(), server.port());
    std::fflush(stderr);
    if (line.plainSecrets)
        rhserver::logLine(QStringLiteral("aviso: sem --tls-cert e --tls-key, os tokens e os "
                                         "parâmetros trafegam em texto puro; quem observar a rede "
                                         "pode lê-los e alterá-los."));

    // SIGINT, SIGTERM and SIGHUP end the service in order: connections closed, WAL checkpointed.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) == 0) {
        auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
        std::signal(SIGHUP, onSignal);
    }
    const int code = app.exec();
    const bool ended = server.stop();
    rhserver::logLine(QStringLiteral("serviço encerrado"));
    // A thread left waiting on the database must not be torn down under its feet by the
    // destructors that run at exit.
    if (!ended) std::_Exit(code);
    return code;
}
