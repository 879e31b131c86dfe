#pragma once
// The parameters screen in the real rh main window, with the real module, the embedded service
// on loopback and a SQLite database made for each test.

#include "Desktop.h"
#include "MainWindow.h"
#include "ModuleState.h"
#include "Parametros.h"
#include "ServiceCalls.h"
#include "SlowServer.h"
#include "contract/Methods.h"
#include "server/RhServer.h"
#include "server/Schema.h"

#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTabBar>
#include <QTemporaryDir>
#include <QtTest>

class ParametrosFixture : public QObject {
    Q_OBJECT
protected:
    QTemporaryDir m_dir;
    std::unique_ptr<Desktop> m_desktop;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<SlowServer> m_relay;
    std::unique_ptr<rhserver::RhServer> m_office; // a service of its own, not the embedded one
    rhserver::ServerOptions m_officeOptions;
    QString m_dbPath;

    TfrmParametros* form() const { return Cli_zol00900::frmParametros; }
    DesktopServices& services() const { return m_desktop->services; }
    QList<QMdiSubWindow*> windows() const { return m_window->mdiArea()->subWindowList(); }
    void openScreen() { m_window->parametersAction()->trigger(); }

    // relayed: the screen reaches the service through a relay that sees every request.
    // settingsPath: where the desktop keeps what it remembers; none by default.
    void startDesktop(bool relayed = false, const QString& settingsPath = {}) {
        QVERIFY(m_dir.isValid());
        m_dbPath = m_dir.filePath(QStringLiteral("rh-%1.db").arg(QTest::currentTestFunction()));
        QFile::remove(m_dbPath);
        launchDesktop(relayed, settingsPath);
    }

    // Closes the desktop and starts it again on the same database, as a user's next start.
    void restartDesktop(const QString& settingsPath = {}) {
        const bool relayed = m_relay != nullptr;
        stopDesktop();
        launchDesktop(relayed, settingsPath);
    }

    // As an office runs it: rhserver on its own with TLS and a token, and the desktop reaching it
    // by name with --server, --token-file and --tls-ca, without any database of its own.
    void startDesktopOverTls() {
        QVERIFY(m_dir.isValid());
        m_dbPath = m_dir.filePath(QStringLiteral("rh-tls.db"));
        QFile::remove(m_dbPath);
        QString error;
        QVERIFY2(rhserver::initDatabase(QStringLiteral("sqlite:") + m_dbPath, true, &error),
                 qPrintable(error));
        const auto secret = [this](const QString& name, const QByteArray& bytes) {
            QFile file(m_dir.filePath(name));
            file.open(QIODevice::WriteOnly);
            file.write(bytes);
            file.close();
            file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            return file.fileName();
        };
        const auto fixture = [](const char* name) {
            QFile file(QStringLiteral(RH_TEST_TLS_DIR "/") + QLatin1String(name));
            file.open(QIODevice::ReadOnly);
            return file.readAll();
        };
        rhserver::ServerOptions options;
        options.db = QStringLiteral("sqlite:") + m_dbPath;
        options.token = QStringLiteral("chave-do-escritorio-0123456789");
        options.tlsCertFile = QStringLiteral(RH_TEST_TLS_DIR "/server.crt");
        options.tlsKeyFile = secret(QStringLiteral("server.key"), fixture("server.key"));
        m_officeOptions = options;
        m_office = std::make_unique<rhserver::RhServer>(options);
        QVERIFY2(m_office->start(QHostAddress::LocalHost, 0, &error), qPrintable(error));
        DesktopOptions desktop;
        desktop.server = QStringLiteral("localhost:%1").arg(m_office->port());
        desktop.tokenFile = secret(QStringLiteral("token"), options.token.toUtf8());
        desktop.tlsCaFile = QStringLiteral(RH_TEST_TLS_DIR "/ca.crt");
        launchDesktop(false, {}, &desktop);
    }

