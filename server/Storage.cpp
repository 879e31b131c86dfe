#include "Storage.h"

#include "Log.h"
#include "protocol/Rpc.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <algorithm>
#include <atomic>
#include <libpq-fe.h>
#include <sqlite3.h>

namespace rhserver {

void tuneSqlite() {
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
}

namespace {
// The PostgreSQL channel on which a committed write is announced to every rhserver.
constexpr const char* ChangeChannel = "rh_dados";

// The driver's own handle of the connection, or null when it is of another kind. Qt names the
// type as the library declares it: "sqlite3*", and "pg_conn*" for libpq's PGconn.
template <typename T> T* nativeHandle(const QSqlDatabase& db, const char* typeName) {
    const QVariant v = db.driver() ? db.driver()->handle() : QVariant();
    if (!v.isValid() || qstrcmp(v.typeName(), typeName) != 0) return nullptr;
    return *static_cast<T* const*>(v.constData());
}
PGconn* postgresHandle(const QSqlDatabase& db) {
    return nativeHandle<PGconn>(db, "pg_conn*");
}
} // namespace

using protocol::FieldSpec;
using protocol::FieldType;

Storage::Storage(DbAddress address)
    : m_address(std::move(address)) {
    if (!m_address.written) m_address.written = std::make_shared<WrittenSystem>();
    static std::atomic<int> counter{0};
    m_name = QStringLiteral("rhserver-%1").arg(++counter);
}

Storage::~Storage() {
    disconnect();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_name);
}

bool Storage::open(QString* error, bool create) {
    if (m_address.engine == Engine::SQLite) {
        if (!create && !QFileInfo::exists(m_address.path)) {
            *error = QStringLiteral("O banco de dados %1 não existe; crie-o com rhserver --init.")
                         .arg(m_address.path);
            return false;
        }
        if (create && !QFileInfo::exists(m_address.path)) {
            // The file holds every parameter and the whole audit: its owner alone reads it. SQLite
            // gives the WAL and shared-memory files the mode of the database file.
            QFile file(m_address.path);
            if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                           QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
                *error = QStringLiteral("Não foi possível criar o banco de dados %1: %2.")
                             .arg(m_address.path, file.errorString());
                return false;
            }
        }
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        m_db.setDatabaseName(m_address.path);
        m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(BusyTimeoutMs));
    } else {
        // The hosts are tried one at a time (openServer): libpq would take any primary.
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_name);
        m_db.setUserName(m_address.user);
        m_db.setPassword(m_address.password);
        m_db.setDatabaseName(m_address.database);
    }
    if (!m_db.isValid()) {
        *error = QStringLiteral("O driver de banco de dados %1 não está instalado.")
                     .arg(m_db.driverName());
        return false;
    }
    if (m_address.engine == Engine::PostgreSQL)
    // The operator sees which rhserver process holds a connection; a lost database is given up
    // after a few seconds instead of the system's TCP timeout.
    {
        QStringList options{
            QStringLiteral("connect_timeout=5"),
            QStringLiteral("application_name=rhserver-%1").arg(QCoreApplication::applicationPid())};
        options << m_address.settings; // given last: a connect_timeout of the address wins
        m_db.setConnectOptions(options.join(u';'));
    }
    return connect(error);
}

bool Storage::connect(QString* error) {
    ++m_connections;
    m_seenVersion = -1;
    m_listening = false;
    m_notified = false;
    if (m_address.engine == Engine::PostgreSQL) {
        if (!openServer(error)) return false;
    } else if (!m_db.open()) {
        *error = QStringLiteral("Não foi possível abrir o banco de dados %1: %2.")
                     .arg(m_address.display(), m_db.lastError().text());
        return false;
    }
    try {
        if (m_address.engine == Engine::SQLite) {
            // WAL lets readers run beside the one writer; the busy handler (watchConnection)
            // makes writers queue.
            execDirect(QStringLiteral("PRAGMA journal_mode=WAL"));
            execDirect(m_address.fullSync ? QStringLiteral("PRAGMA synchronous=FULL")
                                          : QStringLiteral("PRAGMA synchronous=NORMAL"));
            execDirect(QStringLiteral("PRAGMA foreign_keys=ON"));
        } else {
            // A lock held elsewhere (an open transaction in another program) is waited for as
            // long as SQLite's busy timeout, not for ever.
            execDirect(QStringLiteral("SET lock_timeout = %1").arg(BusyTimeoutMs));
        }
    } catch (const ServiceError&) {
        *error = QStringLiteral("Não foi possível configurar o banco de dados %1: %2.")
                     .arg(m_address.display(), m_lastFailure);
        return false;
    }
    watchConnection();
    return true;
}

