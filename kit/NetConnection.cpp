#include "NetConnection.h"

#include "CallWait.h"
#include "Exceptions.h"
#include "HostServices.h"

#include "protocol/Tls.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>
#include <atomic>
#include <malloc.h>
#include <poll.h>

QString SocketFailureText(QAbstractSocket::SocketError error) {
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return QStringLiteral("o servidor recusou a conexão; verifique se ele está no ar");
    case QAbstractSocket::RemoteHostClosedError:
        return QStringLiteral("a conexão foi encerrada pelo servidor");
    case QAbstractSocket::HostNotFoundError:
        return QStringLiteral("o endereço do servidor não foi encontrado");
    case QAbstractSocket::SocketTimeoutError:
        return QStringLiteral("o servidor não respondeu a tempo");
    case QAbstractSocket::NetworkError:
        return QStringLiteral("a rede não está disponível");
    case QAbstractSocket::SslHandshakeFailedError:
        return QStringLiteral("a conexão segura (TLS) com o servidor não foi estabelecida");
    case QAbstractSocket::SocketAccessError:
    case QAbstractSocket::SocketResourceError:
        return QStringLiteral("o sistema não permitiu abrir a conexão");
    default:
        return QStringLiteral("falha de comunicação");
    }
}

namespace {

constexpr size_t SmallReply = 64 * 1024;
// How often a lost connection that should stay made tries its server.
constexpr int ReturnProbeMs = 1000;

// A large reply leaves holes in the heap once the rows it replaced are freed; malloc keeps them
// unless asked. Asked once the event loop is back, when the caller has loaded the new rows.
void returnFreedMemoryWhenIdle() {
#ifdef __GLIBC__
    static std::atomic<bool> pending = false;
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || pending.exchange(true)) return;
    QMetaObject::invokeMethod(
        app,
        [] {
            pending = false;
            malloc_trim(0);
        },
        Qt::QueuedConnection);
#endif
}

} // namespace

TNetConnection::TNetConnection()
    : m_parser(std::make_unique<simdjson::dom::parser>()) {}

TNetConnection::~TNetConnection() {
    SetConnected(false);
}

