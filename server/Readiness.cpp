#include "Storage.h"

#include "Log.h"
#include "protocol/Rpc.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <iterator>
#include <libpq-fe.h>
#include <numeric>
#include <poll.h>
#include <sqlite3.h>
#include <sys/statvfs.h>

// Whether a write could be stored now (the readiness check and the refusals it shares with the
// writes), and the interruption of a connection's work at shutdown.

namespace rhserver {

namespace {
// How long the PostgreSQL write probe may take, its commit and a standby's confirmation
// included; past it, it is cancelled and the database is not ready.
constexpr int ProbeMs = 1500;
// After the cancel, how long the server may take to answer it before the connection is given up.
constexpr int CancelAnswerMs = 2000;
// Below this much free space on the SQLite file's disk, writes are refused and the service is not
// ready: the write-ahead log alone grows by up to 4 MiB between checkpoints.
constexpr qint64 FreeSpaceMargin = 4 * 1024 * 1024;

// The probe's write changes nothing but is a real one: it takes a transaction id and waits, at
// commit, for the standby's confirmation, as every write does. One row of a table that only
// the schema upgrades write; the old row versions it leaves are pruned as any update's.
constexpr const char* ProbeSql =
    "BEGIN; UPDATE RHVERSAO SET DTAPLICACAO = DTAPLICACAO WHERE NRVERSAO = "
    "(SELECT MIN(NRVERSAO) FROM RHVERSAO); COMMIT";

QString fullDiskText() {
    return QStringLiteral("O disco do banco de dados está cheio, e nenhuma alteração é gravada. "
                          "Avise o administrador do sistema para liberar espaço; as gravações "
                          "voltam assim que houver espaço.");
}
} // namespace

void Storage::checkWritable() {
    if (m_address.engine == Engine::PostgreSQL) {
        const QString problem = probeWrite();
        if (!problem.isEmpty()) fail(QStringLiteral("gravação de teste"), problem);
        return;
    }
    // A rolled-back write never reaches the file in WAL mode, so neither a deleted file nor a full
    // disk would show in it: both are looked at first.
    if (const QString problem = fileProblem(); !problem.isEmpty())
        fail(QStringLiteral("verificar o arquivo %1").arg(m_address.path), problem);
    // A second for the write lock; when it stays taken, writes that other connections committed
    // meanwhile show the database takes writes and is only busy. Under an ordinary write load the
    // lock is rarely free for a whole second, and that must not take the server out of service.
    const qint64 before = fileVersion();
    struct ShortLockWait {
        int& limit;
        explicit ShortLockWait(int& l)
            : limit(l) {
            limit = 1000;
        }
        ~ShortLockWait() { limit = BusyTimeoutMs; }
    } shortWait(m_lockWaitMs);
    try {
        begin();
        execDirect(QStringLiteral("UPDATE RHVERSAO SET DTAPLICACAO = DTAPLICACAO"));
        rollback();
    } catch (...) {
        rollback();
        const qint64 after = fileVersion();
        if (before >= 0 && after >= 0 && after != before) return;
        throw;
    }
}

QString Storage::fileProblem() {
    if (m_address.engine != Engine::SQLite) return {};
    int moved = 0;
    if (sqlite3* handle = sqliteHandle();
        handle &&
        sqlite3_file_control(handle, "main", SQLITE_FCNTL_HAS_MOVED, &moved) == SQLITE_OK && moved)
        return QStringLiteral(
            "O arquivo do banco de dados foi apagado ou movido enquanto o servidor estava no ar, "
            "e nenhuma alteração é gravada. Avise o administrador do sistema: é preciso pôr o "
            "arquivo de volta no lugar (ou restaurar a cópia de segurança) e reiniciar o "
            "servidor.");
    struct statvfs disk {};
    const QByteArray folder = QFile::encodeName(QFileInfo(m_address.path).absolutePath());
    const bool full = ::statvfs(folder.constData(), &disk) == 0 &&
                      qint64(disk.f_bavail) * qint64(disk.f_frsize) < FreeSpaceMargin;
    return full ? fullDiskText() : QString();
}

QString Storage::failureCause() {
    if (const QString problem = fileProblem(); !problem.isEmpty()) return problem;
    // The statement that just failed found no room, however much the disk shows free now.
    sqlite3* handle = sqliteHandle();
    return handle && sqlite3_errcode(handle) == SQLITE_FULL ? fullDiskText() : QString();
}

void Storage::refuseWhenFileUnusable() {
    if (const QString problem = fileProblem(); !problem.isEmpty())
        throw ServiceError{protocol::ErrorCode::StorageFailure, problem};
}

QString Storage::probeWrite() {
    PGconn* connection = postgresConnection();
    if (!connection) return QStringLiteral("sem conexão com o banco");
    // What the driver left unread of its last statement, as PQexec would discard it.
    while (PGresult* left = PQgetResult(connection))
        PQclear(left);
    if (!PQsendQuery(connection, ProbeSql))
        return QString::fromUtf8(PQerrorMessage(connection)).trimmed();
    const int warningsBefore = m_warnings;
    QDeadlineTimer deadline(ProbeMs);
    QString problem;
    bool cancelled = false;
    for (;;) {
        if (!PQisBusy(connection)) {
            PGresult* result = PQgetResult(connection);
            if (!result) break;
            if (PQresultStatus(result) != PGRES_COMMAND_OK && problem.isEmpty())
                problem = QString::fromUtf8(PQresultErrorMessage(result)).trimmed();
            PQclear(result);
            continue;
        }
        pollfd socket{PQsocket(connection), POLLIN, 0};
        const int waitMs = cancelled ? CancelAnswerMs : int(deadline.remainingTime());
        const int ready = ::poll(&socket, 1, std::max(0, waitMs));
        if (ready > 0) {
            if (!PQconsumeInput(connection)) {
                m_suspect = true;
                return QString::fromUtf8(PQerrorMessage(connection)).trimmed();
            }
            continue;
        }
        if (ready < 0 && errno == EINTR) continue;
        if (cancelled) {
            // Not even the cancel was answered: the connection is made again before its next use.
            m_suspect = true;
            return QStringLiteral("o banco não respondeu nem ao cancelamento da gravação de teste");
        }
        // A commit waiting for a standby that does not confirm ends, when cancelled, committed
        // here only, with a warning: the database does not take writes as it should.
        char why[256] = {};
        PGcancel* cancel = PQgetCancel(connection);
        if (cancel) PQcancel(cancel, why, sizeof why);
        PQfreeCancel(cancel);
        cancelled = true;
        problem = QStringLiteral("a gravação de teste não terminou em %1 ms (um standby síncrono "
                                 "fora do ar, ou uma trava mantida por outro programa)")
                      .arg(ProbeMs);
    }
    if (PQtransactionStatus(connection) != PQTRANS_IDLE) PQclear(PQexec(connection, "ROLLBACK"));
    if (problem.isEmpty() && m_warnings != warningsBefore)
        problem = QStringLiteral("a confirmação da gravação de teste veio com um aviso");
    return problem;
}

int Storage::waitForLock(void* storage, int count) {
    // SQLite's own busy timeout, sleep for sleep, but one that ends at once at shutdown:
    // sqlite3_interrupt does not end a wait for a lock.
    static constexpr int Sleeps[] = {1, 2, 5, 10, 15, 20, 25, 25, 25, 50, 50, 100};
    constexpr int Steps = int(std::size(Sleeps));
    constexpr int SleptThroughSteps = 328; // the sum of Sleeps
    const auto* self = static_cast<const Storage*>(storage);
    if (self->m_interrupted) return 0;
    int sleep = count < Steps ? Sleeps[count] : Sleeps[Steps - 1];
    const int slept = count < Steps ? std::accumulate(Sleeps, Sleeps + count, 0)
                                    : SleptThroughSteps + (count - Steps) * Sleeps[Steps - 1];
    sleep = std::min(sleep, self->m_lockWaitMs - slept);
    if (sleep <= 0) return 0;
    QThread::msleep(ulong(sleep));
    return 1;
}

void Storage::watchConnection() {
    const std::lock_guard lock(m_interruptMutex);
    m_interruptible = sqliteHandle();
    if (m_interruptible) sqlite3_busy_handler(m_interruptible, &Storage::waitForLock, this);
    m_canceller.reset();
    if (PGconn* connection = postgresConnection()) {
        m_canceller.reset(PQgetCancel(connection), PQfreeCancel);
        PQsetNoticeReceiver(connection, &Storage::onPostgresNotice, this);
    }
}

void Storage::onPostgresNotice(void* storage, const PGresult* notice) {
    // A warning may say that a commit's wait for a standby was cut short: the commit then looks at
    // the count. Notices below a warning (a table already there, at --init) are of no use here,
    // nor the warning of a rollback after a commit that failed (no transaction in progress).
    const char* severity = PQresultErrorField(notice, PG_DIAG_SEVERITY_NONLOCALIZED);
    const char* state = PQresultErrorField(notice, PG_DIAG_SQLSTATE);
    if (!severity || qstrcmp(severity, "WARNING") != 0 || qstrcmp(state, "25P01") == 0) return;
    ++static_cast<Storage*>(storage)->m_warnings;
    logLine(QStringLiteral("aviso do banco de dados: %1")
                .arg(QString::fromUtf8(PQresultErrorMessage(notice)).simplified()));
}

std::function<void()> Storage::interrupt() {
    m_interrupted = true;
    const std::lock_guard lock(m_interruptMutex);
    if (m_interruptible) sqlite3_interrupt(m_interruptible);
    return [canceller = m_canceller] {
        char why[256] = {};
        if (canceller) PQcancel(canceller.get(), why, sizeof why);
    };
}

} // namespace rhserver
