// The parameters screen while the service is slow or fails: the window keeps painting and
// animating but takes no input, the commands offered on the tool bar and in the menu agree
// before, during and after the first load, and a failed first load can be retried.

#include "BusyAnimation.h"
#include "ParametrosFixture.h"

#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// Counts the input events that reach the widgets it watches.
class InputRecorder : public QObject {
public:
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        switch (e->type()) {
        case QEvent::KeyPress:
        case QEvent::MouseButtonPress:
            ++count;
            break;
        default:
            break;
        }
        return false;
    }
};

// Tool-bar buttons and their menu items: enabled state of each, "button/menu".
QStringList commandStates(TfrmParametros* f) {
    QStringList states;
    const QList<QPair<QToolButton*, QAction*>> pairs{{f->sbtAlterar, f->mnuAlterar},
                                                     {f->sbtConfirmar, f->mnuConfirmar},
                                                     {f->sbtCancelar, f->mnuCancelar},
                                                     {f->sbtVerificar, f->mnuVerificar}};
    for (const auto& [button, item] : pairs)
        states << QStringLiteral("%1 %2/%3")
                      .arg(button->objectName())
                      .arg(button->isEnabled() ? 1 : 0)
                      .arg(item->isEnabled() ? 1 : 0);
    return states;
}
} // namespace

class BusyWaitTest : public ParametrosFixture {
    Q_OBJECT

    TBusyAnimation* animation() const { return m_window->findChild<TBusyAnimation*>(); }

private slots:
    // The screen reaches the service through the late-answering relay.
    void init() { startDesktop(true); }
    void cleanup() { stopDesktop(); }

    void windowAnimatesButTakesNoInputWhileACallWaits() {
        m_relay->gate("GetGeral", SlowServer::Mode::Hold);
        InputRecorder recorder;
        int ticks = 0;
        QSet<int> frames;
        bool animationShown = true;
        Qt::CursorShape pointer = Qt::ArrowCursor;
        bool nestedLoadRan = false;
        QStringList statesDuring;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            TfrmParametros* f = form();
            if (!m_relay->holding() || !f) return;
            if (ticks++ == 0) {
                statesDuring = commandStates(f);
                pointer = QApplication::overrideCursor() ? QApplication::overrideCursor()->shape()
                                                         : Qt::ArrowCursor;
                // A user types into an edit and presses Alterar while the screen loads.
                f->dbeVrPeEncTemp->installEventFilter(&recorder);
                f->sbtAlterar->installEventFilter(&recorder);
                QTest::keyClick(f->dbeVrPeEncTemp, Qt::Key_5);
                QTest::mouseClick(f->sbtAlterar, Qt::LeftButton);
                // The window becoming active again meanwhile runs no second load.
                f->Activate();
                nestedLoadRan = !Cli_zol00900::boPrimVez;
            }
            animationShown = animationShown && animation()->isVisible();
            frames.insert(animation()->Frame());
            if (frames.size() >= 3) m_relay->release();
        });
        watch.start(5);
        openScreen();
        watch.stop();

        QVERIFY2(ticks > 0, "the window froze while the call waited");
        QVERIFY(frames.size() >= 3);
        QVERIFY(animationShown);
        QCOMPARE(pointer, Qt::WaitCursor);
        QCOMPARE(recorder.count, 0);
        QVERIFY(!nestedLoadRan);
        QVERIFY(!form()->cdsGeral.Editing());
        QVERIFY(!Cli_zol00900::boPrimVez);
        QVERIFY(!animation()->isVisible());
        QVERIFY(m_desktop->services.shownErrors.isEmpty());
        // Nothing to edit, confirm, cancel or verify while nothing is loaded.
        QCOMPARE(
            statesDuring,
            (QStringList{QStringLiteral("sbtAlterar 0/0"), QStringLiteral("sbtConfirmar 0/0"),
                         QStringLiteral("sbtCancelar 0/0"), QStringLiteral("sbtVerificar 0/0")}));
        QCOMPARE(
            commandStates(form()),
            (QStringList{QStringLiteral("sbtAlterar 1/1"), QStringLiteral("sbtConfirmar 0/0"),
                         QStringLiteral("sbtCancelar 0/0"), QStringLiteral("sbtVerificar 1/1")}));
        // The same input once the call is over reaches the form.
        QTest::keyClick(form()->dbeVrPeEncTemp, Qt::Key_5);
        QCOMPARE(recorder.count, 1);
    }

    void failedFirstLoadIsRetriedThroughTheMenuItem() {
        m_relay->gate("GetGeral", SlowServer::Mode::Drop);
        openScreen();
        DesktopServices& s = m_desktop->services;
        QCOMPARE(s.shownErrors.size(), 1);
        // Our own words for the failure, not the socket's English text.
        QVERIFY2(s.shownErrors.first().contains(QStringLiteral("encerrada pelo servidor")),
                 qPrintable(s.shownErrors.first()));
        QVERIFY(!s.shownErrors.first().contains(QStringLiteral("closed")));
        // The error dialog shows the normal pointer, not the hourglass.
        QCOMPARE(s.pointersAtErrors, QList<Qt::CursorShape>{Qt::ArrowCursor});
        QVERIFY(Cli_zol00900::boPrimVez);
        QVERIFY(!form()->cdsGeral.Active());
        QCOMPARE(
            commandStates(form()),
            (QStringList{QStringLiteral("sbtAlterar 0/0"), QStringLiteral("sbtConfirmar 0/0"),
                         QStringLiteral("sbtCancelar 0/0"), QStringLiteral("sbtVerificar 1/1")}));
        QMdiSubWindow* window = m_window->mdiArea()->activeSubWindow();
        QVERIFY(window);

        // The window is still the active one: asking for the screen again repeats the load.
        openScreen();
        QCOMPARE(m_window->mdiArea()->activeSubWindow(), window);
        QCOMPARE(s.shownErrors.size(), 1);
        QVERIFY(!Cli_zol00900::boPrimVez);
        QVERIFY(form()->cdsGeral.Active());
        QCOMPARE(form()->cdsGeral.RecordCount(), 1);
        QCOMPARE(
            commandStates(form()),
            (QStringList{QStringLiteral("sbtAlterar 1/1"), QStringLiteral("sbtConfirmar 0/0"),
                         QStringLiteral("sbtCancelar 0/0"), QStringLiteral("sbtVerificar 1/1")}));

        // Loaded: asking again loads nothing more.
        m_relay->gate("GetFilial", SlowServer::Mode::Drop);
        openScreen();
        QCOMPARE(s.shownErrors.size(), 1);
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    }

    void failedFirstLoadIsRetriedWhenTheApplicationIsActiveAgain() {
        m_relay->gate("GetGeral", SlowServer::Mode::Drop);
        openScreen();
        QCOMPARE(m_desktop->services.shownErrors.size(), 1);
        QVERIFY(Cli_zol00900::boPrimVez);
        // The user goes to another program and comes back. The offscreen platform never
        // leaves the active state, so the test says what a desktop platform says.
        emit qApp->applicationStateChanged(Qt::ApplicationInactive);
        QVERIFY(Cli_zol00900::boPrimVez);
        emit qApp->applicationStateChanged(Qt::ApplicationActive);
        QVERIFY(!Cli_zol00900::boPrimVez);
        QVERIFY(form()->cdsGeral.Active());
        QCOMPARE(m_desktop->services.shownErrors.size(), 1);
    }
};

QTEST_MAIN(BusyWaitTest)
#include "BusyWaitTest.moc"
