#include "RhServer.h"

#include "Log.h"
#include "Schema.h"
#include "Session.h"

#include <QCoreApplication>
#include <QSysInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <atomic>
#include <future>
#include <unistd.h>

namespace rhserver {

namespace {
// Past this many unsent response bytes a connection stops reading until its client catches up.
constexpr qint64 SendHighWater = 4 * 1024 * 1024;
} // namespace

class Worker;

struct RhServer::Impl {
    ServerOptions options;
    SessionConfig sessionConfig;
    std::optional<DbAddress> address;
    std::vector<std::unique_ptr<class WorkerThread>> threads;
    std::atomic<quint64> nextConnection{0};
    quint16 port = 0;
    QString sessionPrefix;

    void dispatch(qintptr descriptor);
};

// One client: reads request lines as they arrive and answers each in order.
class Connection : public QObject {
public:
    Connection(QTcpSocket* socket, quint64 id, RhServer::Impl& server, ParamService& service,
               simdjson::dom::parser& parser)
        : m_socket(socket)
        , m_id(id)
        , m_reader(server.options.maxMessage)
        , m_maxMessage(server.options.maxMessage)
        , m_session(server.sessionConfig, service, parser,
                    server.sessionPrefix + QString::number(id)) {
        socket->setParent(this);
        socket->setReadBufferSize(1024 * 1024);
        m_peer =
            QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
        logLine(QStringLiteral("conexão %1 aberta por %2").arg(id).arg(m_peer));
        connect(socket, &QTcpSocket::readyRead, this, &Connection::process);
        connect(socket, &QTcpSocket::bytesWritten, this, &Connection::process);
        connect(socket, &QTcpSocket::disconnected, this, &Connection::closed);
    }

    ~Connection() override {
        if (!m_logged) logLine(QStringLiteral("conexão %1 encerrada (%2)").arg(m_id).arg(m_peer));
    }

private:
    void closed() {
        m_logged = true;
        logLine(QStringLiteral("conexão %1 encerrada (%2)").arg(m_id).arg(m_peer));
        deleteLater();
    }

    void process() {
        while (!m_closing) {
            if (m_socket->bytesToWrite() > SendHighWater) return; // resumed by bytesWritten
            if (m_socket->bytesAvailable() > 0) m_reader.append(m_socket->readAll());
            if (m_reader.overflowed()) {
                const QString message =
                    QStringLiteral("A mensagem passa do limite de %1 bytes aceito pelo "
                                   "servidor; a conexão será encerrada.")
                        .arg(m_maxMessage);
                logLine(QStringLiteral("conexão %1: mensagem grande demais; encerrando").arg(m_id));
                const std::string out =
                    protocol::errorJson("null", protocol::ErrorCode::InvalidRequest, message);
                m_socket->write(out.data(), qint64(out.size()));
                m_closing = true;
                m_socket->disconnectFromHost();
                return;
            }
            const std::optional<QByteArray> line = m_reader.takeLine();
            if (!line) return;
            if (line->trimmed().isEmpty()) continue;
            const std::string out = m_session.handle(*line);
            if (!m_session.lastFailure().isEmpty())
                logLine(QStringLiteral("conexão %1: %2").arg(m_id).arg(m_session.lastFailure()));
            m_socket->write(out.data(), qint64(out.size()));
        }
    }

    QTcpSocket* m_socket;
    quint64 m_id;
    protocol::LineReader m_reader;
    qsizetype m_maxMessage;
    Session m_session;
    QString m_peer;
    bool m_closing = false;
    bool m_logged = false;
};

class Listener : public QTcpServer {
public:
    explicit Listener(RhServer::Impl& server)
        : m_server(server) {}

protected:
    void incomingConnection(qintptr descriptor) override { m_server.dispatch(descriptor); }

private:
    RhServer::Impl& m_server;
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
        // The connections use the storage, so they go before it.
        const auto connections = findChildren<Connection*>(Qt::FindDirectChildrenOnly);
        qDeleteAll(connections);
    }

    QString open() {
        QString error;
        if (!m_storage.open(&error)) return error;
        return schemaProblem(m_storage);
    }

    void adopt(qintptr descriptor, quint64 id) {
        auto* socket = new QTcpSocket;
        if (!socket->setSocketDescriptor(descriptor)) {
            logLine(QStringLiteral("conexão %1 recusada: %2").arg(id).arg(socket->errorString()));
            delete socket;
            ::close(int(descriptor));
            return;
        }
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        auto* connection = new Connection(socket, id, m_server, m_service, m_parser);
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
    const quint64 id = ++nextConnection;
    Worker* worker = threads[size_t(id % threads.size())]->worker();
    if (!worker) {
        ::close(int(descriptor));
        return;
    }
    QMetaObject::invokeMethod(
        worker, [worker, descriptor, id] { worker->adopt(descriptor, id); }, Qt::QueuedConnection);
}

RhServer::RhServer(ServerOptions options)
    : d(std::make_unique<Impl>()) {
    d->options = std::move(options);
    d->sessionConfig.token = d->options.token;
    d->sessionConfig.serverVersion = QString::fromLatin1(ServerVersion);
    d->sessionPrefix = QStringLiteral("%1/%2/")
                           .arg(QSysInfo::machineHostName())
                           .arg(QCoreApplication::applicationPid());
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
    for (auto& t : d->threads) {
        t->quit();
        t->wait();
    }
    d->threads.clear();
    d->port = 0;
}

} // namespace rhserver
