#include "RhServer.h"

#include "ChangeWatch.h"
#include "Connection.h"
#include "KeptReplies.h"
#include "Log.h"
#include "WorkerPool.h"

#include "protocol/Tls.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <atomic>
#include <fcntl.h>
#include <future>
#include <mutex>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace rhserver {

namespace {

// At shutdown, 15 s in all: requests being answered may take 10 s; then what they wait on in the
// database is cut short and they are answered within 2 s; their answers are sent within 2 s more.
constexpr qint64 StopTimeoutMs = 15000;
constexpr qint64 DrainTimeoutMs = 10000;
constexpr qint64 InterruptTimeoutMs = 2000;
constexpr int FlushTimeoutMs = 2000;
// While cut requests are still answered, the cut is made again this often: a statement that
// began after a cut is cut by the next.
constexpr qint64 InterruptEveryMs = 250;
// Between two tries to reach a database that does not answer yet at start.
constexpr int StartRetryMs = 2000;
// Descriptors kept free for what is not a client: the database's files, the log, a spare.
constexpr quint64 DescriptorReserve = 16;
// Connections that have not opened a session, from one address and in all: past these, a new
// one takes the place of the oldest that had time enough to open and did not. A client sends its
// open at once, so idle connections cannot keep the right token out.
constexpr int UnopenedPerAddress = 16;
constexpr int UnopenedInAll = 256;
constexpr qint64 TimeToOpenMs = 250;

QString outOfDescriptorsText() {
    return QStringLiteral("O servidor está sem recursos para novas conexões; tente de novo em "
                          "instantes.");
}

// Answers a client that cannot be served with one error line and closes it, without blocking.
void refuseDescriptor(int descriptor, const QString& message) {
    const std::string out =
        protocol::errorJson("null", protocol::ErrorCode::StorageFailure, message);
    [[maybe_unused]] const auto n =
        ::send(descriptor, out.data(), out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    ::close(descriptor);
}

QString peerOf(int descriptor) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(descriptor, reinterpret_cast<sockaddr*>(&address), &length) != 0) return {};
    return QHostAddress(reinterpret_cast<const sockaddr*>(&address)).toString();
}

// 128 random bits: names a connection in the audit table and tells nothing about the server.
QString randomSessionId() {
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(words), sizeof words).toHex());
}

} // namespace

class NetHub;

struct RhServer::Impl {
    ServerOptions options;
    SessionConfig sessionConfig;
    ConnectionLimits limits;
    std::optional<DbAddress> address;
    WorkerPool workers;
    std::unique_ptr<class NetThread> net;
    NetHub* hub = nullptr; // lives on the network thread
    std::atomic<quint64> nextConnection{0};
    quint16 port = 0;
    AuthThrottle throttle;
    RefusalLimit refusals;
    std::atomic<int> subscribers{0};
    std::unique_ptr<ChangeWatch> watch;
    std::mutex countMutex;
    int connections = 0;
    QHash<QString, int> perPeer;
    quint64 descriptorLimit = 0; // the process's, read at start; 0: unknown
    QSslConfiguration tls;       // null: the connections are plain TCP

    void dispatch(qintptr descriptor);
    void release(const QString& peer) {
        std::lock_guard lock(countMutex);
        --connections;
        if (--perPeer[peer] <= 0) perPeer.remove(peer);
    }
};

class Listener : public QTcpServer {
public:
    explicit Listener(RhServer::Impl& server)
        : m_server(server) {
        m_spare = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        connect(this, &QTcpServer::acceptError, this, &Listener::acceptFailed);
        // A burst of hundreds of connects waits in the kernel instead of being retried.
        setListenBacklogSize(1024);
    }
    ~Listener() override {
        if (m_spare >= 0) ::close(m_spare);
    }

protected:
    void incomingConnection(qintptr descriptor) override { m_server.dispatch(descriptor); }

private:
    // Out of descriptors: the waiting client is taken on a descriptor kept spare for this, told
    // so and closed, instead of being left to hang while accept fails over and over.
    void acceptFailed(QAbstractSocket::SocketError) {
        if (m_spare >= 0) ::close(m_spare);
        const int descriptor = ::accept4(int(socketDescriptor()), nullptr, nullptr, SOCK_CLOEXEC);
        if (descriptor >= 0) refuseDescriptor(descriptor, outOfDescriptorsText());
        m_spare = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        logClientEvent(
            QString(),
            QStringLiteral("conexão recusada: o processo atingiu o limite de arquivos abertos"));
        resumeAccepting();
    }

