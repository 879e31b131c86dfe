// The keys a person presses every day, on the desktop's real boxes: nothing typed or picked is
// thrown away by Enter, Esc, Tab or a close; the commands keep following the record; a reading
// key offers nothing that writes; what is on screen and not stored says so.

#include "DesktopDialogsFixture.h"

#include "server/RhServer.h"

#include <QMenu>
#include <QMenuBar>
#include <QProcess>

class KeyboardPathsTest : public DesktopDialogsFixture {
    Q_OBJECT

    QString branchField(const char* field) {
        return stored("GetFilial", QStringLiteral("0001"), field);
    }
    // The letter Alt or a menu opened takes for the item: the one after its "&".
    static Qt::Key letterOf(const QAction* a) {
        const qsizetype at = a->text().indexOf(u'&');
        return Qt::Key(a->text().at(at + 1).toUpper().unicode());
    }

private slots:
    void init() { startOnDesktop(); }
    void cleanup() { stopOnDesktop(); }

    // Tab and Shift+Tab pass the branch code without a question; the Enter pressed there and
    // the Confirm after keep and store what was typed.
    void tabbingThroughTheBranchCodeKeepsTheTyping_data() {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("presses"); // to reach the branch code
        QTest::addColumn<QString>("field");
        QTest::newRow("Agenda, Tab") << "mnuAgeFilial"
                                     << "dbeFechamento" << int(Qt::Key_Tab) << 2 << "DIFECHRH";
        QTest::newRow("Agenda, Shift+Tab")
            << "mnuAgeFilial"
            << "dbeFechamento" << int(Qt::Key_Backtab) << 1 << "DIFECHRH";
        QTest::newRow("Diversos, Tab") << "mnuDIversos"
                                       << "dbeDiretorio" << int(Qt::Key_Tab) << 2 << "NMDIRPONTO";
    }
    void tabbingThroughTheBranchCodeKeepsTheTyping() {
        QFETCH(QString, page);
        QFETCH(QString, control);
        QFETCH(int, key);
        QFETCH(int, presses);
        QFETCH(QString, field);
        const QString typed = field == u"DIFECHRH" ? QStringLiteral("21") : m_dir.path();
        openOn(qPrintable(page));
        typeOver(edit(control), typed);
        for (int i = 0; i < presses; ++i)
            press(Qt::Key(key));
        waitUntilSettled();
        QCOMPARE(focused(), static_cast<QWidget*>(form()->medCdFilial));
        press(Qt::Key_Return);
        press(Qt::Key(key));
        waitUntilSettled();
        QCOMPARE(m_answers->texts, QStringList{});
        QVERIFY(form()->cdsFilial.Editing());
        press(Qt::Key_F10);
        QTRY_COMPARE(branchField(qPrintable(field)), typed);
        QCOMPARE(m_answers->texts, QStringList{});
    }

    // The Cancel command asks; only "Descartar alterações" takes the typing back.
    void cancellingAsksAndOnlyDiscardDrops_data() {
        QTest::addColumn<bool>("byKey"); // F11, or the tool-bar button
        QTest::addColumn<int>("combined");
        QTest::newRow("F11, Enter") << true << QKeyCombination(Qt::Key_Return).toCombined();
        QTest::newRow("F11, Esc") << true << QKeyCombination(Qt::Key_Escape).toCombined();
        QTest::newRow("button, Descartar") << false << DialogAnswerer::Discard.toCombined();
    }
    void cancellingAsksAndOnlyDiscardDrops() {
        QFETCH(bool, byKey);
        QFETCH(int, combined);
        const bool kept = QKeyCombination::fromCombined(combined) != DialogAnswerer::Discard;
        openOn("mnuEncargos");
        typeOver(form()->dbeVrPeEncTemp, QStringLiteral("7,5"));
        m_answers->keys << QKeyCombination::fromCombined(combined);
        if (byKey)
            press(Qt::Key_F11);
        else
            clickInto(form()->sbtCancelar);
        waitUntilSettled();
        QCOMPARE(m_answers->texts,
                 QStringList{form()->msgMensagensPadroes.Msg(QStringLiteral("Canc"))});
        QCOMPARE(form()->cdsGeral.Editing(), kept);
        QCOMPARE(form()->sbtConfirmar->isEnabled(), kept);
        QCOMPARE(form()->dbeVrPeEncTemp->text(),
                 kept ? QStringLiteral("7,5") : QStringLiteral("12,50"));
    }

