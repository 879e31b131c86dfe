#pragma once
// Replies of read methods that the network thread answers itself, without handing the call to a
// storage worker, while nothing has been committed since they were read; and the reads of one
// record, which it makes itself. SQLite only: whether anything was committed is one look at the
// database's shared memory, and a record one indexed read, through a connection of the network
// thread's own that never waits for a lock. A look or a read that cannot be had at once (a busy
// database) sends the call to a worker like any other, so the network thread never waits on
// another writer.

#include "Freshness.h"
#include "Storage.h"

#include "contract/Methods.h"

#include <QByteArray>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <optional>
#include <simdjson.h>
#include <string>
#include <unordered_map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace rhserver {

class KeptReplies {
public:
    explicit KeptReplies(const DbAddress& address);
    ~KeptReplies();
    KeptReplies(const KeptReplies&) = delete;
    KeptReplies& operator=(const KeptReplies&) = delete;

    bool enabled() const { return m_look.ready(); }

    struct Request {
        std::string key;
        std::string idJson;
        const contract::Method* method = nullptr;
        QVariantList args; // texts
    };
    // A well-formed call of a read method whose reply may be kept, with text arguments only;
    // anything else (a write, an error to answer, a repeated key) is left to the workers.
    std::optional<Request> readRequest(const QByteArray& line, const QString& branch);

    // The kept result of that call, when nothing was committed since it was read. Only a key it
    // holds costs a look at the database.
    const std::string* find(const std::string& key);

    // Taken before a call is handed to a worker; its result is kept only if nothing was committed
    // from then until it comes back.
    using Stamp = FileLook::Stamp;
    // A look at the database now, to be given back with the result of a call handed to a worker.
    Stamp stampNow() {
        look();
        return m_look.seen();
    }
    void store(const Stamp& before, std::string key, std::string result);
    // Keeps a result read just now on this thread: any commit after the last look makes the next
    // look drop it, so no look is needed before.
    // The result of a read of one record (GetGeral, GetFilial), read now; nothing for another
    // method, or when the read would have to wait or fails: a worker then answers the call.
    std::optional<std::string> readNow(const Request& request);
    void keepReadNow(std::string key, std::string result);

    // Whether the network thread may answer the call itself: its result is kept, or it reads
    // one record.
    bool mayAnswer(const Request& request) const;
    // Answers the call once this turn of the event loop has read every request it could: the
    // calls read in one turn are answered together, in one read transaction of the database, so
    // its locks are taken once for them all. The answer gets the kept or freshly read result, or
    // null when a worker must answer the call. Nothing is called once the caller is gone.
    // With one client connected nothing could join its call: that one is answered at once.
    using Answer = std::function<void(Request& request, const std::string* result)>;
    void answerInTurn(Request request, QObject* caller, Answer answer);
    // The connections that may call answerInTurn, as they open and close.
    void connectionOpened() { ++m_connections; }
    void connectionClosed() { --m_connections; }

    // Results larger than this go out as usual and are not kept here.
    static constexpr size_t MaxResult = 64 * 1024;
    static constexpr size_t MaxEntries = 1024;
    // What it keeps in all; past it, it starts over.
    static constexpr size_t MaxBytes = 16u << 20;
    size_t bytes() const { return m_bytes; }

private:
    // Reads whether anything was committed and drops every result when it was; false when that
    // cannot be told now.
    bool look();
    void answerWaiting();

    sqlite3* m_db = nullptr;
    FileLook m_look;
    struct Read {
        sqlite3_stmt* statement = nullptr;
        std::string head;
    };
    std::unordered_map<const char*, Read> m_reads; // by the statement's text
    simdjson::dom::parser m_parser;
    std::unordered_map<std::string, std::string> m_results;
    size_t m_bytes = 0; // of keys and results kept
    struct Waiting {
        Request request;
        QPointer<QObject> caller;
        Answer answer;
    };
    std::vector<Waiting> m_waiting;
    QTimer m_turnEnd;
    int m_connections = 0;
    bool m_answeringTurn = false; // the calls of a turn are being answered
    sqlite3_stmt* m_begin = nullptr;
    sqlite3_stmt* m_commit = nullptr;
};

} // namespace rhserver
