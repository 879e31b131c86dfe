#pragma once
// Replies of read methods kept by one worker and dropped whenever the stored data may have
// changed: after every write committed by this process, when another connection has committed
// (SQLite's data_version, a PostgreSQL notification sent in the writer's transaction), and when
// the worker's database connection was opened again or cannot be asked.

#include "contract/Methods.h"

#include <QString>
#include <atomic>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace rhserver {

class Storage;

class ReplyCache {
public:
    // Whether a method's reply may be kept: the one place that decides, for the workers and
    // for the network thread.
    static bool keeps(const contract::Method& method);
    // The key of a call: the method, its arguments as applied and, where it matters, the branch.
    static std::string key(const contract::Method& method, std::string_view argsJson,
                           const QString& branch);

    explicit ReplyCache(Storage& storage)
        : m_storage(storage) {}

    // Before a reply kept here is served: drops every reply that may be stale, that is each one
    // when anything changed since the last call. False when that cannot be told now; the call is
    // then answered from the database and not kept.
    bool validate();
    // The same with a look made already (Storage::readAhead's), the process's writes counted
    // before it.
    bool validate(quint64 writesBefore, std::optional<bool> changedElsewhere);
    // A batch of calls taken at once by the worker begins: they all came before its first look,
    // so that look serves every one of them while this process commits nothing meanwhile. Out
    // of a batch, every kept reply served is looked for alone.
    void startBatch() {
        m_inBatch = true;
        m_lookedInBatch = false;
    }
    void endBatch() { m_inBatch = false; }
    const std::string* find(const std::string& key) const;
    void store(std::string key, const std::string& reply);
    size_t size() const { return m_replies.size(); }

    // After a write of this process committed (or may have): every worker's replies are stale.
    static void writeCommitted() { s_writes.fetch_add(1); }
    static quint64 writesCommitted() { return s_writes.load(); }

    // One worker keeps at most this much; past it the cache starts over.
    static constexpr size_t MaxBytes = 16u << 20;
    static constexpr size_t MaxEntries = 4096;

private:
    void clear();

    static std::atomic<quint64> s_writes;
    Storage& m_storage;
    std::unordered_map<std::string, std::string> m_replies;
    size_t m_bytes = 0;
    quint64 m_writesSeen = ~quint64(0);
    quint64 m_connection = 0;
    bool m_inBatch = false;
    bool m_lookedInBatch = false;
};

} // namespace rhserver
