// "Histórico de alterações" in the real desktop: a change made on the parameters screen shows with
// who made it and its old and new values, the branch and period filters narrow the list, and the
// rows shown export to a CSV file.

#include "HistoryDecode.h"
#include "HistoryWindow.h"
#include "ParametrosFixture.h"
#include "contract/Methods.h"

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

class HistoryTest : public ParametrosFixture {
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

        openScreen();
        TfrmParametros* f = form();
        typeInto(f->dbeVrPeEncTemp, QStringLiteral("7,5"));
        click(f->sbtConfirmar);
        QCOMPARE(acceptedWrites(),
                 (QStringList{QStringLiteral("SetDelPad"), QStringLiteral("SetGeral")}));
        // A tie on another branch, through the service as the screen makes it.
        services().branch = QStringLiteral("0003");
        {
            TNetConnection other;
            other.ServerName = QString(contract::ServerObjectName);
            other.Host = services().serverHost;
            other.Port = services().serverPort;
            other.SetConnected(true);
            QVERIFY(other.AppServer()
                        .call(QStringLiteral("SetInsPad"),
                              {QStringLiteral("01002"), QStringLiteral("0003")})
                        .ok);
        }
        services().branch = QStringLiteral("0001");
        // Módulos ▸ Histórico de alterações, from the keyboard.
        QTest::keyClick(m_window.get(), Qt::Key_D, Qt::AltModifier);
        QMenu* modules = m_window->menuBar()->findChild<QMenu*>(QStringLiteral("mnuModulos"));
        QTRY_VERIFY(modules->isVisible());
        QTest::keyClick(modules, Qt::Key_H);
        QTRY_VERIFY(history() && history()->isVisible());
        QTRY_COMPARE(list()->topLevelItemCount(), 3);