    // A check refused on Confirm, then a click on the locked "Filial" tab: one message, and
    // Confirm and Cancel stay offered for the record in edit.
    void aRefusedConfirmKeepsTheRecordsCommands() {
        openOn("mnuCestaBasica");
        typeOver(form()->dbeCdIndiceCb, QStringLiteral("9999"));
        press(Qt::Key_F10);
        waitUntilSettled();
        clickTab(form()->pgcPadrao, 1);
        waitUntilSettled();
        QCOMPARE(m_answers->texts, QStringList{form()->msgPadrao.Msg(QStringLiteral("IND_NC"))});
        QCOMPARE(form()->pgcPadrao->ActivePage(), form()->tshFolhaDados);
        QVERIFY(form()->cdsGeral.Editing());
        QVERIFY(form()->sbtConfirmar->isEnabled() && form()->mnuConfirmar->isEnabled());
        QVERIFY(form()->sbtCancelar->isEnabled() && form()->mnuCancelar->isEnabled());
        QVERIFY(!form()->sbtAlterar->isEnabled() && !form()->sbtVerificar->isEnabled());
        QVERIFY(!PageEnabled(form()->tshFormulario) && !form()->mnuFormulario->isEnabled());
    }

    // A Confirm the service refuses leaves the record in edit with what was typed, Confirm and
    // Cancel offered; Cancel then shows what is stored.
    void aChangeNotStoredStaysOffered() {
        openOn("mnuEncargos");
        typeOver(form()->dbeVrPeEncTemp, QStringLiteral("20"));
        execSql(QStringLiteral("UPDATE PARAMRH SET VRPEENCTEMP = 3"));
        press(Qt::Key_F10);
        waitUntilSettled();
        QCOMPARE(m_answers->texts.size(), 1);
        QVERIFY(form()->cdsGeral.Editing());
        QVERIFY(form()->sbtConfirmar->isEnabled() && form()->sbtCancelar->isEnabled());
        QVERIFY(!PageEnabled(form()->tshFormulario));
        QCOMPARE(form()->cdsGeral.FieldByName(QStringLiteral("VRPEENCTEMP")).AsFloat(), 20.0);
        // Closing still asks: it is not stored.
        m_answers->keys << Qt::Key_Escape;
        windows().first()->close();
        waitUntilSettled();
        QCOMPARE(windows().size(), 1);
        m_answers->keys << DialogAnswerer::Discard;
        press(Qt::Key_F11);
        waitUntilSettled();
        QVERIFY(!form()->cdsGeral.Editing());
        QCOMPARE(form()->cdsGeral.ChangeCount(), 0);
        QCOMPARE(form()->cdsGeral.FieldByName(QStringLiteral("VRPEENCTEMP")).AsFloat(), 12.5);
        QCOMPARE(stored("GetGeral", QStringLiteral("1"), "VRPEENCTEMP"), QStringLiteral("3"));
    }

