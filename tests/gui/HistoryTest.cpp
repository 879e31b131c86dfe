// "Histórico de alterações" in the real desktop: a change made on the parameters screen shows with
// who made it and its old and new values, the branch and period filters narrow the list, the
// rows shown export to a CSV file, and a change is taken back from its row.

#include "HistoryDecode.h"
#include "HistoryUndo.h"
#include "HistoryWindow.h"
#include "QuestionnaireFixture.h"
#include "contract/Methods.h"
#include "server/RhServer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QTreeWidget>

class HistoryTest : public QuestionnaireFixture {
    Q_OBJECT

    HistoryWindow* history() const { return m_window->findChild<HistoryWindow*>(); }
    QTreeWidget* list() const {
        return history()->findChild<QTreeWidget*>(QStringLiteral("grdHistorico"));
    }
    QStringList column(int c) const {
        QStringList values;
        for (int i = 0; i < list()->topLevelItemCount(); ++i)
            values << list()->topLevelItem(i)->text(c);
        return values;
    }
    void refresh() { click(history()->findChild<QPushButton*>(QStringLiteral("btnAtualizar"))); }
    QPushButton* undoButton() const {
        return history()->findChild<QPushButton*>(QStringLiteral("btnDesfazer"));
    }
    void select(int row) {
        QTreeWidgetItem* item = list()->topLevelItem(row);
        QTest::mouseClick(list()->viewport(), Qt::LeftButton, {},
                          list()->visualItemRect(item).center());
        QCOMPARE(list()->currentItem(), item);
    }
    void openHistory() {
        // Módulos ▸ Histórico de alterações, from the keyboard.
        QTest::keyClick(m_window.get(), Qt::Key_D, Qt::AltModifier);
        QMenu* modules = m_window->menuBar()->findChild<QMenu*>(QStringLiteral("mnuModulos"));
        QTRY_VERIFY(modules->isVisible());
        QTest::keyClick(modules, Qt::Key_H);
        QTRY_VERIFY(history() && history()->isVisible());
    }
    // A write through the service on a connection of its own, as another desktop makes it.
    void call(const QString& method, const QVector<protocol::Argument>& args) {
        TNetConnection other;
        other.ServerName = QString(contract::ServerObjectName);
        other.Host = services().serverHost;
        other.Port = services().serverPort;
        other.SetConnected(true);
        const protocol::Response r = other.AppServer().call(method, args);
        QVERIFY2(r.ok, qPrintable(r.errorMessage));
    }
    QString storedTemp() { return sqlColumn(QStringLiteral("SELECT VRPEENCTEMP FROM PARAMRH"))[0]; }

private slots:
    void init() { startDesktop(); }
    void cleanup() { stopDesktop(); }

