#include "Connection.h"

#include "ChangeWatch.h"
#include "KeptReplies.h"
#include "Log.h"
#include "WorkerPool.h"

#include "contract/Notices.h"
#include "protocol/JsonWriter.h"
#include "protocol/Rpc.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSslSocket>
#include <QTcpSocket>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace rhserver {

namespace {
// Answers the system still holds for a client past which closing resets the connection: a
// close would wait in line behind them, and a client that does not read would keep it open.
constexpr int UnreadBound = 64 * 1024;
// Read from the socket a piece at a time, and only when no whole request is waiting: requests
// read ahead but not yet answered stay within one line and one piece.
constexpr qint64 ReadPiece = 256 * 1024;
// Requests handed to a worker at once: their writes share a commit, and their answers wait for
// the last of them.
constexpr size_t BatchLines = 64;
constexpr qsizetype BatchBytes = 1024 * 1024;
} // namespace

Connection::Connection(QTcpSocket* socket, quint64 id, const ConnectionLimits& limits,
                       const SessionConfig& config, WorkerPool& workers, KeptReplies* kept,
                       QString sessionId, std::function<void()> onClosed)
    : m_socket(socket)
    , m_id(id)
    , m_limits(limits)
    , m_reader(limits.firstLine)
    , m_workers(workers)
    , m_kept(kept)
    , m_session(std::make_shared<Session>(config, std::move(sessionId)))
    // Over TLS every byte goes through the socket object, which encrypts it.
    , m_outlet(std::make_shared<Outlet>(
          qobject_cast<QSslSocket*>(socket) ? -1 : int(socket->socketDescriptor())))
    , m_onClosed(std::move(onClosed))
    , m_throttle(config.throttle) {
    socket->setParent(this);
    socket->setReadBufferSize(1024 * 1024);
    if (m_kept) m_kept->connectionOpened();
    m_address = socket->peerAddress().toString();
    m_peer = QStringLiteral("%1:%2").arg(m_address).arg(socket->peerPort());
    m_session->setPeer(m_address);
    m_born.start();
    logClientEvent(m_address, QStringLiteral("conexão %1 aberta por %2").arg(id).arg(m_peer));
    connect(socket, &QTcpSocket::readyRead, this, &Connection::process);
    connect(socket, &QTcpSocket::bytesWritten, this, [this] {
        if (m_socket->bytesToWrite() == 0) m_outlet->setQueued(false);
        if (m_socket->bytesToWrite() <= m_limits.unsentBound) {
            m_stall.stop();
            sendHeldNotices();
        }
        process();
    });
    connect(socket, &QTcpSocket::disconnected, this, &Connection::closed);
    if (auto* tls = qobject_cast<QSslSocket*>(socket)) {
        // A client that speaks plain text, or gives up on the certificate, gets no session.
        connect(tls, &QSslSocket::errorOccurred, this, [this, tls](QAbstractSocket::SocketError e) {
            if (e != QAbstractSocket::SslHandshakeFailedError || m_closing) return;
            logClientEvent(m_address, QStringLiteral("conexão %1: TLS não negociado (%2); "
                                                     "encerrando")
                                          .arg(m_id)
                                          .arg(tls->errorString()));
            reset();
        });
    }
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        // Not idle while its answers wait for the client to read them: the stall decides.
        if (m_stall.isActive()) {
            m_deadline.start(m_session->isOpen() ? m_limits.idleTimeoutMs
                                                 : m_limits.openDeadlineMs);
            return;
        }
        if (m_session->isOpen())
            closeWith(protocol::ErrorCode::ClosedIdle,
                      QStringLiteral("A conexão ficou sem uso por tempo demais e foi encerrada."),
                      QStringLiteral("sem uso; encerrando"));
        else
            closeWith(protocol::ErrorCode::NotOpen,
                      QStringLiteral("A conexão não foi aberta a tempo e foi encerrada."),
                      QStringLiteral("não chamou open a tempo; encerrando"));
    });
    m_deadline.start(limits.openDeadlineMs);
    m_stall.setSingleShot(true);
    connect(&m_stall, &QTimer::timeout, this, [this] {
        if (m_closing) return;
        logClientEvent(
            m_address,
            QStringLiteral("conexão %1: o cliente não lê as respostas (%2 bytes pendentes); "
                           "encerrando")
                .arg(m_id)
                .arg(m_socket->bytesToWrite()));
        reset();
    });
}