bool Storage::heal() {
    if (!m_suspect) return false;
    if (m_db.isOpen()) {
        // With several hosts, a connection to a server that no longer takes writes (a primary
        // demoted, a standby reached) is made again through the list, which finds the primary.
        QSqlQuery probe(m_db);
        const bool alive =
            m_address.severalHosts()
                ? probe.exec(QStringLiteral("SELECT pg_is_in_recovery() OR "
                                            "current_setting('transaction_read_only')"
                                            " = 'on'")) &&
                      probe.next() && !probe.value(0).toBool()
                : probe.exec(QStringLiteral("SELECT 1"));
        if (alive) {
            m_suspect = false;
            return false;
        }
    }
    // Prepared statements belong to the lost connection.
    disconnect();
    QString error;
    if (!connect(&error)) fail(QStringLiteral("reabrir a conexão"), error);
    m_suspect = false;
    logLine(QStringLiteral("conexão com o banco de dados %1 reaberta").arg(m_address.display()));
    return true;
}

void Storage::disconnect() {
    if (m_groupOpen) {
        m_groupOpen = false;
        m_groupLost = true; // its writes went with the connection
    }
    m_queries.clear();
    for (const SqliteRead& read : std::as_const(m_sqliteReads))
        sqlite3_finalize(read.statement);
    m_sqliteReads.clear();
    m_postgresReads.clear();         // prepared on the connection, gone with it
    sqlite3_finalize(m_dataVersion); // before the connection closes, which it would keep open
    m_dataVersion = nullptr;
    {
        const std::lock_guard lock(m_interruptMutex);
        m_canceller.reset();
        m_interruptible = nullptr;
    }
    if (m_db.isValid()) m_db.close();
}

sqlite3* Storage::sqliteHandle() const {
    return nativeHandle<sqlite3>(m_db, "sqlite3*");
}

pg_conn* Storage::postgresConnection() const {
    return postgresHandle(m_db);
}

std::optional<bool> Storage::changedElsewhere() {
    return m_address.engine == Engine::SQLite ? changedInFile() : notified();
}

std::optional<bool> Storage::changedInFile() {
    sqlite3* handle = nativeHandle<sqlite3>(m_db, "sqlite3*");
    if (!handle) return std::nullopt;
    if (!m_dataVersion &&
        sqlite3_prepare_v2(handle, "PRAGMA data_version", -1, &m_dataVersion, nullptr) != SQLITE_OK)
        return std::nullopt;
    // Differs from the last reading when another connection, of this process or another, has
    // committed in between; this connection's own writes are counted by the caller.
    const int status = sqlite3_step(m_dataVersion);
    const qint64 version = status == SQLITE_ROW ? sqlite3_column_int64(m_dataVersion, 0) : -1;
    sqlite3_reset(m_dataVersion);
    if (status != SQLITE_ROW) {
        m_suspect = true;
        return std::nullopt;
    }
    const bool changed = version != m_seenVersion;
    m_seenVersion = version;
    return changed;
}

std::optional<bool> Storage::notified() {
    PGconn* connection = postgresHandle(m_db);
    if (!connection) return std::nullopt;
    bool changed = m_notified;
    if (!m_listening) {
        try {
            execDirect(QStringLiteral("LISTEN ") + QLatin1String(ChangeChannel));
        } catch (const ServiceError&) {
            return std::nullopt;
        }
        m_listening = true;
        changed = true; // what happened before listening is unknown
    }
    // A commit signals its listeners before it returns, and a listening backend sends what it
    // was signalled before it answers its next command: after this round trip, every
    // notification of a write acknowledged before this call is in hand.
    PGresult* result = PQexec(connection, "");
    const bool answered = PQresultStatus(result) == PGRES_EMPTY_QUERY;
    PQclear(result);
    if (!answered) {
        m_suspect = true;
        return std::nullopt;
    }
    while (PGnotify* n = PQnotifies(connection)) {
        changed = true;
        PQfreemem(n);
    }
    m_notified = false;
    return changed;
}

void Storage::announceChange() {
    if (m_address.engine != Engine::PostgreSQL) return;
    execDirect(QStringLiteral("NOTIFY ") + QLatin1String(ChangeChannel));
    // Notifications read with this command's answer are kept for the next look, so a worker that
    // only writes does not pile them up in the driver.
    if (PGconn* connection = postgresHandle(m_db))
        while (PGnotify* n = PQnotifies(connection)) {
            m_notified = true;
            PQfreemem(n);
        }
}

qint64 Storage::fileVersion() {
    // A statement of its own: the kept replies' reading of data_version must see every change.
    sqlite3* handle = nativeHandle<sqlite3>(m_db, "sqlite3*");
    sqlite3_stmt* statement = nullptr;
    if (!handle ||
        sqlite3_prepare_v2(handle, "PRAGMA data_version", -1, &statement, nullptr) != SQLITE_OK)
        return -1;
    const qint64 version =
        sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int64(statement, 0) : -1;
    sqlite3_finalize(statement);
    return version;
}