    RhServer::Impl& m_server;
    int m_spare = -1;
};

// Lives on the network thread: the listener and every client connection. It never waits on
// the database, so it always reads, writes and answers on time.
class NetHub : public QObject {
public:
    explicit NetHub(RhServer::Impl& server)
        : m_server(server)
        , m_kept(*server.address) {
        // Made on the thread that reads, as its connections are: the budget is theirs alone.
        m_budget.limit = server.options.lineBudgetBytes;
        m_budget.overflowed = [this] { dropLargestLine(); };
        server.limits.lineBudget = &m_budget;
    }

    ~NetHub() override {
        m_listener.reset();
        const auto connections = findChildren<Connection*>(Qt::FindDirectChildrenOnly);
        qDeleteAll(connections);
        m_server.limits.lineBudget = nullptr;
    }

    void adopt(qintptr descriptor, quint64 id, const QString& peer) {
        QSslSocket* tls = m_server.tls.isNull() ? nullptr : new QSslSocket;
        QTcpSocket* socket = tls ? tls : new QTcpSocket;
        if (!socket->setSocketDescriptor(descriptor)) {
            logClientEvent(
                peer, QStringLiteral("conexão %1 recusada: %2").arg(id).arg(socket->errorString()));
            delete socket;
            ::close(int(descriptor));
            m_server.release(peer);
            return;
        }
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        RhServer::Impl& server = m_server;
        auto* connection =
            new Connection(socket, id, server.limits, server.sessionConfig, server.workers,
                           m_kept.enabled() ? &m_kept : nullptr, randomSessionId(),
                           [&server, peer] { server.release(peer); });
        connection->setParent(this);
        // Once the connection hears the socket: a handshake that fails at once is heard too.
        if (tls) {
            tls->setSslConfiguration(m_server.tls);
            tls->startServerEncryption();
        }
    }

    // Before a new connection from the address is counted: the oldest unopened connection that
    // had time to open goes when that address, or everyone, holds too many.
    void makeRoomFor(const QString& peer) {
        int fromPeer = 0, inAll = 0;
        Connection *oldestFromPeer = nullptr, *oldest = nullptr;
        for (Connection* c : findChildren<Connection*>(Qt::FindDirectChildrenOnly)) {
            if (c->opened() || c->closing()) continue;
            ++inAll;
            const bool mine = c->address() == peer;
            fromPeer += mine;
            if (c->answering() || c->age() < TimeToOpenMs) continue;
            if (!oldest || c->age() > oldest->age()) oldest = c;
            if (mine && (!oldestFromPeer || c->age() > oldestFromPeer->age())) oldestFromPeer = c;
        }
        if (fromPeer >= UnopenedPerAddress && oldestFromPeer)
            oldestFromPeer->evict();
        else if (inAll >= UnopenedInAll && oldest)
            oldest->evict();
    }

    bool listen(const QHostAddress& address, quint16 port, QString* error) {
        m_listener = std::make_unique<Listener>(m_server);
        if (!m_listener->listen(address, port)) {
            *error = QStringLiteral("Não foi possível escutar em %1:%2: %3.")
                         .arg(address.toString())
                         .arg(port)
                         .arg(m_listener->errorString());
            m_listener.reset();
            return false;
        }
        m_server.port = m_listener->serverPort();
        return true;
    }

    // Shutting down: no new client, no new request; the requests being answered still are.
    void stopTakingWork() {
        m_listener.reset();
        for (Connection* c : findChildren<Connection*>(Qt::FindDirectChildrenOnly))
            c->stopTakingRequests();
    }
    bool answering() const {
        const auto connections = findChildren<Connection*>(Qt::FindDirectChildrenOnly);
        return std::any_of(connections.begin(), connections.end(),
                           [](const Connection* c) { return c->answering(); });
    }
    void tell(const QVector<RecordChange>& changes) {
        for (Connection* c : findChildren<Connection*>(Qt::FindDirectChildrenOnly))
            c->tell(changes);
    }
    void closeAll(int timeoutMs) {
        QElapsedTimer clock;
        clock.start();
        for (Connection* c : findChildren<Connection*>(Qt::FindDirectChildrenOnly))
            c->flushAndClose(int(std::max<qint64>(1, timeoutMs - clock.elapsed())));
    }

private:
    // Over the budget: the connection holding the most goes, until the rest fits.
    void dropLargestLine() {
        while (m_budget.held > m_budget.limit) {
            Connection* largest = nullptr;
            for (Connection* c : findChildren<Connection*>(Qt::FindDirectChildrenOnly))
                if (c->heldForLines() > 0 &&
                    (!largest || c->heldForLines() > largest->heldForLines()))
                    largest = c;
            if (!largest) return;
            largest->dropForMemory();
        }
    }