    void aChangeOnTheScreenIsListedWithItsOldAndNewValues() {
        const double old =
            sqlColumn(QStringLiteral("SELECT VRPEENCTEMP FROM PARAMRH")).value(0).toDouble();
        // The rows are listed in the order they were written; first a change from long ago, left by
        // an earlier version (no token name).
        execSql(QStringLiteral(
            "INSERT INTO RHAUDITORIA (DTAUDITORIA, CDFILIAL, IDSESSAO, NMMETODO, DSARGUMENTOS) "
            "VALUES ('2020-06-01T12:00:00.000Z', '0002', 'x', 'SetDelPad', "
            "'[\"02002\",\"0002\"]')"));

        // Branch 0001's folder exists here, so that its change can be stored.
        execSql(QStringLiteral("UPDATE PARAMFILIAL SET NMDIRPONTO = '%1' WHERE CDFILIAL = '0001'")
                    .arg(m_dir.path()));
        openScreen();
        TfrmParametros* f = form();
        typeInto(f->dbeVrPeEncTemp, QStringLiteral("7,5"));
        click(f->sbtConfirmar);
        // The branch's closing day.
        clickTab(f->pgcPadrao, 1);
        typeInto(f->dbeFechamento, QStringLiteral("20"));
        click(f->sbtConfirmar);
        // A position tied on the questionnaire page.
        f->mnuQuestionario->trigger();
        goTo(QStringLiteral("01001"));
        clickCell(f->questionario.dbgCargo, rowOf(f->questionario.cdsCargo, QStringLiteral("0003")),
                  QStringLiteral("IDCHECK"));
        QCOMPARE(acceptedWrites(),
                 (QStringList{QStringLiteral("SetDelPad"), QStringLiteral("SetGeral"),
                              QStringLiteral("SetFilial"), QStringLiteral("SetInsCarg")}));
        // A tie on another branch, through the service as the screen makes it.
        services().branch = QStringLiteral("0003");
        call(QStringLiteral("SetInsPad"), {QStringLiteral("01002"), QStringLiteral("0003")});
        services().branch = QStringLiteral("0001");
        openHistory();
        QTRY_COMPARE(list()->topLevelItemCount(), 5);

        // Newest first, each as an action with the service's method in its tooltip; fields with
        // the screen's labels and values as the screen shows them, codes with their names.
        QCOMPARE(column(2), (QStringList{QStringLiteral("Marcação de questionário padrão"),
                                         QStringLiteral("Vínculo de cargo"),
                                         QStringLiteral("Alteração dos parâmetros da filial"),
                                         QStringLiteral("Alteração dos parâmetros gerais"),
                                         QStringLiteral("Desmarcação de questionário padrão")}));
        QCOMPARE(list()->topLevelItem(3)->toolTip(2), QStringLiteral("SetGeral"));
        QCOMPARE(column(1), (QStringList{QStringLiteral("admin"), QStringLiteral("admin"),
                                         QStringLiteral("admin"), QStringLiteral("admin"),
                                         QStringLiteral("(sem token)")}));
        QCOMPARE(column(3).mid(0, 4),
                 (QStringList{QStringLiteral("Filial 0003 – Filial Belo Horizonte, questionário "
                                             "01002 – Avaliação de conhecimentos gerais"),
                              QStringLiteral("Filial 0001 – Matriz São Paulo, questionário 01001 – "
                                             "Entrevista inicial - área administrativa"),
                              QStringLiteral("Filial 0001 – Matriz São Paulo"),
                              QStringLiteral("Parâmetros gerais")}));
        QCOMPARE(old, 12.5);
        QCOMPARE(column(4).mid(0, 4),
                 (QStringList{QStringLiteral("Questionário 01002 marcado como padrão"),
                              QStringLiteral("Cargo 0003 – Auxiliar de Produção vinculado ao "
                                             "questionário 01001"),
                              QStringLiteral("Dia de Fechamento do RH: 25 → 20"),
                              QStringLiteral("Encargos com Temporários (%): 12,50 % → 7,50 %")}));
        QCOMPARE(column(0)[4], QDateTime(QDate(2020, 6, 1), QTime(12, 0), Qt::UTC)
                                   .toLocalTime()
                                   .toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")));

        // Branch 0003 alone: Todas, 0001, 0002, 0003.
        auto* branch = history()->findChild<QComboBox*>(QStringLiteral("cbxFilial"));
        QTest::mouseClick(branch, Qt::LeftButton);
        if (QWidget* popup = QApplication::activePopupWidget())
            QTest::keyClick(popup, Qt::Key_Escape);
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(branch, Qt::Key_Down);
        QCOMPARE(branch->currentData().toString(), QStringLiteral("0003"));
        // Until it is read again, the list says it is not of the filter shown.
        auto* stale = history()->findChild<QLabel*>(QStringLiteral("lblFiltroAlterado"));
        QVERIFY(stale->isVisible() && !list()->isEnabled());
        refresh();
        QTRY_COMPARE(column(2), QStringList{QStringLiteral("Marcação de questionário padrão")});
        QVERIFY(!stale->isVisible() && list()->isEnabled());

        // Every branch, the last month: the old row goes.
        QTest::keyClick(branch, Qt::Key_Home);
        QCOMPARE(branch->currentData().toString(), QString());
        click(history()->findChild<QCheckBox*>(QStringLiteral("chkPeriodo")));
        refresh();
        QTRY_COMPARE(list()->topLevelItemCount(), 4);
        // Ten years back from the start's year section: it comes back.
        auto* from = history()->findChild<QDateEdit*>(QStringLiteral("dteInicio"));
        QTest::mouseClick(from, Qt::LeftButton);
        from->setCurrentSection(QDateTimeEdit::YearSection);
        for (int i = 0; i < 10; ++i)
            QTest::keyClick(from, Qt::Key_Down);
        QCOMPARE(from->date().year(), QDate::currentDate().addMonths(-1).year() - 10);
        refresh();
        QTRY_COMPARE(list()->topLevelItemCount(), 5);
        // An end before the start is refused, and the list stays.
        auto* to = history()->findChild<QDateEdit*>(QStringLiteral("dteFim"));
        QTest::mouseClick(to, Qt::LeftButton);
        to->setCurrentSection(QDateTimeEdit::YearSection);
        for (int i = 0; i < 20; ++i)
            QTest::keyClick(to, Qt::Key_Down);
        services().shownErrors.clear();
        refresh();
        QCOMPARE(services().shownErrors,
                 QStringList{QStringLiteral("O fim do período é anterior ao início.")});
        QCOMPARE(list()->topLevelItemCount(), 5);

        // "Exportar…" writes the rows shown to a CSV that a spreadsheet reads: here Python's csv.
        const QString csvPath = m_dir.filePath(QStringLiteral("historico.csv"));
        services().saveFileAnswer = csvPath;
        click(history()->findChild<QPushButton*>(QStringLiteral("btnExportar")));
        QCOMPARE(services().saveFileSuggestions.size(), 1);
        // Its owner's alone, as the database is.
        QCOMPARE(QFileInfo(csvPath).permissions() &
                     (QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther |
                      QFileDevice::WriteOther),
                 QFileDevice::Permissions());
        QProcess python;
        python.start(
            QStringLiteral("python3"),
            {QStringLiteral("-c"),
             QStringLiteral("import csv, json, sys\n"
                            "with open(sys.argv[1], encoding='utf-8-sig', newline='') as f:\n"
                            "    print(json.dumps(list(csv.reader(f, delimiter=';'))))\n"),
             csvPath});
        QVERIFY(python.waitForFinished(10000));
        const QJsonArray rows = QJsonDocument::fromJson(python.readAllStandardOutput()).array();
        QCOMPARE(rows.size(), 6);
        QCOMPARE(rows[0].toArray()[4].toString(), QStringLiteral("Alterações"));
        for (int i = 0; i < 5; ++i)
            for (int c = 0; c < 5; ++c)
                QCOMPARE(rows[i + 1].toArray()[c].toString(), list()->topLevelItem(i)->text(c));
        // A file that cannot be written is told, and nothing is left half written.
        services().saveFileAnswer = m_dir.filePath(QStringLiteral("sem-pasta/historico.csv"));
        services().shownErrors.clear();
        click(history()->findChild<QPushButton*>(QStringLiteral("btnExportar")));
        QCOMPARE(services().shownErrors.size(), 1);
        QVERIFY2(services().shownErrors[0].startsWith(QStringLiteral("Não foi possível gravar")),
                 qPrintable(services().shownErrors[0]));
    }

    // Undo writes back what a change replaced, through the service and its conflict check: a
    // record changed again since is refused whole; a tie is untied; a reading key may not undo.
    // An undo that would leave a questionnaire in two modes at once is refused, saying why.
    void anUndoNeverGivesAQuestionnaireTwoModes() {
        const QString branch = QStringLiteral("0001"), code = QStringLiteral("01003");
        // The demo's standard questionnaire of the branch; "Q. Cargo" clicked, as the screen sends
        // it, then a position ticked.
        call(QStringLiteral("SetDelTdCarg"), {branch, code});
        call(QStringLiteral("SetDelTdDep"), {branch, code});
        call(QStringLiteral("SetDelPad"), {code, branch});
        call(QStringLiteral("SetInsCarg"), {branch, code, QStringLiteral("0003")});
        openHistory();
        // Untying what was not tied changes nothing and leaves no row.
        QTRY_COMPARE(list()->topLevelItemCount(), 2);
        select(1);
        QCOMPARE(list()->currentItem()->text(2),
                 QStringLiteral("Desmarcação de questionário padrão"));
        QVERIFY(undoButton()->isEnabled());
        services().answers = {ModalResult::Yes};
        click(undoButton());
        QCOMPARE(services().shownErrors.size(), 1);
        QVERIFY2(services().shownErrors[0].contains(QStringLiteral("não pode ser desfeita")),
                 qPrintable(services().shownErrors[0]));
        QCOMPARE(acceptedWrites().size(), 2);
        // Untied from its position, the questionnaire may be standard again.
        call(QStringLiteral("SetDelCarg"), {branch, code, QStringLiteral("0003")});
        refresh();
        QTRY_COMPARE(list()->topLevelItemCount(), 3);
        select(2);
        services().answers = {ModalResult::Yes};
        click(undoButton());
        QCOMPARE(services().shownErrors.size(), 1);
        QCOMPARE(acceptedWrites().last(), QStringLiteral("SetInsPad"));
    }

    void aChangeIsTakenBackFromItsRow() {
        openScreen();
        typeInto(form()->dbeVrPeEncTemp, QStringLiteral("7,5"));
        click(form()->sbtConfirmar);
        call(QStringLiteral("SetInsCarg"),
             {QStringLiteral("0001"), QStringLiteral("01001"), QStringLiteral("0003")});
        openHistory();
        QTRY_COMPARE(list()->topLevelItemCount(), 2);
        QVERIFY(!undoButton()->isEnabled());
        select(1);
        QVERIFY(undoButton()->isEnabled());

        // Someone else changed the same field since: the conflict is told, nothing is written.
        execSql(QStringLiteral("UPDATE PARAMRH SET VRPEENCTEMP = 9"));
        services().answers = {ModalResult::Yes};
        click(undoButton());
        QCOMPARE(services().shownErrors.size(), 1);
        QVERIFY2(services().shownErrors[0].startsWith(QStringLiteral("Outro usuário alterou")),
                 qPrintable(services().shownErrors[0]));
        QCOMPARE(storedTemp(), QStringLiteral("9"));
        QCOMPARE(acceptedWrites().size(), 2);

        // Back as the change left it: No writes nothing, Yes writes the old value, audited.
        execSql(QStringLiteral("UPDATE PARAMRH SET VRPEENCTEMP = 7.5"));
        services().answers = {ModalResult::No};
        click(undoButton());
        QCOMPARE(acceptedWrites().size(), 2);
        services().answers = {ModalResult::Yes};
        click(undoButton());
        QVERIFY2(services().questions.last().contains(
                     QStringLiteral("Encargos com Temporários (%): 7,50 % → 12,50 %")),
                 qPrintable(services().questions.last()));
        QCOMPARE(storedTemp(), QStringLiteral("12.5"));
        QCOMPARE(acceptedWrites(),
                 (QStringList{QStringLiteral("SetGeral"), QStringLiteral("SetInsCarg"),
                              QStringLiteral("SetGeral")}));
        QTRY_COMPARE(list()->topLevelItemCount(), 3);

        // The tie, from the row's context menu.
        select(1);
        QCOMPARE(list()->currentItem()->text(2), QStringLiteral("Vínculo de cargo"));
        // A right click on the row, as the window system delivers it; its menu's one item.
        QTimer pick;
        connect(&pick, &QTimer::timeout, this, [&pick] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu || !menu->isVisible()) return;
            pick.stop();
            QTest::keyClick(menu, Qt::Key_Down);
            QTest::keyClick(menu, Qt::Key_Return);
        });
        pick.start(10);
        services().answers = {ModalResult::Yes};
        QWidget* top = list()->window();
        QTest::mouseClick(
            top->windowHandle(), Qt::RightButton, {},
            list()->viewport()->mapTo(top, list()->visualItemRect(list()->currentItem()).center()));
        QTRY_COMPARE(acceptedWrites().size(), 4);
        QCOMPARE(acceptedWrites().last(), QStringLiteral("SetDelCarg"));
        QCOMPARE(sqlColumn(QStringLiteral("SELECT COUNT(*) FROM INSPCARGO WHERE CDFILIAL = '0001' "
                                          "AND CDINSPECAO = '01001' AND CDCARGO = '0003'")),
                 QStringList{QStringLiteral("0")});

