#pragma once
// Which PostgreSQL server a connection reached, and the database system and timeline the service
// writes to. A promotion starts a new timeline; an old primary started again after one is still
// on the timeline before, and takes writes that the new primary never sees.

#include <QElapsedTimer>
#include <QString>
#include <mutex>

namespace rhserver {

struct ServerIdentity {
    QString system;   // pg_control_system()'s system_identifier: a standby's is its primary's
    int timeline = 0; // the timeline it writes on; 0 when it takes no writes
    bool writable = false;
    qint64 backendPid = 0; // the backend serving this connection, and when it started
    QString backendStart;
};

// Shared by every connection made from one address: a server is written to only when it belongs
// to the system written to so far, on the same timeline or a newer one.
class WrittenSystem {
public:
    enum class Verdict {
        Same,    // the one written to (or, taking no writes, of the same system)
        Newer,   // of a newer timeline, or the first server met
        Refused, // of another system, or of an older timeline
    };
    // why says, for the operator, what a refused server is.
    Verdict judge(const ServerIdentity& server, QString* why) const;
    // Writes go to this server from now on; its timeline is remembered if newer.
    void adopt(const ServerIdentity& server);
    // Whether a refusal is worth a line in the log: every connection of every worker meets the
    // same old primary again and again, and the operator needs to read it once a minute.
    bool worthTelling(const QString& refusal);

private:
    mutable std::mutex m_mutex;
    QString m_system;
    int m_timeline = 0;
    QString m_told; // the last refusal written to the log, and when
    QElapsedTimer m_toldAt;
};

} // namespace rhserver