    RhServer::Impl& m_server;
    std::unique_ptr<Listener> m_listener;
    KeptReplies m_kept;
    LineBudget m_budget;
};

class NetThread : public QThread {
public:
    explicit NetThread(RhServer::Impl& server)
        : m_server(server) {}

    NetHub* launch() {
        auto ready = m_ready.get_future();
        start();
        return ready.get();
    }

protected:
    void run() override {
        NetHub hub(m_server);
        m_ready.set_value(&hub);
        exec();
    }

private:
    RhServer::Impl& m_server;
    std::promise<NetHub*> m_ready;
};

void RhServer::Impl::dispatch(qintptr descriptor) {
    const QString peer = peerOf(int(descriptor));
    // The system gives the lowest free descriptor: one this high means the table is nearly full.
    // Refusing here keeps room for the database's own files and keeps accept from failing.
    if (descriptorLimit > 0 && quint64(descriptor) + DescriptorReserve >= descriptorLimit) {
        refuseDescriptor(int(descriptor), outOfDescriptorsText());
        logClientEvent(peer,
                       QStringLiteral("conexão de %1 recusada: o processo está perto do limite de "
                                      "arquivos abertos")
                           .arg(peer));
        return;
    }
    hub->makeRoomFor(peer);
    {
        std::lock_guard lock(countMutex);
        const bool full = connections >= options.maxConnections;
        if (full || perPeer.value(peer) >= options.maxConnectionsPerPeer) {
            refuseDescriptor(
                int(descriptor),
                full ? QStringLiteral("O servidor atingiu o limite de %1 conexões; tente de novo "
                                      "em instantes.")
                           .arg(options.maxConnections)
                     : QStringLiteral("Este endereço atingiu o limite de %1 conexões com o "
                                      "servidor; tente de novo em instantes.")
                           .arg(options.maxConnectionsPerPeer));
            logClientEvent(peer,
                           QStringLiteral("conexão de %1 recusada: limite de conexões").arg(peer));
            return;
        }
        ++connections;
        ++perPeer[peer];
    }
    // Called on the network thread, where the connections live.
    hub->adopt(descriptor, ++nextConnection, peer);
}

RhServer::RhServer(ServerOptions options)
    : d(std::make_unique<Impl>()) {
    d->options = std::move(options);
    d->sessionConfig.tokens = d->options.tokens;
    if (!d->options.token.isEmpty())
        d->sessionConfig.tokens.push_back({QStringLiteral("admin"), Role::Admin, d->options.token});
    d->sessionConfig.serverVersion = QString::fromLatin1(ServerVersion);
    d->sessionConfig.throttle = &d->throttle;
    d->sessionConfig.refusals = &d->refusals;
    d->sessionConfig.subscribers = &d->subscribers;
    ConnectionLimits& limits = d->limits;
    limits.maxMessage = d->options.maxMessage;
    limits.firstLine = std::min<qsizetype>(limits.firstLine, d->options.maxMessage);
    limits.openDeadlineMs = d->options.openTimeoutSeconds * 1000;
    limits.idleTimeoutMs = d->options.idleTimeoutSeconds * 1000;
    limits.stallTimeoutMs = std::min(limits.stallTimeoutMs, limits.idleTimeoutMs);
}

RhServer::~RhServer() {
    stop();
}