Connection::~Connection() {
    if (m_kept) m_kept->connectionClosed();
    if (m_limits.lineBudget) m_limits.lineBudget->held -= m_heldCounted;
    m_outlet->close();
    if (!m_logged)
        logClientEvent(m_address,
                       QStringLiteral("conexão %1 encerrada (%2)").arg(m_id).arg(m_peer));
    if (m_onClosed) m_onClosed();
}

int Connection::unreadInSystem() const {
    int queued = 0;
    const int fd = int(m_socket->socketDescriptor());
    return fd >= 0 && ::ioctl(fd, SIOCOUTQ, &queued) == 0 ? queued : 0;
}

void Connection::reset() {
    m_closing = true;
    m_outlet->close();
    // Without lingering, closing discards what the client has not read and resets the
    // connection; a plain close would leave it open behind that data.
    if (const int fd = int(m_socket->socketDescriptor()); fd >= 0) {
        const linger none{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &none, sizeof none);
    }
    m_socket->abort();
    closed();
}

void Connection::closed() {
    if (m_logged) return;
    m_logged = true;
    m_closing = true;
    m_outlet->close();
    logClientEvent(m_address, QStringLiteral("conexão %1 encerrada (%2)").arg(m_id).arg(m_peer));
    deleteLater();
}

void Connection::closeWith(int code, const QString& message, const QString& logText) {
    if (m_closing) return;
    logClientEvent(m_address, QStringLiteral("conexão %1: %2").arg(m_id).arg(logText));
    m_closing = true;
    m_outlet->close();
    m_deadline.stop();
    if (m_socket->bytesToWrite() > m_limits.unsentBound || unreadInSystem() > UnreadBound) {
        reset();
        return;
    }
    const std::string out = protocol::errorJson("null", code, message);
    m_socket->write(out.data(), qint64(out.size()));
    m_socket->disconnectFromHost();
    // A client that never reads its last answer does not keep the connection.
    QTimer::singleShot(m_limits.stallTimeoutMs, this, [this] { reset(); });
}

void Connection::process() {
    while (!m_closing && !m_answering && !m_stopped) {
        if (m_socket->bytesToWrite() > m_limits.unsentBound) {
            // Resumed by bytesWritten; closed if the client does not catch up in time.
            if (!m_stall.isActive()) m_stall.start(m_limits.stallTimeoutMs);
            return;
        }
        if (m_reader.overflowed()) {
            const bool opened = m_session->isOpen();
            closeWith(protocol::ErrorCode::InvalidRequest,
                      opened ? QStringLiteral("A mensagem passa do limite de %1 bytes aceito pelo "
                                              "servidor; a conexão será encerrada.")
                                   .arg(m_limits.maxMessage)
                             : QStringLiteral("A primeira mensagem de uma conexão deve ser o open, "
                                              "de até %1 bytes; a conexão será encerrada.")
                                   .arg(m_limits.firstLine),
                      QStringLiteral("mensagem grande demais; encerrando"));
            return;
        }
        std::optional<QByteArray> line = std::exchange(m_heldOpen, std::nullopt);
        if (!line) line = nextLine();
        if (!line) {
            if (m_reader.overflowed()) continue;
            return;
        }
        if (!m_session->isOpen() && !m_openWaited && m_throttle) {
            // An address that has tried wrong tokens waits for each verdict, the right token's
            // too: guesses come a few a second at most, and nobody learns early that one fit.
            m_openWaited = true;
            const qint64 wait =
                m_throttle->verdictWait(m_socket->peerAddress().toString(),
                                        std::max<qint64>(0, m_limits.openDeadlineMs - 500));
            if (wait < 0) {
                closeWith(protocol::ErrorCode::NotAuthorised,
                          QStringLiteral("Acesso não autorizado: tentativas demais com um token "
                                         "errado deste endereço; tente de novo em alguns "
                                         "segundos."),
                          QStringLiteral("tentativas demais deste endereço; encerrando"));
                return;
            }
            if (wait > 0) {
                m_heldOpen = std::move(*line);
                m_answering = true;
                QTimer::singleShot(wait, this, [this] {
                    m_answering = false;
                    process();
                });
                return;
            }
        }
        // A read the network thread has kept the reply of, or can make at once, is answered
        // there, without a worker, with the other such calls of this turn of the event loop.
        if (m_kept && m_session->isOpen()) {
            if (std::optional<KeptReplies::Request> read =
                    m_kept->readRequest(*line, m_session->branch())) {
                if (!m_kept->mayAnswer(*read)) {
                    handToWorker({std::move(*line)}, std::move(read), m_kept->stampNow());
                    return;
                }
                m_answering = true;
                m_inTurnCall = true;
                m_kept->answerInTurn(
                    std::move(*read), this,
                    [this, line = std::move(*line)](KeptReplies::Request& request,
                                                    const std::string* result) mutable {
                        m_answering = false;
                        if (m_closing) return;
                        if (!result) {
                            handToWorker({std::move(line)}, std::move(request), m_kept->stampNow());
                            return;
                        }
                        sent(protocol::resultJson(request.idJson, *result));
                        // What came while it was answered goes with the answer: a client whose
                        // reads are all answered here would hear nothing until another call.
                        sendHeldNotices();
                        // Answered at once, the loop below goes on: no recursion per line.
                        if (!m_inTurnCall) process();
                    });
                m_inTurnCall = false;
                if (m_answering) return;
                continue;
            }
        }
        // The lines already here go with it, up to a bound: the worker answers them in order,
        // its writes under one commit. The next lines wait in the reader until these are
        // answered.
        std::vector<QByteArray> lines;
        lines.push_back(std::move(*line));
        if (m_session->isOpen()) takeWaitingLines(lines);
        handToWorker(std::move(lines), std::nullopt, {});
        return;
    }
}

