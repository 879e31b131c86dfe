#include "Freshness.h"

#include "Storage.h"

#include <sqlite3.h>

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

FileLook::~FileLook() {
    close();
}

bool FileLook::prepare(sqlite3* db) {
    close();
    if (sqlite3_prepare_v2(db, "PRAGMA data_version", -1, &m_statement, nullptr) == SQLITE_OK)
        return true;
    close();
    return false;
}

void FileLook::close() {
    sqlite3_finalize(std::exchange(m_statement, nullptr));
    m_seen = {};
}

FileLook::Seen FileLook::look() {
    if (!m_statement) return Seen::Unknown;
    const int status = sqlite3_step(m_statement);
    const qint64 version = status == SQLITE_ROW ? sqlite3_column_int64(m_statement, 0) : 0;
    sqlite3_reset(m_statement);
    const quint64 writes = ReplyCache::writesCommitted();
    if (status != SQLITE_ROW) {
        m_seen = {};
        return Seen::Unknown;
    }
    if (m_seen.known && version == m_seen.version && writes == m_seen.writes)
        return Seen::Unchanged;
    m_seen = {true, version, writes};
    return Seen::Changed;
}

bool ReadAheadMark::fresh(const Storage& storage) const {
    return writes == ReplyCache::writesCommitted() && connection == storage.connectionCount();
}

void AuditGaps::skipped(qint64 from, qint64 to, qint64 nowMs) {
    // A jump of the numbers larger than can be remembered: the nearest to what follows it.
    for (qint64 number = std::max(from, to - qint64(Most)); number < to; ++number)
        m_gaps.emplace(number, nowMs);
    // The lowest numbers are the oldest gaps.
    while (m_gaps.size() > Most)
        m_gaps.erase(m_gaps.begin());
}

void AuditGaps::forgetOld(qint64 nowMs) {
    for (auto gap = m_gaps.begin(); gap != m_gaps.end();)
        gap = nowMs - gap->second >= MemoryMs ? m_gaps.erase(gap) : std::next(gap);
}

} // namespace rhserver
