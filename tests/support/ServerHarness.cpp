#include "ServerHarness.h"

#include "protocol/Tls.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSslSocket>
#include <QThread>
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace testing_rh {

void ensureApplication() {
    if (QCoreApplication::instance()) return;
    static int argc = 1;
    static char name[] = "rhtest";
    static char* argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
}

ServerProcess::ServerProcess() {
    ensureApplication();
}

ServerProcess::~ServerProcess() {
    stop();
}

int ServerProcess::runToEnd(const QStringList& args, QString* output) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(binary(), args);
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        if (output) *output = QStringLiteral("rhserver não terminou");
        return -1;
    }
    if (output) *output = QString::fromUtf8(p.readAll());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

int ServerProcess::rhcall(const QStringList& args, QString* output) const {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral(RHCALL_PATH),
            QStringList{QStringLiteral("--server"), QStringLiteral("127.0.0.1:%1").arg(m_port)} +
                args);
    const bool ended = p.waitForFinished(60000);
    if (output) *output = QString::fromUtf8(p.readAll());
    if (!ended) p.kill();
    return ended && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

bool ServerProcess::initDemo(QString* output) {
    return runToEnd({QStringLiteral("--init"), QStringLiteral("--demo"), QStringLiteral("--db"),
                     dbUrl()},
                    output) == 0;
}

QString ServerProcess::log() const {
    QFile f(m_dir.filePath(QStringLiteral("server.log")));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

QStringList ServerProcess::tlsArguments() {
    // As an administrator installs them: the key readable by the service's account alone.
    const QString cert = m_dir.filePath(QStringLiteral("server.crt"));
    const QString key = m_dir.filePath(QStringLiteral("server.key"));
    QFile::remove(cert);
    QFile::remove(key);
    QFile::copy(tlsFixture(QStringLiteral("server.crt")), cert);
    QFile::copy(tlsFixture(QStringLiteral("server.key")), key);
    QFile::setPermissions(key, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return {QStringLiteral("--tls-cert"), cert, QStringLiteral("--tls-key"), key};
}

QString tlsFixture(const QString& name) {
    return QStringLiteral(RH_TEST_TLS_DIR "/") + name;
}

QSslConfiguration trusting(const QString& certificate) {
    QString error;
    const QSslConfiguration tls = protocol::clientTls(tlsFixture(certificate), &error);
    EXPECT_FALSE(tls.isNull()) << error.toStdString();
    return tls;
}

bool ServerProcess::start(const QStringList& extra) {
    stop();
    // The port is read from this start's line, not from an earlier start's in the same log.
    const qsizetype from = log().size();
    // A file, not a pipe: nobody drains a pipe while a test blocks on a socket.
    m_process.setStandardErrorFile(m_dir.filePath(QStringLiteral("server.log")), QIODevice::Append);
    m_process.setStandardOutputFile(QProcess::nullDevice());
    const QStringList args = QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                                         QStringLiteral("--db"), dbUrl()} +
                             extra;
    if (m_launcher.isEmpty())
        m_process.start(binary(), args);
    else
        m_process.start(m_launcher.first(), m_launcher.mid(1) + QStringList{binary()} + args);
    if (!m_process.waitForStarted(10000)) return false;
    QElapsedTimer clock;
    clock.start();
    static const QString marker = QStringLiteral("rhserver listening on 127.0.0.1:");
    while (clock.elapsed() < 20000) {
        const QString text = log();
        const qsizetype at = text.indexOf(marker, from);
        if (at >= 0) {
            const qsizetype end = text.indexOf(u'\n', at);
            if (end > 0) {
                m_port = quint16(text.mid(at + marker.size(), end - at - marker.size()).toUInt());
                return m_port != 0;
            }
        }
        if (m_process.state() != QProcess::Running) return false;
        m_process.waitForFinished(20);
    }
    return false;
}

qint64 ServerProcess::residentKiB() const {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid()));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

