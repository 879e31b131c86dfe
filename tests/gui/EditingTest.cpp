// Edit, Confirm, Cancel and Verify on both records, driven by real keys and clicks; what was
// stored is read back through the service.

#include "ParametrosFixture.h"

#include <QComboBox>

class EditingTest : public ParametrosFixture {
    Q_OBJECT

    // The four commands: tool-bar button and menu item agree, and are as given.
    void checkCommands(bool edit, bool confirm, bool cancel, bool verify) {
        TfrmParametros* f = form();
        const QList<std::tuple<QToolButton*, QAction*, bool>> commands{
            {f->sbtAlterar, f->mnuAlterar, edit},
            {f->sbtConfirmar, f->mnuConfirmar, confirm},
            {f->sbtCancelar, f->mnuCancelar, cancel},
            {f->sbtVerificar, f->mnuVerificar, verify}};
        for (const auto& [button, item, expected] : commands) {
            QCOMPARE(button->isEnabled(), expected);
            QCOMPARE(item->isEnabled(), expected);
        }
    }
    void openBranchPage() {
        openScreen();
        clickTab(form()->pgcPadrao, 1);
        QCOMPARE(form()->pgcPadrao->ActivePage(), form()->tshFormulario);
    }
    // The branch's directory exists here, so that the directory check lets a post through.
    void useExistingDirectory(const QString& branch) {
        execSql(QStringLiteral("UPDATE PARAMFILIAL SET NMDIRPONTO = '%1' WHERE CDFILIAL = '%2'")
                    .arg(m_dir.path(), branch));
    }

private slots:
    void init() { startDesktop(); }
    void cleanup() { stopDesktop(); }

    // Maximising or restoring the screen's window hides it for a moment, and Qt moves the focus
    // on as a Tab would: the user stays where they were, and the other fields read as shown.
    void maximisingOrRestoringTheWindowLeavesTheFocusWhereItWas() {
        openScreen();
        TfrmParametros* f = form();
        QTRY_COMPARE(focused(), static_cast<QWidget*>(f->dbeVrPeEncTemp));
        QMdiSubWindow* frame = windows().first();
        for (const bool maximise : {true, false, true}) {
            maximise ? frame->showMaximized() : frame->showNormal();
            QTRY_COMPARE(focused(), static_cast<QWidget*>(f->dbeVrPeEncTemp));
            for (TDBEdit* e : {f->dbeVrPeEncEfet, f->dbeVrPeDescVT})
                QCOMPARE(e->text(), f->cdsGeral.FieldByName(e->DataField()).DisplayText());
        }
    }

    void typingInTheBranchRecordLocksTheGeneralPage() {
        useExistingDirectory(QStringLiteral("0001"));
        openBranchPage();
        TfrmParametros* f = form();
        checkCommands(true, false, false, true);
        typeInto(f->dbeFechamento, QStringLiteral("1"));
        QCOMPARE(f->cdsFilial.State(), DataSetState::Edit);
        QVERIFY(!PageEnabled(f->tshFolhaDados));
        QVERIFY(!f->mnuFolhaDados->isEnabled());
        checkCommands(false, true, true, false);
    }

    void commandStatesOnQuestionnaireAndOnAnEmptyBranch() {
        services().branch = QStringLiteral("0004");
        openScreen();
        TfrmParametros* f = form();
        f->mnuQuestionario->trigger();
        checkCommands(false, false, false, true);
        f->mnuEncargos->trigger();
        checkCommands(true, false, false, true);

        // An empty branch record: Edit starts a new one.
        clickTab(f->pgcPadrao, 1);
        QVERIFY(f->cdsFilial.IsEmpty());
        checkCommands(true, false, false, false);
        click(f->sbtAlterar);
        QCOMPARE(f->cdsFilial.State(), DataSetState::Insert);
        QVERIFY(!PageEnabled(f->tshFolhaDados));
        QVERIFY(!f->mnuFolhaDados->isEnabled());
        checkCommands(false, true, true, false);

        // Cancelling the new record leaves the set empty, Edit offered and Verify not.
        services().answers = {ModalResult::Ok};
        click(f->sbtCancelar);
        QVERIFY(f->cdsFilial.IsEmpty());
        QVERIFY(PageEnabled(f->tshFolhaDados) && f->mnuFolhaDados->isEnabled());
        checkCommands(true, false, false, false);
    }

