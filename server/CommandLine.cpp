#include "CommandLine.h"

#include <QCommandLineParser>
#include <QThread>

namespace rhserver {

namespace {

const char* const usage =
    "Uso: rhserver [--listen HOST:PORTA] --db BANCO [--init] [--demo] [--token-file ARQUIVO]\n"
    "              [--max-message BYTES] [--workers N] [--open-timeout S] [--idle-timeout S]\n"
    "              [--max-connections N] [--max-per-peer N] [--sqlite-sync full|normal]\n"
    "              [--tls-cert ARQUIVO --tls-key ARQUIVO] [--start-wait S]\n"
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
    "  --start-wait S        segundos a esperar, na partida, por um servidor PostgreSQL que\n"
    "                        ainda não atende (padrão 0: desiste na hora); o serviço só\n"
    "                        escuta depois de todas as conexões ao banco prontas\n"
    "  --tls-cert ARQUIVO    certificado do servidor (PEM, com a cadeia): com --tls-key, o\n"
    "                        serviço só aceita conexões TLS (1.2 ou mais nova)\n"
    "  --tls-key ARQUIVO     chave privada do certificado (PEM, sem senha, modo 600 ou 400)\n"
    "  --backup ARQUIVO      copia o banco SQLite para ARQUIVO (novo, modo 600) e termina;\n"
    "                        pode rodar com o serviço no ar\n"
    "  --max-message BYTES   tamanho máximo de uma mensagem (padrão 16777216)\n"
    "  --workers N           número de threads de atendimento (padrão: um por núcleo)\n"
    "  --open-timeout S      segundos para uma conexão chamar open (padrão 5)\n"
    "  --idle-timeout S      segundos sem uso até fechar uma conexão aberta (padrão 28800)\n"
    "  --max-connections N   conexões ao mesmo tempo (padrão 1000)\n"
    "  --max-per-peer N      conexões ao mesmo tempo de um mesmo endereço (padrão 128)\n"
    "  --line-budget MIB     memória para mensagens ainda incompletas, somadas todas as\n"
    "                        conexões; passada, fecha a que tiver mais (padrão 128)\n"
    "  --sqlite-sync MODO    full (padrão): cada gravação confirmada já está no disco e resiste\n"
    "                        a uma queda de energia; normal: resiste só à queda do processo,\n"
    "                        com gravações mais rápidas\n"
    "  --help                mostra esta ajuda\n"
    "  --version             mostra a versão\n";

struct Bounds {
    const char* name;
    qint64 low, high;
    const char* problem;
};

// A whole number within bounds for the option, or the option's problem.
bool number(const QCommandLineParser& parser, const Bounds& b, qint64* out, QString* error) {
    if (!parser.isSet(QString::fromLatin1(b.name))) return true;
    bool ok = false;
    const qint64 n = parser.value(QString::fromLatin1(b.name)).toLongLong(&ok);
    if (!ok || n < b.low || n > b.high) {
        *error = QString::fromUtf8(b.problem);
        return false;
    }
    *out = n;
    return true;
}

} // namespace

const char* commandLineUsage() {
    return usage;
}

bool parseCommandLine(const QStringList& args, CommandLine* out, QString* error) {
    // The options that take a value, with what is said when it is missing.
    const struct {
        const char* name;
        const char* missing;
    } valued[] = {
        {"listen", "--listen precisa de HOST:PORTA."},
        {"db", "--db precisa do endereço do banco."},
        {"token-file", "--token-file precisa do caminho do arquivo."},
        {"backup", "--backup precisa do arquivo da cópia."},
        {"tls-cert", "--tls-cert precisa do arquivo do certificado."},
        {"tls-key", "--tls-key precisa do arquivo da chave privada."},
        {"max-message", "--max-message precisa de um número de bytes (mínimo 64)."},
        {"workers", "--workers precisa de um número entre 1 e 64."},
        {"open-timeout", "--open-timeout precisa de 1 a 3600 segundos."},
        {"idle-timeout", "--idle-timeout precisa de 1 a 604800 segundos."},
        {"max-connections", "--max-connections precisa de um número positivo."},
        {"max-per-peer", "--max-per-peer precisa de um número positivo."},
        {"line-budget", "--line-budget precisa de um número de MiB (mínimo 1)."},
        {"sqlite-sync", "--sqlite-sync precisa de full ou normal."},
        {"start-wait", "--start-wait precisa de 0 a 3600 segundos."},
    };
    QCommandLineParser parser;
    parser.addOption({{QStringLiteral("h"), QStringLiteral("help")}, QString()});
    parser.addOption({QStringLiteral("version"), QString()});
    parser.addOption({QStringLiteral("init"), QString()});
    parser.addOption({QStringLiteral("demo"), QString()});
    for (const auto& v : valued)
        parser.addOption({QString::fromLatin1(v.name), QString(), QStringLiteral("VALOR")});
    // Qt's own messages are in English: the operator gets ours.
    if (!parser.parse(args)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty()) {
            *error = QStringLiteral("opção desconhecida: --%1; veja rhserver --help.")
                         .arg(unknown.first());
            return false;
        }
        // A value is taken whatever it looks like, so only the last option can lack one.
        const QString last = args.value(args.size() - 1).section(u'=', 0, 0).mid(2);
        *error = QStringLiteral("%1 precisa de um valor; veja rhserver --help.").arg(last);
        for (const auto& v : valued)
            if (last == QLatin1String(v.name)) *error = QString::fromUtf8(v.missing);
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *error = QStringLiteral("opção desconhecida: %1; veja rhserver --help.")
                     .arg(parser.positionalArguments().first());
        return false;
    }
    out->help = parser.isSet(QStringLiteral("help"));
    out->version = parser.isSet(QStringLiteral("version"));
    if (out->help || out->version) return true;

