#include "RhServer.h"

#include "Connection.h"
#include "Log.h"
#include "Schema.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <atomic>
#include <fcntl.h>
#include <future>
#include <mutex>
#include <sys/socket.h>
#include <unistd.h>

namespace rhserver {

namespace {

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

class Worker;

struct RhServer::Impl {
    ServerOptions options;
    SessionConfig sessionConfig;
    ConnectionLimits limits;
    std::optional<DbAddress> address;
    std::vector<std::unique_ptr<class WorkerThread>> threads;
    std::atomic<quint64> nextConnection{0};
    quint16 port = 0;
    AuthThrottle throttle;
    std::mutex countMutex;
    int connections = 0;
    QHash<QString, int> perPeer;

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
        if (descriptor >= 0)
            refuseDescriptor(descriptor,
                             QStringLiteral("O servidor está sem recursos para novas conexões; "
                                            "tente de novo em instantes."));
        m_spare = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        logLine(
            QStringLiteral("conexão recusada: o processo atingiu o limite de arquivos abertos"));
        resumeAccepting();
    }

    RhServer::Impl& m_server;
    int m_spare = -1;
};

// Lives on its own thread: one database connection and the client connections given to it.
class Worker : public QObject {
public:
    Worker(RhServer::Impl& server)
        : m_server(server)
        , m_storage(*server.address)
        , m_service(m_storage) {}

    ~Worker() override {
        m_listener.reset();
        closeConnections(QDeadlineTimer(2000));
    }

    // Between two calls on this thread: answers already given leave whole (a socket deleted with
    // bytes queued would cut the last one; until the deadline, for clients that do not read), and
    // requests not yet started are dropped unanswered. The connections use the storage.
    void closeConnections(QDeadlineTimer flushDeadline) {
        const auto sockets = findChildren<QTcpSocket*>();
        // Waiting for a write also reads; what arrives now must not start another call.
        for (QTcpSocket* socket : sockets)
            socket->disconnect(socket->parent());
        for (QTcpSocket* socket : sockets)
            while (socket->bytesToWrite() > 0 && !flushDeadline.hasExpired() &&
                   socket->waitForBytesWritten(int(flushDeadline.remainingTime()))) {
            }
        const auto connections = findChildren<Connection*>(Qt::FindDirectChildrenOnly);
        qDeleteAll(connections);
    }

    QString open() {
        QString error;
        if (!m_storage.open(&error)) return error;
        return schemaProblem(m_storage);
    }

    void adopt(qintptr descriptor, quint64 id, const QString& peer) {
        auto* socket = new QTcpSocket;
        if (!socket->setSocketDescriptor(descriptor)) {
            logLine(QStringLiteral("conexão %1 recusada: %2").arg(id).arg(socket->errorString()));
            delete socket;
            ::close(int(descriptor));
            m_server.release(peer);
            return;
        }
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        RhServer::Impl& server = m_server;
        auto* connection =
            new Connection(socket, id, server.limits, server.sessionConfig, m_service, m_parser,
                           randomSessionId(), [&server, peer] { server.release(peer); });
        connection->setParent(this);
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

    void closeListener() { m_listener.reset(); }

private:
    RhServer::Impl& m_server;
    Storage m_storage;
    ParamService m_service;
    simdjson::dom::parser m_parser;
    std::unique_ptr<Listener> m_listener;
};

class WorkerThread : public QThread {
public:
    explicit WorkerThread(RhServer::Impl& server)
        : m_server(server) {}

    // Starts the thread and waits until its database connection is ready; empty on success.
    QString launch() {
        auto ready = m_ready.get_future();
        start();
        return ready.get();
    }

    Worker* worker() const { return m_worker.load(); }

protected:
    void run() override {
        Worker worker(m_server);
        const QString problem = worker.open();
        if (!problem.isEmpty()) {
            m_ready.set_value(problem);
            return;
        }
        m_worker = &worker;
        m_ready.set_value({});
        exec();
        m_worker = nullptr;
    }

private:
    RhServer::Impl& m_server;
    std::promise<QString> m_ready;
    std::atomic<Worker*> m_worker{nullptr};
};

void RhServer::Impl::dispatch(qintptr descriptor) {
    const QString peer = peerOf(int(descriptor));
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
            logLine(QStringLiteral("conexão de %1 recusada: limite de conexões").arg(peer));
            return;
        }
        ++connections;
        ++perPeer[peer];
    }
    const quint64 id = ++nextConnection;
    Worker* worker = threads[size_t(id % threads.size())]->worker();
    if (!worker) {
        ::close(int(descriptor));
        release(peer);
        return;
    }
    QMetaObject::invokeMethod(
        worker, [worker, descriptor, id, peer] { worker->adopt(descriptor, id, peer); },
        Qt::QueuedConnection);
}

RhServer::RhServer(ServerOptions options)
    : d(std::make_unique<Impl>()) {
    d->options = std::move(options);
    d->sessionConfig.tokens = d->options.tokens;
    if (!d->options.token.isEmpty())
        d->sessionConfig.tokens.push_back({QStringLiteral("admin"), Role::Admin, d->options.token});
    d->sessionConfig.serverVersion = QString::fromLatin1(ServerVersion);
    d->sessionConfig.throttle = &d->throttle;
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
    const int count =
        d->options.workers > 0 ? d->options.workers : std::clamp(QThread::idealThreadCount(), 1, 8);
    for (int i = 0; i < count; ++i) {
        d->threads.push_back(std::make_unique<WorkerThread>(*d));
        const QString problem = d->threads.back()->launch();
        if (!problem.isEmpty()) {
            *error = problem;
            stop();
            return false;
        }
    }
    Worker* first = d->threads.front()->worker();
    bool listening = false;
    QMetaObject::invokeMethod(
        first, [&] { listening = first->listen(address, port, error); },
        Qt::BlockingQueuedConnection);
    if (!listening) {
        stop();
        return false;
    }
    return true;
}

quint16 RhServer::port() const {
    return d->port;
}

void RhServer::stop() {
    if (d->threads.empty()) return;
    if (Worker* first = d->threads.front()->worker())
        QMetaObject::invokeMethod(
            first, [first] { first->closeListener(); }, Qt::BlockingQueuedConnection);
    // The call in flight on each thread ends first; what clients queued after it is not begun.
    const QDeadlineTimer flushDeadline(2000);
    for (auto& t : d->threads)
        if (Worker* w = t->worker())
            QMetaObject::invokeMethod(
                w, [w, flushDeadline] { w->closeConnections(flushDeadline); },
                Qt::BlockingQueuedConnection);
    for (auto& t : d->threads) {
        t->quit();
        t->wait();
    }
    d->threads.clear();
    d->port = 0;
}

} // namespace rhserver
