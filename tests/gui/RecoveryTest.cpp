// Nothing typed or chosen is lost when a load fails and is retried, when the service refuses a
// change, or when another branch is chosen while the current one has changes.

#include "ParametrosFixture.h"

class RecoveryTest : public ParametrosFixture {
    Q_OBJECT

    int requestsOf(const char* method) const {
        const QByteArray tag = QByteArray("\"method\":\"") + method + '"';
        int n = 0;
        for (const QByteArray& line : m_relay->seen())
            n += line.contains(tag);
        return n;
    }
    void comeBackToTheApplication() {
        emit qApp->applicationStateChanged(Qt::ApplicationInactive);
        emit qApp->applicationStateChanged(Qt::ApplicationActive);
    }
    void toBranchPage() { clickTab(form()->pgcPadrao, 1); }
    // Clicks into the branch code, types it and leaves the panel for the closing day.
    void chooseBranch(const QString& code) {
        typeInto(form()->medCdFilial, code);
        QTest::mouseClick(form()->dbeFechamento, Qt::LeftButton);
        QTRY_COMPARE(focused(), static_cast<QWidget*>(form()->dbeFechamento));
    }
    QString branchField(const char* field) const {
        return form()->cdsFilial.FieldByName(QString::fromLatin1(field)).AsString();
    }

private slots:
    void init() { startDesktop(true); }
    void cleanup() { stopDesktop(); }

    // The general record fails to load; meanwhile the user picks and edits another branch.
    void aRetryReadsOnlyWhatFailedAndTellsItOnce() {
        m_relay->refuse("GetGeral", "1");
        openScreen();
        QCOMPARE(services().shownErrors.size(), 1);
        // Nothing to edit in a record that did not load; Verify is there to read it again.
        QVERIFY(!form()->sbtAlterar->isEnabled() && !form()->mnuAlterar->isEnabled());
        QVERIFY(form()->sbtVerificar->isEnabled());
        form()->mnuAlterar->trigger();
        QVERIFY(!form()->cdsGeral.Editing());

        toBranchPage();
        chooseBranch(QStringLiteral("0002"));
        typeInto(form()->dbeFechamento, QStringLiteral("12"));
        const int branchReads = requestsOf("GetFilial");
        for (int i = 0; i < 3; ++i)
            comeBackToTheApplication();
        QCOMPARE(services().shownErrors.size(), 1); // the failure was told when it was asked for
        QCOMPARE(services().statusNotes.size(), 3);

        m_relay->allow("GetGeral");
        comeBackToTheApplication();
        QVERIFY(form()->cdsGeral.Active());
        QCOMPARE(requestsOf("GetFilial"), branchReads);
        QCOMPARE(form()->medCdFilial->text(), QStringLiteral("0002"));
        QVERIFY(form()->cdsFilial.Editing());
        QCOMPARE(form()->dbeFechamento->text(), QStringLiteral("12"));
    }

    void verifyReadsAGeneralRecordThatFailedToLoad() {
        m_relay->refuse("GetGeral", "1");
        openScreen();
        m_relay->allow("GetGeral");
        click(form()->sbtVerificar);
        QVERIFY(form()->cdsGeral.Active());
        QVERIFY(form()->sbtAlterar->isEnabled());
        QVERIFY(!Cli_zol00900::boPrimVez);
        QCOMPARE(services().shownErrors.size(), 1);
    }

    // A folder chosen with the button while the focus is in the branch code is kept when the
    // user then clicks into the folder field: the branch is the same, nothing is asked.
    void leavingThePanelForTheSameBranchKeepsThePick() {
        openScreen();
        toBranchPage();
        QTest::mouseClick(form()->medCdFilial, Qt::LeftButton);
        services().directoryAnswer = m_dir.path();
        click(form()->btpDirFolhaPag);
        QCOMPARE(form()->dbeDiretorio->text(), m_dir.path());
        form()->mnuDIversos->trigger();
        QTest::mouseClick(form()->dbeDiretorio, Qt::LeftButton);
        QCOMPARE(services().questions.size(), 0);
        QCOMPARE(form()->dbeDiretorio->text(), m_dir.path());
        QVERIFY(form()->cdsFilial.Editing());
        QCOMPARE(requestsOf("GetFilial"), 2); // the first load and the button's
    }

