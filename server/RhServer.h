#pragma once
// The parameters service as an embeddable object: it listens and serves on threads of its own
// (a small fixed pool, each with its own event loop and database connection), so a caller may
// make blocking calls to it from the thread that started it.

#include "AccessTokens.h"

#include "protocol/Rpc.h"

#include <QHostAddress>
#include <QString>
#include <memory>

namespace rhserver {

constexpr const char* ServerVersion = "0.1";

struct ServerOptions {
    QString db;    // "sqlite:PATH" or "postgresql://user@host:port/dbname"
    QString token; // an admin token named "admin", besides those below
    qsizetype maxMessage = protocol::DefaultMaxMessage;
    int workers = 0;                 // 0: one per core
    int openTimeoutSeconds = 5;      // a connection must call open within this time
    int idleTimeoutSeconds = 28800;  // an opened connection without requests is closed after it
    int maxConnections = 1000;       // per server; more are answered with an error and closed
    int maxConnectionsPerPeer = 128; // per client address, likewise
    // Requests read and not yet whole, of every connection together: past it, the connection
    // holding the most is closed.
    qint64 lineBudgetBytes = 128 * 1024 * 1024;
    QVector<AccessToken> tokens = {}; // none here nor above: open needs no token
    bool sqliteFullSync = true;       // false: acknowledged writes survive a crash, not a power cut
    // At start, how long a PostgreSQL server that does not answer yet is waited for.
    int startWaitSeconds = 0;
    // PEM files: given both, the listener speaks TLS only.
    QString tlsCertFile = {}, tlsKeyFile = {};
};

class RhServer {
public:
    explicit RhServer(ServerOptions options);
    ~RhServer();
    RhServer(const RhServer&) = delete;
    RhServer& operator=(const RhServer&) = delete;

    // Returns once every database connection is ready and the service is listening (port 0 picks
    // a free port), or false with the reason; nothing was answered then.
    bool start(const QHostAddress& address, quint16 port, QString* error);
    quint16 port() const;
    // Closes the listener and every connection, and ends the threads, within 15 s: requests
    // still answered after 10 s have what they wait on in the database cut short. False when a
    // thread still waited on the database at the end (it is left running). Safe to call twice.
    bool stop();

    struct Impl;

private:
    // The change watch and its connection; empty on success, the reason otherwise.
    QString launchWatch();
    std::unique_ptr<Impl> d;
};

} // namespace rhserver
