// Failed checks and the Canc question with the desktop's real message boxes: one message, the
// focus where the rule left it and the next keystrokes there, also when a window manager gives
// the activation back to the main window as the box closes.

#include "DialogAnswerer.h"
#include "ParametrosFixture.h"

#include <QFileDialog>
#include <QHeaderView>
#include <QRegularExpression>
#include <QTreeView>

// The machine speaks no Portuguese here: what the screen shows must be Brazilian all the same.
[[maybe_unused]] static const bool machineLocaleIsC = qputenv("LC_ALL", "C");

class DesktopFocusTest : public ParametrosFixture {
    Q_OBJECT

    std::unique_ptr<DialogAnswerer> m_answers;

    QLineEdit* edit(const QString& name) const { return form()->findChild<QLineEdit*>(name); }
    QAction* item(const QString& name) const { return form()->findChild<QAction*>(name); }
    QString message(const QString& key) const { return form()->msgPadrao.Msg(key); }
    void waitUntilSettled() { QTRY_VERIFY(DialogAnswerer::settled(m_window.get())); }

    // A click of the mouse, as the window system delivers it.
    void clickInto(QWidget* control) {
        QWidget* window = control->window();
        QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {},
                          control->mapTo(window, control->rect().center()));
    }
    // Clicks into the control and types the text over whatever it holds.
    void typeOver(QLineEdit* control, const QString& text) {
        clickInto(control);
        QTRY_COMPARE(focused(), static_cast<QWidget*>(control));
        control->selectAll();
        QTest::keyClick(control, Qt::Key_Delete);
        QTest::keyClicks(control, text);
    }
    // A key typed now goes where the focus is; it must change what the control shows.
    void nextKeystrokesLandIn(QLineEdit* control) {
        const QString before = control->text();
        QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_End);
        for (Qt::Key key : {Qt::Key_Backspace, Qt::Key_Backspace, Qt::Key_1})
            QTest::keyClick(static_cast<QWidget*>(nullptr), key);
        QVERIFY2(control->text() != before, qPrintable(control->objectName()));
    }
    void openOn(const char* menuItem) {
        openScreen();
        QTRY_VERIFY(form() && form()->ActivationCount() > 0);
        waitUntilSettled();
        item(QString::fromLatin1(menuItem))->trigger();
    }

