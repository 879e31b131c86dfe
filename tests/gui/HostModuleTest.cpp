// The host with the module loaded only at run time, as rh loads it: open the screen, close it,
// open it again and quit; the module's entries run and nothing of it is used after unloading.

#include "Desktop.h"
#include "MainWindow.h"

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTemporaryDir>
#include <QtTest>

class HostModuleTest : public QObject {
    Q_OBJECT

private slots:
    void openCloseReopenAndQuit() {
        QTemporaryDir dir;
        Desktop desktop;
        QString message;
        QVERIFY2(desktop.startUnattended(dir.filePath(QStringLiteral("rh.db")), &message),
                 qPrintable(message));
        {
            MainWindow window(desktop.services);
            QVERIFY2(window.loadModules(QStringLiteral(RH_MODULES_DIR), &message),
                     qPrintable(message));
            window.show();
            window.parametersAction()->trigger();
            QCOMPARE(window.mdiArea()->subWindowList().size(), 1);
            QWidget* form = window.mdiArea()->subWindowList().first()->widget();
            QCOMPARE(form->objectName(), QStringLiteral("frmParametros"));
            window.mdiArea()->subWindowList().first()->close();
            QTRY_COMPARE(window.mdiArea()->subWindowList().size(), 0);
            window.parametersAction()->trigger();
            QCOMPARE(window.mdiArea()->subWindowList().size(), 1);
            QVERIFY(window.close()); // quits with the screen open
        }
        QVERIFY(desktop.services.shownErrors.isEmpty());
        setHostServices(nullptr);
    }
};

QTEST_MAIN(HostModuleTest)
#include "HostModuleTest.moc"
