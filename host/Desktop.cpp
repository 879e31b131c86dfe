#include "Desktop.h"

#include "Exceptions.h"
#include "NetConnection.h"

#include "contract/Lookups.h"
#include "protocol/SecretFile.h"
#include "protocol/Tls.h"
#include "server/RhServer.h"
#include "server/Schema.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QRandomGenerator>
#include <QSettings>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTranslator>
#include <QUrl>
#include <malloc.h>

namespace {
const char* const helpText =
    "Uso: rh [opções]\n"
    "Recursos Humanos: a tela de parâmetros gerais e as demais telas do sistema.\n"
    "\n"
    "Sem opções, o rh usa o servidor interno e o banco de dados da pasta de dados do usuário.\n"
    "\n"
    "Opções:\n"
    "  --server HOST:PORTA      servidor de aplicação a usar no lugar do servidor interno\n"
    "  --db BANCO               banco de dados do servidor interno: sqlite:CAMINHO ou\n"
    "                           postgresql://… (com --server não se usa: tudo passa pelo\n"
    "                           servidor)\n"
    "  --branch CÓDIGO          filial em que se vai trabalhar\n"
    "  --token-file ARQUIVO     arquivo com a chave de acesso ao servidor\n"
    "  --tls-ca ARQUIVO         com --server, fala TLS com o servidor e confia só no\n"
    "                           certificado (ou autoridade) do arquivo, para o nome dado\n"
    "  --modules PASTA          pasta dos módulos\n"
    "  -h, --help, --ajuda      mostra este texto e sai\n"
    "  --version, --versao      mostra a versão e sai\n";
} // namespace

bool parseDesktopOptions(const QStringList& args, DesktopOptions* options, QString* message,
                         bool* helpAsked) {
    if (helpAsked) *helpAsked = false;
    QCommandLineParser parser;
    parser.addOption({QStringList{QStringLiteral("h"), QStringLiteral("help"),
                                  QStringLiteral("ajuda"), QStringLiteral("?")},
                      QString()});
    parser.addOption({QStringLiteral("server"), QString(), QStringLiteral("HOST:PORTA")});
    parser.addOption({QStringLiteral("db"), QString(), QStringLiteral("BANCO")});
    parser.addOption({QStringLiteral("branch"), QString(), QStringLiteral("CODIGO")});
    parser.addOption({QStringLiteral("token-file"), QString(), QStringLiteral("ARQUIVO")});
    parser.addOption({QStringLiteral("tls-ca"), QString(), QStringLiteral("ARQUIVO")});
    parser.addOption({QStringLiteral("modules"), QString(), QStringLiteral("PASTA")});
    // Qt's own messages are in English: the user gets ours.
    if (!parser.parse(args)) {
        const QStringList unknown = parser.unknownOptionNames();
        *message = unknown.isEmpty() ? QStringLiteral("Falta o valor de uma opção. Use rh --ajuda.")
                                     : QStringLiteral("Opção desconhecida: %1. Use rh --ajuda.")
                                           .arg(unknown.join(QStringLiteral(", ")));
        return false;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        *message = QString::fromUtf8(helpText);
        if (helpAsked) *helpAsked = true;
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *message = QStringLiteral("Argumento inesperado: %1. Use rh --ajuda.")
                       .arg(parser.positionalArguments().first());
        return false;
    }
    options->server = parser.value(QStringLiteral("server"));
    options->db = parser.value(QStringLiteral("db"));
    options->branch = parser.value(QStringLiteral("branch"));
    options->tokenFile = parser.value(QStringLiteral("token-file"));
    options->tlsCaFile = parser.value(QStringLiteral("tls-ca"));
    options->modulesDir = parser.value(QStringLiteral("modules"));
    if (!options->server.isEmpty() && options->server.lastIndexOf(u':') <= 0) {
        *message = QStringLiteral("Use --server HOST:PORTA (por exemplo 127.0.0.1:7400).");
        return false;
    }
    if (!options->tlsCaFile.isEmpty() && options->server.isEmpty()) {
        *message = QStringLiteral("--tls-ca vale só com --server: o servidor interno não usa TLS.");
        return false;
    }
    return true;
}

QString defaultModulesDir(const QString& programDir) {
    const QDir dir(programDir);
    const QString built = dir.absoluteFilePath(QStringLiteral("../modules"));
#ifdef RH_INSTALLED_MODULES
    if (!QFileInfo::exists(built))
        return QDir::cleanPath(dir.absoluteFilePath(QStringLiteral(RH_INSTALLED_MODULES)));
#endif
    return built;
}

