// What an administrator meets around the screen: the version, the "Sobre" box and the main
// window's place and size kept from one start to the next.

#include "Desktop.h"
#include "MainWindow.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class DesktopOpsTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void versionAnswersWithoutADisplay() {
        QProcess rh;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        rh.setProcessEnvironment(env);
        rh.start(QStringLiteral(RH_BINARY), {QStringLiteral("--version")});
        QVERIFY(rh.waitForFinished(10000));
        QCOMPARE(rh.exitCode(), 0);
        QCOMPARE(rh.readAllStandardOutput(), QByteArray("rh " RH_VERSION "\n"));
    }

    void aboutBoxAndRememberedGeometry() {
        const QString db = m_dir.filePath(QStringLiteral("rh.db"));
        const QString settings = m_dir.filePath(QStringLiteral("rh.conf"));
        const QRect placed(120, 90, 800, 560);
        for (int start = 0; start < 2; ++start) {
            Desktop desktop;
            QString message;
            QVERIFY2(desktop.startUnattended(db, &message), qPrintable(message));
            desktop.services.settingsPath = settings;
            MainWindow window(desktop.services);
            window.setServerText(desktop.serverDescription, desktop.serverDetails);
            window.setDatabaseText(desktop.databaseDescription);
            if (start == 0) {
                window.setGeometry(placed);
                window.show();
                window.activateWindow();
                QVERIFY(QTest::qWaitForWindowActive(&window));
                window.findChild<QAction*>(QStringLiteral("mnuSobre"))->trigger();
                QCOMPARE(desktop.services.shownInformation.size(), 1);
                const QString about = desktop.services.shownInformation.first();
                QVERIFY(about.startsWith(QStringLiteral("Recursos Humanos " RH_VERSION)));
                QVERIFY(about.contains(QStringLiteral("Servidor interno")));
                QVERIFY(about.contains(QStringLiteral("Banco de dados: ") + db));
                QVERIFY(window.close());
            } else {
                QCOMPARE(window.geometry(), placed);
            }
            setHostServices(nullptr);
        }
    }
};

QTEST_MAIN(DesktopOpsTest)
#include "DesktopOpsTest.moc"