    void confirmStopsAtTheFirstFailingCheck() {
        // A negative deadline delivered by the service, and a base date that is no date.
        execSql(QStringLiteral("UPDATE PARAMRH SET VRPRAZEFEFUN = -1"));
        openScreen();
        TfrmParametros* f = form();
        const QStringList writesBefore = acceptedWrites();
        f->mnuCestaBasica->trigger();
        typeInto(f->dbdDtBaseCB, QStringLiteral("31022026"));
        services().shownErrors.clear();
        click(f->sbtConfirmar);
        QCOMPARE(services().shownErrors,
                 QStringList{QStringLiteral("Prazo máximo para efetivação do funcionário (dias)  "
                                            "deve ser maior ou igual a zero.")});
        QCOMPARE(f->cdsGeral.State(), DataSetState::Edit);
        QCOMPARE(f->pgcGeral->ActivePage(), f->tshAgenda);
        QCOMPARE(focused(), static_cast<QWidget*>(f->dbeVrPrazEfeFun));
        QCOMPARE(f->dbdDtBaseCB->text(), QStringLiteral("31/02/2026"));
        QCOMPARE(acceptedWrites(), writesBefore);
        // The record is still in edit: the other top page stays locked.
        QVERIFY(!PageEnabled(f->tshFormulario));

        // Corrected where the focus was left, the next check in the order stops the command.
        f->dbeVrPrazEfeFun->selectAll();
        QTest::keyClicks(f->dbeVrPrazEfeFun, QStringLiteral("0"));
        services().shownErrors.clear();
        click(f->sbtConfirmar);
        QCOMPARE(services().shownErrors.size(), 1);
        QVERIFY(services().shownErrors.first().contains(QStringLiteral("31/02/2026")));
        QCOMPARE(focused(), static_cast<QWidget*>(f->dbdDtBaseCB));
        QCOMPARE(f->cdsGeral.State(), DataSetState::Edit);
        QCOMPARE(acceptedWrites(), writesBefore);
    }

    void deadlineLimitsOnPost_data() {
        QTest::addColumn<QString>("deadline");
        QTest::addColumn<bool>("posts");
        QTest::newRow("-1") << QStringLiteral("-1") << false;
        QTest::newRow("-0,6") << QStringLiteral("-0.6") << false;
        QTest::newRow("-0,4") << QStringLiteral("-0.4") << true;
        QTest::newRow("0") << QStringLiteral("0") << true;
        QTest::newRow("empty") << QStringLiteral("NULL") << true;
    }
    void deadlineLimitsOnPost() {
        QFETCH(QString, deadline);
        QFETCH(bool, posts);
        execSql(QStringLiteral("UPDATE PARAMRH SET VRPRAZEFEFUN = %1").arg(deadline));
        openScreen();
        TfrmParametros* f = form();
        typeInto(f->dbeVrPeEncTemp, QStringLiteral("3"));
        click(f->sbtConfirmar);
        QCOMPARE(f->cdsGeral.State(), posts ? DataSetState::Browse : DataSetState::Edit);
        QCOMPARE(stored("GetGeral", QStringLiteral("1"), "VRPEENCTEMP"),
                 posts ? QStringLiteral("3") : QStringLiteral("12,5"));
        QCOMPARE(services().shownErrors.size(), posts ? 0 : 1);
    }

