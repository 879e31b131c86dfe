#pragma once
// Freshness: when a reply read earlier may be served instead of a new read, and what the change
// watch promises its subscribers. Every rule of that kind in the service is here.
//
// The invariant. A client sees every write acknowledged to anyone before it sent its call: a
// reply read earlier is served only while nothing it shows may have changed since it was read,
// as a look made after the call arrived tells. What may have changed it:
//  - a write of this process committed, or failed half-way through its commit (the commit count,
//    ReplyCache::writeCommitted);
//  - another connection committed: SQLite's data_version moved; on PostgreSQL a notification on
//    rh_dados came (every write sends one in its transaction, delivered only if it commits, and
//    an empty round trip brings every one of a commit acknowledged before it);
//  - the database connection that read it was opened again, or the look could not be made.
// Any of these drops every reply of the kind concerned, never a chosen few.
//
// Replies kept by a worker (ReplyCache): served only after a look made once the call, or the
// batch of calls taken with it, was taken; a batch shares one look while this process commits
// nothing. A reply read without a look is kept, and dropped at the next look if anything changed
// since the one before, which is all that look could tell about it.
// Replies kept by the network thread, SQLite only (FileLook, in KeptReplies): the same look on a
// connection of that thread's own, before a kept reply is served. A result a worker read is kept
// only when the looks before handing it the call and after its answer saw nothing change; one the
// network thread read itself is kept without a look, since any commit after the last look drops
// it at the next. The calls of one turn are read in one read transaction, begun after all of them
// came, never inside another one.
// Reads made ahead, PostgreSQL only (ReadAheadMark): made for one batch, in the round trip of its
// look when a kept reply of the batch needs one, and dropped with the batch; dropped before a call
// once this process committed a write after they were read, or the connection was opened again,
// so a read after a write of the same connection shows it.
//
// The change watch promises: every change committed while some session subscribes (an audit row
// not marked refused) is told to the sessions subscribed to its records but the writer's, one
// notice per record per look and at least NoticeGapMs apart, the last change always told. A gap in
// the audit numbers (a PostgreSQL transaction that took a number and has not committed, or never
// will) is never waited for: what follows it is told at once, and the gap is looked at again at
// each commit (AuditGaps), so a row that fills it within AuditGaps::MemoryMs is told then.
// A change made without rhserver (psql, a restore) writes no audit row and, on PostgreSQL, sends
// no notification: no notice tells it, and kept replies see it only after the next notification.

#include "contract/Methods.h"

#include <QString>
#include <atomic>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

struct sqlite3;
struct sqlite3_stmt;

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

// The network thread's look at an SQLite file: its data_version, through the SQLite C API on a
// connection that does nothing else, and this process's commit count.
class FileLook {
public:
    FileLook() = default;
    ~FileLook();
    FileLook(const FileLook&) = delete;
    FileLook& operator=(const FileLook&) = delete;

    // False when the look cannot be made on that connection.
    bool prepare(sqlite3* db);
    // Before the connection closes.
    void close();
    bool ready() const { return m_statement != nullptr; }

    struct Stamp {
        bool known = false;
        qint64 version = 0;
        quint64 writes = 0;
    };
    enum class Seen { Unchanged, Changed, Unknown };
    // Looks now. Changed (the first look too) or Unknown: whatever was kept must be dropped.
    Seen look();
    const Stamp& seen() const { return m_seen; }
    // Whether the last look saw nothing change since the stamp was taken.
    bool unchangedSince(const Stamp& before) const {
        return before.known && before.version == m_seen.version && before.writes == m_seen.writes;
    }

private:
    sqlite3_stmt* m_statement = nullptr;
    Stamp m_seen;
};

// What had been committed, and on which connection, when a worker read ahead.
struct ReadAheadMark {
    quint64 writes = 0; // counted before the database was asked
    quint64 connection = 0;
    // Whether what was read ahead may still be served.
    bool fresh(const Storage& storage) const;
};

// The audit numbers the change watch skipped below the newest it read: each looked at again
// until a row fills it, for MemoryMs at most and Most at once (past that the oldest go).
class AuditGaps {
public:
    static constexpr qint64 MemoryMs = 60000;
    static constexpr size_t Most = 256;

    // The numbers from `from` up to `to` (not included) were skipped at the time given (ms).
    void skipped(qint64 from, qint64 to, qint64 nowMs);
    void filled(qint64 number) { m_gaps.erase(number); }
    void forgetOld(qint64 nowMs);
    void clear() { m_gaps.clear(); }
    // number: when it was first skipped
    const std::map<qint64, qint64>& numbers() const { return m_gaps; }

private:
    std::map<qint64, qint64> m_gaps;
};

} // namespace rhserver
