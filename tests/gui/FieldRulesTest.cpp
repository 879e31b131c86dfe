// What each field of the general and branch records accepts and checks, with real keystrokes,
// the demo reference tables and the embedded service.

#include "ParametrosFixture.h"

#include <QClipboard>
#include <QRadioButton>

class FieldRulesTest : public ParametrosFixture {
    Q_OBJECT

    QLineEdit* edit(const QString& name) const { return form()->findChild<QLineEdit*>(name); }
    void pressTab(QWidget* from) { QTest::keyClick(from, Qt::Key_Tab); }
    QString geral(const char* field) const {
        return form()->cdsGeral.FieldByName(QString::fromLatin1(field)).AsString();
    }
    QString filial(const char* field) const {
        return form()->cdsFilial.FieldByName(QString::fromLatin1(field)).AsString();
    }
    // Every row the index search offered, as "code/kind/percent-or-value".
    QStringList offeredIndices() {
        QStringList offered;
        services().pickAnswer = [&offered](TClientDataSet& rows) {
            for (int i = 0; i < rows.RecordCount(); ++i) {
                rows.MoveTo(i);
                offered << QStringLiteral("%1/%2/%3")
                               .arg(rows.FieldByName(QStringLiteral("CDINDICE")).AsString(),
                                    rows.FieldByName(QStringLiteral("CDTPINDICE")).AsString(),
                                    rows.FieldByName(QStringLiteral("IDPERVALOR")).AsString());
            }
            return -1;
        };
        click(form()->BtnIndice);
        return offered;
    }
    void openBranchPage(const QString& directory = {}) {
        execSql(QStringLiteral("UPDATE PARAMFILIAL SET NMDIRPONTO = '%1'")
                    .arg(directory.isEmpty() ? m_dir.path() : directory));
        openScreen();
        clickTab(form()->pgcPadrao, 1);
    }

private slots:
    void init() { startDesktop(); }
    void cleanup() { stopDesktop(); }