void Connection::handToWorker(std::vector<QByteArray> lines,
                              std::optional<KeptReplies::Request> read, KeptReplies::Stamp stamp) {
    m_answering = true;
    // A slow answer is no idleness; before open, though, the deadline keeps running.
    if (m_session->isOpen()) m_deadline.stop();
    QPointer<Connection> self(this);
    m_session->keepResultsUpTo(read ? KeptReplies::MaxResult : 0);
    // Answers come back through the connections' owner, which outlives the workers.
    m_workers.submit(m_session, std::move(lines), m_outlet, parent(),
                     [self, read = std::move(read), stamp](WorkerPool::Answers answers) mutable {
                         if (!self) return;
                         if (read && self->m_kept) {
                             std::string result = self->m_session->takeKeptResult();
                             if (!result.empty())
                                 self->m_kept->store(stamp, std::move(read->key),
                                                     std::move(result));
                         }
                         self->answered(answers);
                     });
}

std::optional<QByteArray> Connection::nextLine() {
    while (!m_reader.overflowed()) {
        if (std::optional<QByteArray> line = m_reader.takeLine()) {
            if (line->trimmed().isEmpty()) continue;
            return line;
        }
        if (m_socket->bytesAvailable() <= 0) break;
        // No more than is there: a buffer of the whole piece would be mapped and unmapped by the
        // system allocator on every request.
        m_reader.append(m_socket->read(std::min(ReadPiece, m_socket->bytesAvailable())));
        countHeld();
        if (m_closing) break;
    }
    return std::nullopt;
}

void Connection::countHeld() {
    LineBudget* budget = m_limits.lineBudget;
    if (!budget) return;
    const qint64 held = m_reader.held();
    budget->held += held - m_heldCounted;
    m_heldCounted = held;
    if (budget->held > budget->limit && budget->overflowed) budget->overflowed();
}

void Connection::dropForMemory() {
    logClientEvent(m_address,
                   QStringLiteral("conexão %1 (%2): a memória das mensagens ainda incompletas "
                                  "passou do limite, e esta tinha a maior (%3 bytes); encerrando")
                       .arg(m_id)
                       .arg(m_peer)
                       .arg(m_heldCounted));
    m_reader = protocol::LineReader(m_limits.firstLine);
    if (m_limits.lineBudget) m_limits.lineBudget->held -= m_heldCounted;
    m_heldCounted = 0;
    reset();
}

void Connection::evict() {
    logClientEvent(m_address,
                   QStringLiteral("conexão %1 (%2): não abriu a sessão e deu lugar a uma "
                                  "conexão mais nova; encerrando")
                       .arg(m_id)
                       .arg(m_peer));
    if (m_onClosed) std::exchange(m_onClosed, nullptr)();
    reset();
}

void Connection::takeWaitingLines(std::vector<QByteArray>& lines) {
    qsizetype bytes = lines.front().size();
    while (lines.size() < BatchLines && bytes < BatchBytes) {
        std::optional<QByteArray> next = nextLine();
        if (!next) return;
        bytes += next->size();
        lines.push_back(std::move(*next));
    }
}