    void vacationKindStoredFromTheList_data() {
        QTest::addColumn<QString>("before");
        QTest::addColumn<int>("key"); // moves the list's choice; 0 leaves it alone
        QTest::addColumn<QString>("after");
        QTest::newRow("Dias Corridos")
            << QStringLiteral("U") << int(Qt::Key_Down) << QStringLiteral("C");
        QTest::newRow("Dias Úteis")
            << QStringLiteral("C") << int(Qt::Key_Up) << QStringLiteral("U");
        QTest::newRow("no choice") << QStringLiteral("X") << 0 << QStringLiteral("C");
    }
    void vacationKindStoredFromTheList() {
        QFETCH(QString, before);
        QFETCH(int, key);
        QFETCH(QString, after);
        execSql(QStringLiteral("UPDATE PARAMRH SET IDTPFERIASPG = '%1'").arg(before));
        openScreen();
        TfrmParametros* f = form();
        f->mnuFerias->trigger();
        if (key) {
            f->dcbFerias->setFocus();
            QTRY_COMPARE(focused(), static_cast<QWidget*>(f->dcbFerias));
            QTest::keyClick(f->dcbFerias, Qt::Key(key));
        } else {
            QCOMPARE(f->dcbFerias->currentIndex(), -1);
            typeInto(f->dbeQtDias, QStringLiteral("21"));
        }
        QCOMPARE(f->cdsGeral.State(), DataSetState::Edit);
        click(f->sbtConfirmar);
        QCOMPARE(f->cdsGeral.State(), DataSetState::Browse);
        QCOMPARE(stored("GetGeral", QStringLiteral("1"), "IDTPFERIASPG"), after);
    }

    void changedPercentageIsStoredAndAnUnchangedPostSendsNothing() {
        openScreen();
        TfrmParametros* f = form();
        typeInto(f->dbeVrPeEncTemp, QStringLiteral("7,5"));
        click(f->sbtConfirmar);
        QCOMPARE(f->cdsGeral.State(), DataSetState::Browse);
        QCOMPARE(f->cdsGeral.ChangeCount(), 0);
        QCOMPARE(stored("GetGeral", QStringLiteral("1"), "VRPEENCTEMP"), QStringLiteral("7,5"));
        QVERIFY(PageEnabled(f->tshFormulario) && f->mnuFormulario->isEnabled());
        QCOMPARE(f->dbeVrPeEncTemp->text(), QStringLiteral("7,50")); // still focused
        QCOMPARE(services().busyDepth(), 0);

        const QStringList writes = acceptedWrites();
        QCOMPARE(writes.count(QStringLiteral("SetGeral")), 1);
        click(f->sbtAlterar);
        QCOMPARE(f->cdsGeral.State(), DataSetState::Edit);
        click(f->sbtConfirmar);
        QCOMPARE(f->cdsGeral.State(), DataSetState::Browse);
        QCOMPARE(acceptedWrites(), writes);
    }

    void newBranchRecordTakesCodeAndNameFromThePanel() {
        services().branch = QStringLiteral("0004");
        openBranchPage();
        TfrmParametros* f = form();
        const QStringList writesBefore = acceptedWrites();
        click(f->sbtAlterar);
        // An empty closing day: "Filial"/"Agenda" come forward, nothing is sent.
        f->mnuDIversos->trigger();
        services().shownErrors.clear();
        click(f->sbtConfirmar);
        QCOMPARE(services().shownErrors,
                 QStringList{QStringLiteral("Dia de fechamento do RH deve ser informado. ")});
        QCOMPARE(f->pgcFilial->ActivePage(), f->tshAgeFilial);
        QCOMPARE(focused(), static_cast<QWidget*>(f->dbeFechamento));
        QCOMPARE(f->cdsFilial.State(), DataSetState::Insert);
        QCOMPARE(acceptedWrites(), writesBefore);

        QTest::keyClicks(f->dbeFechamento, QStringLiteral("5"));
        click(f->sbtConfirmar);
        QCOMPARE(f->cdsFilial.State(), DataSetState::Browse);
        QCOMPARE(stored("GetFilial", QStringLiteral("0004"), "DIFECHRH"), QStringLiteral("05"));
        QCOMPARE(stored("GetFilial", QStringLiteral("0004"), "CDFILIAL"), QStringLiteral("0004"));
        QVERIFY(PageEnabled(f->tshFolhaDados) && f->mnuFolhaDados->isEnabled());
        checkCommands(true, false, false, true);
    }

