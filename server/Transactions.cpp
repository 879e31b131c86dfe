#include "Storage.h"

#include "Log.h"
#include "protocol/Rpc.h"

#include <QElapsedTimer>
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
} // namespace

void Storage::begin() {
    // Where a transaction opens: the writes of a group share the check of its first.
    if (!m_groupOpen) refuseWhenFileUnusable();
    if (!m_grouping) {
        execDirect(m_address.engine == Engine::SQLite ? QStringLiteral("BEGIN IMMEDIATE")
                                                      : QStringLiteral("BEGIN"));
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
}

void Storage::rollback() {
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
    if (m_groupOpen) {
        m_groupOpen = false;
        outcome = commitTransaction();
    }
    m_groupLost = false;
    m_groupWrites = 0;
    return outcome;
}

CommitOutcome Storage::commitTransaction() {
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
    qint64 transaction = -1;
    if (m_address.engine == Engine::PostgreSQL) {
        // Its number, to ask after it should the reply to COMMIT be lost.
        QSqlQuery id(m_db);
        if (id.exec(QStringLiteral("SELECT txid_current()")) && id.next())
            transaction = id.value(0).toLongLong();
    }
    const int warningsBefore = m_warnings;
    QSqlQuery q(m_db);
    if (q.exec(QStringLiteral("COMMIT"))) {
        // A commit whose wait for the standby was cancelled (at shutdown, or by the operator)
        // is answered with a warning: stored here, maybe not on the standby that a failover
        // would promote.
        if (m_warnings == warningsBefore) return CommitOutcome::Stored;
        logLine(QStringLiteral("transação %1: a espera pela confirmação do standby foi "
                               "interrompida; resultado desconhecido")
                    .arg(transaction));
        return CommitOutcome::Unknown;
    }
    m_lastFailure = q.lastError().text();
    m_suspect = true;
    logLine(QStringLiteral("falha no banco de dados (COMMIT): %1").arg(m_lastFailure));
    const PGconn* connection = postgresConnection();
    if (transaction < 0 || !connection || PQstatus(connection) == CONNECTION_OK) {
        // The database answered: the transaction was refused and taken back.
        QSqlQuery(m_db).exec(QStringLiteral("ROLLBACK"));
        return CommitOutcome::NotStored;
    }
    return lookUpCommit(transaction);
}

CommitOutcome Storage::lookUpCommit(qint64 transaction) {
    // The database may have committed before the connection went: a new connection asks, for a
    // few seconds (a failover takes some), rather than guess either way.
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < LookUpCommitMs && !m_interrupted) {
        disconnect();
        QString error;
        if (connect(&error)) {
            m_suspect = false;
            QSqlQuery q(m_db);
            if (q.exec(QStringLiteral("SELECT txid_status(%1)").arg(transaction)) && q.next()) {
                const QString status = q.value(0).toString();
                logLine(QStringLiteral("transação %1, cuja confirmação se perdeu com a conexão: %2")
                            .arg(transaction)
                            .arg(status.isEmpty() ? QStringLiteral("desconhecida") : status));
                if (status == QLatin1String("committed")) return CommitOutcome::Stored;
                if (status == QLatin1String("aborted")) return CommitOutcome::NotStored;
                if (status != QLatin1String("in progress")) return CommitOutcome::Unknown;
            } else if (const PGconn* c = postgresConnection(); c && PQstatus(c) == CONNECTION_OK) {
                // The database answered and will not tell (a number it never gave, after a
                // failover to a standby that missed it): asking again tells no more.
                logLine(QStringLiteral("transação %1: o banco não informa o estado (%2)")
                            .arg(transaction)
                            .arg(q.lastError().text()));
                return CommitOutcome::Unknown;
            }
        }
        QThread::msleep(200);
    }
    m_suspect = true;
    logLine(QStringLiteral("transação %1: não foi possível saber se foi gravada").arg(transaction));
    return CommitOutcome::Unknown;
}

QString unknownOutcomeText() {
    return QStringLiteral("A ligação com o banco de dados caiu enquanto a alteração era "
                          "confirmada, e não foi possível saber se ela foi gravada (resultado "
                          "desconhecido). Consulte os dados antes de repetir a alteração.");
}

} // namespace rhserver
