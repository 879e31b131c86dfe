#pragma once
// A relay in front of the PostgreSQL server, on its own thread: it passes bytes both ways, can
// refuse every connection (a database not up yet), can hold back what the database sends (a
// standby whose replication lags), and can cut a connection right after a chosen statement
// reaches the database, before its reply gets back (a reply lost on the way).

#include <QHostAddress>
#include <QMutex>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <atomic>

class DatabaseRelay : public QThread {
public:
    DatabaseRelay(QString host, quint16 port)
        : m_host(std::move(host))
        , m_upstream(port) {
        start();
        while (m_port.load() == 0)
            QThread::yieldCurrentThread();
    }
    ~DatabaseRelay() override {
        quit();
        wait();
    }

    quint16 port() const { return m_port.load(); }
    // While on, a connection is closed as soon as it is made.
    void refuse(bool on) { m_refusing.store(on); }
    // While on, new connections are refused and what the database sends is kept back; it goes on
    // when turned off, unless the database closed the connection meanwhile (then it is dropped).
    void hold(bool on) {
        m_holding.store(on);
        m_refusing.store(on);
    }
    // The next connection that sends this text has it passed on and is then cut, once.
    void cutAfter(const QByteArray& text) {
        QMutexLocker lock(&m_mutex);
        m_cutAfter = text;
    }
    int cuts() const { return m_cuts.load(); }

protected:
    void run() override {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost, 0);
        // What was held back goes on soon after the hold ends.
        QTimer release;
        m_release = &release;
        release.start(10);
        QObject::connect(&server, &QTcpServer::newConnection, &server, [&] {
            while (QTcpSocket* client = server.nextPendingConnection())
                relay(client);
        });
        m_port.store(server.serverPort());
        exec();
    }

private:
    void relay(QTcpSocket* client) {
        if (m_refusing.load()) {
            client->abort();
            client->deleteLater();
            return;
        }
        auto* upstream = new QTcpSocket(client);
        upstream->connectToHost(m_host, m_upstream);
        const auto close = [client, upstream] {
            upstream->abort();
            client->abort();
            client->deleteLater();
        };
        QObject::connect(client, &QTcpSocket::readyRead, upstream, [this, client, upstream, close] {
            const QByteArray bytes = client->readAll();
            upstream->write(bytes);
            QMutexLocker lock(&m_mutex);
            if (m_cutAfter.isEmpty() || !bytes.contains(m_cutAfter)) return;
            m_cutAfter.clear();
            ++m_cuts;
            // Sent to the database, then the connection goes before any reply can return.
            upstream->flush();
            upstream->waitForBytesWritten(1000);
            QObject::disconnect(upstream, &QTcpSocket::readyRead, nullptr, nullptr);
            QObject::disconnect(m_release, nullptr, client, nullptr);
            QTimer::singleShot(50, client, close);
        });
        const auto pass = [this, client, upstream] {
            if (!m_holding.load() && upstream->bytesAvailable() > 0)
                client->write(upstream->readAll());
        };
        QObject::connect(upstream, &QTcpSocket::readyRead, client, pass);
        QObject::connect(m_release, &QTimer::timeout, client, pass);
        QObject::connect(client, &QTcpSocket::disconnected, upstream, close);
        QObject::connect(upstream, &QTcpSocket::disconnected, client, close);
        // A database that is not there: the client is told at once, as by the database's host.
        QObject::connect(upstream, &QTcpSocket::errorOccurred, client, close);
    }

    QString m_host;
    quint16 m_upstream;
    std::atomic<quint16> m_port{0};
    std::atomic<bool> m_refusing{false};
    std::atomic<bool> m_holding{false};
    QTimer* m_release = nullptr; // lives on the relay's thread
    std::atomic<int> m_cuts{0};
    QMutex m_mutex;
    QByteArray m_cutAfter;
};