    ServerOptions& o = out->options;
    qint64 maxMessage = o.maxMessage, workers = 0, open = o.openTimeoutSeconds,
           idle = o.idleTimeoutSeconds, connections = o.maxConnections,
           perPeer = o.maxConnectionsPerPeer, lineBudget = o.lineBudgetBytes / (1024 * 1024),
           startWait = o.startWaitSeconds;
    const struct {
        Bounds bounds;
        qint64* value;
    } numbers[] = {
        {{"max-message", 64, std::numeric_limits<qint64>::max(),
          "--max-message precisa de um número de bytes (mínimo 64)."},
         &maxMessage},
        {{"workers", 1, 64, "--workers precisa de um número entre 1 e 64."}, &workers},
        {{"open-timeout", 1, 3600, "--open-timeout precisa de 1 a 3600 segundos."}, &open},
        {{"idle-timeout", 1, 86400 * 7, "--idle-timeout precisa de 1 a 604800 segundos."}, &idle},
        {{"max-connections", 1, 1000000, "--max-connections precisa de um número positivo."},
         &connections},
        {{"max-per-peer", 1, 1000000, "--max-per-peer precisa de um número positivo."}, &perPeer},
        {{"line-budget", 1, 1024 * 1024, "--line-budget precisa de um número de MiB (mínimo 1)."},
         &lineBudget},
        {{"start-wait", 0, 3600, "--start-wait precisa de 0 a 3600 segundos."}, &startWait},
    };
    for (const auto& n : numbers)
        if (!number(parser, n.bounds, n.value, error)) return false;
    o.maxMessage = maxMessage;
    o.workers = int(workers);
    o.openTimeoutSeconds = int(open);
    o.idleTimeoutSeconds = int(idle);
    o.maxConnections = int(connections);
    o.maxConnectionsPerPeer = int(perPeer);
    o.lineBudgetBytes = lineBudget * 1024 * 1024;
    o.startWaitSeconds = int(startWait);
    if (workers > QThread::idealThreadCount())
        out->warnings << QStringLiteral("aviso: --workers %1 passa do número de núcleos (%2); mais "
                                        "threads que núcleos pioram o tempo de resposta.")
                             .arg(workers)
                             .arg(QThread::idealThreadCount());
    if (parser.isSet(QStringLiteral("sqlite-sync"))) {
        const QString mode = parser.value(QStringLiteral("sqlite-sync"));
        if (mode != QLatin1String("full") && mode != QLatin1String("normal")) {
            *error = QStringLiteral("--sqlite-sync precisa de full ou normal.");
            return false;
        }
        o.sqliteFullSync = mode == QLatin1String("full");
    }

    out->db = parser.value(QStringLiteral("db"));
    out->tokenFile = parser.value(QStringLiteral("token-file"));
    out->backup = parser.value(QStringLiteral("backup"));
    out->init = parser.isSet(QStringLiteral("init"));
    out->demo = parser.isSet(QStringLiteral("demo"));
    out->listenGiven = parser.isSet(QStringLiteral("listen"));
    if (out->db.isEmpty()) {
        *error = QStringLiteral("informe o banco de dados com --db; veja rhserver --help.");
        return false;
    }
    o.db = out->db;
    if (out->demo && !out->init) {
        *error = QStringLiteral("--demo só vale junto com --init.");
        return false;
    }
    if (!out->backup.isEmpty() && (out->init || out->listenGiven)) {
        *error = QStringLiteral("--backup não se combina com --init nem --listen.");
        return false;
    }
    if (out->listenGiven) out->listen = parser.value(QStringLiteral("listen"));
    const qsizetype colon = out->listen.lastIndexOf(u':');
    bool portOk = false;
    const uint port = colon > 0 ? out->listen.mid(colon + 1).toUInt(&portOk) : 0;
    out->address = QHostAddress(colon > 0 ? out->listen.left(colon) : QString());
    if (colon <= 0 || !portOk || port > 65535 || out->address.isNull()) {
        *error = QStringLiteral(
            "--listen espera HOST:PORTA com um endereço IP, por exemplo 127.0.0.1:7400.");
        return false;
    }
    out->port = quint16(port);
    o.tlsCertFile = parser.value(QStringLiteral("tls-cert"));
    o.tlsKeyFile = parser.value(QStringLiteral("tls-key"));
    // Both or neither: RhServer::start refuses one without the other.
    out->plainSecrets =
        o.tlsCertFile.isEmpty() && (!out->tokenFile.isEmpty() || !out->address.isLoopback());
    return true;
}

} // namespace rhserver
