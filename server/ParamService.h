#pragma once
// The server object of the parameters service: its methods (contract/Methods.h) over one
// storage connection. Arguments arrive checked for number and kind; every result is
// JSON text, and every failure a ServiceError.

#include "Freshness.h"
#include "Storage.h"

#include "contract/Methods.h"
#include "protocol/Rpc.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace rhserver {

// Who is calling: the branch given at open (the context of the questionnaire flags) and an id
// that names the connection in the audit table.
struct SessionInfo {
    QString branch;
    QString sessionId;
    QString tokenName;     // the name of the token shown at open; empty when none is required
    QString address;       // the client's address, as the connection sees it
    bool readOnly = false; // the token's role allows only the methods that do not write
};

// The arguments as the service applies them, written again from what was parsed: the audit
// row's, and part of a kept reply's key.
std::string appliedJson(const QVector<protocol::Argument>& args);

class ParamService {
public:
    explicit ParamService(Storage& storage)
        : m_storage(storage)
        , m_cache(storage) {}

    // paramsJson is the arguments as applied, written again from what was parsed, for the audit.
    std::string call(const SessionInfo& session, const contract::Method& method,
                     const QVector<protocol::Argument>& args, std::string_view paramsJson);

    // Records a call the session's role does not allow: the method, who and the size of its
    // arguments, with how many of the token's refusals before it went unrecorded. Not a change of
    // the data: nobody is told, no kept reply is dropped.
    void auditRefusal(const SessionInfo& session, const contract::Method& method, size_t bytes,
                      qint64 unrecorded);

    // A read a connection sent, as seen before its call is answered.
    struct PlannedRead {
        const contract::Method* method;
        QString argument;
        QString branch; // the session's
    };
    // The worker takes several calls at once: on PostgreSQL, the reads of one record among them
    // that no kept reply answers are made in one round trip, with the look that the kept replies
    // need. Each call is answered as before; endBatch drops what none of them took.
    void startBatch(const std::vector<PlannedRead>& reads);
    // Whether startBatch makes any read ahead: only where a read costs a round trip.
    bool readsAhead() const { return m_storage.engine() == Engine::PostgreSQL; }
    void endBatch() {
        m_storage.dropReadAhead();
        m_cache.endBatch();
    }

    // The readiness check: throws unless the database takes a write now.
    void ping();
    bool branchExists(const QString& code);

    // While on, consecutive writes share one commit (Storage::setGrouping); anything else
    // commits the group first, so that it reads, checks and caches committed data only.
    void setGrouping(bool on) { m_grouping = on; }
    // Commits the writes grouped so far; how it ended, or nothing when no group was pending.
    std::optional<CommitOutcome> endGroup();
    // How a group ended that a call other than a write committed before it ran, once.
    std::optional<CommitOutcome> takeEndedGroup() {
        return std::exchange(m_endedGroup, std::nullopt);
    }

private:
    void endGroupFirst() {
        if (const std::optional<CommitOutcome> ended = endGroup()) m_endedGroup = ended;
    }

    Storage& m_storage;
    ReplyCache m_cache;
    bool m_grouping = false;
    std::optional<CommitOutcome> m_endedGroup;
    // When the reads were made ahead: a read made before a commit of this process is not served
    // after it.
    ReadAheadMark m_readAhead;
};

} // namespace rhserver