private slots:
    void init() {
        startDesktop();
        services().unattended = false;
        m_answers = std::make_unique<DialogAnswerer>();
    }
    void cleanup() {
        stopDesktop();
        m_answers.reset();
    }

    void aFailedCheckShowsOneMessageAndKeepsTheFocus_data() {
        QTest::addColumn<QString>("page");    // the menu item that shows it
        QTest::addColumn<QString>("control"); // typed into, then left with the key
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("leave");
        QTest::addColumn<QString>("key");  // the message's key, or
        QTest::addColumn<QString>("text"); // its text as shown
        const QString tomorrow =
            QDate::currentDate().addDays(1).toString(QStringLiteral("ddMMyyyy"));
        QTest::newRow("closing day") << "mnuAgeFilial"
                                     << "dbeFechamento"
                                     << "45" << int(Qt::Key_Tab) << ""
                                     << "45 não é um dia válido.";
        QTest::newRow("last closing after today")
            << "mnuAgeFilial"
            << "dbdUltiFecha" << tomorrow << int(Qt::Key_Backtab) << "DATA"
            << "";
        QTest::newRow("branch code unknown") << "mnuAgeFilial"
                                             << "medCdFilial"
                                             << "9999" << int(Qt::Key_Tab) << "COD_NC"
                                             << "";
        QTest::newRow("branch code blank") << "mnuAgeFilial"
                                           << "medCdFilial"
                                           << "" << int(Qt::Key_Tab) << "FILIAL_DEVE"
                                           << "";
        QTest::newRow("payroll folder") << "mnuDIversos"
                                        << "dbeDiretorio"
                                        << "/nao/existe" << int(Qt::Key_Tab) << "Diretorio_ne"
                                        << "";
        QTest::newRow("medical plan") << "mnuDIversos"
                                      << "dbeMediConv"
                                      << "99" << int(Qt::Key_Backtab) << "Convenio_nc"
                                      << "";
        QTest::newRow("index code") << "mnuCestaBasica"
                                    << "dbeCdIndiceCb"
                                    << "9999" << int(Qt::Key_Tab) << "IND_NC"
                                    << "";
        QTest::newRow("base date") << "mnuCestaBasica"
                                   << "dbdDtBaseCB"
                                   << "31022026" << int(Qt::Key_Tab) << ""
                                   << "31/02/2026 não é uma data válida.";
    }
    void aFailedCheckShowsOneMessageAndKeepsTheFocus() {
        QFETCH(QString, page);
        QFETCH(QString, control);
        QFETCH(QString, typed);
        QFETCH(int, leave);
        QFETCH(QString, key);
        QFETCH(QString, text);
        execSql(QStringLiteral("UPDATE PARAMFILIAL SET NMDIRPONTO = NULL"));
        openOn(qPrintable(page));
        QLineEdit* checked = edit(control);
        typeOver(checked, typed);
        QTest::keyClick(m_window->windowHandle(), Qt::Key(leave));
        waitUntilSettled();
        QCOMPARE(m_answers->texts, QStringList{key.isEmpty() ? text : message(key)});
        QCOMPARE(focused(), static_cast<QWidget*>(checked));
        nextKeystrokesLandIn(checked);
        QCOMPARE(m_answers->texts.size(), 1);
    }

    // Entering the branch panel with a changed branch record asks first.
    void theQuestionLeavesTheFocusWhereTheAnswerSays_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("focus");
        QTest::addColumn<bool>("kept");
        QTest::newRow("Cancel: stay in the field")
            << int(Qt::Key_Escape) << "dbeFechamento" << true;
        QTest::newRow("OK: the branch code") << int(Qt::Key_Return) << "medCdFilial" << false;
    }
    void theQuestionLeavesTheFocusWhereTheAnswerSays() {
        QFETCH(int, answer);
        QFETCH(QString, focus);
        QFETCH(bool, kept);
        openOn("mnuAgeFilial");
        typeOver(form()->dbeFechamento, QStringLiteral("12"));
        m_answers->keys << Qt::Key(answer);
        clickInto(form()->medCdFilial);
        waitUntilSettled();
        QCOMPARE(m_answers->texts,
                 QStringList{form()->msgMensagensPadroes.Msg(QStringLiteral("Canc"))});
        QCOMPARE(focused(), static_cast<QWidget*>(edit(focus)));
        QCOMPARE(form()->cdsFilial.Editing(), kept);
        if (kept) QCOMPARE(form()->dbeFechamento->text(), QStringLiteral("12"));
        nextKeystrokesLandIn(edit(focus));
        QCOMPARE(m_answers->texts.size(), 1);
    }

    // Minimising the window with a wrong day typed is no leaving of the field; restored, the
    // window has the focus back in it.
    void minimisingIsNotLeavingAField() {
        openOn("mnuAgeFilial");
        typeOver(form()->dbeFechamento, QStringLiteral("45"));
        QMdiSubWindow* frame = windows().first();
        frame->showMinimized();
        QTRY_VERIFY(!form()->isVisible());
        frame->showNormal();
        QTRY_VERIFY(form()->isVisible());
        waitUntilSettled();
        QCOMPARE(m_answers->texts, QStringList{});
        QCOMPARE(focused(), static_cast<QWidget*>(form()->dbeFechamento));
        nextKeystrokesLandIn(form()->dbeFechamento);
    }

    // Closing the screen, or rh, with a change typed asks first; the answer does what it says.
    void closingWithAChangeAsks_data() {
        QTest::addColumn<bool>("wholeDesktop");
        QTest::addColumn<int>("answer");
        QTest::newRow("screen, Cancel") << false << int(Qt::Key_Escape);
        QTest::newRow("screen, OK") << false << int(Qt::Key_Return);
        QTest::newRow("rh, Cancel") << true << int(Qt::Key_Escape);
    }
    void closingWithAChangeAsks() {
        QFETCH(bool, wholeDesktop);
        QFETCH(int, answer);
        const bool kept = answer == Qt::Key_Escape;
        openOn("mnuEncargos");
        const QString before = stored("GetGeral", QStringLiteral("1"), "VRPEENCTEMP");
        typeOver(form()->dbeVrPeEncTemp, QStringLiteral("7,5"));
        m_answers->keys << Qt::Key(answer);
        if (wholeDesktop)
            m_window->close();
        else
            windows().first()->close();
        waitUntilSettled();
        QCOMPARE(m_answers->texts,
                 QStringList{form() ? form()->msgMensagensPadroes.Msg(QStringLiteral("Canc"))
                                    : msgMensagensPadroes().Msg(QStringLiteral("Canc"))});
        QCOMPARE(windows().size(), kept ? 1 : 0);
        QVERIFY(m_window->isVisible());
        if (kept) {
            QCOMPARE(form()->cdsGeral.FieldByName(QStringLiteral("VRPEENCTEMP")).AsFloat(), 7.5);
            QCOMPARE(focused(), static_cast<QWidget*>(form()->dbeVrPeEncTemp));
        }
        QCOMPARE(stored("GetGeral", QStringLiteral("1"), "VRPEENCTEMP"), before);
    }

    // The folder dialog speaks the application's language and shows its dates, whatever the
    // machine's locale; so do the screen's numbers.
    void theFolderDialogIsBrazilian() {
        execSql(QStringLiteral("UPDATE PARAMFILIAL SET NMDIRPONTO = '%1'").arg(m_dir.path()));
        QDir(m_dir.path()).mkdir(QStringLiteral("folha"));
        openOn("mnuEncargos");
        QVERIFY(form()->dbeVrPeEncEfet->text().contains(u','));
        form()->mnuDIversos->trigger();
        QStringList seen;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog || !dialog->isVisible()) return;
            auto* view = dialog->findChild<QTreeView*>(QStringLiteral("treeView"));
            QAbstractItemModel* rows = view ? view->model() : nullptr;
            if (!rows || rows->rowCount(view->rootIndex()) == 0) return; // still reading
            seen << dialog->windowTitle();
            const QString dateHeader = rows->headerData(3, Qt::Horizontal).toString();
            seen << dateHeader;
            const QModelIndex folder = rows->index(0, 0, view->rootIndex());
            seen << folder.siblingAtColumn(2).data().toString();
            seen << (QRegularExpression(QStringLiteral("^\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d$"))
                             .match(folder.siblingAtColumn(3).data().toString())
                             .hasMatch()
                         ? QStringLiteral("data brasileira")
                         : folder.siblingAtColumn(3).data().toString());
            const bool headerFits = view->header()->sectionSize(3) >=
                                    view->header()->fontMetrics().horizontalAdvance(dateHeader);
            seen << (headerFits ? QStringLiteral("cabe") : QStringLiteral("cortado"));
            dialog->reject();
        });
        poll.start(20);
        click(form()->btpDirFolhaPag);
        QCOMPARE(seen, (QStringList{"Selecionar diretório", "Data de modificação", "Pasta",
                                    "data brasileira", "cabe"}));
    }

    // The branch code is the first Tab stop of "Filial": reached from either sub-page by Tab
    // after its last field, and by Shift+Tab from its first.
    void theBranchCodeIsReachedWithTheKeyboard_data() {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("from");
        QTest::addColumn<int>("key");
        QTest::newRow("Agenda, Tab") << "mnuAgeFilial"
                                     << "dbdUltiFecha" << int(Qt::Key_Tab);
        QTest::newRow("Agenda, Shift+Tab") << "mnuAgeFilial"
                                           << "dbeFechamento" << int(Qt::Key_Backtab);
        QTest::newRow("Diversos, Tab") << "mnuDIversos"
                                       << "dbeMediConv" << int(Qt::Key_Tab);
        QTest::newRow("Diversos, Shift+Tab") << "mnuDIversos"
                                             << "dbeDiretorio" << int(Qt::Key_Backtab);
    }
    void theBranchCodeIsReachedWithTheKeyboard() {
        QFETCH(QString, page);
        QFETCH(QString, from);
        QFETCH(int, key);
        openOn(qPrintable(page));
        clickInto(edit(from));
        QTRY_COMPARE(focused(), static_cast<QWidget*>(edit(from)));
        QTest::keyClick(m_window->windowHandle(), Qt::Key(key));
        QTRY_COMPARE(focused(), static_cast<QWidget*>(form()->medCdFilial));
        QCOMPARE(m_answers->texts, QStringList{});
    }

    // A stored closing day out of range does not stand between the user and another sub-page.
    void aMenuItemGoesStraightToItsPage() {
        execSql(QStringLiteral("UPDATE PARAMFILIAL SET DIFECHRH = '45'"));
        openOn("mnuDIversos");
        waitUntilSettled();
        QCOMPARE(m_answers->texts, QStringList{});
        QCOMPARE(form()->pgcFilial->ActivePage(), form()->tshDiversos);
        QVERIFY(form()->mnuDIversos->isChecked() && !form()->mnuAgeFilial->isChecked());
        QVERIFY(form()->tshDiversos->isAncestorOf(focused()));
    }
};

QTEST_MAIN(DesktopFocusTest)
#include "DesktopFocusTest.moc"
