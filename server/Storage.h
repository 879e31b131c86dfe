#pragma once
// Where the service keeps its data: the database address, one connection per thread, and the
// few places where SQLite and PostgreSQL need different words.

#include "DbAddress.h"
#include "ServerIdentity.h"
#include "protocol/Packet.h"

#include <QHash>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

struct pg_cancel;
struct pg_conn;
struct pg_result;
struct sqlite3;
struct sqlite3_stmt;

namespace rhserver {

// How long a write waits for another writer's lock: SQLite's busy timeout, PostgreSQL's
// lock_timeout.
constexpr int BusyTimeoutMs = 10000;

// A failure that reaches the caller as a JSON-RPC error.
struct ServiceError {
    int code;
    QString message;
};

// The user's sentence for a write whose commit outcome could not be learned.
QString unknownOutcomeText();

// What became of a commit: on PostgreSQL the connection may go while COMMIT is on its way, and
// the write is then looked up on a new connection.
enum class CommitOutcome { Stored, NotStored, Unknown };

// The packet up to its rows: the fields, the same for every read of one statement.
std::string packetHead(const QVector<protocol::FieldSpec>& fields);
// The rows of a prepared SQLite statement run with the parameters (texts or integers), one column
// per field, as a data packet after its head. *status is SQLITE_DONE once every row was read,
// the failing step's code otherwise (and the text is then empty); the statement ends reset and
// unbound either way.
std::string sqlitePacket(sqlite3_stmt* statement, const std::string& head,
                         const QVariantList& params, const QVector<protocol::FieldSpec>& fields,
                         int* status);

// Once, before any database is opened: SQLite stops counting the memory it uses, which took a
// process-wide lock on every allocation and free of every read.
void tuneSqlite();

// One database connection, used by one thread only.
class Storage {
public:
    explicit Storage(DbAddress address);
    ~Storage();
    Storage(const Storage&) = delete;
    Storage& operator=(const Storage&) = delete;

    // Opens the connection; an SQLite file that does not exist yet is made only with create.
    bool open(QString* error, bool create = false);
    // Called before each request: after a failure, checks that the connection still answers and,
    // when it was lost (a database restart, a failover), opens it again. Throws when it cannot;
    // true when it opened the connection again.
    bool heal();
    // Throws unless a write could be stored now. SQLite: the file is still where it was opened,
    // its disk has room, and a write made in a transaction rolled back gets the lock within a
    // second. PostgreSQL: a write committed within a short time, standby confirmation included.
    void checkWritable();
    // SQLite: the user's sentence when the file was deleted or moved since it was opened, or its
    // disk has no room left (then no write is made); empty otherwise.
    QString fileProblem();
    // From any thread, at shutdown: from now on this connection starts no commit and gives up
    // looking up a lost one, and an SQLite statement running now is interrupted. Answers what
    // cancels the PostgreSQL statement running now (PQcancel, which may wait on the network).
    std::function<void()> interrupt();
    bool interrupted() const { return m_interrupted.load(); }
    Engine engine() const { return m_address.engine; }
    QSqlDatabase& db() { return m_db; }

    // A prepared statement, kept for the life of the connection; finish() it after use.
    QSqlQuery& query(const char* sql);
    // Runs a prepared statement; a failure becomes a storage ServiceError.
    void exec(QSqlQuery& q);
    // Executes a statement that has no parameters.
    void execDirect(const QString& sql);
    // Runs a read with its parameters (texts or integers) and answers its rows as a data packet
    // of the fields given, one column each, in order. Through each engine's own interface, with
    // the statement prepared once per connection: Qt SQL costs several times the read itself.
    std::string readPacket(const char* sql, const QVariantList& params,
                           const QVector<protocol::FieldSpec>& fields);

    // A read to make ahead of its call: a statement given to readPacket, its fields and its one
    // parameter.
    struct PlannedRead {
        const char* sql;
        const QVector<protocol::FieldSpec>* fields;
        QString parameter;
    };
    // PostgreSQL: makes the reads in one round trip (libpq's pipeline), and with lookForChanges
    // the look of changedElsewhere first, in the same round trip; readPacket then answers them
    // from what was read, until dropReadAhead. Answers what the look found, as changedElsewhere
    // does (nothing when not asked). Reads that fail here are simply made again when called.
    std::optional<bool> readAhead(const std::vector<PlannedRead>& reads, bool lookForChanges);
    void dropReadAhead() { m_readAhead.clear(); }
    bool hasReadAhead() const { return !m_readAhead.empty(); }

    // A write transaction that holds the write lock from its start (no lock upgrade later).
    // Inside a group, each is a savepoint of the group's transaction instead.
    void begin();
    void commit();
    void rollback();
    // The id of the open write transaction (128 random bits), stored with its audit rows: a
    // commit whose reply was lost is looked up by it on whatever server answers then.
    const QString& writeId() const { return m_writeId; }
    // The write being made stored the id: its transaction's commit can be looked up.
    void writeIdStored() { m_writeIdStored = true; }

