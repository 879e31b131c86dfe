#pragma once
// One client connection on a worker thread: reads request lines, answers each in order, and keeps
// what one client may cost bounded (memory, time before open, idleness, turns on the thread).

#include "Session.h"

#include "protocol/Rpc.h"

#include <QObject>
#include <QTimer>
#include <functional>

class QTcpSocket;

namespace rhserver {

struct ConnectionLimits {
    qsizetype maxMessage = protocol::DefaultMaxMessage; // one line, after open
    qsizetype firstLine = 4096;                         // one line, before open
    int openDeadlineMs = 5000;
    int idleTimeoutMs = 8 * 3600 * 1000; // an opened session with no request
    int stallTimeoutMs = 30 * 1000;      // answers left unread past the bound below
    qint64 unsentBound = 4 * 1024 * 1024;
    int requestsPerTurn = 16; // then other clients of the thread get their turn
};

class Connection : public QObject {
public:
    Connection(QTcpSocket* socket, quint64 id, const ConnectionLimits& limits,
               const SessionConfig& config, ParamService& service, simdjson::dom::parser& parser,
               QString sessionId, std::function<void()> onClosed);
    ~Connection() override;

private:
    void process();
    void closed();
    // Answers with an error (id null), then closes: at once when the client does not read.
    void closeWith(int code, const QString& message, const QString& logText);
    void logFailure();

    QTcpSocket* m_socket;
    quint64 m_id;
    const ConnectionLimits& m_limits;
    protocol::LineReader m_reader;
    Session m_session;
    QString m_peer;
    QTimer m_deadline; // open deadline, then idle timeout
    QTimer m_stall;
    std::function<void()> m_onClosed;
    bool m_closing = false;
    bool m_logged = false;
    bool m_turnQueued = false;
};

} // namespace rhserver