bool TNetConnection::Connected() const {
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

void TNetConnection::SetConnected(bool connected) {
    if (!connected) {
        if (m_returnWatch) m_returnWatch->stop();
        delete m_probe;
        dropConnection();
        return;
    }
    if (Connected()) return;
    try {
        connectNow();
        m_lastError.clear();
    } catch (const Exception& e) {
        m_lastError = e.message();
        if (ThrowException) throw;
    }
}

void TNetConnection::dropConnection() {
    if (m_socket) {
        // Closed on purpose: no connection lost to tell.
        QObject::disconnect(m_socket.get(), nullptr, &Notices, nullptr);
        m_socket->abort();
        m_socket.reset();
    }
    m_reader = protocol::LineReader();
    m_awaiting = 0;
}

void TNetConnection::transportFailure(const QString& what) {
    const QString where = QStringLiteral("%1:%2").arg(Host).arg(Port);
    dropConnection();
    lost();
    throw EServerError(
        QStringLiteral("Não foi possível comunicar com o servidor de aplicação (%1): %2.")
            .arg(where, what));
}

void TNetConnection::connectNow() {
    if (BeforeConnect) BeforeConnect(*this);
    dropConnection();
    HostServices* services = Services ? Services : hasHostServices() ? &host() : nullptr;
    const QSslConfiguration tls = services ? services->serverTls() : QSslConfiguration();
    if (tls.isNull()) {
        m_socket = std::make_unique<QTcpSocket>();
        m_socket->connectToHost(Host, quint16(Port));
    } else {
        auto socket = std::make_unique<QSslSocket>();
        socket->setSslConfiguration(tls);
        socket->connectToHostEncrypted(Host, quint16(Port));
        m_socket = std::move(socket);
    }
    if (!waitFor(Wait::Connected, std::min(TimeoutMs, 10000))) {
        const auto* secure = qobject_cast<QSslSocket*>(m_socket.get());
        const QString refused =
            secure ? protocol::handshakeFailureText(secure->sslHandshakeErrors()) : QString();
        transportFailure(!refused.isEmpty() ? refused
                         : m_socket->state() == QAbstractSocket::UnconnectedState
                             ? SocketFailureText(m_socket->error())
                             : SocketFailureText(QAbstractSocket::SocketTimeoutError));
    }
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_closingWord.clear();
    m_closingCode = 0;
    ++m_generation;
    m_awaiting = 0;
    m_early.clear();
    m_firstId = m_nextId;
    QObject::connect(m_socket.get(), &QTcpSocket::readyRead, &Notices, [this] { readWhileIdle(); });
    QObject::connect(m_socket.get(), &QTcpSocket::disconnected, &Notices, [this] {
        // A call that waits finds out for itself.
        if (!m_inCall) lost();
    });
    protocol::OpenParams open;
    open.object = ServerName;
    if (services) {
        open.branch = Branch.isEmpty() ? services->FiliProc() : Branch;
        open.token = services->serverToken();
    }
    const std::int64_t id = m_nextId++;
    const protocol::Response r = exchange(protocol::openRequestJson(id, open), id);
    if (!r.ok) {
        // A database not ready yet is worth another try; a refusal is not.
        if (r.errorCode == protocol::ErrorCode::StorageFailure) {
            dropConnection();
            lost();
        } else {
            SetConnected(false);
        }
        throw EServerError(r.errorMessage, r.errorCode);
    }
    simdjson::dom::element opened;
    bool readOnly = false;
    m_readOnly =
        !m_parser->parse(r.resultJson).get(opened) && !opened["readOnly"].get(readOnly) && readOnly;
    if (m_returnWatch) m_returnWatch->stop();
    if (m_generation > 1) tellReconnected();
}

void TNetConnection::lost() {
    // An idle session the server closed stays closed until a call needs it.
    if (!KeepConnected || m_closingCode == protocol::ErrorCode::ClosedIdle) return;
    if (!m_returnWatch) {
        m_returnWatch = std::make_unique<QTimer>();
        m_returnWatch->setInterval(ReturnProbeMs);
        QObject::connect(m_returnWatch.get(), &QTimer::timeout, &Notices,
                         [this] { probeForServer(); });
    }
    if (!m_returnWatch->isActive()) m_returnWatch->start();
}

void TNetConnection::probeForServer() {
    if (Connected()) {
        m_returnWatch->stop();
        return;
    }
    // Tried without waiting, so that a server that does not answer never holds the window up;
    // a try the network has not answered by the next one is given up.
    delete m_probe;
    if (BeforeConnect) BeforeConnect(*this);
    QTcpSocket* probe = new QTcpSocket(&Notices);
    m_probe = probe;
    QObject::connect(probe, &QTcpSocket::connected, &Notices, [this, probe] {
        probe->abort();
        probe->deleteLater();
        reconnectWhenFree();
    });
    probe->connectToHost(Host, quint16(Port));
}

void TNetConnection::reconnectWhenFree() {
    // Never inside a call's wait: the next probe tries again.
    if (m_inCall || CallWaiting() || Connected()) return;
    try {
        connectNow();
    } catch (const std::exception&) {
        // Still watching, unless the server refused the session.
    }
}

void TNetConnection::tellReconnected() {
    // Once the call that made the connection is over, and no other waits.
    QTimer::singleShot(CallWaiting() ? 50 : 0, &Notices, [this] {
        if (CallWaiting())
            tellReconnected();
        else
            emit Notices.Reconnected();
    });
}

void TNetConnection::readWhileIdle() {
    // Answers of calls sent and not yet received are theirs to read.
    if (m_inCall || m_awaiting > 0 || !m_socket) return;
    m_reader.append(m_socket->readAll());
    while (auto line = m_reader.takeLine()) {
        try {
            const protocol::Response r = protocol::parseResponse(
                std::string_view(line->constData(), size_t(line->size())), *m_parser);
            if (r.notice)
                emit Notices.Notice(QString::fromStdString(r.noticeMethod),
                                    QByteArray::fromStdString(r.noticeParamsJson));
            else if (!r.hasId && !r.ok)
                noteClosing(r);
        } catch (const protocol::ProtocolError&) {
            // Not a line of ours: the next call finds the connection as it is.
        }
    }
}

void TNetConnection::noteClosing(const protocol::Response& r) {
    m_closingWord = r.errorMessage;
    m_closingCode = r.errorCode;
}

void TNetConnection::deliverAfterCall() {
    if (m_reader.buffered() == 0) return;
    QMetaObject::invokeMethod(
        &Notices, [this] { readWhileIdle(); }, Qt::QueuedConnection);
}

protocol::Response TNetConnection::exchange(const std::string& request, std::int64_t id) {
    writeRequest(request);
    QElapsedTimer clock;
    clock.start();
    while (m_socket->bytesToWrite() > 0) {
        if (!waitFor(Wait::Written, int(std::max<qint64>(1, TimeoutMs - clock.elapsed()))))
            transportFailure(SocketFailureText(m_socket->error()));
    }
    return readResponse(id);
}

void TNetConnection::writeRequest(const std::string& request) {
    if (m_socket->write(request.data(), qint64(request.size())) != qint64(request.size()))
        transportFailure(SocketFailureText(m_socket->error()));
    ++m_awaiting;
}

protocol::Response TNetConnection::readResponse(std::int64_t id) {
    // An answer of a connection lost since its call was sent never comes.
    if (id < m_firstId || !m_socket)
        transportFailure(QStringLiteral("a conexão foi perdida antes da resposta"));
    if (auto early = m_early.find(id); early != m_early.end()) {
        protocol::Response r = std::move(early.value());
        m_early.erase(early);
        return r;
    }
    struct InCall {
        TNetConnection& c;
        explicit InCall(TNetConnection& connection)
            : c(connection) {
            c.m_inCall = true;
        }
        ~InCall() {
            c.m_inCall = false;
            c.deliverAfterCall();
        }
    } inCall(*this);
    // Calls sent and not yet written go out as the socket waits for the answer.
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        while (auto line = m_reader.takeLine()) {
            // The parser keeps the capacity of its largest document; after a large reply it goes
            // back to a small size, so one long list does not cost that memory for the session.
            struct Shrink {
                simdjson::dom::parser& parser;
                bool large;
                ~Shrink() {
                    if (!large) return;
                    parser = simdjson::dom::parser(); // allocate() would keep the tape
                    returnFreedMemoryWhenIdle();
                }
            } shrink{*m_parser, size_t(line->size()) > SmallReply};
            try {
                protocol::Response r = protocol::parseResponse(
                    std::string_view(line->constData(), size_t(line->size())), *m_parser,
                    protocol::PacketText::Dropped);
                // Told while the call waits: a change stored elsewhere is news at once.
                if (r.notice) {
                    emit Notices.Notice(QString::fromStdString(r.noticeMethod),
                                        QByteArray::fromStdString(r.noticeParamsJson));
                    continue;
                }
                if (r.hasId) --m_awaiting;
                if (r.id == id) return r;
                // Another call sent and still owed (answered out of order, as some relays do).
                if (r.hasId && r.id > id && r.id < m_nextId) {
                    m_early.insert(r.id, std::move(r));
                    continue;
                }
                // The server's reason for closing the connection, told before it closes it.
                if (!r.hasId && !r.ok) noteClosing(r);
            } catch (const protocol::ProtocolError& e) {
                transportFailure(e.message());
            }
        }
        if (m_reader.overflowed()) transportFailure(QStringLiteral("resposta grande demais"));
        const qint64 left = TimeoutMs - clock.elapsed();
        if (left <= 0) transportFailure(QStringLiteral("o servidor não respondeu a tempo"));
        if (m_socket->bytesAvailable() == 0 && !waitFor(Wait::Readable, int(left))) {
            transportFailure(m_socket->state() == QAbstractSocket::ConnectedState
                                 ? QStringLiteral("o servidor não respondeu a tempo")
                             : m_closingWord.isEmpty()
                                 ? QStringLiteral("a conexão foi encerrada pelo servidor")
                                 : m_closingWord);
        }
        m_reader.append(m_socket->readAll());
    }
}