    // While grouping, writes join one transaction, committed by endGroup(): a client that sends
    // many writes at once pays for one commit to the disk. Each write stays whole on its own
    // (a savepoint), and none is stored before the group commits.
    void setGrouping(bool on) { m_grouping = on; }
    // Writes released into the group and not yet committed.
    int groupedWrites() const { return m_groupWrites; }
    bool groupPending() const { return m_groupOpen || m_groupLost; }
    // Commits the group: stored, not stored (lost before its commit, or refused by it: then
    // none of its writes is), or unknown (the connection went while COMMIT was on its way and
    // the new one could not tell).
    CommitOutcome endGroup();
    // Whether another connection may have changed the data since the last call: SQLite's
    // data_version, or a notification on PostgreSQL after a round trip (so that one sent by a
    // commit that ended before this call has arrived). The first call after (re)connecting says
    // yes. Nothing when it cannot be told now; the connection is then suspect.
    std::optional<bool> changedElsewhere();
    // Within a write transaction: tells the other connections once it commits (PostgreSQL).
    void announceChange();
    // PostgreSQL: one line saying whether a commit waits for a standby's confirmation.
    QString durabilityNote();
    // Counts the connections opened: a new one shares nothing with what the old one saw.
    quint64 connectionCount() const { return m_connections; }

    // " FOR UPDATE" where the engine locks rows that way.
    const char* lockSuffix() const;

    void bind(QSqlQuery& q, int position, const protocol::FieldSpec& field,
              const QVariant& value) const;
    // A column value in the packet's form: null, QString, double or QDate.
    static QVariant read(const protocol::FieldSpec& field, const QVariant& stored);

    [[noreturn]] void fail(const QString& what, const QString& detail);
    // The driver's text of the last failure, for the operator's log.
    const QString& lastFailure() const { return m_lastFailure; }

private:
    bool connect(QString* error);
    // PostgreSQL: connects to the first host whose server may be written to (ServerIdentity.h);
    // when none is the one written so far, to the newest timeline's primary.
    bool openServer(QString* error);
    // Connects to one host and tells which server answered; nothing when it cannot.
    std::optional<ServerIdentity> openHost(qsizetype host, QStringList* problems);
    void disconnect();
    // COMMIT of the open transaction; on PostgreSQL a commit whose reply was lost with the
    // connection is looked up on a new one by the id its audit rows carry.
    CommitOutcome commitTransaction();
    // Looks up the write by its id; written is the server the commit was sent to.
    CommitOutcome lookUpCommit(QString writeId, ServerIdentity written);
    // One look on the connection open now; nothing while it cannot tell yet.
    std::optional<CommitOutcome> lookUpOnce(const QString& writeId, const ServerIdentity& written);
    // Throws the sentence of fileProblem(), if any.
    void refuseWhenFileUnusable();
    // The user's sentence for a failure whose cause the user can have mended (fileProblem(), or
    // the failed statement found the disk full); empty otherwise.
    QString failureCause();
    // PostgreSQL: a write committed within a short time, cancelled past it; empty when it was,
    // the reason otherwise.
    QString probeWrite();
    // After a connection opens: what interrupt() needs, and the notices of this connection.
    void watchConnection();
    static void onPostgresNotice(void* storage, const pg_result* notice);
    // SQLite's busy handler on this connection: waits up to m_lockWaitMs for another writer's
    // lock, and not at all once interrupted.
    static int waitForLock(void* storage, int count);
    std::optional<bool> changedInFile();
    // SQLite's data_version read now, -1 when it cannot be.
    qint64 fileVersion();
    std::optional<bool> notified();
    sqlite3* sqliteHandle() const;
    pg_conn* postgresConnection() const;
    std::string readPacketFromPostgres(const char* sql, const QVariantList& params,
                                       const QVector<protocol::FieldSpec>& fields);
    struct PostgresRead;
    // The statement prepared on this connection, preparing it the first time.
    const PostgresRead& preparedPostgresRead(pg_conn* connection, const char* sql,
                                             const QVector<protocol::FieldSpec>& fields);
    std::string readPacketFromSqlite(const char* sql, const QVariantList& params,
                                     const QVector<protocol::FieldSpec>& fields);

    DbAddress m_address;
    ServerIdentity m_server; // PostgreSQL: the server this connection reached
    bool m_suspect = false;  // a call failed since the connection last answered
    QString m_name;
    QSqlDatabase m_db;
    QHash<const char*, QSqlQuery> m_queries;
    struct SqliteRead {
        sqlite3_stmt* statement = nullptr;
        std::string head; // the packet up to its rows: the same fields every time
    };
    QHash<const char*, SqliteRead> m_sqliteReads; // by the text given to readPacket
    struct PostgresRead {
        QByteArray name; // of the statement prepared on this connection
        std::string head;
    };
    QHash<const char*, PostgresRead> m_postgresReads;
    struct ReadAhead {
        const char* sql;
        QString parameter;
        std::string packet;
    };
    std::vector<ReadAhead> m_readAhead;
    QString m_lastFailure;
    quint64 m_connections = 0;
    sqlite3_stmt* m_dataVersion = nullptr; // PRAGMA data_version on this connection
    qint64 m_seenVersion = -1;
    bool m_listening = false; // LISTEN issued on this connection
    bool m_notified = false;  // a notification came while the cache was not looking
    bool m_grouping = false;
    bool m_groupOpen = false; // the group's transaction is open
    bool m_groupLost = false; // it ended without a commit; later writes of it are refused
    int m_groupWrites = 0;
    QString m_writeId;
    bool m_writeIdStored = false;       // by the write being made
    bool m_transactionIdStored = false; // by a write released into the open group
    int m_warnings = 0;                 // PostgreSQL warnings received on this connection
    int m_lockWaitMs = BusyTimeoutMs;   // SQLite: how long a lock held elsewhere is waited for
    std::atomic<bool> m_interrupted{false};
    std::mutex m_interruptMutex; // guards the two below against the thread calling interrupt()
    std::shared_ptr<pg_cancel> m_canceller;
    sqlite3* m_interruptible = nullptr;
};

} // namespace rhserver