QString userDataFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/rh");
}

QString defaultDatabasePath(QString* message) {
    const QString folder = userDataFolder();
    if (!QDir().mkpath(folder)) {
        *message = QStringLiteral("Não foi possível criar a pasta de dados %1.").arg(folder);
        return {};
    }
    const QString path = folder + QStringLiteral("/rh.db");
    // Earlier versions kept it one folder deeper (rh/rh).
    const QString old = folder + QStringLiteral("/rh/rh.db");
    if (!QFile::exists(path) && QFile::exists(old)) {
        for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
            const QString from = old + QLatin1String(suffix);
            if (QFile::exists(from) && !QFile::rename(from, path + QLatin1String(suffix))) {
                *message = QStringLiteral("Não foi possível mover o banco de dados de %1 para %2.")
                               .arg(old, path);
                return {};
            }
        }
        QDir().rmdir(folder + QStringLiteral("/rh"));
    }
    return path;
}

void keepMemoryLean() {
    // One user's desktop gains nothing from a pool per thread, and the embedded service's threads
    // would each keep what a large reply once took; large blocks come straight from the system.
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
}

namespace {

// A maximised child window's title leads the main window's: "Parâmetros Gerais — Recursos
// Humanos", the screen a person works in first. Asked before Qt's own translations.
class TitleOrder : public QTranslator {
public:
    using QTranslator::QTranslator;
    QString translate(const char* context, const char* source, const char* = nullptr,
                      int = -1) const override {
        if (qstrcmp(context, "QMdiSubWindow") != 0) return {};
        if (qstrcmp(source, "%1 - [%2]") == 0) return QStringLiteral("%2 — %1");
        // How Qt recognises a title it already made.
        if (qstrcmp(source, "- [%1]") == 0) return QStringLiteral("%1 —");
        return {};
    }
    bool isEmpty() const override { return false; }
};

} // namespace

