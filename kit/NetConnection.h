#pragma once
// A blocking connection to the application server: one TCP connection, one server object,
// methods called by name. A call waits in a local event loop that lets no input or handler run.

#include "protocol/Rpc.h"

#include <QAbstractSocket>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>

class QTcpSocket;
class QTimer;
class TNetConnection;
class HostServices;

// The server object of a connection; take it afresh for every call.
class TAppServer {
public:
    explicit TAppServer(TNetConnection& connection)
        : m_connection(connection) {}
    protocol::Response call(const QString& method, const QVector<protocol::Argument>& args = {});
    // Sends the call without waiting for its answer, and returns its id. The server answers a
    // connection's calls in the order they came: receive the answers in the order sent.
    std::int64_t send(const QString& method, const QVector<protocol::Argument>& args = {});
    protocol::Response receive(std::int64_t id);

private:
    TNetConnection& m_connection;
};

// Why a socket failed, in words a user understands.
QString SocketFailureText(QAbstractSocket::SocketError error);

// What the server sends unasked (a notice of a change, say), delivered as it comes, also while a
// call waits for its answer. A handler must not call the server.
class TServerNotices : public QObject {
    Q_OBJECT
signals:
    void Notice(const QString& method, const QByteArray& paramsJson);
    // A connection was made again: the server knows nothing of the old one's session (what it
    // subscribed to). Told once no call waits, so a handler may call the server.
    void Reconnected();
};

class TNetConnection {
public:
    TNetConnection();
    ~TNetConnection();
    TNetConnection(const TNetConnection&) = delete;
    TNetConnection& operator=(const TNetConnection&) = delete;

    QString ServerName;
    QString Host = QStringLiteral("localhost");
    int Port = 0;
    // The branch the session works in; empty: the host's current branch.
    QString Branch;
    bool ThrowException = false; // off: a failed connect is remembered and raised by the next call
    // Whose token, TLS settings and branch the connection uses; null: the installed host's.
    HostServices* Services = nullptr;
    std::function<void(TNetConnection&)> BeforeConnect;
    int TimeoutMs = 30000;
    // On: a connection lost without the server saying why (a restart, the network) is made again
    // as soon as the server takes connections, so that its notices keep coming. An idle session
    // the server closed is made again only by the next call.
    bool KeepConnected = false;

    // Connects (running BeforeConnect first) and opens the server object; or disconnects.
    void SetConnected(bool connected);
    bool Connected() const;
    // Why the last connect failed, empty when it did not.
    QString LastError() const { return m_lastError; }
    // Counts the connections made: a new one holds nothing the server knew of the old one.
    quint64 Generation() const { return m_generation; }
    // The open connection's key allows only calls that read.
    bool ReadOnly() const { return m_readOnly; }

    TAppServer AppServer() { return TAppServer(*this); }
    TServerNotices Notices;

private:
    friend class TAppServer;
    void connectNow();
    // Closes the socket and forgets what was read and owed on it.
    void dropConnection();
    // Made again once the server takes connections, when KeepConnected asks for it.
    void lost();
    void probeForServer();
    void reconnectWhenFree();
    void tellReconnected();
    enum class Wait { Connected, Written, Readable };
    // Waits for the socket; in the GUI thread the window keeps painting meanwhile.
    bool waitFor(Wait what, int timeoutMs);
    protocol::Response exchange(const std::string& request, std::int64_t id);
    void writeRequest(const std::string& request);
    // Reads up to the answer of that id, telling the notices met on the way.
    protocol::Response readResponse(std::int64_t id);
    // The server closed this connection (an idle session, or a server that went away and may be
    // back) and the socket has not noticed yet.
    bool closedByPeer() const;
    [[noreturn]] void transportFailure(const QString& what);
    // Lines that come while no call waits: notices, or the server's word before it closes.
    void readWhileIdle();
    // Lines read with a call's answer are read once the call is over.
    void deliverAfterCall();
    void noteClosing(const protocol::Response& r);

    std::unique_ptr<QTcpSocket> m_socket;
    std::unique_ptr<simdjson::dom::parser> m_parser;
    protocol::LineReader m_reader;
    std::int64_t m_nextId = 1;
    QString m_lastError;
    bool m_readOnly = false;
    bool m_inCall = false;
    int m_awaiting = 0;                              // calls sent whose answers were not read yet
    std::int64_t m_firstId = 1;                      // of the current connection
    QHash<std::int64_t, protocol::Response> m_early; // answers read before their turn
    quint64 m_generation = 0;
    QString m_closingWord; // why the server closed the connection, told before it did
    int m_closingCode = 0;
    // While a lost connection waits for its server: a connect tried now and then, without
    // waiting for it, and the connection made once one succeeds.
    std::unique_ptr<QTimer> m_returnWatch;
    QPointer<QTcpSocket> m_probe;
};