        // Newest first: the tie, then the screen's change, then the old one; each as an action,
        // with the service's method in its tooltip.
        QCOMPARE(column(2), (QStringList{QStringLiteral("Marcação de questionário padrão"),
                                         QStringLiteral("Alteração dos parâmetros gerais"),
                                         QStringLiteral("Desmarcação de questionário padrão")}));
        QCOMPARE(list()->topLevelItem(1)->toolTip(2), QStringLiteral("SetGeral"));
        QCOMPARE(column(1), (QStringList{QStringLiteral("admin"), QStringLiteral("admin"),
                                         QStringLiteral("(sem token)")}));
        QCOMPARE(column(3)[1], QStringLiteral("Parâmetros gerais"));
        // With the screen's label and as the screen shows the value.
        QCOMPARE(old, 12.5);
        QCOMPARE(column(4)[1], QStringLiteral("Encargos com Temporários (%): 12,50 % → 7,50 %"));
        QCOMPARE(column(3)[0], QStringLiteral("Filial 0003, questionário 01002"));
        QCOMPARE(column(4)[0], QStringLiteral("marcado como padrão"));
        QCOMPARE(column(0)[2], QDateTime(QDate(2020, 6, 1), QTime(12, 0), Qt::UTC)
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
        QTRY_COMPARE(column(2), (QStringList{QStringLiteral("Marcação de questionário padrão"),
                                             QStringLiteral("Alteração dos parâmetros gerais")}));
        // Ten years back from the start's year section: it comes back.
        auto* from = history()->findChild<QDateEdit*>(QStringLiteral("dteInicio"));
        QTest::mouseClick(from, Qt::LeftButton);
        from->setCurrentSection(QDateTimeEdit::YearSection);
        for (int i = 0; i < 10; ++i)
            QTest::keyClick(from, Qt::Key_Down);
        QCOMPARE(from->date().year(), QDate::currentDate().addMonths(-1).year() - 10);
        refresh();
        QTRY_COMPARE(list()->topLevelItemCount(), 3);
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
        QCOMPARE(list()->topLevelItemCount(), 3);

        // "Exportar…" writes the rows shown to a CSV that a spreadsheet reads: here Python's csv.
        const QString csvPath = m_dir.filePath(QStringLiteral("historico.csv"));
        services().saveFileAnswer = csvPath;
        click(history()->findChild<QPushButton*>(QStringLiteral("btnExportar")));
        QCOMPARE(services().saveFileSuggestions.size(), 1);
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
        QCOMPARE(rows.size(), 4);
        QCOMPARE(rows[0].toArray()[4].toString(), QStringLiteral("Alterações"));
        for (int i = 0; i < 3; ++i)
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

    // What a stored change says, field by field, for the shapes the service writes.
    void decodingOfStoredChanges_data() {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("record");
        QTest::addColumn<QStringList>("changes");
        QTest::addColumn<QString>("refused");
        const QString fields =
            QStringLiteral(R"("fields":[{"name":"CDFILIAL","type":"string","size":4},)"
                           R"({"name":"NMFILIAL","type":"string","size":30},)"
                           R"({"name":"DTULTFECHRH","type":"date"},)"
                           R"({"name":"VRTOLEAPON","type":"float"}])");
        QTest::newRow("update lists changed fields only")
            << "SetFilial"
            << QStringLiteral(R"([{%1,"changes":[{"op":"update","old":["0002","Rio",)"
                              R"("2026-01-20",5],"new":["0002","Outro","2026-02-20",5]}]}])")
                   .arg(fields)
            << "Filial 0002"
            << QStringList{QStringLiteral(
                   "Data do Último Fechamento do RH: 20/01/2026 → 20/02/2026")}
            << QStringLiteral("N");
        QTest::newRow("codes in words, numbers in the field's picture")
            << "SetGeral"
            << QStringLiteral(R"([{"fields":[{"name":"CDPARAMRH","type":"string","size":1},)"
                              R"({"name":"IDTPFERIASPG","type":"string","size":1},)"
                              R"({"name":"VRCESTABAS","type":"float"}],"changes":[{"op":"update",)"
                              R"("old":["1","U",689.5],"new":["1","C",1200]}]}])")
            << "Parâmetros gerais"
            << QStringList{QStringLiteral("Tipo: Dias Úteis → Dias Corridos"),
                           QStringLiteral("Valor: 689,50 → 1.200,00")}
            << QStringLiteral("N");
        QTest::newRow("insert lists what was set")
            << "SetFilial"
            << QStringLiteral(
                   R"([{%1,"changes":[{"op":"insert","new":["0004","Curitiba",null,1234.5]}]}])")
                   .arg(fields)
            << "Filial 0004" << QStringList{QStringLiteral("VRTOLEAPON: (vazio) → 1.234,5")}
            << QStringLiteral("N");
        QTest::newRow("a department tie names its branch from the second argument")
            << "SetInsDep"
            << R"(["01002","0002","003"])"
            << "Filial 0002, questionário 01002"
            << QStringList{QStringLiteral("departamento 003 vinculado")} << QStringLiteral("N");
        QTest::newRow("every position untied")
            << "SetDelTdCarg"
            << R"(["0001","02003"])"
            << "Filial 0001, questionário 02003"
            << QStringList{QStringLiteral("todos os cargos desvinculados")} << QStringLiteral("N");
        QTest::newRow("a write refused to a reading token changed nothing")
            << "SetInsPad"
            << R"(["01002","0001"])" << QString()
            << QStringList{QStringLiteral("recusado: o token só pode consultar")}
            << QStringLiteral("S");
        QTest::newRow("a refusal counts the token's unrecorded ones before it")
            << "SetInsPad"
            << R"([{"bytes":61440,"naoRegistradas":12}])" << QString()
            << QStringList{QStringLiteral("recusado: o token só pode consultar"),
                           QStringLiteral("mais 12 recusa(s) anterior(es) deste token estão só no "
                                          "registro do servidor")}
            << QStringLiteral("S");
    }
    void decodingOfStoredChanges() {
        QFETCH(QString, refused);
        QFETCH(QString, method);
        QFETCH(QString, arguments);
        QFETCH(QString, record);
        QFETCH(QStringList, changes);
        protocol::DataPacket p;
        for (const char* name : {"NRAUDITORIA", "DTAUDITORIA", "CDFILIAL", "NMTOKEN", "NMMETODO",
                                 "IDRECUSADO", "DSARGUMENTOS"})
            p.fields.push_back({QString::fromLatin1(name), protocol::FieldType::String, 100});
        p.rows.push_back({QStringLiteral("7"), QStringLiteral("2026-01-01T00:00:00.000Z"),
                          QStringLiteral("0001"), QStringLiteral("gestor"), method, refused,
                          arguments});
        const QVector<HistoryEntry> entries = decodeHistory(p);
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries[0].record, record);
        QCOMPARE(entries[0].changes, changes);
        QCOMPARE(entries[0].who, QStringLiteral("gestor"));
        QCOMPARE(entries[0].refused, refused == QLatin1String("S"));
    }
};

QTEST_MAIN(HistoryTest)
#include "HistoryTest.moc"
