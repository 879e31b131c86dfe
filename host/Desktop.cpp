#include "Desktop.h"

#include "server/RhServer.h"
#include "server/Schema.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QUrl>

bool parseDesktopOptions(const QStringList& args, DesktopOptions* options, QString* message) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Recursos Humanos"));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("server"), QStringLiteral("Servidor de aplicação HOST:PORTA."),
                      QStringLiteral("HOST:PORT")});
    parser.addOption({QStringLiteral("db"),
                      QStringLiteral("Banco de dados: sqlite:CAMINHO ou postgresql://…"),
                      QStringLiteral("DB")});
    parser.addOption(
        {QStringLiteral("branch"), QStringLiteral("Filial atual."), QStringLiteral("CODE")});
    parser.addOption({QStringLiteral("token-file"),
                      QStringLiteral("Arquivo com a chave de acesso ao servidor."),
                      QStringLiteral("FILE")});
    parser.addOption(
        {QStringLiteral("modules"), QStringLiteral("Pasta dos módulos."), QStringLiteral("DIR")});
    if (!parser.parse(args)) {
        *message = parser.errorText();
        return false;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        *message = parser.helpText();
        return false;
    }
    options->server = parser.value(QStringLiteral("server"));
    options->db = parser.value(QStringLiteral("db"));
    options->branch = parser.value(QStringLiteral("branch"));
    options->tokenFile = parser.value(QStringLiteral("token-file"));
    options->modulesDir = parser.value(QStringLiteral("modules"));
    if (!options->server.isEmpty() && options->server.lastIndexOf(u':') <= 0) {
        *message = QStringLiteral("Use --server HOST:PORTA (por exemplo 127.0.0.1:7400).");
        return false;
    }
    // The desktop reads the server's database directly for its lookups: it must be the same.
    if (!options->server.isEmpty() && options->db.isEmpty()) {
        *message = QStringLiteral(
            "Com --server, informe também --db com o banco de dados desse servidor.");
        return false;
    }
    return true;
}

bool openSharedDatabase(const QString& db, QString* message) {
    const QString name = QStringLiteral("dtmDBGeral");
    if (QSqlDatabase::contains(name)) QSqlDatabase::removeDatabase(name);
    QSqlDatabase database;
    if (db.startsWith(u"sqlite:")) {
        const QString path = db.mid(7);
        if (!QFile::exists(path)) {
            *message = QStringLiteral("O banco de dados %1 não existe.").arg(path);
            return false;
        }
        database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        database.setDatabaseName(path);
        database.setConnectOptions(
            QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"));
    } else if (db.startsWith(u"postgresql://") || db.startsWith(u"postgres://")) {
        const QUrl url(db);
        database = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        database.setHostName(url.host());
        database.setPort(url.port(5432));
        database.setUserName(url.userName());
        database.setPassword(url.password());
        database.setDatabaseName(url.path().mid(1));
        database.setConnectOptions(QStringLiteral("connect_timeout=5"));
    } else {
        *message = QStringLiteral("Endereço de banco de dados desconhecido: %1").arg(db);
        return false;
    }
    if (!database.open()) {
        *message = QStringLiteral("Não foi possível abrir o banco de dados: %1")
                       .arg(database.lastError().text());
        return false;
    }
    return true;
}

Desktop::Desktop() = default;

bool Desktop::startUnattended(const QString& sqlitePath, QString* message) {
    setHostServices(&services);
    services.unattended = true;
    DesktopOptions options;
    options.db = QStringLiteral("sqlite:") + sqlitePath;
    return start(options, message);
}

Desktop::~Desktop() {
    if (m_embedded) m_embedded->stop();
}

bool Desktop::start(const DesktopOptions& options, QString* message) {
    QString db = options.db;
    if (db.isEmpty()) {
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        if (!QDir().mkpath(folder)) {
            *message = QStringLiteral("Não foi possível criar a pasta de dados %1.").arg(folder);
            return false;
        }
        db = QStringLiteral("sqlite:") + folder + QStringLiteral("/rh.db");
    }
    if (options.server.isEmpty()) {
        // The embedded service: loopback only, and only with the token made now.
        QString error;
        if (!rhserver::initDatabase(db, true, &error)) {
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
        serverDescription =
            QStringLiteral("Servidor interno (127.0.0.1:%1)").arg(services.serverPort);
    } else {
        const qsizetype colon = options.server.lastIndexOf(u':');
        services.serverHost = options.server.left(colon);
        services.serverPort = options.server.mid(colon + 1).toInt();
        if (!options.tokenFile.isEmpty()) {
            QFile file(options.tokenFile);
            if (!file.open(QIODevice::ReadOnly)) {
                *message = QStringLiteral("Não foi possível ler o arquivo de chave %1.")
                               .arg(options.tokenFile);
                return false;
            }
            services.token = QString::fromUtf8(file.readAll()).trimmed();
        }
        serverDescription = QStringLiteral("Servidor %1").arg(options.server);
        QTcpSocket probe;
        probe.connectToHost(services.serverHost, quint16(services.serverPort));
        if (!probe.waitForConnected(3000)) {
            *message = QStringLiteral("Não foi possível conectar ao servidor de aplicação %1: %2")
                           .arg(options.server, probe.errorString());
            return false;
        }
    }
    if (!openSharedDatabase(db, message)) return false;

    QSqlQuery q(QSqlDatabase::database(QStringLiteral("dtmDBGeral")));
    q.prepare(options.branch.isEmpty()
                  ? QStringLiteral("SELECT CDFILIAL, NMFILIAL FROM FILIAL ORDER BY CDFILIAL")
                  : QStringLiteral("SELECT CDFILIAL, NMFILIAL FROM FILIAL WHERE CDFILIAL = ?"));
    if (!options.branch.isEmpty()) q.addBindValue(options.branch);
    if (!q.exec() || !q.next()) {
        *message = options.branch.isEmpty()
                       ? QStringLiteral("Não há filial cadastrada no banco de dados.")
                       : QStringLiteral("A filial %1 não está cadastrada.").arg(options.branch);
        return false;
    }
    services.branch = q.value(0).toString();
    defaultBranchName = q.value(1).toString();
    return true;
}