    // From "Filial", "Operação", its "Geral" and then a sub-page, all by keys: the focus is in
    // the sub-page's first field, and the next keys land there.
    void aSubPageChosenByKeysTakesTheNextKeys_data() {
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("first");
        QTest::newRow("Agenda") << "mnuAgenda"
                                << "dbeVrPrazEfeFun";
        QTest::newRow("Cesta Básica") << "mnuCestaBasica"
                                      << "drgTipoIndice";
    }
    void aSubPageChosenByKeysTakesTheNextKeys() {
        QFETCH(QString, item);
        QFETCH(QString, first);
        openOn("mnuAgeFilial");
        QMenu* operacao = form()->mnuOperacao;
        const QList<Qt::Key> letters{letterOf(operacao->menuAction()),
                                     letterOf(form()->mnuFolhaDados),
                                     letterOf(form()->findChild<QAction*>(item))};
        if (QGuiApplication::platformName() == u"xcb") {
            // Through the X server, as a keyboard types: the menu holds the keyboard grab, and
            // the window gets its focus back from the window system when the menu closes.
            QStringList keys{QStringLiteral("alt+%1").arg(QChar(letters[0]).toLower())};
            for (Qt::Key k : letters.mid(1))
                keys << QString(QChar(k).toLower());
            for (const QString& key : keys) {
                QCOMPARE(QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), key}),
                         0);
                QTest::qWait(150);
            }
        } else {
            press(letters[0], Qt::AltModifier);
            QTRY_COMPARE(QApplication::activePopupWidget(), static_cast<QWidget*>(operacao));
            QTest::keyClick(operacao, letters[1]);
            QTRY_COMPARE(QApplication::activePopupWidget(),
                         static_cast<QWidget*>(form()->mnuFolhaDadosMenu));
            QTest::keyClick(form()->mnuFolhaDadosMenu, letters[2]);
        }
        QTRY_VERIFY(!QApplication::activePopupWidget());
        waitUntilSettled();
        QWidget* field = form()->findChild<QWidget*>(first);
        QTRY_VERIFY2(focused() && (focused() == field || field->isAncestorOf(focused())),
                     focused() ? qPrintable(focused()->objectName()) : "nenhum");
        auto* edit = qobject_cast<QLineEdit*>(field);
        if (!edit) return;
        if (QGuiApplication::platformName() != u"xcb") return nextKeystrokesLandIn(edit);
        QCOMPARE(QProcess::execute(QStringLiteral("xdotool"),
                                   {QStringLiteral("type"), QStringLiteral("7")}),
                 0);
        QTRY_VERIFY2(edit->text().contains(u'7'), qPrintable(edit->text()));
    }

    // A number's limit counts its digits, not the separators the format shows.
    void aDigitTypedIntoAFormattedNumberIsTaken_data() {
        QTest::addColumn<QString>("storedValue");
        QTest::addColumn<QList<int>>("keys");
        QTest::addColumn<QString>("shown");
        QTest::newRow("a digit before")
            << "12345" << QList<int>{Qt::Key_Home, Qt::Key_9} << "912.345,00";
        QTest::newRow("nine digits, a decimal changed")
            << "123456789" << QList<int>{Qt::Key_End, Qt::Key_Backspace, Qt::Key_5}
            << "123.456.789,05";
        QTest::newRow("nine digits, a tenth refused")
            << "123456789" << QList<int>{Qt::Key_Home, Qt::Key_1} << "123.456.789,00";
    }
    void aDigitTypedIntoAFormattedNumberIsTaken() {
        QFETCH(QString, storedValue);
        QFETCH(QList<int>, keys);
        QFETCH(QString, shown);
        execSql(QStringLiteral("UPDATE PARAMRH SET VRCESTABAS = %1").arg(storedValue));
        openOn("mnuCestaBasica");
        clickInto(form()->dbeVrCestaBas);
        QTRY_COMPARE(focused(), static_cast<QWidget*>(form()->dbeVrCestaBas));
        for (int key : keys)
            press(Qt::Key(key));
        QCOMPARE(form()->dbeVrCestaBas->text(), shown);
        // A refused digit does not start an edit either.
        QCOMPARE(form()->cdsGeral.Editing(), shown != u"123.456.789,00");
    }

    // With a key that may only read, nothing that writes is offered, and the service's refusal
    // names no method, token or table.
    void aReadingKeyOffersNothingThatWrites() {
        rhserver::ServerOptions options;
        options.db = QStringLiteral("sqlite:") + m_dbPath;
        options.tokens = {
            {QStringLiteral("painel"), rhserver::Role::Reader, QStringLiteral("chave-de-leitura")}};
        rhserver::RhServer reader(options);
        QString error;
        QVERIFY2(reader.start(QHostAddress::LocalHost, 0, &error), qPrintable(error));
        services().serverPort = reader.port();
        services().token = QStringLiteral("chave-de-leitura");
        openOn("mnuEncargos");
        TfrmParametros* f = form();
        QVERIFY(f->windowTitle().contains(QStringLiteral("Somente leitura")));
        QVERIFY(!f->sbtAlterar->isEnabled() && !f->mnuAlterar->isEnabled());
        QVERIFY(f->sbtAlterar->toolTip().contains(QStringLiteral("Somente leitura")));
        clickInto(f->dbeVrPeEncTemp);
        QTest::keyClicks(focused(), QStringLiteral("20"));
        press(Qt::Key_F2);
        QVERIFY(!f->cdsGeral.Editing());
        QCOMPARE(f->dbeVrPeEncTemp->text(), QStringLiteral("12,50"));
        for (QWidget* w : std::initializer_list<QWidget*>{f->BtnIndice, f->btpDirFolhaPag,
                                                          f->btnConvMedi, f->drgTipoIndice})
            QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
        // Sub-pages built after the key's role was known take no typing either.
        for (TDBEdit* e : {f->dbeVrCestaBas.get(), f->dbeVrPrazEfeFun.get(), f->dbeQtDias.get(),
                           f->dbeFechamento.get(), f->dbeDiretorio.get()})
            QVERIFY2(e->isReadOnly(), qPrintable(e->objectName()));
        // A tick on the questionnaire page goes nowhere.
        f->mnuQuestionario->trigger();
        TDBGrid* grid = f->questionario.dbgQuestCand;
        QTRY_VERIFY(f->questionario.cdsInspecao.RecordCount() > 0);
        // Built only now, the page still says why.
        QVERIFY(grid->toolTip().contains(QStringLiteral("Somente leitura")));
        const int before = acceptedWrites().size();
        const QRect cell = grid->visualRect(grid->model()->index(0, 4));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(acceptedWrites().size(), before);
        QCOMPARE(m_answers->texts, QStringList{});
        // What the service says to a write anyway is a sentence for a person.
        const protocol::Response r = f->netParamZOL.AppServer().call(
            contract::method::SetInsPad, {QStringLiteral("01001"), QStringLiteral("0001")});
        QVERIFY(!r.ok);
        for (const char* word : {"SetInsPad", "token", "painel", "INSP"})
            QVERIFY2(!r.errorMessage.contains(QLatin1String(word)), qPrintable(r.errorMessage));
        stopOnDesktop();
    }

    // A branch with no parameters yet: its new record's folder is checked as a changed one's.
    void aNewBranchRecordsFolderIsChecked() {
        execSql(QStringLiteral("DELETE FROM PARAMFILIAL WHERE CDFILIAL = '0002'"));
        openOn("mnuAgeFilial");
        typeOver(form()->medCdFilial, QStringLiteral("0002"));
        press(Qt::Key_Tab);
        waitUntilSettled();
        QVERIFY(form()->cdsFilial.IsEmpty());
        typeOver(form()->dbeFechamento, QStringLiteral("10"));
        form()->mnuDIversos->trigger();
        typeOver(form()->dbeDiretorio, QStringLiteral("/nao/existe"));
        press(Qt::Key_F10);
        waitUntilSettled();
        QCOMPARE(m_answers->texts,
                 QStringList{form()->msgPadrao.Msg(QStringLiteral("Diretorio_ne"))});
        QCOMPARE(focused(), static_cast<QWidget*>(form()->dbeDiretorio));
        QCOMPARE(stored("GetFilial", QStringLiteral("0002"), "NMDIRPONTO"),
                 QStringLiteral("<nenhum>"));
    }
    // Picks join the edit: the folder button of the branch being edited opens its dialog at
    // once, and a close, or the branch code passed through, keeps what was picked.
    void aFolderPickedJoinsTheEdit() {
        services().unattended = true;
        services().directoryAnswer = m_dir.path();
        openOn("mnuAgeFilial");
        typeOver(form()->dbeFechamento, QStringLiteral("21"));
        form()->mnuDIversos->trigger();
        click(form()->btpDirFolhaPag);
        QCOMPARE(services().questions, QStringList{});
        QCOMPARE(services().directoryStarts.size(), 1);
        QCOMPARE(form()->dbeDiretorio->text(), m_dir.path());
        clickInto(form()->medCdFilial);
        press(Qt::Key_Tab);
        QVERIFY(form()->cdsFilial.Editing());
        QCOMPARE(form()->dbeDiretorio->text(), m_dir.path());
        press(Qt::Key_F10);
        QCOMPARE(services().shownErrors, QStringList{});
        QCOMPARE(branchField("DIFECHRH"), QStringLiteral("21"));
        QCOMPARE(branchField("NMDIRPONTO"), m_dir.path());
    }
    void anIndexPickedIsAskedForOnClosing() {
        services().unattended = true;
        services().pickAnswer = [](TClientDataSet&) { return 0; };
        services().answers = {ModalResult::Cancel};
        openOn("mnuCestaBasica");
        const QString before = form()->dbeCdIndiceCb->text();
        click(form()->BtnIndice);
        const QString picked = form()->dbeCdIndiceCb->text();
        QVERIFY(picked != before);
        windows().first()->close();
        QCOMPARE(services().questions,
                 QStringList{form()->msgMensagensPadroes.Msg(QStringLiteral("Canc"))});
        QCOMPARE(windows().size(), 1);
        QCOMPARE(form()->dbeCdIndiceCb->text(), picked);
    }

    // A plan picked on a record being browsed puts it into edit and is stored by Confirm; only
    // a record being edited has its plan checked with the service.
    void aPlanIsPickedIntoTheEditAndCheckedOnlyThere() {
        stopOnDesktop();
        startDesktop(true);
        services().unattended = true;
        openOn("mnuDIversos");
        QVERIFY(!form()->cdsFilial.Editing());
        const auto planReads = [this] {
            const QList<QByteArray> seen = m_relay->seen();
            return int(std::count_if(seen.cbegin(), seen.cend(),
                                     [](const QByteArray& l) { return l.contains("GetConvMed"); }));
        };
        clickInto(form()->dbeMediConv);
        press(Qt::Key_Tab);
        QCOMPARE(planReads(), 0);
        services().pickAnswer = [](TClientDataSet&) { return 2; };
        click(form()->btnConvMedi);
        QVERIFY(form()->cdsFilial.Editing());
        QCOMPARE(form()->dbeMediConv->text(), QStringLiteral("03"));
        press(Qt::Key_F10);
        QCOMPARE(services().shownErrors, QStringList{});
        QCOMPARE(branchField("CDCONMEDDEF"), QStringLiteral("03"));
    }

    // Verify on "Questionário" reads it again and still offers no Edit there.
    void verifyOnTheQuestionnaireOffersNoEdit() {
        openOn("mnuQuestionario");
        QTRY_VERIFY(form()->questionario.cdsInspecao.RecordCount() > 0);
        press(Qt::Key_F5);
        QVERIFY(!form()->sbtAlterar->isEnabled());
        QVERIFY(!form()->mnuAlterar->isEnabled());
        press(Qt::Key_F2);
        QVERIFY(!form()->cdsGeral.Editing());
    }
};

QTEST_MAIN(KeyboardPathsTest)
#include "KeyboardPathsTest.moc"
