#include "PgTesting.h"

#include "ServerHarness.h"

#include "server/Schema.h"
#include "server/Storage.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>
#include <gtest/gtest.h>

namespace testing_rh {

void dropEverything(const QString& url) {
    ensureApplication();
    QString error;
    const auto address = rhserver::DbAddress::parse(url, &error);
    ASSERT_TRUE(address) << error.toStdString();
    rhserver::Storage s(*address);
    ASSERT_TRUE(s.open(&error)) << error.toStdString();
    for (const char* table :
         {"RHAUDITORIA", "INSPPADRAO", "INSPDEPTO", "INSPCARGO", "PARAMFILIAL", "PARAMRH",
          "CODPICT", "INSPECAO", "DEPTO", "CARGO", "CONVMEDI", "INDICE", "FILIAL", "RHVERSAO"})
        s.execDirect(QStringLiteral("DROP TABLE IF EXISTS %1 CASCADE").arg(QLatin1String(table)));
}

DemoSqlite::DemoSqlite()
    : url(QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("rh.db"))) {
    QString error;
    EXPECT_TRUE(rhserver::initDatabase(url, true, &error)) << error.toStdString();
}

void resetPostgres(const QString& url) {
    ASSERT_NO_FATAL_FAILURE(dropEverything(url));
    QString error;
    ASSERT_TRUE(rhserver::initDatabase(url, true, &error)) << error.toStdString();
}

PostgresPair::PostgresPair() {
    ensureApplication();
    // The database programs run as postgres when the tests run as root.
    QFile::setPermissions(m_dir.path(), QFile::permissions(m_dir.path()) | QFile::ReadOther |
                                            QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup);
    // Ports free a moment ago may be taken before the servers listen: a failed start is tried
    // again on others.
    for (int attempt = 0; attempt < 3 && !m_started && !m_missing; ++attempt) {
        QTcpServer first, second;
        if (!first.listen(QHostAddress::LocalHost) || !second.listen(QHostAddress::LocalHost))
            continue;
        m_primaryPort = first.serverPort();
        const quint16 standbyPort = second.serverPort();
        first.close();
        second.close();
        const int status = run({QStringLiteral("start"), QString::number(m_primaryPort),
                                QString::number(standbyPort)});
        m_missing = status == 77;
        m_started = status == 0;
        if (!m_started) {
            run({QStringLiteral("stop")});
            QDir(m_dir.filePath(QStringLiteral("db"))).removeRecursively();
        }
    }
}

PostgresPair::~PostgresPair() {
    if (m_started) run({QStringLiteral("stop")});
}

QString PostgresPair::primaryUrl() const {
    return QStringLiteral("postgresql://rh:rh@127.0.0.1:%1/rh").arg(m_primaryPort);
}

bool PostgresPair::stopStandby() {
    return run({QStringLiteral("stop-standby")}) == 0;
}

int PostgresPair::run(const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("bash"), QStringList{QStringLiteral(RH_TEST_PG_PAIR), args.first(),
                                                m_dir.filePath(QStringLiteral("db"))} +
                                        args.mid(1));
    const bool ended = p.waitForFinished(120000);
    m_output = QString::fromUtf8(p.readAll());
    if (!ended) p.kill();
    return ended && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

PgSide::PgSide(const QString& url)
    : m_name(QStringLiteral("pg-side-%1").arg(++s_count)) {
    QString error;
    const auto a = rhserver::DbAddress::parse(url, &error);
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_name);
    m_db.setHostName(a->host);
    m_db.setPort(a->port);
    m_db.setUserName(a->user);
    m_db.setPassword(a->password);
    m_db.setDatabaseName(a->database);
    EXPECT_TRUE(m_db.open()) << m_db.lastError().text().toStdString();
}

PgSide::~PgSide() {
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_name);
}

QString PgSide::value(const QString& sql) {
    QSqlQuery q(m_db);
    EXPECT_TRUE(q.exec(sql)) << q.lastError().text().toStdString();
    return q.next() ? q.value(0).toString() : QString();
}

int PgSide::cutServiceConnections(qint64 pid) {
    return value(QStringLiteral("SELECT COUNT(pg_terminate_backend(pid)) FROM "
                                "pg_stat_activity WHERE application_name = 'rhserver-%1' "
                                "AND pid <> pg_backend_pid()")
                     .arg(pid ? pid : QCoreApplication::applicationPid()))
        .toInt();
}

} // namespace testing_rh
