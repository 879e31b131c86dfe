#pragma once
// One client connection on the network thread: reads request lines, has a storage worker answer
// them in order, the lines waiting at once together, and keeps what one client may cost bounded
// (memory, time before open, idleness).

#include "KeptReplies.h"
#include "Session.h"
#include "WorkerPool.h"

#include "protocol/Rpc.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

class QTcpSocket;

namespace rhserver {

// What the connections' unfinished requests hold together; they live on one thread, which alone
// counts here.
struct LineBudget {
    qint64 limit = 128 * 1024 * 1024;
    qint64 held = 0;
    // Called when the total passes the limit: closes the connection holding the most.
    std::function<void()> overflowed;
};

struct ConnectionLimits {
    qsizetype maxMessage = protocol::DefaultMaxMessage; // one line, after open
    qsizetype firstLine = 4096;                         // one line, before open
    int openDeadlineMs = 5000;
    int idleTimeoutMs = 8 * 3600 * 1000; // an opened session with no request
    int stallTimeoutMs = 30 * 1000;      // answers left unread past the bound below
    qint64 unsentBound = 4 * 1024 * 1024;
    LineBudget* lineBudget = nullptr; // null: each connection is bounded by its line limit alone
};

struct RecordChange;

class Connection : public QObject {
public:
    Connection(QTcpSocket* socket, quint64 id, const ConnectionLimits& limits,
               const SessionConfig& config, WorkerPool& workers, KeptReplies* kept,
               QString sessionId, std::function<void()> onClosed);
    ~Connection() override;

    // No further request is taken; the one being answered still is.
    void stopTakingRequests();
    // What its unfinished requests hold, as last counted in the line budget.
    qint64 heldForLines() const { return m_heldCounted; }
    // Closed at once to give back the memory its unfinished request holds.
    void dropForMemory();
    bool answering() const { return m_answering; }
    // Whether its session is open, as of its last answer.
    bool opened() const { return m_opened; }
    bool closing() const { return m_closing; }
    // Milliseconds since the client connected.
    qint64 age() const { return m_born.elapsed(); }
    const QString& address() const { return m_address; }
    // Closed at once, its place given back now: a connection that has not opened a session
    // makes room for a newer one.
    void evict();
    // Sends what is still unsent, for at most the time given, then closes.
    void flushAndClose(int timeoutMs);
    // Sends a notice of each change of a record the session subscribed to, made by another
    // session; one that cannot go now is kept, the newest of each record, until it can.
    void tell(const QVector<RecordChange>& changes);

private:
    void process();
    // The next request line that is not blank, reading a piece from the socket when no whole
    // line waits; nothing when none is complete yet or the line is over the limit.
    std::optional<QByteArray> nextLine();
    // Takes the whole request lines already read or readable, up to a bound.
    void takeWaitingLines(std::vector<QByteArray>& lines);
    // Has a worker answer the lines; a kept read's result is kept if nothing was committed
    // since the stamp.
    void handToWorker(std::vector<QByteArray> lines, std::optional<KeptReplies::Request> read,
                      KeptReplies::Stamp stamp);
    void answered(const WorkerPool::Answers& answers);
    void sent(const std::string& out);
    // After each answer has gone: the line limit of an open session, and its idle deadline.
    void answerSent();
    // Writes a whole line after what is waiting to go, never inside another.
    void write(std::string_view out);
    void closed();
    // Closes at once, discarding what the client has not read.
    void reset();
    // Answers with an error (id null), then closes: at once when the client does not read.
    void closeWith(int code, const QString& message, const QString& logText);
    void logFailure(const QString& failure);
    // Bytes written to the socket that the client has not taken yet.
    int unreadInSystem() const;

    QTcpSocket* m_socket;
    quint64 m_id;
    const ConnectionLimits& m_limits;
    protocol::LineReader m_reader;
    WorkerPool& m_workers;
    KeptReplies* m_kept;                // null: every request goes to a worker
    std::shared_ptr<Session> m_session; // shared with the worker answering it
    std::shared_ptr<Outlet> m_outlet;   // shared with the worker answering it
    // Notices not sent yet (an answer is being written, or the client is behind in reading):
    // one per record, the newest, in the order first held.
    struct HeldNotice {
        QString record;
        std::string line;
    };
    std::vector<HeldNotice> m_heldNotices;
    void holdNotice(const QString& record, std::string line);
    void sendHeldNotices();
    QStringList m_subscribed; // the session's, as of its last answer

    QString m_address; // the client's, as its log lines are counted
    QString m_peer;    // address and port
    QTimer m_deadline; // open deadline, then idle timeout
    QTimer m_stall;
    std::function<void()> m_onClosed;
    AuthThrottle* m_throttle;             // null: tokens are judged at once
    std::optional<QByteArray> m_heldOpen; // the open waiting for its turn to be judged
    qint64 m_heldCounted = 0;             // this connection's part of the line budget
    void countHeld();
    bool m_openWaited = false; // the request in hand has had its wait
    bool m_opened = false;
    QElapsedTimer m_born;
    bool m_closing = false;
    bool m_logged = false;
    bool m_answering = false;
    bool m_inTurnCall = false; // inside answerInTurn: an answer given at once is not a new turn
    bool m_stopped = false;
};

} // namespace rhserver
