// The parameters screen in the real rh main window, with the real module, the embedded service
// on loopback and a SQLite database made for each test.

#include "BusyAnimation.h"
#include "ParametrosFixture.h"

#include <QMenuBar>
#include <QToolButton>

class ParametrosShellTest : public ParametrosFixture {
    Q_OBJECT

    double geralValue(const char* field) const {
        return form()->cdsGeral.FieldByName(QString::fromLatin1(field)).AsFloat();
    }

private slots:
    void init() { startDesktop(); }
    void cleanup() { stopDesktop(); }

    void firstOpenLoadsBranchAndGeneralRecords() {
        openScreen();
        QCOMPARE(windows().size(), 1);
        QVERIFY(form());
        QVERIFY(m_desktop->services.shownErrors.isEmpty());
        QCOMPARE(form()->medCdFilial->text(), QStringLiteral("0001"));
        QCOMPARE(form()->edtNmFilial->text(),
                 form()->cdsFilial.FieldByName(QStringLiteral("NMFILIAL")).AsString());
        QVERIFY(!form()->edtNmFilial->text().isEmpty());
        QCOMPARE(form()->cdsGeral.RecordCount(), 1);
        QCOMPARE(form()->pgcPadrao->ActivePage(), form()->tshFolhaDados);
        QCOMPARE(form()->pgcGeral->ActivePage(), form()->tshEncargos);
        QCOMPARE(form()->lblCodTela->text(), QStringLiteral("ZOL00900"));
        QCOMPARE(m_desktop->services.busyDepth(), 0);
        // The form's menus are in the main window's menu bar while it is active.
        QStringList titles;
        for (QAction* a : m_window->menuBar()->actions())
            titles << a->text();
        QVERIFY(titles.contains(QStringLiteral("&Operação")));
        QVERIFY(titles.contains(QStringLiteral("&Manutenção")));
    }

    void secondIniProcKeepsOneWindowAndDoesNotReload() {
        openScreen();
        TfrmParametros* first = form();
        const double before = geralValue("VRPRAZEFEFUN");
        execSql(QStringLiteral("UPDATE PARAMRH SET VRPRAZEFEFUN = 45 WHERE CDPARAMRH = '1'"));
        openScreen();
        QCOMPARE(windows().size(), 1);
        QCOMPARE(form(), first);
        QCOMPARE(geralValue("VRPRAZEFEFUN"), before);
    }

    void closeThenIniProcMakesNewInstanceThatLoadsAgain() {
        openScreen();
        QPointer<TfrmParametros> first = form();
        execSql(QStringLiteral("UPDATE PARAMRH SET VRPRAZEFEFUN = 45 WHERE CDPARAMRH = '1'"));
        windows().first()->close();
        QTRY_VERIFY(first.isNull());
        QVERIFY(!Cli_zol00900::boIdCriado);
        openScreen();
        QCOMPARE(windows().size(), 1);
        QVERIFY(form());
        QCOMPARE(geralValue("VRPRAZEFEFUN"), 45.0);
        QVERIFY(form()->netParamZOL.Connected());
    }

