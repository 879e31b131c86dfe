#pragma once
// A server that answers late: a loopback relay in front of the real service, on its own thread,
// that can hold back one chosen request until the test releases it, or drop the connection
// when that request arrives.

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMutex>
#include <QPair>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <atomic>

class SlowServer : public QThread {
public:
    enum class Mode { Hold, Drop };

    explicit SlowServer(quint16 upstreamPort)
        : m_upstreamPort(upstreamPort) {
        start();
        while (m_port.load() == 0)
            QThread::yieldCurrentThread();
    }
    ~SlowServer() override {
        quit();
        wait();
    }

    quint16 port() const { return m_port.load(); }
    // The next request that calls this method is held back, or drops its connection.
    void gate(const QByteArray& method, Mode mode) {
        QMutexLocker lock(&m_mutex);
        m_method = "\"method\":\"" + method + "\"";
        m_mode = mode;
    }
    bool holding() const { return m_holding.load(); }
    // Requests of the method that name the code are answered with an error by the relay and
    // never reach the service.
    void refuse(const QByteArray& method, const QByteArray& code) {
        QMutexLocker lock(&m_mutex);
        m_refused.append({"\"method\":\"" + method + "\"", "\"" + code + "\""});
    }
    // Every answer reaches the client this much later, as over a slow network.
    void delayAnswers(int ms) { m_delayMs.store(ms); }
    // Requests of the method go through to the service again.
    void allow(const QByteArray& method) {
        QMutexLocker lock(&m_mutex);
        m_refused.removeIf(
            [&](const auto& r) { return r.first == "\"method\":\"" + method + "\""; });
    }
    // Every request line the relay passed on to the service, in order.
    QList<QByteArray> seen() {
        QMutexLocker lock(&m_mutex);
        return m_seen;
    }
    void release() { m_releaseAsked.store(true); }
    // Closes every client connection, as a server that stopped and came back would have.
    void dropClients() { m_dropAsked.store(true); }
    bool clientsDropped() const { return !m_dropAsked.load(); }

protected:
    void run() override {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::newConnection, &server,
                         [&] { relay(server.nextPendingConnection()); });
        // The release comes from the test's thread; a held request also goes on by itself after
        // a long while, so that a broken build fails instead of hanging.
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &server, [this, &server] {
            if (m_dropAsked.load()) {
                for (auto* client : server.findChildren<QTcpSocket*>(Qt::FindDirectChildrenOnly))
                    client->close();
                m_dropAsked.store(false);
            }
            if (!m_holding.load()) return;
            if (m_releaseAsked.exchange(false) || ++m_heldTicks > 3000) sendHeld();
        });
        poll.start(10);
        m_port.store(server.serverPort());
        exec();
    }

private:
    void relay(QTcpSocket* client) {
        auto* upstream = new QTcpSocket(client);
        upstream->connectToHost(QHostAddress::LocalHost, m_upstreamPort);
        auto* pending = new QByteArray;
        QObject::connect(client, &QObject::destroyed, [pending] { delete pending; });
        QObject::connect(client, &QTcpSocket::readyRead, client, [=, this] {
            pending->append(client->readAll());
            qsizetype end;
            while ((end = pending->indexOf('\n')) >= 0) {
                const QByteArray line = pending->left(end + 1);
                pending->remove(0, end + 1);
                if (!passes(line, client, upstream)) return;
            }
        });
        QObject::connect(upstream, &QTcpSocket::readyRead, client, [=, this] {
            const QByteArray answer = upstream->readAll();
            if (const int ms = m_delayMs.load(); ms > 0)
                QTimer::singleShot(ms, client, [client, answer] { client->write(answer); });
            else
                client->write(answer);
        });
        QObject::connect(upstream, &QTcpSocket::disconnected, client, &QTcpSocket::close);
        QObject::connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
    }

    bool passes(const QByteArray& line, QTcpSocket* client, QTcpSocket* upstream) {
        QMutexLocker lock(&m_mutex);
        for (const auto& [method, code] : m_refused) {
            if (!line.contains(method) || !line.contains(code)) continue;
            const qsizetype at = line.indexOf("\"id\":") + 5;
            const QByteArray id = line.mid(at, line.indexOf(',', at) - at);
            client->write("{\"jsonrpc\":\"2.0\",\"id\":" + id +
                          ",\"error\":{\"code\":-32000,\"message\":\"Recusado pelo teste.\"}}\n");
            return true;
        }
        m_seen << line;
        if (m_method.isEmpty() || !line.contains(m_method)) {
            upstream->write(line);
            return true;
        }
        m_method.clear();
        if (m_mode == Mode::Drop) {
            client->abort();
            return false;
        }
        m_held = line;
        m_heldTo = upstream;
        m_heldTicks = 0;
        m_holding.store(true);
        return true;
    }

    void sendHeld() {
        if (m_heldTo) m_heldTo->write(m_held);
        m_heldTo = nullptr;
        m_holding.store(false);
    }

    quint16 m_upstreamPort;
    std::atomic<quint16> m_port{0};
    std::atomic<bool> m_holding{false};
    std::atomic<bool> m_releaseAsked{false};
    std::atomic<bool> m_dropAsked{false};
    std::atomic<int> m_delayMs{0};
    QMutex m_mutex;
    QByteArray m_method;
    Mode m_mode = Mode::Hold;
    QByteArray m_held;
    QPointer<QTcpSocket> m_heldTo;
    int m_heldTicks = 0;
    QList<QByteArray> m_seen;
    QList<QPair<QByteArray, QByteArray>> m_refused;
};