QSqlQuery& Storage::query(const char* sql) {
    auto it = m_queries.find(sql);
    if (it == m_queries.end()) {
        QSqlQuery q(m_db);
        // Rows are read once, in order: the driver need not keep them for moving back.
        q.setForwardOnly(true);
        if (!q.prepare(QString::fromUtf8(sql)))
            fail(QStringLiteral("preparar a consulta"), q.lastError().text());
        it = m_queries.insert(sql, std::move(q));
    }
    return *it;
}

void Storage::exec(QSqlQuery& q) {
    if (!q.exec())
        fail(QStringLiteral("executar a consulta"),
             q.lastError().text() + QStringLiteral(" [") + q.lastQuery() + u']');
}

void Storage::execDirect(const QString& sql) {
    QSqlQuery q(m_db);
    if (!q.exec(sql))
        fail(QStringLiteral("executar o comando"),
             q.lastError().text() + QStringLiteral(" [") + sql + u']');
}

QString Storage::durabilityNote() {
    if (m_address.engine != Engine::PostgreSQL) return {};
    QSqlQuery q(m_db);
    if (!q.exec(QStringLiteral("SELECT current_setting('synchronous_commit'), "
                               "current_setting('synchronous_standby_names')")) ||
        !q.next())
        return QStringLiteral("não foi possível saber se as gravações esperam um standby: %1")
            .arg(q.lastError().text());
    const QString commit = q.value(0).toString(), names = q.value(1).toString();
    const bool waits = !names.trimmed().isEmpty() && commit != QLatin1String("off") &&
                       commit != QLatin1String("local");
    return waits ? QStringLiteral("as gravações esperam a confirmação de um standby "
                                  "(synchronous_commit=%1, synchronous_standby_names=%2)")
                       .arg(commit, names)
                 : QStringLiteral("as gravações não esperam nenhum standby: se este servidor "
                                  "PostgreSQL se perder, um standby promovido pode não ter as "
                                  "últimas (synchronous_standby_names vazio ou "
                                  "synchronous_commit=%1)")
                       .arg(commit);
}

const char* Storage::lockSuffix() const {
    return m_address.engine == Engine::PostgreSQL ? " FOR UPDATE" : "";
}

void Storage::bind(QSqlQuery& q, int position, const FieldSpec& field,
                   const QVariant& value) const {
    const bool sqlite = m_address.engine == Engine::SQLite;
    switch (field.type) {
    case FieldType::String:
        q.bindValue(position, value.isNull() ? QVariant(QMetaType::fromType<QString>())
                                             : QVariant(value.toString()));
        return;
    case FieldType::Float:
        q.bindValue(position, value.isNull() ? QVariant(QMetaType::fromType<double>())
                                             : QVariant(value.toDouble()));
        return;
    case FieldType::Date:
        // SQLite keeps dates as ISO text, which sorts and compares like the dates themselves.
        if (sqlite)
            q.bindValue(position, value.isNull() ? QVariant(QMetaType::fromType<QString>())
                                                 : QVariant(value.toDate().toString(Qt::ISODate)));
        else
            q.bindValue(position, value.isNull() ? QVariant(QMetaType::fromType<QDate>())
                                                 : QVariant(value.toDate()));
        return;
    }
}

QVariant Storage::read(const FieldSpec& field, const QVariant& stored) {
    if (stored.isNull()) return {};
    switch (field.type) {
    case FieldType::String:
        return stored.toString();
    case FieldType::Float:
        return stored.toDouble();
    case FieldType::Date: {
        const QDate day = stored.typeId() == QMetaType::QDate ? stored.toDate()
                          : stored.typeId() == QMetaType::QDateTime
                              ? stored.toDateTime().date()
                              : QDate::fromString(stored.toString().left(10), Qt::ISODate);
        // A text that is no day reads as no date, as the packets give it: a change made over
        // what the screen showed then finds the value it was made from.
        return day.isValid() ? QVariant(day) : QVariant();
    }
    }
    return {};
}

void Storage::fail(const QString& what, const QString& detail) {
    m_lastFailure = detail;
    m_suspect = true;
    logLine(QStringLiteral("falha no banco de dados (%1): %2").arg(what, detail));
    // A full disk or a file gone is told as such: the user can have it mended, and a retry
    // will not help before.
    const QString cause = failureCause();
    throw ServiceError{protocol::ErrorCode::StorageFailure,
                       !cause.isEmpty()
                           ? cause
                           : QStringLiteral("O servidor não conseguiu acessar o banco de dados. "
                                            "Tente de novo; se o problema continuar, avise o "
                                            "administrador do sistema.")};
}

} // namespace rhserver
