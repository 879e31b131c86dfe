#include "Storage.h"

#include "Log.h"
#include "protocol/Rpc.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSqlError>
#include <QThread>
#include <libpq-fe.h>

// Write transactions: one write, a group of writes sharing one commit, and what became of a
// commit whose reply was lost with the connection.

namespace rhserver {

namespace {
// How long a commit whose reply was lost is looked up on new connections.
constexpr qint64 LookUpCommitMs = 15000;
// The advisory lock a PostgreSQL write group holds for its transaction.
constexpr qint64 GroupLockKey = 0x52480047;

QString outcomeText(CommitOutcome outcome) {
    switch (outcome) {
    case CommitOutcome::Stored:
        return QStringLiteral("gravada");
    case CommitOutcome::NotStored:
        return QStringLiteral("não gravada");
    case CommitOutcome::Unknown:
        break;
    }
    return QStringLiteral("desconhecida (quem responde agora é outro servidor, promovido depois)");
}

QString newWriteId() {
    quint64 bits[2];
    QRandomGenerator::system()->fillRange(bits);
    return QStringLiteral("%1%2")
        .arg(bits[0], 16, 16, QChar(u'0'))
        .arg(bits[1], 16, 16, QChar(u'0'));
}
} // namespace

void Storage::begin() {
    // Where a transaction opens: the writes of a group share the check of its first.
    if (!m_groupOpen) refuseWhenFileUnusable();
    m_writeIdStored = false;
    if (!m_grouping) {
        execDirect(m_address.engine == Engine::SQLite ? QStringLiteral("BEGIN IMMEDIATE")
                                                      : QStringLiteral("BEGIN"));
        m_writeId = newWriteId();
        m_transactionIdStored = false;
        return;
    }
    if (m_groupLost)
        fail(QStringLiteral("gravar em grupo"),
             QStringLiteral("o grupo de gravações anterior foi perdido"));
    const bool first = !m_groupOpen;
    try {
        if (first) {
            execDirect(m_address.engine == Engine::SQLite ? QStringLiteral("BEGIN IMMEDIATE")
                                                          : QStringLiteral("BEGIN"));
            m_groupOpen = true;
            m_writeId = newWriteId();
            m_transactionIdStored = false;
            // Groups hold the row locks of several writes at once: taken one group at a time,
            // two groups never wait on each other's rows in opposite orders.
            if (m_address.engine == Engine::PostgreSQL)
                execDirect(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(GroupLockKey));
        }
        execDirect(QStringLiteral("SAVEPOINT gravacao"));
    } catch (const ServiceError&) {
        // The transaction may be unusable now: what it holds is lost, if anything.
        QSqlQuery(m_db).exec(QStringLiteral("ROLLBACK"));
        m_groupOpen = false;
        m_groupLost = m_groupWrites > 0;
        throw;
    }
}

void Storage::commit() {
    if (!m_groupOpen) {
        switch (commitTransaction()) {
        case CommitOutcome::Stored:
            return;
        case CommitOutcome::NotStored:
            fail(QStringLiteral("gravar"), m_lastFailure);
        case CommitOutcome::Unknown:
            throw ServiceError{protocol::ErrorCode::OutcomeUnknown, unknownOutcomeText()};
        }
        return;
    }
    execDirect(QStringLiteral("RELEASE SAVEPOINT gravacao"));
    ++m_groupWrites;
    m_transactionIdStored = m_transactionIdStored || m_writeIdStored;
    m_writeIdStored = false;
}

void Storage::rollback() {
    m_writeIdStored = false; // its audit rows are taken back with it
    QSqlQuery q(m_db);
    if (!m_groupOpen) {
        q.exec(QStringLiteral("ROLLBACK")); // nothing to do when the transaction already ended
        return;
    }
    // Only this write is taken back; the group's earlier writes stay in it.
    if (!q.exec(QStringLiteral("ROLLBACK TO SAVEPOINT gravacao")) ||
        !q.exec(QStringLiteral("RELEASE SAVEPOINT gravacao"))) {
        q.exec(QStringLiteral("ROLLBACK"));
        m_groupOpen = false;
        m_groupLost = true;
    }
}

CommitOutcome Storage::endGroup() {
    CommitOutcome outcome = m_groupLost ? CommitOutcome::NotStored : CommitOutcome::Stored;
    if (m_groupOpen && m_groupWrites == 0) {
        // Every write of it changed nothing or was taken back: there is nothing to commit, and
        // no answer waits for it.
        QSqlQuery(m_db).exec(QStringLiteral("ROLLBACK"));
        m_groupOpen = false;
    } else if (m_groupOpen) {
        m_groupOpen = false;
        outcome = commitTransaction();
    }
    m_groupLost = false;
    m_groupWrites = 0;
    return outcome;
}

CommitOutcome Storage::commitTransaction() {
    const bool lookable = std::exchange(m_transactionIdStored, false) || m_writeIdStored;
    m_writeIdStored = false;
    // PostgreSQL answers a COMMIT of a failed transaction by rolling it back, as a success.
    if (const PGconn* connection = postgresConnection();
        connection && PQtransactionStatus(connection) == PQTRANS_INERROR) {
        QSqlQuery(m_db).exec(QStringLiteral("ROLLBACK"));
        m_lastFailure = QStringLiteral("a transação falhou antes da confirmação");
        return CommitOutcome::NotStored;
    }
    // Shutting down: a commit begun now could wait past the end for a standby.
    if (m_interrupted) {
        QSqlQuery(m_db).exec(QStringLiteral("ROLLBACK"));
        m_lastFailure = QStringLiteral("o serviço está sendo encerrado");
        return CommitOutcome::NotStored;
    }
    const int warningsBefore = m_warnings;
    QSqlQuery q(m_db);
    if (q.exec(QStringLiteral("COMMIT"))) {
        // A commit whose wait for the standby was cancelled (at shutdown, or by the operator)
        // is answered with a warning: stored here, maybe not on the standby that a failover
        // would promote.
        if (m_warnings == warningsBefore) return CommitOutcome::Stored;
        logLine(QStringLiteral("gravação %1: a espera pela confirmação do standby foi "
                               "interrompida; resultado desconhecido")
                    .arg(m_writeId));
        return CommitOutcome::Unknown;
    }
    m_lastFailure = q.lastError().text();
    m_suspect = true;
    logLine(QStringLiteral("falha no banco de dados (COMMIT): %1").arg(m_lastFailure));
    const PGconn* connection = postgresConnection();
    if (!connection || PQstatus(connection) == CONNECTION_OK) {
        // The database answered: the transaction was refused and taken back.
        QSqlQuery(m_db).exec(QStringLiteral("ROLLBACK"));
        return CommitOutcome::NotStored;
    }
    if (!lookable) {
        logLine(QStringLiteral("a confirmação se perdeu com a conexão, e a transação não guardou "
                               "nada pelo qual possa ser procurada"));
        return CommitOutcome::Unknown;
    }
    return lookUpCommit(m_writeId, m_server);
}

CommitOutcome Storage::lookUpCommit(QString writeId, ServerIdentity written) {
    // The database may have committed before the connection went: the write is looked up on new
    // connections, for a few seconds (a failover takes some), rather than guessed either way.
    QElapsedTimer clock;
    clock.start();
    bool connected = false;
    while (clock.elapsed() < LookUpCommitMs && !m_interrupted) {
        if (!connected) {
            disconnect();
            QString error;
            connected = connect(&error);
        }
        if (connected) {
            if (const std::optional<CommitOutcome> outcome = lookUpOnce(writeId, written)) {
                m_suspect = false;
                logLine(QStringLiteral("gravação %1, cuja confirmação se perdeu com a conexão: %2")
                            .arg(writeId, outcomeText(*outcome)));
                return *outcome;
            }
            const PGconn* c = postgresConnection();
            connected = c && PQstatus(c) == CONNECTION_OK;
        }
        QThread::msleep(200);
    }
    m_suspect = true;
    logLine(QStringLiteral("gravação %1: não foi possível saber se foi gravada").arg(writeId));
    return CommitOutcome::Unknown;
}

std::optional<CommitOutcome> Storage::lookUpOnce(const QString& writeId,
                                                 const ServerIdentity& written) {
    // On the server written to, "not found" means "not stored" only once the transaction is
    // over: its backend may still be committing (waiting for a synchronous standby, say).
    const bool sameServer =
        m_server.system == written.system && m_server.timeline == written.timeline;
    bool over = false;
    QSqlQuery q(m_db);
    if (sameServer) {
        q.prepare(QStringLiteral("SELECT NOT EXISTS (SELECT 1 FROM pg_stat_activity WHERE pid = ? "
                                 "AND backend_start::text = ?)"));
        q.bindValue(0, written.backendPid);
        q.bindValue(1, written.backendStart);
        if (!q.exec() || !q.next()) return std::nullopt;
        over = q.value(0).toBool();
    }
    q.prepare(QStringLiteral("SELECT EXISTS (SELECT 1 FROM RHAUDITORIA WHERE IDGRAVACAO = ?)"));
    q.bindValue(0, writeId);
    if (!q.exec() || !q.next()) return std::nullopt;
    if (q.value(0).toBool()) return CommitOutcome::Stored;
    // A newer timeline's server never gets what the old primary committed after it was
    // promoted, and whether the old primary did cannot be known here.
    if (!sameServer) return CommitOutcome::Unknown;
    if (over) return CommitOutcome::NotStored;
    return std::nullopt;
}

QString unknownOutcomeText() {
    return QStringLiteral("A ligação com o banco de dados caiu enquanto a alteração era "
                          "confirmada, e não foi possível saber se ela foi gravada (resultado "
                          "desconhecido). Consulte os dados antes de repetir a alteração.");
}

} // namespace rhserver
