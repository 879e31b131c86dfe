// Starting the desktop: options and the messages a user gets when the product cannot run.

#include "Desktop.h"

#include "server/RhServer.h"
#include "server/Schema.h"

#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

class DesktopStartTest : public QObject {
    Q_OBJECT

private slots:
    void optionsAreReadAndBadOnesExplained() {
        DesktopOptions o;
        QString message;
        QVERIFY(parseDesktopOptions({QStringLiteral("rh"), QStringLiteral("--server"),
                                     QStringLiteral("10.1.2.3:7400"), QStringLiteral("--db"),
                                     QStringLiteral("postgresql://rh@10.1.2.3/rh"),
                                     QStringLiteral("--branch"), QStringLiteral("0002")},
                                    &o, &message));
        QCOMPARE(o.server, QStringLiteral("10.1.2.3:7400"));
        QCOMPARE(o.branch, QStringLiteral("0002"));
        QVERIFY(!parseDesktopOptions(
            {QStringLiteral("rh"), QStringLiteral("--server"), QStringLiteral("semporta")}, &o,
            &message));
        QVERIFY(message.contains(QStringLiteral("HOST:PORTA")));
        QVERIFY(
            !parseDesktopOptions({QStringLiteral("rh"), QStringLiteral("--nada")}, &o, &message));
        // Everything goes through the server: it needs no database, and TLS only with it.
        QVERIFY(parseDesktopOptions(
            {QStringLiteral("rh"), QStringLiteral("--server"), QStringLiteral("h:1")}, &o,
            &message));
        QVERIFY(!parseDesktopOptions(
            {QStringLiteral("rh"), QStringLiteral("--tls-ca"), QStringLiteral("ca.crt")}, &o,
            &message));
        QVERIFY(message.contains(QStringLiteral("--server")));
    }

    void unreachableServerIsReportedAtOnce() {
        // A port that was just free: nothing listens there.
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const quint16 port = probe.serverPort();
        probe.close();
        QTemporaryDir dir;
        Desktop desktop;
        DesktopOptions o;
        o.server = QStringLiteral("127.0.0.1:%1").arg(port);
        o.db = QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("rh.db"));
        QString message;
        QVERIFY(!desktop.start(o, &message));
        QVERIFY2(message.startsWith(
                     QStringLiteral("Não foi possível conectar ao servidor de aplicação")),
                 qPrintable(message));
    }

    void databaseThatCannotBeOpenedIsReported() {
        Desktop desktop;
        DesktopOptions o;
        o.db = QStringLiteral("sqlite:/nao/existe/rh.db");
        QString message;
        QVERIFY(!desktop.start(o, &message));
        QVERIFY2(message.startsWith(QStringLiteral("Não foi possível preparar o banco de dados")),
                 qPrintable(message));
    }

    void unknownBranchIsReported() {
        QTemporaryDir dir;
        Desktop desktop;
        DesktopOptions o;
        o.db = QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("rh.db"));
        o.branch = QStringLiteral("9999");
        QString message;
        QVERIFY(!desktop.start(o, &message));
        QCOMPARE(message, QStringLiteral("A filial 9999 não está cadastrada."));
    }

    // The scale-out set-up: a separate service and the desktop both on PostgreSQL.
    void desktopOnPostgreSqlReadsTheServersDatabase() {
        const QString url = qEnvironmentVariable("RH_TEST_PG");
        if (url.isEmpty()) QSKIP("RH_TEST_PG não definido");
        QString error;
        QVERIFY2(rhserver::initDatabase(url, true, &error), qPrintable(error));
        rhserver::ServerOptions serverOptions;
        serverOptions.db = url;
        rhserver::RhServer server(serverOptions);
        QVERIFY2(server.start(QHostAddress::LocalHost, 0, &error), qPrintable(error));
        Desktop desktop;
        DesktopOptions o;
        o.server = QStringLiteral("127.0.0.1:%1").arg(server.port());
        o.db = url; // not used with a server: said once the desktop is up
        QString message;
        QVERIFY2(desktop.start(o, &message), qPrintable(message));
        QCOMPARE(desktop.notes.size(), 1);
        QCOMPARE(desktop.services.FiliProc(), QStringLiteral("0001"));
        QVERIFY(!desktop.defaultBranchName.isEmpty());
        setHostServices(&desktop.services);
        QCOMPARE(desktop.services.codePictureLevels(12), 2);
        setHostServices(nullptr);
        server.stop();
    }

    void embeddedServiceRefusesCallsWithoutItsToken() {
        QTemporaryDir dir;
        Desktop desktop;
        DesktopOptions o;
        o.db = QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("rh.db"));
        QString message;
        QVERIFY2(desktop.start(o, &message), qPrintable(message));
        QVERIFY(desktop.services.token.size() >= 16);
        QCOMPARE(desktop.services.serverHost, QStringLiteral("127.0.0.1"));
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, quint16(desktop.services.serverPort));
        QVERIFY(socket.waitForConnected(3000));
        socket.write(
            R"({"jsonrpc":"2.0","id":1,"method":"open","params":{"object":"ZOL00900.rdmParametrosZOL","branch":"0001","token":"errado"}})"
            "\n");
        QVERIFY(socket.waitForReadyRead(3000));
        QVERIFY(socket.readLine().contains("-32003"));
    }
};

QTEST_MAIN(DesktopStartTest)
#include "DesktopStartTest.moc"