bool RhServer::start(const QHostAddress& address, quint16 port, QString* error) {
    stop();
    if (!QCoreApplication::instance()) {
        *error =
            QStringLiteral("O serviço precisa de uma QCoreApplication criada antes de iniciar.");
        return false;
    }
    d->address = DbAddress::parse(d->options.db, error);
    if (!d->address) return false;
    d->address->fullSync = d->options.sqliteFullSync;
    d->tls = {};
    if (!d->options.tlsCertFile.isEmpty() || !d->options.tlsKeyFile.isEmpty()) {
        if (d->options.tlsCertFile.isEmpty() || d->options.tlsKeyFile.isEmpty()) {
            *error = QStringLiteral("TLS precisa do certificado e da chave: informe --tls-cert e "
                                    "--tls-key.");
            return false;
        }
        QString why;
        d->tls = protocol::serverTls(d->options.tlsCertFile, d->options.tlsKeyFile, &why);
        if (d->tls.isNull()) {
            *error = QStringLiteral("TLS: %1").arg(why);
            return false;
        }
    }
    rlimit files{};
    d->descriptorLimit = ::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY
                             ? quint64(files.rlim_cur)
                             : 0;
    const int count =
        d->options.workers > 0 ? d->options.workers : std::clamp(QThread::idealThreadCount(), 1, 8);
    // Every database connection first, the listener last: no client is answered by a process
    // that may still fail to start. A database server not there yet (at boot, or restarting)
    // is waited for; an SQLite file that cannot be opened will not open later either.
    QElapsedTimer waited;
    waited.start();
    for (int attempt = 1;; ++attempt) {
        QString problem = d->workers.start(*d->address, count);
        if (problem.isEmpty()) {
            d->net = std::make_unique<NetThread>(*d);
            d->hub = d->net->launch();
            problem = launchWatch();
            if (problem.isEmpty()) break;
            stop();
        }
        const bool patient = d->address->engine == Engine::PostgreSQL &&
                             waited.elapsed() + StartRetryMs <= d->options.startWaitSeconds * 1000;
        if (!patient) {
            *error = problem;
            return false;
        }
        logLine(QStringLiteral("o banco de dados ainda não atende (tentativa %1): %2; nova "
                               "tentativa em %3 s")
                    .arg(attempt)
                    .arg(problem.simplified())
                    .arg(StartRetryMs / 1000));
        QThread::msleep(StartRetryMs);
    }
    if (d->address->engine == Engine::PostgreSQL) {
        // Once, for the operator: what an acknowledged write survives.
        Storage probe(*d->address);
        QString ignored;
        if (probe.open(&ignored)) logLine(probe.durabilityNote());
    }
    NetHub* hub = d->hub;
    bool listening = false;
    QMetaObject::invokeMethod(
        hub, [&] { listening = hub->listen(address, port, error); }, Qt::BlockingQueuedConnection);
    if (!listening) {
        stop();
        return false;
    }
    return true;
}

QString RhServer::launchWatch() {
    NetHub* hub = d->hub;
    d->watch = std::make_unique<ChangeWatch>(
        *d->address, d->subscribers, [hub](QVector<RecordChange> changes) {
            QMetaObject::invokeMethod(
                hub, [hub, changes = std::move(changes)] { hub->tell(changes); },
                Qt::QueuedConnection);
        });
    return d->watch->launch();
}

quint16 RhServer::port() const {
    return d->port;
}

bool RhServer::stop() {
    const QDeadlineTimer end(StopTimeoutMs);
    // First: it hands its notices to the network thread.
    d->watch.reset();
    if (d->net) {
        // Requests being answered finish and their answers are sent; then every client is closed.
        NetHub* hub = d->hub;
        QMetaObject::invokeMethod(
            hub, [hub] { hub->stopTakingWork(); }, Qt::BlockingQueuedConnection);
        QElapsedTimer clock;
        clock.start();
        bool answering = true;
        const auto stillAnswering = [&] {
            QMetaObject::invokeMethod(
                hub, [&] { answering = hub->answering(); }, Qt::BlockingQueuedConnection);
            return answering;
        };
        while (stillAnswering() && clock.elapsed() < DrainTimeoutMs)
            QThread::msleep(5);
        if (answering) {
            // A commit waiting for a standby that is gone, a lock never given back: cut short,
            // each is answered with what became of it (-32012 for a commit that may have been
            // stored).
            logLine(QStringLiteral("encerrando: chamadas ainda em andamento após %1 s; o que "
                                   "esperam do banco de dados é interrompido")
                        .arg(DrainTimeoutMs / 1000));
            qint64 nextCut = clock.elapsed();
            while (stillAnswering() && clock.elapsed() < DrainTimeoutMs + InterruptTimeoutMs) {
                if (clock.elapsed() >= nextCut) {
                    d->workers.interrupt();
                    nextCut += InterruptEveryMs;
                }
                QThread::msleep(5);
            }
        }
        QMetaObject::invokeMethod(
            hub, [hub] { hub->closeAll(FlushTimeoutMs); }, Qt::BlockingQueuedConnection);
    }
    const bool ended = d->workers.stop(end);
    if (!ended)
        logLine(QStringLiteral("encerrando sem esperar as threads que ainda aguardam o banco de "
                               "dados"));
    if (d->net) {
        d->net->quit();
        d->net->wait();
        d->net.reset();
        d->hub = nullptr;
    }
    d->port = 0;
    return ended;
}

} // namespace rhserver
