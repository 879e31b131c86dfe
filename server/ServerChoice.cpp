#include "Storage.h"

#include "Log.h"

#include <QSqlError>
#include <QSqlQuery>

// Which PostgreSQL server a connection goes to. libpq, given several hosts, takes the first that
// takes writes, and an old primary started again after a promotion does: so the hosts are tried
// here one at a time, and each server is judged by its system and timeline before it is used.

namespace rhserver {

std::optional<ServerIdentity> Storage::openHost(qsizetype host, QStringList* problems) {
    const QString name = m_address.hosts[host] + u':' + QString::number(m_address.ports[host]);
    m_db.setHostName(m_address.hosts[host]);
    m_db.setPort(m_address.ports[host]);
    if (!m_db.open()) {
        *problems << name + QStringLiteral(": ") + m_db.lastError().text().simplified();
        return std::nullopt;
    }
    // The timeline of the WAL being written now: the one a promotion started, at once (the
    // control file's changes only at the next checkpoint).
    QSqlQuery q(m_db);
    if (q.exec(QStringLiteral(
            "SELECT (SELECT system_identifier FROM pg_control_system())::text, "
            "NOT pg_is_in_recovery() AND current_setting('transaction_read_only') = 'off', "
            "CASE WHEN pg_is_in_recovery() THEN 0 ELSE ('x' || substr(pg_walfile_name("
            "pg_current_wal_lsn()), 1, 8))::bit(32)::int END, pg_backend_pid(), "
            "(SELECT backend_start::text FROM pg_stat_activity WHERE pid = pg_backend_pid())")) &&
        q.next()) {
        ServerIdentity server{q.value(0).toString(), q.value(2).toInt(), q.value(1).toBool(),
                              q.value(3).toLongLong(), q.value(4).toString()};
        if (!server.writable) server.timeline = 0;
        // Several hosts are there for a primary: a standby is passed over.
        if (server.writable || !m_address.severalHosts()) return server;
        *problems << name + QStringLiteral(": não aceita gravações");
    } else {
        *problems << name + QStringLiteral(": ") + q.lastError().text().simplified();
    }
    q.finish();
    m_db.close();
    return std::nullopt;
}

bool Storage::openServer(QString* error) {
    WrittenSystem& written = *m_address.written;
    QStringList problems;
    const qsizetype hosts = m_address.hosts.size();
    qsizetype best = -1;
    ServerIdentity newest;
    for (qsizetype i = 0; i < hosts; ++i) {
        std::optional<ServerIdentity> server = openHost(i, &problems);
        if (!server) continue;
        QString why;
        const WrittenSystem::Verdict verdict = written.judge(*server, &why);
        if (verdict == WrittenSystem::Verdict::Refused ||
            (best >= 0 && server->system != newest.system)) {
            if (why.isEmpty()) why = QStringLiteral("é de outro sistema de banco de dados");
            const QString name = m_address.hosts[i] + u':' + QString::number(m_address.ports[i]);
            problems << name + QStringLiteral(": ") + why;
            if (written.worthTelling(problems.last()))
                logLine(QStringLiteral("o servidor %1 não recebe gravações: %2").arg(name, why));
            m_db.close();
            continue;
        }
        if (verdict == WrittenSystem::Verdict::Same) {
            written.adopt(*server);
            m_server = *server;
            return true;
        }
        // A newer timeline, or nothing written yet: the rest of the list may hold a newer one
        // still (the old primary may come first), and the newest is taken.
        if (best < 0 || server->timeline > newest.timeline) {
            best = i;
            newest = *server;
        }
        if (i == hosts - 1 && best == i) {
            written.adopt(*server);
            m_server = *server;
            return true;
        }
        m_db.close();
    }
    if (best >= 0) {
        std::optional<ServerIdentity> server = openHost(best, &problems);
        QString why;
        if (server && server->system == newest.system && server->timeline >= newest.timeline &&
            written.judge(*server, &why) != WrittenSystem::Verdict::Refused) {
            written.adopt(*server);
            m_server = *server;
            return true;
        }
        if (server) m_db.close();
        problems << QStringLiteral("o servidor escolhido mudou ao ser aberto de novo");
    }
    *error = QStringLiteral("Não foi possível abrir o banco de dados %1: %2.")
                 .arg(m_address.display(), problems.join(QStringLiteral("; ")));
    return false;
}

} // namespace rhserver