void ServerProcess::kill() {
    m_process.kill();
    m_process.waitForFinished();
}

void ServerProcess::stop() {
    if (m_process.state() == QProcess::NotRunning) return;
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished();
    }
}

LineClient::LineClient(quint16 port, const QSslConfiguration& tls) {
    ensureApplication();
    if (tls.isNull()) {
        m_socket = std::make_unique<QTcpSocket>();
        m_socket->connectToHost(QStringLiteral("127.0.0.1"), port);
        m_socket->waitForConnected(10000);
        return;
    }
    auto secure = std::make_unique<QSslSocket>();
    secure->setSslConfiguration(tls);
    secure->connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
    secure->waitForEncrypted(10000);
    m_socket = std::move(secure);
}

bool LineClient::connected() const {
    const auto* secure = qobject_cast<const QSslSocket*>(m_socket.get());
    return m_socket->state() == QAbstractSocket::ConnectedState &&
           (!secure || secure->isEncrypted());
}

QList<QSslError> LineClient::handshakeErrors() const {
    const auto* secure = qobject_cast<const QSslSocket*>(m_socket.get());
    return secure ? secure->sslHandshakeErrors() : QList<QSslError>();
}

void LineClient::send(const QByteArray& bytes) {
    m_socket->write(bytes);
    while (m_socket->bytesToWrite() > 0 && m_socket->waitForBytesWritten(10000)) {
    }
}

std::optional<QByteArray> LineClient::readLine(int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (auto line = m_reader.takeLine()) return line;
        if (m_socket->bytesAvailable() > 0) {
            m_reader.append(m_socket->readAll());
            continue;
        }
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0 || m_socket->state() != QAbstractSocket::ConnectedState) return std::nullopt;
        if (!m_socket->waitForReadyRead(int(left)) && m_socket->bytesAvailable() == 0)
            return std::nullopt;
    }
}

bool LineClient::waitClosed(int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (m_socket->state() == QAbstractSocket::ConnectedState && clock.elapsed() < timeoutMs) {
        const bool ready =
            m_socket->waitForReadyRead(int(std::max<qint64>(1, timeoutMs - clock.elapsed())));
        m_reader.append(m_socket->readAll());
        // A reset or a close seen as an error ends the connection as surely as a state change.
        if (!ready && m_socket->error() != QAbstractSocket::SocketTimeoutError &&
            m_socket->error() != QAbstractSocket::UnknownSocketError)
            return true;
    }
    return m_socket->state() != QAbstractSocket::ConnectedState;
}

void LineClient::sendWithoutReading(const QByteArray& bytes) {
    m_socket->setReadBufferSize(64 * 1024);
    m_socket->write(bytes);
    m_socket->waitForBytesWritten(100);
}

bool LineClient::waitClosedWithoutReading(int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    const int fd = int(m_socket->socketDescriptor());
    while (clock.elapsed() < timeoutMs) {
        if (m_socket->bytesToWrite() > 0) m_socket->waitForBytesWritten(20);
        if (m_socket->state() != QAbstractSocket::ConnectedState) return true;
        // The kernel's view: unread answers do not hide a reset or a close from it.
        tcp_info info{};
        socklen_t length = sizeof info;
        if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0 ||
            info.tcpi_state != TCP_ESTABLISHED)
            return true;
        QThread::msleep(20);
    }
    return false;
}

protocol::Response LineClient::request(const std::string& line) {
    send(QByteArray::fromStdString(line));
    const auto answer = readLine();
    if (!answer) {
        protocol::Response none;
        none.errorMessage = QStringLiteral("sem resposta");
        return none;
    }
    return protocol::parseResponse(std::string_view(answer->constData(), size_t(answer->size())),
                                   m_parser);
}

protocol::Response LineClient::call(const QString& method,
                                    const QVector<protocol::Argument>& args) {
    return request(protocol::requestJson(m_nextId++, method, args));
}