    void closingDayChecksOnConfirm_data() {
        QTest::addColumn<QString>("day");
        QTest::addColumn<QString>("message"); // empty: the record is stored
        QTest::newRow("1") << QStringLiteral("1") << QString();
        QTest::newRow("31") << QStringLiteral("31") << QString();
        QTest::newRow("0") << QStringLiteral("0") << QStringLiteral("00 não é um dia válido.");
        QTest::newRow("32") << QStringLiteral("32") << QStringLiteral("32 não é um dia válido.");
        QTest::newRow("45") << QStringLiteral("45") << QStringLiteral("45 não é um dia válido.");
    }
    void closingDayChecksOnConfirm() {
        QFETCH(QString, day);
        QFETCH(QString, message);
        useExistingDirectory(QStringLiteral("0001"));
        openBranchPage();
        TfrmParametros* f = form();
        // Typed and not left: the tool bar takes no focus, Confirm checks the day itself.
        typeInto(f->dbeFechamento, day);
        click(f->sbtConfirmar);
        if (message.isEmpty()) {
            QCOMPARE(f->cdsFilial.State(), DataSetState::Browse);
            QCOMPARE(stored("GetFilial", QStringLiteral("0001"), "DIFECHRH"),
                     day.rightJustified(2, u'0'));
            QVERIFY(services().shownErrors.isEmpty());
        } else {
            QCOMPARE(services().shownErrors, QStringList{message});
            QCOMPARE(f->cdsFilial.State(), DataSetState::Edit);
            QCOMPARE(focused(), static_cast<QWidget*>(f->dbeFechamento));
            QCOMPARE(stored("GetFilial", QStringLiteral("0001"), "DIFECHRH"), QStringLiteral("25"));
        }
    }

    void cancelAsksFirst() {
        openScreen();
        TfrmParametros* f = form();
        typeInto(f->dbeVrPeEncEfet, QStringLiteral("9"));
        services().answers = {ModalResult::Cancel};
        click(f->sbtCancelar);
        QCOMPARE(services().questions.size(), 1);
        QCOMPARE(services().questions.first(), msgMensagensPadroes().Msg(QStringLiteral("Canc")));
        QCOMPARE(f->cdsGeral.State(), DataSetState::Edit);
        QCOMPARE(f->dbeVrPeEncEfet->text(), QStringLiteral("9"));

        services().answers = {ModalResult::Ok};
        f->mnuCancelar->trigger();
        QCOMPARE(f->cdsGeral.State(), DataSetState::Browse);
        QCOMPARE(f->cdsGeral.FieldByName(QStringLiteral("VRPEENCEFET")).AsFloat(), 68.18);
        QVERIFY(PageEnabled(f->tshFormulario) && f->mnuFormulario->isEnabled());
        checkCommands(true, false, false, true);
    }

