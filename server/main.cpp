// rhserver: the parameters application server. Only wires the library to the command line.

#include "server/AccessTokens.h"
#include "server/Backup.h"
#include "server/Log.h"
#include "server/RhServer.h"
#include "server/Schema.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QThread>
#include <csignal>
#include <cstdio>
#include <malloc.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const usage =
    "Uso: rhserver [--listen HOST:PORTA] --db BANCO [--init] [--demo] [--token-file ARQUIVO]\n"
    "              [--max-message BYTES] [--workers N] [--open-timeout S] [--idle-timeout S]\n"
    "              [--max-connections N] [--max-per-peer N] [--sqlite-sync full|normal]\n"
    "       rhserver --db sqlite:CAMINHO --backup ARQUIVO\n"
    "\n"
    "Servidor de aplicação dos parâmetros gerais de RH.\n"
    "\n"
    "  --listen HOST:PORTA   endereço em que o serviço escuta (padrão 127.0.0.1:7400;\n"
    "                        porta 0 escolhe uma porta livre)\n"
    "  --db BANCO            sqlite:CAMINHO ou postgresql://usuario@servidor:porta/banco\n"
    "  --init                cria ou atualiza o esquema do banco; sem --listen, termina em "
    "seguida\n"
    "  --demo                com --init, inclui os dados de demonstração num banco sem filiais\n"
    "  --token-file ARQUIVO  exige, na abertura de cada conexão, um dos tokens do arquivo: uma\n"
    "                        linha NOME PAPEL TOKEN por token, PAPEL admin ou leitura (só\n"
    "                        consultas); # começa um comentário; um arquivo só com o token\n"
    "                        vale como um token admin de nome admin\n"
    "  --backup ARQUIVO      copia o banco SQLite para ARQUIVO (novo, modo 600) e termina;\n"
    "                        pode rodar com o serviço no ar\n"
    "  --max-message BYTES   tamanho máximo de uma mensagem (padrão 16777216)\n"
    "  --workers N           número de threads de atendimento (padrão: um por núcleo)\n"
    "  --open-timeout S      segundos para uma conexão chamar open (padrão 5)\n"
    "  --idle-timeout S      segundos sem uso até fechar uma conexão aberta (padrão 28800)\n"
    "  --max-connections N   conexões ao mesmo tempo (padrão 1000)\n"
    "  --max-per-peer N      conexões ao mesmo tempo de um mesmo endereço (padrão 128)\n"
    "  --sqlite-sync MODO    full (padrão): cada gravação confirmada já está no disco e resiste\n"
    "                        a uma queda de energia; normal: resiste só à queda do processo,\n"
    "                        com gravações mais rápidas\n"
    "  --help                mostra esta ajuda\n"
    "  --version             mostra a versão\n";

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

} // namespace