    // A branch picked with the search button while the focus is on a field loads at once,
    // after the question when the branch shown has changes.
    void aBranchPickedFromOutsideThePanelLoads_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("branch");
        QTest::addColumn<QString>("day");
        QTest::newRow("OK") << int(ModalResult::Ok) << "0002"
                            << "";
        QTest::newRow("Cancel") << int(ModalResult::Cancel) << "0001"
                                << "12";
    }
    void aBranchPickedFromOutsideThePanelLoads() {
        QFETCH(int, answer);
        QFETCH(QString, branch);
        QFETCH(QString, day);
        openScreen();
        toBranchPage();
        typeInto(form()->dbeFechamento, QStringLiteral("12"));
        services().pickAnswer = [](TClientDataSet& rows) {
            for (int i = 0; i < rows.RecordCount(); ++i) {
                rows.MoveTo(i);
                if (rows.FieldByName(QStringLiteral("CDFILIAL")).AsString() == u"0002") return i;
            }
            return -1;
        };
        services().answers << ModalResult(answer);
        click(form()->BtnFilial);
        QCOMPARE(services().questions.size(), 1);
        QCOMPARE(form()->medCdFilial->text(), branch);
        QCOMPARE(branchField("CDFILIAL"), branch);
        QCOMPARE(form()->cdsFilial.Editing(), !day.isEmpty());
        if (!day.isEmpty()) QCOMPARE(form()->dbeFechamento->text(), day);
    }

    // A change the service refused stays in edit and in the change log: another branch chosen
    // asks before dropping it.
    void aRefusedChangeIsNotDroppedWithoutAQuestion() {
        m_relay->refuse("SetFilial", "0001");
        execSql(QStringLiteral("UPDATE PARAMFILIAL SET NMDIRPONTO = NULL"));
        openScreen();
        toBranchPage();
        typeInto(form()->dbeFechamento, QStringLiteral("12"));
        click(form()->sbtConfirmar);
        QCOMPARE(services().shownErrors.size(), 1);
        QVERIFY(form()->cdsFilial.ChangeCount() > 0);
        QVERIFY(form()->cdsFilial.Editing());
        services().answers << ModalResult::Cancel;
        chooseBranch(QStringLiteral("0002"));
        QCOMPARE(services().questions.size(), 1);
        QVERIFY(form()->cdsFilial.Editing());
        QCOMPARE(form()->medCdFilial->text(), QStringLiteral("0001"));
        QCOMPARE(branchField("DIFECHRH"), QStringLiteral("12"));
    }

    // A branch that cannot be read when the panel is left is told in the status bar; the focus
    // goes on where the user sent it.
    void aFailedBranchLoadDoesNotHoldTheUserInThePanel() {
        m_relay->refuse("GetFilial", "0002");
        openScreen();
        toBranchPage();
        chooseBranch(QStringLiteral("0002"));
        QCOMPARE(services().shownErrors, QStringList{});
        QVERIFY(services().statusNotes.last().startsWith(
            QStringLiteral("Não foi possível carregar a filial")));
        // The panel names the branch still shown, not the one that could not be read.
        QCOMPARE(form()->medCdFilial->text(), QStringLiteral("0001"));
        QCOMPARE(branchField("CDFILIAL"), QStringLiteral("0001"));
    }

    // A check that brings its sub-page forward brings the menu's check mark with it.
    void aCheckThatShowsItsPageChecksItsMenuItem() {
        execSql(QStringLiteral("UPDATE PARAMRH SET VRPRAZEFEFUN = -1"));
        openScreen();
        typeInto(form()->dbeVrPeEncTemp, QStringLiteral("1"));
        click(form()->sbtConfirmar);
        QCOMPARE(form()->pgcGeral->ActivePage(), form()->tshAgenda);
        QVERIFY(form()->mnuAgenda->isChecked());
        QVERIFY(!form()->mnuEncargos->isChecked());
    }
};

QTEST_MAIN(RecoveryTest)
#include "RecoveryTest.moc"
