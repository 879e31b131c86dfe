#pragma once
// One client connection's conversation: reads JSON-RPC requests, keeps the server object that
// `open` created, and answers every request with one response line.

#include "AccessTokens.h"
#include "ParamService.h"

#include <QElapsedTimer>
#include <QHash>
#include <atomic>
#include <mutex>
#include <optional>
#include <simdjson.h>
#include <utility>

namespace rhserver {

// Wrong tokens by client address: after a few within some seconds, the wrong ones from that
// address are told to wait until some seconds pass with none. Right tokens are never held back.
class AuthThrottle {
public:
    static constexpr int MaxFailures = 5;
    static constexpr qint64 PauseMs = 10000;

    // Wrong tokens an address may try before its opens wait; the wait then doubles with each
    // wrong token, from FirstWaitMs up to LastWaitMs, and failures are forgotten after
    // ForgetMs without one.
    static constexpr int FreeFailures = 3;
    static constexpr qint64 FirstWaitMs = 400;
    static constexpr qint64 LastWaitMs = 3200;
    static constexpr qint64 ForgetMs = 60000;

    // Counts a wrong token; false once the address has had too many of them lately.
    bool failed(const QString& peer);
    // How long an open from the address waits before its token is judged, whatever token it
    // carries: its verdicts come one after another, each wait after the last. -1 when its turn
    // would come later than `latestMs` from now: the open gets no verdict at all.
    qint64 verdictWait(const QString& peer, qint64 latestMs);

private:
    struct Entry {
        int failures = 0;
        QElapsedTimer last;
        int recent = 0;           // wrong tokens since the last ForgetMs of quiet
        QElapsedTimer lastRecent; // the last of them
        QElapsedTimer clock;      // started with the entry: the time of the turns
        qint64 nextTurn = 0;      // on `clock`, when the next verdict may be given
    };
    std::mutex m_mutex;
    QHash<QString, Entry> m_entries;
};

// Writes a reading token tried: the first of each token in a minute gets an audit row (method,
// size, who, never the arguments); the others reach only the log, which is rate-limited too.
// Tokens are few, so the rows are bounded whatever a reader sends.
class RefusalLimit {
public:
    static constexpr qint64 WindowMs = 60000;

    // Whether this refusal by the token gets an audit row; counts the ones that do not.
    bool mayRecord(const QString& token, qint64* skipped);

private:
    struct Entry {
        QElapsedTimer last;
        qint64 skipped = 0;
    };
    std::mutex m_mutex;
    QHash<QString, Entry> m_entries;
};

struct SessionConfig {
    QVector<AccessToken> tokens; // empty: no token required
    QString serverVersion;
    AuthThrottle* throttle = nullptr;
    RefusalLimit* refusals = nullptr;
    // How many sessions subscribe to changes: the change watch looks only while some do.
    std::atomic<int>* subscribers = nullptr;
};

class Session {
public:
    Session(const SessionConfig& config, ParamService& service, simdjson::dom::parser& parser,
            QString sessionId);
    // Served by storage workers, each request on the one that takes it.
    Session(const SessionConfig& config, QString sessionId);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The response to one request line, newline included.
    std::string handle(const QByteArray& line);
    // The same, on a storage worker's service and parser: a session is served by whichever
    // worker is free, one request at a time.
    std::string handle(const QByteArray& line, ParamService& service,
                       simdjson::dom::parser& parser);
    // What a line asks, seen before it is answered: nothing when it may change data or cannot be
    // told (it is answered in its turn like any other), a read otherwise, whose method is null
    // when it is not a read of one record by one text.
    static std::optional<ParamService::PlannedRead>
    plannedRead(const QByteArray& line, simdjson::dom::parser& parser, const QString& branch);
    // A short description of the last error answered, for the log; empty after a success.
    const QString& lastFailure() const { return m_lastFailure; }
    // The id of the last request answered, as JSON ("null" when it had none).
    const std::string& lastId() const { return m_idJson; }
    // The answer to a write whose group was not committed after all: nothing of it is stored.
    static std::string lostWrite(std::string_view idJson);
    bool isOpen() const { return m_open; }
    // A failed open: the connection ends once its answer is sent.
    bool endsAfterAnswer() const { return m_endAfterAnswer; }
    const QString& branch() const { return m_info.branch; }
    // The result of the last request when it was a read whose reply may be kept and not larger
    // than the bound given to handle; empty otherwise. Taking it leaves it empty.
    std::string takeKeptResult() { return std::exchange(m_keptResult, {}); }
    void keepResultsUpTo(size_t bytes) { m_keepUpTo = bytes; }
    void setPeer(const QString& address) {
        m_peer = address;
        m_info.address = address;
    }
    const QString& sessionId() const { return m_info.sessionId; }
    // The records this session asked to hear about (Assinar), as the contract names them.
    const QStringList& subscriptions() const { return m_subscriptions; }

private:
    std::string dispatch(std::string_view idJson, std::string_view method,
                         simdjson::dom::element params, bool hasParams);
    // Checks the token, the object and the branch; the session is open once this answers a result.
    std::string openSession(std::string_view idJson, simdjson::dom::element params, bool hasParams);
    // Reads the arguments as the method takes them; the error to answer, or empty when read.
    std::string readArguments(std::string_view idJson, std::string_view method,
                              const contract::Method& entry, simdjson::dom::element params,
                              bool hasParams, QVector<protocol::Argument>& args);
    std::string fail(std::string_view idJson, int code, const QString& message);
    std::string subscribe(std::string_view idJson, simdjson::dom::element params, bool hasParams);
    void setSubscriptions(QStringList records);

    const SessionConfig& m_config;
    ParamService* m_service;
    simdjson::dom::parser* m_parser;
    SessionInfo m_info;
    bool m_open = false;
    bool m_endAfterAnswer = false;
    QString m_lastFailure;
    QString m_method; // of the request being answered, as the log shows it
    std::string m_idJson = "null";
    QString m_peer; // the client's address
    std::string m_keptResult;
    size_t m_keepUpTo = 0;
    QStringList m_subscriptions;
};

} // namespace rhserver