int main(int argc, char** argv) {
    // Buffers of large messages come straight from the system and go back to it when freed;
    // with the default moving threshold they would stay in the heap once a client sent one.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    // Files made here (database, WAL, shared memory) are the service account's alone.
    ::umask(077);
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QString listen, db, tokenFile, backup;
    bool init = false, demo = false, listenGiven = false;
    qsizetype maxMessage = protocol::DefaultMaxMessage;
    int workers = 0;
    rhserver::ServerOptions options;
    // A whole number within bounds for the option at args[i].
    const auto count = [&](int& i, int low, int high, int* out) {
        bool ok = false;
        const int n = i + 1 < args.size() ? args[++i].toInt(&ok) : 0;
        if (!ok || n < low || n > high) return false;
        *out = n;
        return true;
    };
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        const auto value = [&](QString* out) {
            if (i + 1 >= args.size()) return false;
            *out = args[++i];
            return true;
        };
        QString number;
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            std::fputs(usage, stdout);
            return 0;
        } else if (a == QLatin1String("--version")) {
            std::printf("rhserver %s\n", rhserver::ServerVersion);
            return 0;
        } else if (a == QLatin1String("--backup")) {
            if (!value(&backup))
                return failWith(QStringLiteral("--backup precisa do arquivo da cópia."));
        } else if (a == QLatin1String("--listen")) {
            if (!value(&listen)) return failWith(QStringLiteral("--listen precisa de HOST:PORTA."));
            listenGiven = true;
        } else if (a == QLatin1String("--db")) {
            if (!value(&db)) return failWith(QStringLiteral("--db precisa do endereço do banco."));
        } else if (a == QLatin1String("--token-file")) {
            if (!value(&tokenFile))
                return failWith(QStringLiteral("--token-file precisa do caminho do arquivo."));
        } else if (a == QLatin1String("--max-message")) {
            bool ok = false;
            if (value(&number)) maxMessage = number.toLongLong(&ok);
            if (!ok || maxMessage < 64)
                return failWith(
                    QStringLiteral("--max-message precisa de um número de bytes (mínimo 64)."));
        } else if (a == QLatin1String("--workers")) {
            bool ok = false;
            if (value(&number)) workers = number.toInt(&ok);
            if (!ok || workers < 1 || workers > 64)
                return failWith(QStringLiteral("--workers precisa de um número entre 1 e 64."));
            if (workers > QThread::idealThreadCount())
                rhserver::logLine(
                    QStringLiteral("aviso: --workers %1 passa do número de núcleos (%2); mais "
                                   "threads que núcleos pioram o tempo de resposta.")
                        .arg(workers)
                        .arg(QThread::idealThreadCount()));
        } else if (a == QLatin1String("--open-timeout")) {
            if (!count(i, 1, 3600, &options.openTimeoutSeconds))
                return failWith(QStringLiteral("--open-timeout precisa de 1 a 3600 segundos."));
        } else if (a == QLatin1String("--idle-timeout")) {
            if (!count(i, 1, 86400 * 7, &options.idleTimeoutSeconds))
                return failWith(QStringLiteral("--idle-timeout precisa de 1 a 604800 segundos."));
        } else if (a == QLatin1String("--max-connections")) {
            if (!count(i, 1, 1000000, &options.maxConnections))
                return failWith(QStringLiteral("--max-connections precisa de um número positivo."));
        } else if (a == QLatin1String("--max-per-peer")) {
            if (!count(i, 1, 1000000, &options.maxConnectionsPerPeer))
                return failWith(QStringLiteral("--max-per-peer precisa de um número positivo."));
        } else if (a == QLatin1String("--sqlite-sync")) {
            QString mode;
            if (!value(&mode) || (mode != QLatin1String("full") && mode != QLatin1String("normal")))
                return failWith(QStringLiteral("--sqlite-sync precisa de full ou normal."));
            options.sqliteFullSync = mode == QLatin1String("full");
        } else if (a == QLatin1String("--init")) {
            init = true;
        } else if (a == QLatin1String("--demo")) {
            demo = true;
        } else {
            return failWith(QStringLiteral("opção desconhecida: %1; veja rhserver --help.").arg(a));
        }
    }
    if (db.isEmpty())
        return failWith(QStringLiteral("informe o banco de dados com --db; veja rhserver --help."));
    if (demo && !init) return failWith(QStringLiteral("--demo só vale junto com --init."));
    if (!backup.isEmpty()) {
        if (init || listenGiven)
            return failWith(QStringLiteral("--backup não se combina com --init nem --listen."));
        QString error;
        if (!rhserver::backupDatabase(db, backup, &error)) return failWith(error);
        rhserver::logLine(QStringLiteral("cópia do banco gravada em %1").arg(backup));
        return 0;
    }

    if (init) {
        QString error, report;
        if (!rhserver::initDatabase(db, demo, &error, &report)) return failWith(error);
        rhserver::logLine(QStringLiteral("banco inicializado: %1").arg(report));
        if (!listenGiven) return 0;
    }

    options.db = db;
    options.maxMessage = maxMessage;
    options.workers = workers;
    if (!tokenFile.isEmpty()) {
        const QFileInfo info(tokenFile);
        if (info.exists() &&
            (info.permissions() & (QFileDevice::ReadOther | QFileDevice::WriteOther)))
            return failWith(QStringLiteral("o arquivo de token %1 pode ser lido ou alterado por "
                                           "outros usuários; restrinja-o com chmod 600 %1.")
                                .arg(tokenFile));
        QFile file(tokenFile);
        if (!file.open(QIODevice::ReadOnly))
            return failWith(
                QStringLiteral("não foi possível ler o arquivo de token %1.").arg(tokenFile));
        QString error;
        if (!rhserver::parseTokenFile(QString::fromUtf8(file.readAll()), &options.tokens, &error))
            return failWith(QStringLiteral("%1 (%2).").arg(error, tokenFile));
    }
    if (listen.isEmpty()) listen = QStringLiteral("127.0.0.1:7400");
    const qsizetype colon = listen.lastIndexOf(u':');
    bool portOk = false;
    const uint port = colon > 0 ? listen.mid(colon + 1).toUInt(&portOk) : 0;
    QHostAddress address(colon > 0 ? listen.left(colon) : QString());
    if (colon <= 0 || !portOk || port > 65535 || address.isNull())
        return failWith(QStringLiteral(
            "--listen espera HOST:PORTA com um endereço IP, por exemplo 127.0.0.1:7400."));
    if (!address.isLoopback() && options.tokens.isEmpty())
        return failWith(QStringLiteral("--listen %1 aceita conexões de outras máquinas; informe "
                                       "também --token-file com o token que elas devem mostrar.")
                            .arg(listen));

    rhserver::RhServer server(options);
    QString error;
    if (!server.start(address, quint16(port), &error)) return failWith(error);
    std::fprintf(stderr, "rhserver listening on %s:%u\n", address.toString().toUtf8().constData(),
                 server.port());
    std::fflush(stderr);

    // SIGINT, SIGTERM and SIGHUP end the service in order: connections closed, WAL checkpointed.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) == 0) {
        auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
        std::signal(SIGHUP, onSignal);
    }
    const int code = app.exec();
    server.stop();
    rhserver::logLine(QStringLiteral("serviço encerrado"));
    return code;
}