protocol::Response LineClient::callRaw(const QString& method, const std::string& paramsJson) {
    protocol::JsonWriter w;
    w.beginObject();
    w.key("jsonrpc");
    w.string("2.0");
    w.key("id");
    w.integer(m_nextId++);
    w.key("method");
    w.string(method);
    w.key("params");
    w.raw(paramsJson);
    w.endObject();
    return request(w.take() + '\n');
}

protocol::Response LineClient::open(const QString& branch, const QString& token,
                                    const QString& object) {
    return request(protocol::openRequestJson(m_nextId++, {object, branch, token}));
}

protocol::Response parse(const std::optional<QByteArray>& line) {
    EXPECT_TRUE(line.has_value());
    simdjson::dom::parser parser;
    return line ? protocol::parseResponse(std::string_view(line->constData(), size_t(line->size())),
                                          parser)
                : protocol::Response{};
}

protocol::DataPacket packetOf(const protocol::Response& r) {
    EXPECT_TRUE(r.ok) << r.errorCode << " " << r.errorMessage.toStdString();
    if (!r.ok) return {};
    return protocol::packetFromJson(r.resultJson);
}

QStringList column(const protocol::DataPacket& p, const QString& field) {
    QStringList out;
    const int i = p.indexOf(field);
    EXPECT_GE(i, 0) << field.toStdString();
    if (i < 0) return out;
    for (const protocol::Row& row : p.rows)
        out << row[i].toString();
    return out;
}

namespace {
template <typename F> void withReadOnly(const QString& dbPath, F&& body) {
    ensureApplication();
    static int counter = 0;
    const QString name = QStringLiteral("readonly-%1").arg(++counter);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(dbPath);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        EXPECT_TRUE(db.open());
        body(db);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}
} // namespace

QString dumpStoredData(const QString& dbPath) {
    QString out;
    withReadOnly(dbPath, [&](QSqlDatabase& db) {
        for (const char* table : {"PARAMRH", "PARAMFILIAL", "INSPCARGO", "INSPDEPTO", "INSPPADRAO",
                                  "FILIAL", "INDICE", "CONVMEDI", "CARGO", "DEPTO", "INSPECAO"}) {
            QSqlQuery q(db);
            EXPECT_TRUE(
                q.exec(QStringLiteral("SELECT * FROM %1 ORDER BY 1, 2").arg(QLatin1String(table))));
            out += QLatin1String(table) + u'\n';
            while (q.next()) {
                QStringList values;
                for (int i = 0; i < q.record().count(); ++i)
                    values << (q.isNull(i) ? QStringLiteral("<null>") : q.value(i).toString());
                out += values.join(u'|') + u'\n';
            }
        }
    });
    return out;
}

QString storedValue(const QString& dbPath, const QString& sql) {
    QString value;
    withReadOnly(dbPath, [&](QSqlDatabase& db) {
        QSqlQuery q(db);
        EXPECT_TRUE(q.exec(sql)) << sql.toStdString();
        if (q.next()) value = q.value(0).toString();
    });
    return value;
}

QVector<AuditRow> auditRows(const QString& dbPath) {
    QVector<AuditRow> rows;
    withReadOnly(dbPath, [&](QSqlDatabase& db) {
        QSqlQuery q(db);
        EXPECT_TRUE(
            q.exec(QStringLiteral("SELECT DTAUDITORIA, CDFILIAL, IDSESSAO, NMMETODO, DSARGUMENTOS, "
                                  "NMTOKEN, IDRECUSADO, NMENDERECO FROM RHAUDITORIA ORDER BY "
                                  "NRAUDITORIA")));
        while (q.next())
            rows.push_back({q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
                            q.value(3).toString(), q.value(4).toString(), q.value(5).toString(),
                            q.value(6).toString(), q.value(7).toString()});
    });
    return rows;
}

} // namespace testing_rh