void Connection::answered(const WorkerPool::Answers& answers) {
    m_answering = false;
    // Every request before open waits its turn: a ping first does not spare the open its wait.
    m_openWaited = false;
    // The worker is done with the session: what it subscribes to may be read here now.
    m_subscribed = m_session->subscriptions();
    m_opened = m_session->isOpen();
    if (m_closing) return;
    size_t sentByWorker = answers.sent;
    for (const WorkerPool::Answer& answer : answers.list) {
        logFailure(answer.failure);
        const size_t taken = std::min(sentByWorker, answer.text.size());
        sentByWorker -= taken;
        if (taken < answer.text.size()) write(std::string_view(answer.text).substr(taken));
        answerSent();
    }
    // Held while the worker could write: a notice must not cut into an answer.
    sendHeldNotices();
    if (m_session->endsAfterAnswer()) {
        // A wrong token gets one answer per connection.
        m_closing = true;
        m_outlet->close();
        m_deadline.stop();
        m_socket->disconnectFromHost();
        QTimer::singleShot(m_limits.stallTimeoutMs, this, [this] { reset(); });
        return;
    }
    process();
}

void Connection::sent(const std::string& out) {
    write(out);
    answerSent();
}

void Connection::answerSent() {
    if (m_session->isOpen()) {
        m_reader.setLimit(m_limits.maxMessage);
        m_deadline.start(m_limits.idleTimeoutMs);
    }
}

void Connection::tell(const QVector<RecordChange>& changes) {
    if (m_closing || m_subscribed.isEmpty()) return;
    for (const RecordChange& change : changes) {
        if (!m_subscribed.contains(change.record) || change.sessionId == m_session->sessionId())
            continue;
        protocol::JsonWriter params;
        params.beginObject();
        params.key("registro");
        params.string(change.record);
        params.key("metodo");
        params.string(change.method);
        params.key("quem");
        params.string(change.who);
        params.key("quando");
        params.string(change.when);
        params.endObject();
        holdNotice(change.record,
                   protocol::noticeJson(contract::ChangeNotice.data(), params.text()));
    }
    sendHeldNotices();
}

void Connection::holdNotice(const QString& record, std::string line) {
    // One per record, the newest: what the client must learn is the record's last change.
    for (HeldNotice& held : m_heldNotices)
        if (held.record == record) {
            held.line = std::move(line);
            return;
        }
    m_heldNotices.push_back({record, std::move(line)});
}

void Connection::sendHeldNotices() {
    if (m_closing || m_answering || m_heldNotices.empty()) return;
    if (m_socket->bytesToWrite() > m_limits.unsentBound) {
        // Kept until the client reads; closed like one that does not read its answers, if it
        // does not catch up in time.
        if (!m_stall.isActive()) m_stall.start(m_limits.stallTimeoutMs);
        return;
    }
    for (const HeldNotice& held : std::exchange(m_heldNotices, {}))
        write(held.line);
}

void Connection::write(std::string_view out) {
    // Straight to the socket when nothing waits before it, as a worker's answers go: the socket
    // object would write it on the next turn of the event loop, after waking that loop up for it.
    const size_t done = m_socket->bytesToWrite() == 0 ? m_outlet->sendNow(out) : 0;
    if (done < out.size()) {
        m_outlet->setQueued(true);
        m_socket->write(out.data() + done, qint64(out.size() - done));
    }
}

void Connection::stopTakingRequests() {
    m_stopped = true;
    m_deadline.stop();
}

void Connection::flushAndClose(int timeoutMs) {
    if (m_closing) return;
    m_closing = true;
    m_outlet->close();
    QElapsedTimer clock;
    clock.start();
    while (m_socket->bytesToWrite() > 0 && clock.elapsed() < timeoutMs &&
           m_socket->state() == QAbstractSocket::ConnectedState)
        m_socket->waitForBytesWritten(int(std::max<qint64>(1, timeoutMs - clock.elapsed())));
    m_socket->disconnectFromHost();
    m_socket->abort();
    closed();
}

void Connection::logFailure(const QString& failure) {
    if (!failure.isEmpty())
        logClientEvent(m_address,
                       QStringLiteral("conexão %1 (%2): %3").arg(m_id).arg(m_peer, failure));
}

} // namespace rhserver