    // The office's service stopped and started again on its port, as an operator restarts it.
    void restartOffice() {
        const quint16 port = m_office->port();
        m_office.reset();
        m_office = std::make_unique<rhserver::RhServer>(m_officeOptions);
        QString error;
        QVERIFY2(m_office->start(QHostAddress::LocalHost, port, &error), qPrintable(error));
    }

    void launchDesktop(bool relayed, const QString& settingsPath,
                       const DesktopOptions* remote = nullptr) {
        // In Brazilian Portuguese, as rh's start makes it.
        static const bool portuguese = installPortuguese();
        QVERIFY2(portuguese, "Qt's Brazilian Portuguese translations are missing");
        m_desktop = std::make_unique<Desktop>();
        m_desktop->services.settingsPath = settingsPath;
        QString message;
        if (remote) {
            setHostServices(&m_desktop->services);
            m_desktop->services.unattended = true;
            QVERIFY2(m_desktop->start(*remote, &message), qPrintable(message));
        } else {
            QVERIFY2(m_desktop->startUnattended(m_dbPath, &message), qPrintable(message));
        }
        if (relayed) {
            m_relay = std::make_unique<SlowServer>(quint16(m_desktop->services.serverPort));
            m_desktop->services.serverPort = m_relay->port();
        }
        m_window = std::make_unique<MainWindow>(m_desktop->services);
        QVERIFY2(m_window->loadModules(QCoreApplication::applicationDirPath() +
                                           QStringLiteral("/../modules"),
                                       &message),
                 qPrintable(message));
        m_window->show();
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    }

    void stopDesktop() {
        // What a test left typed is dropped without a box: nobody is there to answer it.
        if (m_desktop) {
            m_desktop->services.unattended = true;
            m_desktop->services.answers.clear();
        }
        m_window.reset();
        m_relay.reset();
        m_desktop.reset();
        m_office.reset();
        setHostServices(nullptr);
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    }

    // Changes stored data behind the desktop's back, as another program would.
    void execSql(const QString& sql) {
        {
            auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("teste"));
            db.setDatabaseName(m_dbPath);
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY2(q.exec(sql), qPrintable(sql));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("teste"));
    }

    // The first column of every row the statement gives.
    QStringList sqlColumn(const QString& sql) {
        QStringList values;
        {
            auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("teste"));
            db.setDatabaseName(m_dbPath);
            if (db.open()) {
                QSqlQuery q(db);
                if (q.exec(sql))
                    while (q.next())
                        values << q.value(0).toString();
            }
        }
        QSqlDatabase::removeDatabase(QStringLiteral("teste"));
        return values;
    }

    // Write methods the service accepted, in order, from its audit rows.
    QStringList acceptedWrites() {
        return sqlColumn(QStringLiteral("SELECT NMMETODO FROM RHAUDITORIA ORDER BY NRAUDITORIA"));
    }

    // Reads through the service, on a connection of its own, as another desktop would.
    QString stored(const QString& method, const QString& key, const char* field) {
        TNetConnection connection;
        connection.ServerName = QString(contract::ServerObjectName);
        connection.Host = services().serverHost;
        connection.Port = services().serverPort;
        connection.SetConnected(true);
        TClientDataSet rows;
        LoadFromServer(connection, rows, method, {key});
        if (rows.IsEmpty()) return QStringLiteral("<nenhum>");
        return rows.FieldByName(QString::fromLatin1(field)).AsString();
    }

    void clickTab(QTabWidget* tabs, int index) {
        QTabBar* bar = tabs->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
    }
    void click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
    // Puts the focus in the control with a click and types the text over what it holds.
    void typeInto(QLineEdit* edit, const QString& text) {
        QTest::mouseClick(edit, Qt::LeftButton);
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(edit));
        edit->selectAll();
        QTest::keyClicks(edit, text);
    }
    QWidget* focused() const { return QApplication::focusWidget(); }
};