bool installPortuguese() {
    const QLocale brazil(QLocale::Portuguese, QLocale::Brazil);
    QLocale::setDefault(brazil);
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(brazil, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    QCoreApplication::installTranslator(new TitleOrder(QCoreApplication::instance()));
    return true;
}

QIcon ProductIcon() {
    QIcon icon;
    for (int size : {16, 32, 64})
        icon.addFile(QStringLiteral(":/rh/icons/rh-%1.png").arg(size));
    return icon;
}

Desktop::Desktop() = default;

bool Desktop::startUnattended(const QString& sqlitePath, QString* message) {
    setHostServices(&services);
    services.unattended = true;
    DesktopOptions options;
    options.db = QStringLiteral("sqlite:") + sqlitePath;
    options.dataFolder = QFileInfo(sqlitePath).absolutePath();
    return start(options, message);
}

Desktop::~Desktop() {
    if (m_embedded) m_embedded->stop();
}

QString Desktop::probeServer() {
    QSslSocket probe;
    const quint16 port = quint16(services.serverPort);
    if (services.tls.isNull()) {
        probe.connectToHost(services.serverHost, port);
        return probe.waitForConnected(3000) ? QString() : SocketFailureText(probe.error());
    }
    // Over TLS the certificate is checked at start too: a wrong one is told before any screen.
    probe.setSslConfiguration(services.tls);
    probe.connectToHostEncrypted(services.serverHost, port);
    if (probe.waitForEncrypted(5000)) return {};
    const QString refused = protocol::handshakeFailureText(probe.sslHandshakeErrors());
    return refused.isEmpty() ? SocketFailureText(probe.error()) : refused;
}

bool Desktop::start(const DesktopOptions& options, QString* message) {
    if (options.server.isEmpty()) {
        QString db = options.db;
        if (db.isEmpty()) {
            const QString path = defaultDatabasePath(message);
            if (path.isEmpty()) return false;
            db = QStringLiteral("sqlite:") + path;
        }
        databaseDescription = db.startsWith(u"sqlite:")
                                  ? db.mid(7)
                                  : QUrl(db).toString(QUrl::RemovePassword | QUrl::RemoveQuery);
        // The embedded service: loopback only, and only with the token made now.
        QString error;
        const QString payrollRoot =
            options.dataFolder.isEmpty() ? userDataFolder() : options.dataFolder;
        if (!rhserver::initDatabase(db, true, &error, nullptr, payrollRoot)) {
            *message = QStringLiteral("Não foi possível preparar o banco de dados: %1").arg(error);
            return false;
        }
        services.token = QString::number(QRandomGenerator::system()->generate64(), 36) +
                         QString::number(QRandomGenerator::system()->generate64(), 36);
        rhserver::ServerOptions serverOptions;
        serverOptions.db = db;
        serverOptions.token = services.token;
        m_embedded = std::make_unique<rhserver::RhServer>(serverOptions);
        if (!m_embedded->start(QHostAddress::LocalHost, 0, &error)) {
            *message =
                QStringLiteral("Não foi possível iniciar o servidor de aplicação: %1").arg(error);
            return false;
        }
        services.serverHost = QStringLiteral("127.0.0.1");
        services.serverPort = m_embedded->port();
        serverDescription = QStringLiteral("Servidor interno");
        serverDetails = QStringLiteral("Servidor de aplicação interno, no endereço 127.0.0.1, "
                                       "porta %1.")
                            .arg(services.serverPort);
    } else {
        // Everything the desktop reads goes through the server, which alone holds the
        // database's address and credentials.
        if (!options.db.isEmpty())
            notes << QStringLiteral("--db não é usado com --server: o servidor de aplicação usa "
                                    "o banco dele, e o rh não acessa banco algum.");
        databaseDescription = QStringLiteral("o do servidor de aplicação");
        const qsizetype colon = options.server.lastIndexOf(u':');
        services.serverHost = options.server.left(colon);
        services.serverPort = options.server.mid(colon + 1).toInt();
        if (!options.tokenFile.isEmpty()) {
            QString why;
            const std::optional<QByteArray> key = protocol::readSecretFile(options.tokenFile, &why);
            if (!key) {
                *message = QStringLiteral("Chave de acesso: %1").arg(why);
                return false;
            }
            services.token = QString::fromUtf8(*key).trimmed();
        }
        if (!options.tlsCaFile.isEmpty()) {
            QString why;
            services.tls = protocol::clientTls(options.tlsCaFile, &why);
            if (services.tls.isNull()) {
                *message = QStringLiteral("Conexão segura: %1").arg(why);
                return false;
            }
        }
        serverDescription = QStringLiteral("Servidor %1").arg(services.serverHost);
        serverDetails =
            QStringLiteral("Servidor de aplicação %1, porta %2%3.")
                .arg(services.serverHost)
                .arg(services.serverPort)
                .arg(services.tls.isNull() ? QString() : QStringLiteral(", conexão segura (TLS)"));
        if (const QString failure = probeServer(); !failure.isEmpty()) {
            *message = QStringLiteral("Não foi possível conectar ao servidor de aplicação %1: %2.")
                           .arg(options.server, failure);
            return false;
        }
    }
    return chooseBranch(options.branch, message);
}

bool Desktop::chooseBranch(QString branch, QString* message) {
    // Without --branch, the branch chosen last time, when it still exists.
    QString remembered;
    if (branch.isEmpty() && !services.settingsPath.isEmpty())
        remembered = QSettings(services.settingsPath, QSettings::IniFormat)
                         .value(QStringLiteral("filial"))
                         .toString();
    protocol::DataPacket known;
    try {
        known = services.lookupRows(contract::lookup::PesqFilial, {QString(), QStringLiteral("T")});
    } catch (const Exception& e) {
        *message = QStringLiteral("Não foi possível ler as filiais no servidor de aplicação: %1")
                       .arg(e.message());
        // A server that speaks TLS closes a plain connection without a word.
        if (!m_embedded && services.tls.isNull())
            *message += QStringLiteral(" Se o servidor exige conexão segura, informe --tls-ca.");
        return false;
    }
    const auto find = [&known](const QString& code) -> const protocol::Row* {
        for (const protocol::Row& row : known.rows)
            if (row.value(0).toString() == code) return &row;
        return nullptr;
    };
    const protocol::Row* chosen = nullptr;
    if (!branch.isEmpty()) {
        chosen = find(branch);
    } else {
        if (!remembered.isEmpty()) chosen = find(remembered);
        if (!chosen && !known.rows.isEmpty()) chosen = &known.rows.first();
    }
    if (!chosen) {
        *message = branch.isEmpty()
                       ? QStringLiteral("Não há filial cadastrada no banco de dados.")
                       : QStringLiteral("A filial %1 não está cadastrada.").arg(branch);
        return false;
    }
    services.branch = chosen->value(0).toString();
    defaultBranchName = chosen->value(1).toString();
    return true;
}