    // A failed first load stops where it failed (no GetGeral after a failed GetFilial), keeps
    // what came before it, and the next activation repeats only what failed.
    void failedFirstLoadStopsThereAndRepeatsWhatFailed_data() {
        QTest::addColumn<QString>("table");
        QTest::addColumn<bool>("branchLoaded");
        QTest::newRow("GetFilial fails") << QStringLiteral("PARAMFILIAL") << false;
        QTest::newRow("GetGeral fails") << QStringLiteral("PARAMRH") << true;
    }
    void failedFirstLoadStopsThereAndRepeatsWhatFailed() {
        QFETCH(QString, table);
        QFETCH(bool, branchLoaded);
        execSql(QStringLiteral("ALTER TABLE %1 RENAME TO %1_FORA").arg(table));
        openScreen();
        QCOMPARE(m_desktop->services.shownErrors.size(), 1);
        QCOMPARE(form()->cdsFilial.Active(), branchLoaded);
        QCOMPARE(form()->medCdFilial->text().isEmpty(), !branchLoaded);
        QVERIFY(!form()->cdsGeral.Active());
        QVERIFY(Cli_zol00900::boPrimVez);
        QCOMPARE(m_desktop->services.busyDepth(), 0);

        execSql(QStringLiteral("ALTER TABLE %1_FORA RENAME TO %1").arg(table));
        execSql(QStringLiteral("UPDATE PARAMFILIAL SET DIFECHRH = '07' WHERE CDFILIAL = '0001'"));
        m_window->mdiArea()->setActiveSubWindow(nullptr);
        openScreen(); // activates the window again
        QVERIFY(form()->cdsGeral.Active());
        QCOMPARE(form()->medCdFilial->text(), QStringLiteral("0001"));
        // A branch that loaded is not read again, and so still shows the day it had.
        QCOMPARE(form()->cdsFilial.FieldByName(QStringLiteral("DIFECHRH")).AsString() == u"07",
                 !branchLoaded);
        QVERIFY(!Cli_zol00900::boPrimVez);
        QCOMPARE(m_desktop->services.shownErrors.size(), 1);
    }

    void screenWorksAgainAfterItsServerCameBack() {
        stopDesktop();
        startDesktop(true);
        openScreen();
        execSql(QStringLiteral("UPDATE PARAMRH SET VRPRAZEFEFUN = 45 WHERE CDPARAMRH = '1'"));
        m_relay->dropClients();
        QTRY_VERIFY(m_relay->clientsDropped());
        click(form()->sbtVerificar);
        QCOMPARE(geralValue("VRPRAZEFEFUN"), 45.0);
        QVERIFY(m_desktop->services.shownErrors.isEmpty());
    }

    void minimisedWindowIsRestored() {
        openScreen();
        windows().first()->showMinimized();
        QVERIFY(windows().first()->isMinimized());
        openScreen();
        QVERIFY(!windows().first()->isMinimized());
    }

    void menuMarksFollowPagesByMenuAndByTab() {
        openScreen();
        TfrmParametros* f = form();
        QVERIFY(f->mnuEncargos->isChecked());
        QVERIFY(!f->mnuAgeFilial->isChecked()); // one mark: the page in front
        clickTab(f->pgcPadrao, 1);
        QCOMPARE(f->pgcPadrao->ActivePage(), f->tshFormulario);
        for (QAction* a :
             {f->mnuEncargos, f->mnuCestaBasica, f->mnuAgenda, f->mnuFerias, f->mnuQuestionario})
            QVERIFY(!a->isChecked());
        QVERIFY(f->mnuAgeFilial->isChecked());
        clickTab(f->pgcFilial, 1);
        QCOMPARE(f->pgcFilial->ActivePage(), f->tshDiversos);
        QVERIFY(f->mnuDIversos->isChecked());
        QVERIFY(!f->mnuAgeFilial->isChecked());

        // "Questionário" chosen in the menu while "Filial" is showing.
        f->mnuQuestionario->trigger();
        QCOMPARE(f->pgcPadrao->ActivePage(), f->tshFolhaDados);
        QCOMPARE(f->pgcGeral->ActivePage(), f->tshQuest);
        QVERIFY(f->mnuQuestionario->isChecked());
        for (QAction* a : {f->mnuEncargos, f->mnuCestaBasica, f->mnuAgenda, f->mnuFerias,
                           f->mnuAgeFilial, f->mnuDIversos})
            QVERIFY(!a->isChecked());
        QVERIFY(!f->sbtAlterar->isEnabled());
        QVERIFY(!f->mnuAlterar->isEnabled());
        QVERIFY(f->questionario.cdsInspecao.RecordCount() > 0);
        // The level sent is the last one of the code picture: questionnaires, not their groups.
        for (f->questionario.cdsInspecao.First(); !f->questionario.cdsInspecao.Eof();
             f->questionario.cdsInspecao.Next())
            QCOMPARE(f->questionario.cdsInspecao.FieldByName(QStringLiteral("CDINSPECAO"))
                         .AsString()
                         .size(),
                     5);

        f->mnuEncargos->trigger();
        QVERIFY(f->sbtAlterar->isEnabled());
        QVERIFY(f->mnuEncargos->isChecked());
        QVERIFY(!f->mnuQuestionario->isChecked());
        clickTab(f->pgcGeral, 3);
        QVERIFY(f->mnuFerias->isChecked());
        QVERIFY(!f->mnuEncargos->isChecked());
    }

