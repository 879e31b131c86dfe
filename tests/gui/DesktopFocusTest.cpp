// Failed checks and the Canc question with the desktop's real message boxes: one message, the
// focus where the rule left it and the next keystrokes there, also when a window manager gives
// the activation back to the main window as the box closes.

#include "DesktopDialogsFixture.h"

#include <QFileDialog>
#include <QHeaderView>
#include <QRegularExpression>
#include <QTreeView>

// The machine speaks no Portuguese here: what the screen shows must be Brazilian all the same.
[[maybe_unused]] static const bool machineLocaleIsC = qputenv("LC_ALL", "C");

class DesktopFocusTest : public DesktopDialogsFixture {
    Q_OBJECT

private slots:
    void init() { startOnDesktop(); }
    void cleanup() { stopOnDesktop(); }

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

    // Passing through the branch code asks nothing; leaving it with another branch chosen asks
    // before the typing goes, and only "Descartar alterações" drops it.
    void theQuestionLeavesTheFocusWhereTheAnswerSays_data() {
        QTest::addColumn<int>("combined"); // QKeyCombination::toCombined()
        QTest::addColumn<bool>("kept");
        QTest::newRow("Esc") << QKeyCombination(Qt::Key_Escape).toCombined() << true;
        QTest::newRow("Enter") << QKeyCombination(Qt::Key_Return).toCombined() << true;
        QTest::newRow("Descartar") << DialogAnswerer::Discard.toCombined() << false;
    }
    void theQuestionLeavesTheFocusWhereTheAnswerSays() {
        QFETCH(int, combined);
        const QKeyCombination answer = QKeyCombination::fromCombined(combined);
        QFETCH(bool, kept);
        openOn("mnuAgeFilial");
        typeOver(form()->dbeFechamento, QStringLiteral("12"));
        clickInto(form()->medCdFilial);
        waitUntilSettled();
        QCOMPARE(m_answers->texts, QStringList{});
        QVERIFY(form()->cdsFilial.Editing());
        typeOver(form()->medCdFilial, QStringLiteral("0002"));
        m_answers->keys << answer;
        QTest::keyClick(m_window->windowHandle(), Qt::Key_Tab);
        waitUntilSettled();
        QCOMPARE(m_answers->texts,
                 QStringList{form()->msgMensagensPadroes.Msg(QStringLiteral("Canc"))});
        QCOMPARE(focused(), static_cast<QWidget*>(form()->dbeFechamento));
        QCOMPARE(form()->cdsFilial.Editing(), kept);
        QCOMPARE(form()->medCdFilial->text(),
                 kept ? QStringLiteral("0001") : QStringLiteral("0002"));
        if (kept) QCOMPARE(form()->dbeFechamento->text(), QStringLiteral("12"));
        nextKeystrokesLandIn(form()->dbeFechamento);
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

    // Every way of closing the screen, or rh, with a change typed asks first, also when the
    // focus has left the form meanwhile; Enter and Esc keep the typing.
    void closingWithAChangeAsks_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("combined"); // QKeyCombination::toCombined()
        QTest::addColumn<bool>("focusGone");
        const int esc = QKeyCombination(Qt::Key_Escape).toCombined();
        const int enter = QKeyCombination(Qt::Key_Return).toCombined();
        QTest::newRow("close button, Esc") << "frame" << esc << false;
        QTest::newRow("close button, Enter") << "frame" << enter << false;
        QTest::newRow("close button, Descartar")
            << "frame" << DialogAnswerer::Discard.toCombined() << false;
        QTest::newRow("Ctrl+W, Enter") << "Ctrl+W" << enter << false;
        QTest::newRow("Ctrl+F4, Esc") << "Ctrl+F4" << esc << false;
        QTest::newRow("Ctrl+F4, Descartar")
            << "Ctrl+F4" << DialogAnswerer::Discard.toCombined() << false;
        QTest::newRow("Janela menu, focus gone, Enter") << "mnuFecharJanela" << enter << true;
        QTest::newRow("rh, Esc") << "rh" << esc << false;
        QTest::newRow("rh, focus gone, Enter") << "rh" << enter << true;
    }
    void closingWithAChangeAsks() {
        QFETCH(QString, how);
        QFETCH(int, combined);
        const QKeyCombination answer = QKeyCombination::fromCombined(combined);
        QFETCH(bool, focusGone);
        const bool kept = answer != DialogAnswerer::Discard;
        openOn("mnuEncargos");
        const QString before = stored("GetGeral", QStringLiteral("1"), "VRPEENCTEMP");
        typeOver(form()->dbeVrPeEncTemp, QStringLiteral("7,5"));
        // A busy machine: the focus is elsewhere for a moment when the close comes.
        if (focusGone) focused()->clearFocus();
        m_answers->keys << answer;
        if (how == u"rh")
            m_window->close();
        else if (how == u"frame")
            windows().first()->close();
        else if (how == u"Ctrl+W")
            QTest::keyClick(m_window->windowHandle(), Qt::Key_W, Qt::ControlModifier);
        else if (how == u"Ctrl+F4")
            QTest::keyClick(m_window->windowHandle(), Qt::Key_F4, Qt::ControlModifier);
        else
            m_window->findChild<QAction*>(how)->trigger();
        waitUntilSettled();
        QCOMPARE(m_answers->texts,
                 QStringList{form() ? form()->msgMensagensPadroes.Msg(QStringLiteral("Canc"))
                                    : msgMensagensPadroes().Msg(QStringLiteral("Canc"))});
        QCOMPARE(windows().size(), kept ? 1 : 0);
        QVERIFY(m_window->isVisible());
        if (kept) {
            QCOMPARE(form()->cdsGeral.FieldByName(QStringLiteral("VRPEENCTEMP")).AsFloat(), 7.5);
            if (!focusGone) QCOMPARE(focused(), static_cast<QWidget*>(form()->dbeVrPeEncTemp));
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