        // A reading key sees the rows but not the undo.
        rhserver::ServerOptions options;
        options.db = QStringLiteral("sqlite:") + m_dbPath;
        options.tokens = {
            {QStringLiteral("leitor"), rhserver::Role::Reader, QStringLiteral("chave-de-leitura")}};
        rhserver::RhServer reader(options);
        QString error;
        QVERIFY2(reader.start(QHostAddress::LocalHost, 0, &error), qPrintable(error));
        services().serverPort = reader.port();
        services().token = QStringLiteral("chave-de-leitura");
        HistoryWindow readOnly(services());
        readOnly.show();
        readOnly.refresh();
        auto* rows = readOnly.findChild<QTreeWidget*>(QStringLiteral("grdHistorico"));
        QCOMPARE(rows->topLevelItemCount(), 4);
        QTest::mouseClick(rows->viewport(), Qt::LeftButton, {},
                          rows->visualItemRect(rows->topLevelItem(1)).center());
        QCOMPARE(rows->currentItem(), rows->topLevelItem(1));
        auto* undo = readOnly.findChild<QPushButton*>(QStringLiteral("btnDesfazer"));
        QVERIFY(!undo->isEnabled());
        QVERIFY(!undo->toolTip().isEmpty());
    }

    // What a stored change says, field by field, for the shapes the service writes, with codes
    // named from their lists; and what its undo would write, if it may be undone.
    void decodingOfStoredChanges_data() {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("record");
        QTest::addColumn<QStringList>("changes");
        QTest::addColumn<QString>("refused");
        QTest::addColumn<QStringList>("undo"); // the undo's method, then what it writes
        const QString fields =
            QStringLiteral(R"("fields":[{"name":"CDFILIAL","type":"string","size":4},)"
                           R"({"name":"NMFILIAL","type":"string","size":30},)"
                           R"({"name":"DTULTFECHRH","type":"date"},)"
                           R"({"name":"VRTOLEAPON","type":"float"},)"
                           R"({"name":"CDCONMEDDEF","type":"string","size":2}])");
        QTest::newRow("update lists changed fields only")
            << "SetFilial"
            << QStringLiteral(
                   R"([{%1,"changes":[{"op":"update","old":["0002","Rio",)"
                   R"("2026-01-20",5,"01"],"new":["0002","Outro","2026-02-20",5,"09"]}]}])")
                   .arg(fields)
            << "Filial 0002 – Rio de Janeiro"
            << QStringList{QStringLiteral(
                               "Data do Último Fechamento do RH: 20/01/2026 → 20/02/2026"),
                           QStringLiteral("Convênio Médico Padrão: 01 – Unimed → 09")}
            << "N"
            << QStringList{
                   QStringLiteral("SetFilial"),
                   QStringLiteral("Data do Último Fechamento do RH: 20/02/2026 → 20/01/2026"),
                   QStringLiteral("Convênio Médico Padrão: 09 → 01 – Unimed")};
        QTest::newRow("codes in words, numbers in the field's picture")
            << "SetGeral"
            << QStringLiteral(R"([{"fields":[{"name":"CDPARAMRH","type":"string","size":1},)"
                              R"({"name":"IDTPFERIASPG","type":"string","size":1},)"
                              R"({"name":"VRCESTABAS","type":"float"},)"
                              R"({"name":"CDINDICECB","type":"string","size":4}],"changes":[)"
                              R"({"op":"update","old":["1","U",689.5,null],)"
                              R"("new":["1","C",1200,"0011"]}]}])")
            << "Parâmetros gerais"
            << QStringList{QStringLiteral("Tipo: Dias Úteis → Dias Corridos"),
                           QStringLiteral("Valor: 689,50 → 1.200,00"),
                           QStringLiteral("Índice Financeiro: (vazio) → 0011 – Cesta Básica")}
            << "N"
            << QStringList{QStringLiteral("SetGeral"),
                           QStringLiteral("Tipo: Dias Corridos → Dias Úteis"),
                           QStringLiteral("Valor: 1.200,00 → 689,50"),
                           QStringLiteral("Índice Financeiro: 0011 – Cesta Básica → (vazio)")};
        QTest::newRow("an insert lists what was set and is not undone")
            << "SetFilial"
            << QStringLiteral(R"([{%1,"changes":[{"op":"insert",)"
                              R"("new":["0004","Curitiba",null,1234.5,null]}]}])")
                   .arg(fields)
            << "Filial 0004" << QStringList{QStringLiteral("VRTOLEAPON: (vazio) → 1.234,5")} << "N"
            << QStringList{};
        QTest::newRow("a change that changed nothing is not undone")
            << "SetFilial"
            << QStringLiteral(R"([{%1,"changes":[{"op":"update","old":["0002","Rio",null,5,null],)"
                              R"("new":["0002","Rio",null,5,null]}]}])")
                   .arg(fields)
            << "Filial 0002 – Rio de Janeiro" << QStringList{} << "N" << QStringList{};
        QTest::newRow("a department tie names its branch from the second argument")
            << "SetInsDep"
            << R"(["01002","0002","003"])"
            << "Filial 0002 – Rio de Janeiro, questionário 01002"
            << QStringList{QStringLiteral("Departamento 003 vinculado ao questionário 01002")}
            << "N"
            << QStringList{QStringLiteral("SetDelDep"),
                           QStringLiteral("Departamento 003 desvinculado do questionário 01002")};
        QTest::newRow("a position untied, with its name")
            << "SetDelCarg"
            << R"(["0002","01001","0003"])"
            << "Filial 0002 – Rio de Janeiro, questionário 01001"
            << QStringList{QStringLiteral(
                   "Cargo 0003 – Auxiliar de Produção desvinculado do questionário 01001")}
            << "N"
            << QStringList{QStringLiteral("SetInsCarg"),
                           QStringLiteral("Cargo 0003 – Auxiliar de Produção vinculado ao "
                                          "questionário 01001")};
        QTest::newRow("every position untied cannot be tied back")
            << "SetDelTdCarg"
            << R"(["0001","02003"])"
            << "Filial 0001, questionário 02003"
            << QStringList{QStringLiteral("Todos os cargos desvinculados do questionário 02003")}
            << "N" << QStringList{};
        QTest::newRow("the standard mark")
            << "SetDelPad"
            << R"(["02002","0001"])"
            << "Filial 0001, questionário 02002"
            << QStringList{QStringLiteral("Questionário 02002 deixou de ser padrão")} << "N"
            << QStringList{QStringLiteral("SetInsPad"),
                           QStringLiteral("Questionário 02002 marcado como padrão")};
        QTest::newRow("a write refused to a reading token changed nothing")
            << "SetInsPad"
            << R"(["01002","0001"])" << QString()
            << QStringList{QStringLiteral("recusado: o token só pode consultar")} << "S"
            << QStringList{};
        QTest::newRow("a refusal counts the token's unrecorded ones before it")
            << "SetInsPad"
            << R"([{"bytes":61440,"naoRegistradas":12}])" << QString()
            << QStringList{QStringLiteral("recusado: o token só pode consultar"),
                           QStringLiteral("mais 12 recusa(s) anterior(es) deste token estão só no "
                                          "registro do servidor")}
            << "S" << QStringList{};
    }
    void decodingOfStoredChanges() {
        QFETCH(QString, refused);
        QFETCH(QString, method);
        QFETCH(QString, arguments);
        QFETCH(QString, record);
        QFETCH(QStringList, changes);
        QFETCH(QStringList, undo);
        protocol::DataPacket p;
        for (const char* name : {"NRAUDITORIA", "DTAUDITORIA", "CDFILIAL", "NMTOKEN", "NMMETODO",
                                 "IDRECUSADO", "DSARGUMENTOS"})
            p.fields.push_back({QString::fromLatin1(name), protocol::FieldType::String, 100});
        p.rows.push_back({QStringLiteral("7"), QStringLiteral("2026-01-01T00:00:00.000Z"),
                          QStringLiteral("0001"), QStringLiteral("gestor"), method, refused,
                          arguments});
        const NameOf names = [](const contract::NameList& list, const QString& code) {
            const QHash<QString, QString> known = {
                {QStringLiteral("FILIAL 0002"), QStringLiteral("Rio de Janeiro")},
                {QStringLiteral("CARGO 0003"), QStringLiteral("Auxiliar de Produção")},
                {QStringLiteral("INDICE 0011"), QStringLiteral("Cesta Básica")},
                {QStringLiteral("CONVMEDI 01"), QStringLiteral("Unimed")}};
            return known.value(QLatin1String(list.table) + u' ' + code);
        };
        const QVector<HistoryEntry> entries = decodeHistory(p, names);
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries[0].record, record);
        QCOMPARE(entries[0].changes, changes);
        QCOMPARE(entries[0].who, QStringLiteral("gestor"));
        QCOMPARE(entries[0].refused, refused == QLatin1String("S"));
        const std::optional<HistoryUndo> back = undoOf(entries[0], names);
        QCOMPARE(back ? QStringList{back->method} + back->written.changes : QStringList{}, undo);
    }
};

QTEST_MAIN(HistoryTest)
#include "HistoryTest.moc"
