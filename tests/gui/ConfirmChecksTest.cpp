// Confirm runs the checks of the visible record in their order, stops at the first that fails
// and sends only a real change; each check acts only in the states it is meant for.

#include "Dispatch.h"
#include "ParametrosFixture.h"

class ConfirmChecksTest : public ParametrosFixture {
    Q_OBJECT

    QString message(const char* key) const {
        return form()->msgPadrao.Msg(QString::fromLatin1(key));
    }
    void set(TClientDataSet& record, const char* field, const QVariant& value) {
        record.FieldByName(QString::fromLatin1(field)).SetValue(value);
    }
    // Confirm, and what it showed, or nothing when the record was stored.
    QString confirm() {
        services().shownErrors.clear();
        click(form()->sbtConfirmar);
        return services().shownErrors.isEmpty() ? QString() : services().shownErrors.join(u'|');
    }

private slots:
    void init() { startDesktop(true); }
    void cleanup() { stopDesktop(); }

    // Every branch field wrong at once: the plan, the last closing, the closing day and the
    // folder are refused in that order, one per Confirm, and nothing is sent until all pass.
    void confirmRunsTheBranchChecksInOrder() {
        openScreen();
        clickTab(form()->pgcPadrao, 1);
        TClientDataSet& branch = form()->cdsFilial;
        const QStringList writes = acceptedWrites();
        click(form()->sbtAlterar);
        set(branch, "CDCONMEDDEF", QStringLiteral("99"));
        set(branch, "DTULTFECHRH", QDate::currentDate().addDays(1));
        set(branch, "DIFECHRH", QStringLiteral("45"));
        set(branch, "NMDIRPONTO", QStringLiteral("/nao/existe"));
        const QList<std::pair<QString, std::function<void()>>> steps{
            {message("Convenio_nc"), [&] { set(branch, "CDCONMEDDEF", QVariant()); }},
            {message("DATA"), [&] { set(branch, "DTULTFECHRH", QDate::currentDate()); }},
            {QStringLiteral("45 não é um dia válido."),
             [&] { set(branch, "DIFECHRH", QStringLiteral("10")); }},
            {message("Diretorio_ne"), [&] { set(branch, "NMDIRPONTO", m_dir.path()); }}};
        for (const auto& [refused, mend] : steps) {
            QCOMPARE(confirm(), refused);
            QVERIFY(branch.Editing());
            QCOMPARE(acceptedWrites(), writes);
            mend();
        }
        QCOMPARE(confirm(), QString());
        QCOMPARE(stored("GetFilial", QStringLiteral("0001"), "DIFECHRH"), QStringLiteral("10"));
    }

    // The index code, then the deadline; a blank index code is no code to check.
    void confirmRunsTheGeneralChecks() {
        openScreen();
        TClientDataSet& general = form()->cdsGeral;
        click(form()->sbtAlterar);
        set(general, "CDINDICECB", QStringLiteral("9999"));
        set(general, "VRPRAZEFEFUN", -3);
        QCOMPARE(confirm(), message("IND_NC"));
        set(general, "CDINDICECB", QVariant());
        QCOMPARE(confirm(), message("VRPRAZ_INF"));
        set(general, "VRPRAZEFEFUN", 30);
        QCOMPARE(confirm(), QString());
        QCOMPARE(stored("GetGeral", QStringLiteral("1"), "VRPRAZEFEFUN"), QStringLiteral("30"));
    }

    // Whoever posts the general record, a negative deadline keeps it from being stored.
    void theGeneralRecordIsNotPostedWithANegativeDeadline() {
        openScreen();
        const QStringList writes = acceptedWrites();
        click(form()->sbtAlterar);
        set(form()->cdsGeral, "VRPRAZEFEFUN", -3);
        QVERIFY(!Dispatch([&] { form()->cdsGeral.Post(); }));
        QCOMPARE(services().shownErrors, QStringList{message("VRPRAZ_INF")});
        QVERIFY(form()->cdsGeral.Editing());
        QCOMPARE(acceptedWrites(), writes);
    }

    // A stored index code that no longer exists is not checked while the record is browsed.
    void anIndexCodeIsCheckedOnlyWhileEditing() {
        execSql(QStringLiteral("UPDATE PARAMRH SET CDINDICECB = '9999'"));
        openScreen();
        form()->mnuCestaBasica->trigger();
        QTest::mouseClick(form()->dbeCdIndiceCb, Qt::LeftButton);
        QTest::keyClick(form()->dbeCdIndiceCb, Qt::Key_Tab);
        QVERIFY(focused() != form()->dbeCdIndiceCb);
        QCOMPARE(services().shownErrors, QStringList{});
    }

    // A new branch record is stored whatever its folder holds; the folder is checked once the
    // record exists and is edited.
    // A new branch record has its folder checked as a stored one has: a folder that does not
    // exist would fail the payroll hand-over later, far from its cause.
    void aNewBranchRecordHasItsFolderChecked() {
        services().branch = QStringLiteral("0004");
        openScreen();
        clickTab(form()->pgcPadrao, 1);
        // No parameters yet, but a name in the branch table.
        const QString name =
            sqlColumn(QStringLiteral("SELECT NMFILIAL FROM FILIAL WHERE CDFILIAL = '0004'"))
                .value(0);
        QVERIFY(!name.isEmpty());
        QCOMPARE(form()->edtNmFilial->text(), name);
        click(form()->sbtAlterar);
        QCOMPARE(form()->cdsFilial.State(), DataSetState::Insert);
        set(form()->cdsFilial, "DIFECHRH", QStringLiteral("05"));
        set(form()->cdsFilial, "NMDIRPONTO", QStringLiteral("/nao/existe"));
        QCOMPARE(confirm(), message("Diretorio_ne"));
        QCOMPARE(stored("GetFilial", QStringLiteral("0004"), "DIFECHRH"),
                 QStringLiteral("<nenhum>"));
        set(form()->cdsFilial, "NMDIRPONTO", QString());
        QCOMPARE(confirm(), QString());
        QCOMPARE(stored("GetFilial", QStringLiteral("0004"), "DIFECHRH"), QStringLiteral("05"));
    }

    // A first start makes the demo's payroll folders in its data folder, so that a change of a
    // demo branch is stored as it stands.
    void aFreshDemoStoresABranchChange() {
        openScreen();
        clickTab(form()->pgcPadrao, 1);
        const QString folder =
            form()->cdsFilial.FieldByName(QStringLiteral("NMDIRPONTO")).AsString();
        QCOMPARE(folder, QDir(m_dir.path()).filePath(QStringLiteral("folha/0001")));
        QVERIFY(QFileInfo(folder).isDir());
        typeInto(form()->dbeFechamento, QStringLiteral("20"));
        QCOMPARE(confirm(), QString());
        QCOMPARE(stored("GetFilial", QStringLiteral("0001"), "DIFECHRH"), QStringLiteral("20"));
    }

    // Confirm with nothing changed sends nothing, on both pages.
    void anUnchangedRecordIsNotSent() {
        execSql(QStringLiteral("UPDATE PARAMFILIAL SET NMDIRPONTO = NULL"));
        openScreen();
        for (int page : {0, 1}) {
            clickTab(form()->pgcPadrao, page);
            click(form()->sbtAlterar);
            QCOMPARE(confirm(), QString());
        }
        for (const QByteArray& request : m_relay->seen())
            QVERIFY2(!request.contains("\"method\":\"Set"), request.constData());
    }
};

QTEST_MAIN(ConfirmChecksTest)
#include "ConfirmChecksTest.moc"