    void keyFiltersAndTypingLimits_data() {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("page"); // 0-3: Geral sub-pages; 10-11: Filial sub-pages; 12 panel
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::newRow("percent") << "dbeVrPeEncTemp" << 0 << "12,5"
                                 << "12,5";
        QTest::newRow("percent: one comma") << "dbeVrPeEncEfet" << 0 << "1,2,3"
                                            << "1,23";
        QTest::newRow("percent: signs, exponents, stop") << "dbeVrPeDescVT" << 0 << "+-Ee.7"
                                                         << "7";
        QTest::newRow("percent: five characters") << "dbeVrPeEncTemp" << 0 << "123456"
                                                  << "12345";
        QTest::newRow("basket value") << "dbeVrCestaBas" << 1 << "1,2.3+-e4"
                                      << "1234";
        QTest::newRow("basket value: nine") << "dbeVrCestaBas" << 1 << "1234567890"
                                            << "123456789";
        QTest::newRow("deadline") << "dbeVrPrazEfeFun" << 2 << "1-2,34"
                                  << "123";
        QTest::newRow("vacation days") << "dbeQtDias" << 3 << "123.456"
                                       << "12345";
        QTest::newRow("closing day") << "dbeFechamento" << 10 << "a 1x2"
                                     << "12";
        QTest::newRow("closing day: two") << "dbeFechamento" << 10 << "123"
                                          << "12";
        QTest::newRow("plan code") << "dbeMediConv" << 11 << "E1-2 9"
                                   << "12";
        QTest::newRow("branch code") << "medCdFilial" << 12 << "0b0 0.2x"
                                     << "0002";
        QTest::newRow("branch code: four") << "medCdFilial" << 12 << "123456"
                                           << "1234";
    }
    void keyFiltersAndTypingLimits() {
        QFETCH(QString, control);
        QFETCH(int, page);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        openBranchPage();
        TfrmParametros* f = form();
        const QList<QAction*> pages{f->mnuEncargos, f->mnuCestaBasica, f->mnuAgenda, f->mnuFerias};
        if (page < 10) pages[page]->trigger();
        if (page == 11) f->mnuDIversos->trigger();
        QLineEdit* e = edit(control);
        typeInto(e, typed);
        QCOMPARE(e->text(), shown);

        // Pasting is refused by every filter, by key and by the selection's middle button.
        QGuiApplication::clipboard()->setText(QStringLiteral("9"));
        QGuiApplication::clipboard()->setText(QStringLiteral("9"), QClipboard::Selection);
        QTest::keyClick(e, Qt::Key_V, Qt::ControlModifier);
        QTest::keyClick(e, Qt::Key_Insert, Qt::ShiftModifier);
        QTest::mouseClick(e, Qt::MiddleButton);
        QCOMPARE(e->text(), shown);
        // Selecting all is no typed character; Backspace passes; Tab still leaves the field.
        QTest::keyClick(e, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(e->selectedText(), shown);
        QTest::keyClick(e, Qt::Key_End);
        QTest::keyClick(e, Qt::Key_Backspace);
        QCOMPARE(e->text(), shown.chopped(1));
        // The branch code is no Tab stop; the deadline is the only field of its page.
        if (control != u"medCdFilial" && control != u"dbeVrPrazEfeFun") {
            pressTab(e);
            QVERIFY(focused() != e);
        }
    }

    void secondCommaIsRefusedEvenOverASelectionAndCopyWorks() {
        openScreen();
        TfrmParametros* f = form();
        typeInto(f->dbeVrPeEncTemp, QStringLiteral("1,5"));
        f->dbeVrPeEncTemp->selectAll();
        QTest::keyClick(f->dbeVrPeEncTemp, Qt::Key_Comma);
        QCOMPARE(f->dbeVrPeEncTemp->text(), QStringLiteral("1,5"));
        QTest::keyClick(f->dbeVrPeEncTemp, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("1,5"));
        // The index code has no filter: it takes a paste.
        f->mnuCestaBasica->trigger();
        QGuiApplication::clipboard()->setText(QStringLiteral("10"));
        typeInto(f->dbeCdIndiceCb, QString());
        QTest::keyClick(f->dbeCdIndiceCb, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(f->dbeCdIndiceCb->text(), QStringLiteral("10"));
        // Leaving it pads the code and finds the value index's name.
        pressTab(f->dbeCdIndiceCb);
        QCOMPARE(f->dbeCdIndiceCb->text(), QStringLiteral("0010"));
        QCOMPARE(f->dbeNmIndice->text(), QStringLiteral("Salário Mínimo Nacional"));
    }

    void indexLookupFollowsTheIndexKind() {
        openScreen();
        TfrmParametros* f = form();
        f->mnuCestaBasica->trigger();
        // "Valor" is stored: value indices of kind 2 only, never a kind-1 row, by code.
        QCOMPARE(offeredIndices(), (QStringList{"0010/2/2", "0011/2/2", "0012/2/2"}));
        QCOMPARE(f->cdsGeral.State(), DataSetState::Edit); // the search opened the record

        // Choosing "Percentual" while editing clears code and name.
        auto* percentual =
            f->drgTipoIndice->findChild<QRadioButton*>(QStringLiteral("drgTipoIndice0"));
        QTest::mouseClick(percentual, Qt::LeftButton, {}, QPoint(6, percentual->height() / 2));
        QVERIFY(f->cdsGeral.FieldByName(QStringLiteral("CDINDICECB")).IsNull());
        QVERIFY(f->cdsGeral.FieldByName(QStringLiteral("NMINDICE")).IsNull());
        QCOMPARE(offeredIndices(), (QStringList{"0001/2/1", "0002/2/1", "0003/2/1"}));

        // A value index's code does not exist among the percentage ones.
        services().shownErrors.clear();
        typeInto(f->dbeCdIndiceCb, QStringLiteral("11"));
        pressTab(f->dbeCdIndiceCb);
        QCOMPARE(services().shownErrors,
                 QStringList{QStringLiteral("Índice financeiro não cadastrado.")});
        QCOMPARE(focused(), static_cast<QWidget*>(f->dbeCdIndiceCb));
        QCOMPARE(f->dbeCdIndiceCb->text(), QStringLiteral("0011"));
        QVERIFY(f->dbeNmIndice->text().isEmpty());

        // A pick fills code and name.
        services().pickAnswer = [](TClientDataSet&) { return 1; };
        click(f->BtnIndice);
        QCOMPARE(f->dbeCdIndiceCb->text(), QStringLiteral("0002"));
        QCOMPARE(f->dbeNmIndice->text(), QStringLiteral("INPC"));
        click(f->sbtConfirmar);
        QCOMPARE(stored("GetGeral", QStringLiteral("1"), "CDINDICECB"), QStringLiteral("0002"));
        QCOMPARE(stored("GetGeral", QStringLiteral("1"), "IDTPINDCB"), QStringLiteral("P"));
    }

    void indexKindArrivingByLoadClearsNothingAndAnUnknownKindOffersNothing() {
        openScreen();
        TfrmParametros* f = form();
        execSql(QStringLiteral("UPDATE PARAMRH SET IDTPINDCB = 'P'"));
        click(f->sbtVerificar);
        QCOMPARE(f->drgTipoIndice->ItemIndex(), 0);
        QCOMPARE(geral("CDINDICECB"), QStringLiteral("0011"));

        execSql(QStringLiteral("UPDATE PARAMRH SET IDTPINDCB = 'X'"));
        click(f->sbtVerificar);
        QCOMPARE(f->drgTipoIndice->ItemIndex(), -1);
        f->mnuCestaBasica->trigger();
        QCOMPARE(offeredIndices(), QStringList());
        QCOMPARE(services().shownErrors,
                 QStringList{QStringLiteral("Não há índice financeiro cadastrado.")});
    }

    // The sub-pages are built when first shown: one first shown while the record is being edited
    // shows it as it is, and its change rules run for what the user does there only.
    void subPagesFirstShownWhileEditingChangeNothing() {
        openScreen();
        TfrmParametros* f = form();
        QVERIFY(!f->dbeVrCestaBas.Built() && !f->dcbFerias.Built());
        typeInto(f->dbeVrPeEncTemp, QStringLiteral("13"));
        QCOMPARE(f->cdsGeral.State(), DataSetState::Edit);
        f->mnuCestaBasica->trigger();
        QCOMPARE(f->drgTipoIndice->ItemIndex(), 1);
        QCOMPARE(f->dbeCdIndiceCb->text(), QStringLiteral("0011"));
        QCOMPARE(geral("CDINDICECB"), QStringLiteral("0011"));
        QVERIFY(!geral("NMINDICE").isEmpty());
        f->mnuFerias->trigger();
        QCOMPARE(f->dcbFerias->ItemIndex(), geral("IDTPFERIASPG") == u"C" ? 1 : 0);
        const QString days = geral("QTDIASFERIPG");
        click(f->sbtConfirmar);
        QCOMPARE(stored("GetGeral", QStringLiteral("1"), "CDINDICECB"), QStringLiteral("0011"));
        QCOMPARE(stored("GetGeral", QStringLiteral("1"), "QTDIASFERIPG"), days);
        QCOMPARE(stored("GetGeral", QStringLiteral("1"), "VRPEENCTEMP"), QStringLiteral("13"));
    }

    void vacationRules() {
        openScreen();
        TfrmParametros* f = form();
        f->mnuFerias->trigger();
        typeInto(f->dbeQtDias, QStringLiteral("15"));
        f->dcbFerias->setFocus();
        QTRY_COMPARE(focused(), static_cast<QWidget*>(f->dcbFerias));
        QTest::keyClick(f->dcbFerias, Qt::Key_Down); // "Dias Corridos"
        QCOMPARE(geral("QTDIASFERIPG"), QStringLiteral("30"));
        QCOMPARE(geral("IDTPFERIASPG"), QStringLiteral("C"));
        QTest::keyClick(f->dcbFerias, Qt::Key_Up); // "Dias Úteis" keeps the 30
        QCOMPARE(geral("QTDIASFERIPG"), QStringLiteral("30"));
        QCOMPARE(geral("IDTPFERIASPG"), QStringLiteral("U"));
        // Only the exact texts of the list store a code.
        TField& kind = f->cdsGeral.FieldByName(QStringLiteral("IDTPFERIASPG"));
        kind.SetText(QStringLiteral("dias corridos"));
        QCOMPARE(kind.AsString(), QStringLiteral("U"));
        kind.SetText(QStringLiteral("Dias Corridos"));
        QCOMPARE(kind.AsString(), QStringLiteral("C"));
    }

    void branchCodeCheckAndLoad() {
        openBranchPage();
        TfrmParametros* f = form();
        // Clicking into the code keeps the branch record; a code typed there is checked on leaving.
        typeInto(f->medCdFilial, QStringLiteral("99"));
        QVERIFY(f->edtNmFilial->text().isEmpty());
        QTest::mouseClick(f->dbeFechamento, Qt::LeftButton);
        QCOMPARE(services().shownErrors, QStringList{QStringLiteral("Filial não cadastrada.")});
        QCOMPARE(focused(), static_cast<QWidget*>(f->medCdFilial));
        QCOMPARE(f->medCdFilial->text(), QStringLiteral("0099"));
        QCOMPARE(filial("CDFILIAL"), QStringLiteral("0001"));

        // A blank code: the message, no read, the record held stays, nothing more.
        services().shownErrors.clear();
        f->medCdFilial->selectAll();
        QTest::keyClick(f->medCdFilial, Qt::Key_Backspace);
        QTest::mouseClick(f->dbeFechamento, Qt::LeftButton);
        QCOMPARE(services().shownErrors, QStringList{QStringLiteral("Filial deve ser informada.")});
        QCOMPARE(filial("CDFILIAL"), QStringLiteral("0001"));
        QCOMPARE(services().busyDepth(), 0);

        // A branch picked from the list is read only when the panel is left.
        services().shownErrors.clear();
        services().pickAnswer = [](TClientDataSet& rows) {
            return rows.RecordCount() == 5 ? 1 : -1;
        };
        click(f->BtnFilial);
        QCOMPARE(f->medCdFilial->text(), QStringLiteral("0002"));
        QCOMPARE(f->edtNmFilial->text(), QStringLiteral("Filial Rio de Janeiro"));
        QVERIFY(!f->cdsFilial.Active());
        QTest::mouseClick(f->dbeFechamento, Qt::LeftButton);
        QCOMPARE(filial("CDFILIAL"), QStringLiteral("0002"));
        QCOMPARE(f->dbeFechamento->text(), QStringLiteral("20"));
        QVERIFY(services().shownErrors.isEmpty());
    }

    void closingDayAndLastClosingOnExit_data() {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("message"); // empty: accepted
        const QString tomorrow =
            QDate::currentDate().addDays(1).toString(QStringLiteral("ddMMyyyy"));
        const QString today = QDate::currentDate().toString(QStringLiteral("ddMMyyyy"));
        QTest::newRow("day 7") << "dbeFechamento"
                               << "7" << QString();
        QTest::newRow("day 45") << "dbeFechamento"
                                << "45"
                                << "45 não é um dia válido.";
        QTest::newRow("today") << "dbdUltiFecha" << today << QString();
        QTest::newRow("tomorrow") << "dbdUltiFecha" << tomorrow
                                  << "Data do fechamento deve ser menor ou igual a data atual.";
        QTest::newRow("no date") << "dbdUltiFecha"
                                 << "3113"
                                 << "31/13/ não é uma data válida.";
    }
    void closingDayAndLastClosingOnExit() {
        QFETCH(QString, control);
        QFETCH(QString, typed);
        QFETCH(QString, message);
        openBranchPage();
        QLineEdit* e = edit(control);
        typeInto(e, typed);
        pressTab(e);
        if (message.isEmpty()) {
            QVERIFY(services().shownErrors.isEmpty());
            QVERIFY(focused() != e);
        } else {
            QCOMPARE(services().shownErrors, QStringList{message});
            QCOMPARE(focused(), static_cast<QWidget*>(e));
        }
    }

    void medicalPlanCheckAndLookup() {
        execSql(
            QStringLiteral("UPDATE PARAMFILIAL SET CDCONMEDDEF = NULL WHERE CDFILIAL = '0001'"));
        openBranchPage();
        TfrmParametros* f = form();
        f->mnuDIversos->trigger();
        // In browse, leaving the plan code checks nothing.
        QTest::mouseClick(f->dbeMediConv, Qt::LeftButton);
        pressTab(f->dbeMediConv);
        QVERIFY(services().shownErrors.isEmpty());

        typeInto(f->dbeMediConv, QStringLiteral("9"));
        pressTab(f->dbeMediConv);
        QCOMPARE(services().shownErrors,
                 QStringList{QStringLiteral("Convênio médico não cadastrado.")});
        QCOMPARE(f->dbeMediConv->text(), QStringLiteral("09"));
        QVERIFY(f->dbeNmConvenioMedico->text().isEmpty());
        QCOMPARE(focused(), static_cast<QWidget*>(f->dbeMediConv));

        services().pickAnswer = [](TClientDataSet& rows) { return rows.RecordCount() - 1; };
        click(f->btnConvMedi);
        QCOMPARE(f->dbeMediConv->text(), QStringLiteral("05"));
        QCOMPARE(f->dbeNmConvenioMedico->text(), QStringLiteral("NotreDame Intermédica"));
        click(f->sbtConfirmar);
        QCOMPARE(stored("GetFilial", QStringLiteral("0001"), "CDCONMEDDEF"), QStringLiteral("05"));
        QCOMPARE(services().busyDepth(), 0);
    }

    // Confirm checks the branch's fields of a sub-page the user never opened: built for the
    // check, it shows the record, and a refusal brings it forward with the focus on the field.
    void confirmChecksASubPageNeverShown() {
        execSql(
            QStringLiteral("UPDATE PARAMFILIAL SET CDCONMEDDEF = '99' WHERE CDFILIAL = '0001'"));
        openBranchPage();
        TfrmParametros* f = form();
        QVERIFY(!f->dbeMediConv.Built());
        typeInto(f->dbeFechamento, QStringLiteral("15"));
        click(f->sbtConfirmar);
        QCOMPARE(services().shownErrors,
                 QStringList{QStringLiteral("Convênio médico não cadastrado.")});
        QCOMPARE(f->pgcFilial->ActivePage(), f->tshDiversos);
        QCOMPARE(focused(), static_cast<QWidget*>(f->dbeMediConv));
        QCOMPARE(f->dbeMediConv->text(), QStringLiteral("99"));
        QVERIFY(f->cdsFilial.Editing());
        typeInto(f->dbeMediConv, QStringLiteral("05"));
        click(f->sbtConfirmar);
        QCOMPARE(stored("GetFilial", QStringLiteral("0001"), "DIFECHRH"), QStringLiteral("15"));
        QCOMPARE(stored("GetFilial", QStringLiteral("0001"), "CDCONMEDDEF"), QStringLiteral("05"));
    }

    void directoryCheckAndPicker() {
        QFile file(m_dir.filePath(QStringLiteral("arquivo.txt")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        openBranchPage();
        TfrmParametros* f = form();
        f->mnuDIversos->trigger();
        typeInto(f->dbeDiretorio, file.fileName());
        pressTab(f->dbeDiretorio);
        QCOMPARE(services().shownErrors,
                 QStringList{QStringLiteral(
                     "Diretório para integração com a folha de pagamento não existe.")});
        QCOMPARE(focused(), static_cast<QWidget*>(f->dbeDiretorio));

        // The picker of the branch being edited asks nothing: its dialog starts at the path
        // typed, and cancelling the dialog keeps the path and the edit.
        services().directoryAnswer.clear();
        click(f->btpDirFolhaPag);
        QCOMPARE(services().questions, QStringList{});
        QCOMPARE(services().directoryStarts, QStringList{file.fileName()});
        QCOMPARE(f->dbeDiretorio->text(), file.fileName());
        QCOMPARE(f->cdsFilial.State(), DataSetState::Edit);
        const QString chosen = m_dir.filePath(QStringLiteral("folha"));
        QVERIFY(QDir().mkpath(chosen));
        services().directoryAnswer = chosen;
        click(f->btpDirFolhaPag);
        QCOMPARE(f->dbeDiretorio->text(), chosen);
        click(f->sbtConfirmar);
        QCOMPARE(stored("GetFilial", QStringLiteral("0001"), "NMDIRPONTO"), chosen);
    }

    void choosingAnotherBranchAsksBeforeDroppingChanges() {
        openBranchPage();
        TfrmParametros* f = form();
        typeInto(f->dbeFechamento, QStringLiteral("12"));
        // Passing into the code asks nothing; leaving it with another branch does.
        typeInto(f->medCdFilial, QStringLiteral("0002"));
        QCOMPARE(services().questions.size(), 0);
        services().answers = {ModalResult::Cancel};
        QTest::mouseClick(f->dbeFechamento, Qt::LeftButton);
        QCOMPARE(services().questions.size(), 1);
        QCOMPARE(f->cdsFilial.State(), DataSetState::Edit);
        QCOMPARE(f->medCdFilial->text(), QStringLiteral("0001"));
        QCOMPARE(f->dbeFechamento->text(), QStringLiteral("12"));
        QCOMPARE(focused(), static_cast<QWidget*>(f->dbeFechamento));

        typeInto(f->medCdFilial, QStringLiteral("0002"));
        services().answers = {ModalResult::Ok};
        QTest::mouseClick(f->dbeFechamento, Qt::LeftButton);
        QCOMPARE(services().questions.size(), 2);
        QCOMPARE(filial("CDFILIAL"), QStringLiteral("0002"));
        QVERIFY(!f->cdsFilial.Editing());
        QVERIFY(PageEnabled(f->tshFolhaDados));
        // Without changes nothing is asked.
        typeInto(f->medCdFilial, QStringLiteral("0001"));
        QTest::mouseClick(f->dbeFechamento, Qt::LeftButton);
        QCOMPARE(f->dbeFechamento->text(), QStringLiteral("25"));
        QCOMPARE(services().questions.size(), 2);
    }
};

QTEST_MAIN(FieldRulesTest)
#include "FieldRulesTest.moc"