bool TNetConnection::closedByPeer() const {
    pollfd p{int(m_socket->socketDescriptor()), POLLIN | POLLRDHUP, 0};
    if (p.fd < 0 || ::poll(&p, 1, 0) <= 0) return false;
    return (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

bool TNetConnection::waitFor(Wait what, int timeoutMs) {
    QTcpSocket* s = m_socket.get();
    // Over TLS a connection is ready for requests once the handshake is over.
    auto* secure = qobject_cast<QSslSocket*>(s);
    const auto block = [s, secure, what](int ms) {
        switch (what) {
        case Wait::Connected:
            return secure ? secure->waitForEncrypted(ms) : s->waitForConnected(ms);
        case Wait::Written:
            return s->waitForBytesWritten(ms);
        case Wait::Readable:
            return s->waitForReadyRead(ms);
        }
        return false;
    };
    if (!CallWait::Available()) return block(timeoutMs);
    // Most answers come within milliseconds: wait for them on the socket alone, and let the
    // window paint and animate only when the server takes longer. (A connect that times out
    // on the socket is abandoned, so connecting always waits in the loop.)
    QElapsedTimer clock;
    clock.start();
    constexpr int quickMs = 30;
    if (what != Wait::Connected && timeoutMs > quickMs) {
        if (block(quickMs)) return true;
        if (s->state() == QAbstractSocket::UnconnectedState) return false;
        timeoutMs -= int(clock.elapsed());
    }
    const auto ready = [s, secure, what] {
        switch (what) {
        case Wait::Connected:
            return s->state() == QAbstractSocket::ConnectedState &&
                   (!secure || secure->isEncrypted());
        case Wait::Written:
            return s->bytesToWrite() == 0;
        case Wait::Readable:
            return s->bytesAvailable() > 0;
        }
        return false;
    };
    const auto over = [s, ready] {
        return ready() || s->state() == QAbstractSocket::UnconnectedState;
    };
    CallWait wait;
    if (secure)
        return wait.until(over, timeoutMs, secure, &QSslSocket::encrypted,
                          &QTcpSocket::bytesWritten, &QTcpSocket::readyRead,
                          &QTcpSocket::stateChanged, &QTcpSocket::errorOccurred) &&
               ready();
    return wait.until(over, timeoutMs, s, &QTcpSocket::connected, &QTcpSocket::bytesWritten,
                      &QTcpSocket::readyRead, &QTcpSocket::stateChanged,
                      &QTcpSocket::errorOccurred) &&
           ready();
}

std::int64_t TAppServer::send(const QString& method, const QVector<protocol::Argument>& args) {
    TNetConnection& c = m_connection;
    // Reconnected only with nothing in flight: answers owed on the old connection are lost.
    if (!c.Connected() || (c.m_awaiting == 0 && c.closedByPeer())) c.connectNow();
    const std::int64_t id = c.m_nextId++;
    c.writeRequest(protocol::requestJson(id, method, args));
    return id;
}

protocol::Response TAppServer::receive(std::int64_t id) {
    return m_connection.readResponse(id);
}

protocol::Response TAppServer::call(const QString& method,
                                    const QVector<protocol::Argument>& args) {
    TNetConnection& c = m_connection;
    // A connection that failed or dropped is made again, once, for the call that needs it.
    // Only before anything is sent: a request the server may have received is never repeated.
    if (!c.Connected() || c.closedByPeer()) c.connectNow();
    const bool alone = c.m_awaiting == 0;
    const std::int64_t id = c.m_nextId++;
    try {
        return c.exchange(protocol::requestJson(id, method, args), id);
    } catch (const EServerError&) {
        // Closed for idleness as the call went out: the server read none of it, so it is sent
        // again, once, on a new connection.
        if (!alone || c.m_closingCode != protocol::ErrorCode::ClosedIdle) throw;
    }
    c.connectNow();
    const std::int64_t again = c.m_nextId++;
    return c.exchange(protocol::requestJson(again, method, args), again);
}
