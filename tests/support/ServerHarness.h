#pragma once
// A real rhserver process on loopback over a real SQLite file made for the test, and a raw
// line client to talk to it byte by byte.

#include "contract/Methods.h"
#include "protocol/Rpc.h"

#include <QProcess>
#include <QSslConfiguration>
#include <QStringList>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <memory>
#include <optional>

namespace testing_rh {

// Makes sure a QCoreApplication exists (sockets and SQL drivers want one).
void ensureApplication();

class ServerProcess {
public:
    ServerProcess();
    ~ServerProcess();

    // rhserver --init --demo on a fresh file; false with the output when it fails.
    bool initDemo(QString* output = nullptr);
    // Starts serving on 127.0.0.1:0 and reads the port from the start-up line.
    bool start(const QStringList& extra = {});
    void stop();
    // Ends the process at once with SIGKILL, as a crash or an operator's kill -9 would.
    void kill();
    // --tls-cert and --tls-key of the tests' certificate for localhost and 127.0.0.1, installed
    // in the server's folder with the key at mode 0600.
    QStringList tlsArguments();
    // A program that runs rhserver for the next start, such as {"prlimit", "--nofile=48"}.
    void setLauncher(const QStringList& launcher) { m_launcher = launcher; }
    bool running() const { return m_process.state() == QProcess::Running; }
    // Waits for the process to end by itself; its exit code, -1 after a crash.
    bool waitEnded(int timeoutMs = 10000) { return m_process.waitForFinished(timeoutMs); }
    int exitCode() const {
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }

    quint16 port() const { return m_port; }
    qint64 pid() const { return m_process.processId(); }
    // Resident memory of the server process, from /proc, in KiB.
    qint64 residentKiB() const;
    QString dbPath() const {
        return m_sharedDb.isEmpty() ? m_dir.filePath(QStringLiteral("rh.db")) : m_sharedDb;
    }
    // Serve the database file of another server process instead of one of its own.
    void shareDatabase(const QString& path) { m_sharedDb = path; }
    QString dbUrl() const { return m_url.isEmpty() ? QStringLiteral("sqlite:") + dbPath() : m_url; }
    // Serve this database (a PostgreSQL URL, say) instead of an SQLite file of its own.
    void useDatabase(const QString& url) { m_url = url; }
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString log() const; // what the server wrote on stderr so far

    // rhcall --server at this process with the arguments, to its end: its exit code, and what it
    // wrote on stdout and stderr.
    int rhcall(const QStringList& args, QString* output = nullptr) const;

    static QString binary() { return QStringLiteral(RHSERVER_PATH); }
    // Runs rhserver with the arguments to its end; returns the exit code and the output.
    static int runToEnd(const QStringList& args, QString* output);

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QStringList m_launcher;
    QString m_sharedDb;
    QString m_url;
    quint16 m_port = 0;
};

// A file of the tests' certificates: ca.crt (the office's authority, which signed
// server.crt/server.key for localhost and 127.0.0.1) and other.crt (unrelated, self-signed).
QString tlsFixture(const QString& name);
// A client configuration trusting only that certificate of the fixtures.
QSslConfiguration trusting(const QString& certificate);

class LineClient {
public:
    // Over TLS when `tls` is not null: connected once the handshake is over.
    explicit LineClient(quint16 port, const QSslConfiguration& tls = {});
    bool connected() const;
    // Why the client refused the server's certificate; empty for a plain connection.
    QList<QSslError> handshakeErrors() const;

    void send(const QByteArray& bytes);
    // The next response line, or nothing when none came in time or the connection closed.
    std::optional<QByteArray> readLine(int timeoutMs = 10000);
    // Waits for the server to close the connection.
    bool waitClosed(int timeoutMs = 10000);
    // A client that does not read its answers: its own read buffer is kept small, and the bytes go
    // out as the server takes them.
    void sendWithoutReading(const QByteArray& bytes);
    // Waits until the server has closed or reset the connection, reading nothing.
    bool waitClosedWithoutReading(int timeoutMs);
    void close() { m_socket->abort(); }

    protocol::Response request(const std::string& line);
    protocol::Response call(const QString& method, const QVector<protocol::Argument>& args);
    protocol::Response callRaw(const QString& method, const std::string& paramsJson);
    protocol::Response open(const QString& branch = QStringLiteral("0001"),
                            const QString& token = {},
                            const QString& object = QString(contract::ServerObjectName));

private:
    std::unique_ptr<QTcpSocket> m_socket;
    protocol::LineReader m_reader;
    simdjson::dom::parser m_parser;
    std::int64_t m_nextId = 100;
};

// The response in a line read from the server (no line fails the test).
protocol::Response parse(const std::optional<QByteArray>& line);
// The data packet of a successful call (a failed one fails the test).
protocol::DataPacket packetOf(const protocol::Response& r);
// The values of one column of a packet, as texts.
QStringList column(const protocol::DataPacket& p, const QString& field);

// Everything the service may change, as text, read from the SQLite file without the server.
QString dumpStoredData(const QString& dbPath);
// The first column of the first row of a query on the SQLite file, as text.
QString storedValue(const QString& dbPath, const QString& sql);
struct AuditRow {
    QString when, branch, session, method, arguments;
    QString token = {};   // the name of the session's token; empty when none was required
    QString refused = {}; // "S" for a call the token's role did not allow
    QString address = {}; // the client's
};
QVector<AuditRow> auditRows(const QString& dbPath);

} // namespace testing_rh