    void verifyRereadsTheVisibleRecord() {
        openScreen();
        TfrmParametros* f = form();
        execSql(QStringLiteral("UPDATE PARAMRH SET VRPRAZEFEFUN = 45"));
        click(f->sbtVerificar);
        QCOMPARE(f->cdsGeral.FieldByName(QStringLiteral("VRPRAZEFEFUN")).AsFloat(), 45.0);
        QVERIFY(f->questionario.cdsInspecao.Active());
        QCOMPARE(services().busyDepth(), 0);

        // A failing questionnaire read keeps the general record already re-read, without a
        // dialog, and says so in the status bar.
        execSql(QStringLiteral("UPDATE PARAMRH SET VRPRAZEFEFUN = 46"));
        execSql(QStringLiteral("ALTER TABLE INSPECAO RENAME TO INSPECAO_FORA"));
        click(f->sbtVerificar);
        QCOMPARE(f->cdsGeral.FieldByName(QStringLiteral("VRPRAZEFEFUN")).AsFloat(), 46.0);
        QVERIFY(services().shownErrors.isEmpty());
        QVERIFY(services().statusNotes.last().startsWith(
            QStringLiteral("Não foi possível verificar os dados: ")));
        QCOMPARE(services().busyDepth(), 0);
        execSql(QStringLiteral("ALTER TABLE INSPECAO_FORA RENAME TO INSPECAO"));

        // On the branch page the code standing in the panel is read, checked or not.
        clickTab(f->pgcPadrao, 1);
        f->medCdFilial->selectAll();
        QTest::keyClicks(f->medCdFilial, QStringLiteral("0002"));
        QCOMPARE(f->medCdFilial->text(), QStringLiteral("0002"));
        click(f->sbtVerificar);
        QCOMPARE(f->cdsFilial.FieldByName(QStringLiteral("CDFILIAL")).AsString(),
                 QStringLiteral("0002"));
        checkCommands(true, false, false, true);
    }

    void refusedBranchPostKeepsTheChangeForTheNextOne() {
        useExistingDirectory(QStringLiteral("0001"));
        openBranchPage();
        TfrmParametros* f = form();
        typeInto(f->dbeFechamento, QStringLiteral("10"));
        // Someone else changes the same field meanwhile: the service refuses the delta.
        execSql(QStringLiteral("UPDATE PARAMFILIAL SET DIFECHRH = '07' WHERE CDFILIAL = '0001'"));
        click(f->sbtConfirmar);
        QCOMPARE(services().shownErrors.size(), 1);
        // Not stored: still in edit, Confirm and Cancel offered.
        QCOMPARE(f->cdsFilial.State(), DataSetState::Edit);
        QCOMPARE(f->cdsFilial.ChangeCount(), 1);
        QVERIFY(f->sbtConfirmar->isEnabled() && f->sbtCancelar->isEnabled());
        QCOMPARE(services().busyDepth(), 0);
        QCOMPARE(stored("GetFilial", QStringLiteral("0001"), "DIFECHRH"), QStringLiteral("07"));

        // The other change is undone; the next post sends both changes in one delta.
        execSql(QStringLiteral("UPDATE PARAMFILIAL SET DIFECHRH = '25' WHERE CDFILIAL = '0001'"));
        const int filialWrites = int(acceptedWrites().count(QStringLiteral("SetFilial")));
        typeInto(f->dbdUltiFecha, QStringLiteral("01112026"));
        click(f->sbtConfirmar);
        QCOMPARE(f->cdsFilial.ChangeCount(), 0);
        QCOMPARE(stored("GetFilial", QStringLiteral("0001"), "DIFECHRH"), QStringLiteral("10"));
        QCOMPARE(stored("GetFilial", QStringLiteral("0001"), "DTULTFECHRH"),
                 QStringLiteral("01/11/2026"));
        QCOMPARE(acceptedWrites().count(QStringLiteral("SetFilial")), filialWrites + 1);

        // Cancel after a refusal drops the change that was never stored; Verify then reads.
        typeInto(f->dbeFechamento, QStringLiteral("12"));
        execSql(QStringLiteral("UPDATE PARAMFILIAL SET DIFECHRH = '08' WHERE CDFILIAL = '0001'"));
        click(f->sbtConfirmar);
        QCOMPARE(f->cdsFilial.ChangeCount(), 1);
        QVERIFY(!f->sbtVerificar->isEnabled());
        click(f->sbtCancelar);
        QCOMPARE(f->cdsFilial.ChangeCount(), 0);
        QCOMPARE(f->dbeFechamento->text(), QStringLiteral("10"));
        click(f->sbtVerificar);
        QCOMPARE(f->cdsFilial.ChangeCount(), 0);
        QCOMPARE(f->cdsFilial.FieldByName(QStringLiteral("DIFECHRH")).AsString(),
                 QStringLiteral("08"));
    }
};

QTEST_MAIN(EditingTest)
#include "EditingTest.moc"
