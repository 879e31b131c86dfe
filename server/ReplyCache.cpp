#include "ReplyCache.h"

#include "Storage.h"

namespace rhserver {

std::atomic<quint64> ReplyCache::s_writes{0};

bool ReplyCache::keeps(const contract::Method& method) {
    // Only reads whose reply is a function of the stored data, the arguments and the branch.
    return !method.writes && method.cache != contract::Cache::None;
}

std::string ReplyCache::key(const contract::Method& method, std::string_view argsJson,
                            const QString& branch) {
    // The arguments are JSON, which never holds a raw newline: the parts cannot run together.
    std::string k;
    k.reserve(size_t(method.name.size()) + argsJson.size() + 8);
    k.append(method.view()).append(1, '\n').append(argsJson);
    if (method.cache == contract::Cache::PerBranch) k.append(1, '\n').append(branch.toStdString());
    return k;
}

bool ReplyCache::validate() {
    // Read before the database is asked and before the reply is made: a write that commits in
    // between is seen on the next call, and its reply is dropped then.
    const quint64 writes = s_writes.load();
    if (m_inBatch && m_lookedInBatch && writes == m_writesSeen &&
        m_connection == m_storage.connectionCount())
        return true;
    return validate(writes, m_storage.changedElsewhere());
}

bool ReplyCache::validate(quint64 writesBefore, std::optional<bool> changedElsewhere) {
    if (m_connection != m_storage.connectionCount()) {
        clear();
        m_connection = m_storage.connectionCount();
    }
    if (writesBefore != m_writesSeen) {
        clear();
        m_writesSeen = writesBefore;
    }
    if (!changedElsewhere || *changedElsewhere) clear();
    m_lookedInBatch = changedElsewhere.has_value();
    if (!changedElsewhere) {
        m_writesSeen = ~quint64(0); // start over once the database answers again
        return false;
    }
    return true;
}

const std::string* ReplyCache::find(const std::string& key) const {
    const auto it = m_replies.find(key);
    return it == m_replies.end() ? nullptr : &it->second;
}

void ReplyCache::store(std::string key, const std::string& reply) {
    const size_t cost = key.size() + reply.size();
    if (cost > MaxBytes / 4) return;
    if (m_bytes + cost > MaxBytes || m_replies.size() >= MaxEntries) clear();
    if (m_replies.try_emplace(std::move(key), reply).second) m_bytes += cost;
}

void ReplyCache::clear() {
    m_replies.clear();
    m_bytes = 0;
}

} // namespace rhserver