    void enteringQuestionnairePageFetchesEveryTime() {
        openScreen();
        TfrmParametros* f = form();
        clickTab(f->pgcGeral, 4);
        const int rows = f->questionario.cdsInspecao.RecordCount();
        QVERIFY(rows > 0);
        const QString code =
            f->questionario.cdsInspecao.FieldByName(QStringLiteral("CDINSPECAO")).AsString();
        const QString before =
            f->questionario.cdsInspecao.FieldByName(QStringLiteral("IDPADR")).AsString();
        execSql(before == u"S"
                    ? QStringLiteral("DELETE FROM INSPPADRAO WHERE CDINSPECAO = '%1'").arg(code)
                    : QStringLiteral(
                          "INSERT INTO INSPPADRAO (CDFILIAL, CDINSPECAO) VALUES ('0001', '%1')")
                          .arg(code));
        clickTab(f->pgcGeral, 0);
        clickTab(f->pgcGeral, 4);
        f->questionario.cdsInspecao.First();
        QCOMPARE(f->questionario.cdsInspecao.FieldByName(QStringLiteral("IDPADR")).AsString(),
                 before == u"S" ? QStringLiteral("N") : QStringLiteral("S"));
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(f->questionario.dbgQuestCand));
    }

    void failedQuestionnaireFetchKeepsTheListAndThePage() {
        openScreen();
        TfrmParametros* f = form();
        f->mnuQuestionario->trigger();
        const int rows = f->questionario.cdsInspecao.RecordCount();
        QVERIFY(rows > 0);
        f->mnuEncargos->trigger();
        execSql(QStringLiteral("ALTER TABLE INSPECAO RENAME TO INSPECAO_FORA"));
        f->mnuQuestionario->trigger();
        QCOMPARE(m_desktop->services.shownErrors.size(), 1);
        QCOMPARE(f->pgcGeral->ActivePage(), f->tshQuest);
        QVERIFY(f->mnuQuestionario->isChecked());
        QVERIFY(!f->sbtAlterar->isEnabled());
        QCOMPARE(f->questionario.cdsInspecao.RecordCount(), rows);
        execSql(QStringLiteral("ALTER TABLE INSPECAO_FORA RENAME TO INSPECAO"));
    }

    void altPageKeysMoveBetweenGridAndList() {
        openScreen();
        TfrmParametros* f = form();
        // Before any questionnaire list was loaded the keys do nothing.
        int key = Qt::Key_PageDown;
        QMetaObject::invokeMethod(f, [&] { f->FormKeyDown(key, Qt::AltModifier); });
        QCOMPARE(key, int(Qt::Key_PageDown));

        f->mnuQuestionario->trigger();
        execSql(QStringLiteral("DELETE FROM INSPPADRAO"));
        f->mnuQuestionario->trigger();
        // A questionnaire by position.
        int row = -1;
        for (int i = 0; i < f->questionario.cdsInspecao.RecordCount() && row < 0; ++i) {
            f->questionario.cdsInspecao.MoveTo(i);
            if (f->questionario.cdsInspecao.FieldByName(QStringLiteral("IDCARG")).AsString() ==
                u"S")
                row = i;
        }
        QVERIFY2(row >= 0, "the demo data has a questionnaire by position");
        QTRY_VERIFY(f->questionario.dbgCargo->isVisible());
        f->questionario.dbgQuestCand->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(),
                     static_cast<QWidget*>(f->questionario.dbgQuestCand));
        QTest::keyClick(f->questionario.dbgQuestCand, Qt::Key_PageUp, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(f->questionario.dbgQuestCand));
        QCOMPARE(f->questionario.cdsInspecao.RecNo(), row); // swallowed: the grid did not move
        QTest::keyClick(f->questionario.dbgQuestCand, Qt::Key_PageDown, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(f->questionario.dbgCargo));
        QTest::keyClick(f->questionario.dbgCargo, Qt::Key_PageDown, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(f->questionario.dbgCargo));
        QTest::keyClick(f->questionario.dbgCargo, Qt::Key_PageUp, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(f->questionario.dbgQuestCand));

        // Without Alt, Page Down moves within the grid as usual.
        f->questionario.cdsInspecao.First();
        f->questionario.dbgQuestCand->setFocus();
        QTest::keyClick(f->questionario.dbgQuestCand, Qt::Key_PageDown);
        QVERIFY(f->questionario.cdsInspecao.RecNo() > 0);
    }

    void typingIntoABrowsedRecordStartsEditingAndLocksTheOtherPage() {
        openScreen();
        TfrmParametros* f = form();
        QVERIFY(f->sbtVerificar->isEnabled());
        QVERIFY(!f->sbtConfirmar->isEnabled());
        QVERIFY(f->mnuFormulario->isEnabled());
        f->dbeVrPeEncTemp->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(f->dbeVrPeEncTemp));
        QCOMPARE(f->dbeVrPeEncTemp->text(), QStringLiteral("12,50")); // the edit text while focused
        // Characters that cannot form a number change nothing and do not start editing.
        QTest::keyClicks(f->dbeVrPeEncTemp, QStringLiteral("a."));
        QCOMPARE(f->cdsGeral.State(), DataSetState::Browse);
        f->dbeVrPeEncTemp->selectAll();
        QTest::keyClicks(f->dbeVrPeEncTemp, QStringLiteral("7,5"));
        QCOMPARE(f->cdsGeral.State(), DataSetState::Edit);
        QCOMPARE(f->dbeVrPeEncTemp->text(), QStringLiteral("7,5"));
        QVERIFY(f->sbtConfirmar->isEnabled() && f->mnuConfirmar->isEnabled());
        QVERIFY(f->sbtCancelar->isEnabled());
        QVERIFY(!f->sbtVerificar->isEnabled());
        QVERIFY(!PageEnabled(f->tshFormulario));
        QVERIFY(!f->mnuFormulario->isEnabled());
        // Leaving the edit writes the text into the record and shows the display format.
        f->dbeVrPeEncEfet->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(f->dbeVrPeEncEfet));
        QCOMPARE(geralValue("VRPEENCTEMP"), 7.5);
        QCOMPARE(f->dbeVrPeEncTemp->text(), QStringLiteral("7,50 %"));
    }

    void branchWithoutParametersOffersEditButNotVerify() {
        m_desktop->services.branch = QStringLiteral("0004");
        openScreen();
        TfrmParametros* f = form();
        QVERIFY(f->cdsFilial.Active() && f->cdsFilial.IsEmpty());
        QCOMPARE(f->medCdFilial->text(), QStringLiteral("0004"));
        clickTab(f->pgcPadrao, 1);
        QVERIFY(f->sbtAlterar->isEnabled() && f->mnuAlterar->isEnabled());
        QVERIFY(!f->sbtVerificar->isEnabled() && !f->mnuVerificar->isEnabled());
        QVERIFY(PageEnabled(f->tshFolhaDados));
    }

    void branchIsChosenInTheStatusBar() {
        int openedOn = -1;
        m_desktop->services.pickAnswer = [&](TClientDataSet& rows) {
            openedOn = rows.RecNo();
            return rows.RecordCount() > 1 ? 1 : -1;
        };
        auto* button = m_window->findChild<QToolButton*>(QStringLiteral("btnTrocarFilial"));
        QVERIFY(button);
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(m_desktop->services.FiliProc(), QStringLiteral("0002"));
        QCOMPARE(m_desktop->services.pickTitles,
                 QStringList{QStringLiteral("Trocar filial: pesquisa de filiais")});
        QCOMPARE(openedOn, 0); // on 0001, the branch in use
        auto* label = m_window->findChild<QLabel*>(QStringLiteral("lblFilialAtual"));
        QVERIFY(label->text().startsWith(QStringLiteral("Filial: 0002 - ")));
        openScreen();
        QCOMPARE(form()->medCdFilial->text(), QStringLiteral("0002"));

        // Not while a screen is open: it works in the branch it was opened in.
        QVERIFY(!button->isEnabled());
        QVERIFY(button->toolTip().startsWith(QStringLiteral("Feche as telas abertas")));
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(m_desktop->services.FiliProc(), QStringLiteral("0002"));
        QVERIFY(m_desktop->services.shownErrors.isEmpty());
        windows().first()->close();
        QTRY_VERIFY(button->isEnabled());
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(openedOn, 1); // on 0002 now
    }

    // The office's set-up: a desktop with no database, over TLS to a service of its own. Every
    // read (the records, the index and branch lists, the name of a typed code) and the Confirm
    // go through the service.
    void overTlsWithoutADatabaseTheScreenReadsPicksAndStores() {
        stopDesktop();
        startDesktopOverTls();
        QVERIFY(m_desktop->serverDetails.contains(QStringLiteral("TLS")));
        openScreen();
        TfrmParametros* f = form();
        QVERIFY(f);
        QVERIFY(services().shownErrors.isEmpty());
        QCOMPARE(f->medCdFilial->text(), QStringLiteral("0001"));

        int branchesOffered = 0;
        services().pickAnswer = [&branchesOffered](TClientDataSet& rows) {
            branchesOffered = rows.RecordCount();
            return -1;
        };
        click(f->BtnFilial);
        QCOMPARE(branchesOffered, 5);

        QString picked;
        services().pickAnswer = [&picked](TClientDataSet& rows) {
            rows.MoveTo(rows.RecordCount() - 1);
            picked = rows.FieldByName(QStringLiteral("NMINDICE")).AsString();
            return rows.RecordCount() - 1;
        };
        click(f->BtnIndice);
        QVERIFY(!picked.isEmpty());
        QCOMPARE(f->dbeNmIndice->text(), picked);
        const QString code = f->dbeCdIndiceCb->text();
        click(f->sbtConfirmar);
        QTRY_COMPARE(f->cdsGeral.State(), DataSetState::Browse);
        QVERIFY2(services().shownErrors.isEmpty(), qPrintable(services().shownErrors.join('\n')));
        QCOMPARE(stored(QStringLiteral("GetGeral"), QStringLiteral("1"), "CDINDICECB"), code);
        QCOMPARE(stored(QStringLiteral("GetGeral"), QStringLiteral("1"), "NMINDICE"), picked);
    }

    void busyAnimationNestsAndAnExtraStopDoesNoHarm() {
        DesktopServices& s = m_desktop->services;
        auto* indicator = m_window->findChild<TBusyAnimation*>(QStringLiteral("aviOcupado"));
        QVERIFY(indicator);
        s.busyStart();
        s.busyStart();
        QVERIFY(indicator->isVisible());
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        s.busyStop();
        QVERIFY(indicator->isVisible());
        s.busyStop();
        s.busyStop();
        QVERIFY(!indicator->isVisible());
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        s.busyStart();
        QVERIFY(indicator->isVisible());
        s.busyStop();
    }

    void failedIniProcDoesNotLeaveTheHourglass() {
        m_desktop->services.mdiArea = nullptr; // the host cannot show the form
        openScreen();
        QCOMPARE(m_desktop->services.shownErrors.size(), 1);
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        m_desktop->services.mdiArea = m_window->mdiArea();
    }
};

QTEST_MAIN(ParametrosShellTest)
#include "ParametrosShellTest.moc"
