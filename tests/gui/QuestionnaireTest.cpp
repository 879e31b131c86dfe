// The questionnaire associations on the real screen: real clicks and keys, the embedded service on
// loopback and a SQLite database made for each test. What the service stored is read back through
// GetInspecao, GetCargo and GetDepto; the calls it received, in order, from its audit rows.

#include "QuestionnaireFixture.h"

#include <QtTest>

class QuestionnaireTest : public QuestionnaireFixture {
    Q_OBJECT

private slots:
    void init() { startDesktop(true); }
    void cleanup() { stop(); }

    void demoDataKeepsTheModesExclusive() {
        openQuestionnaires();
        for (const char* q : {"01001", "01002", "01003", "02001", "02002", "02003"})
            QVERIFY2(storedFlags(QString::fromLatin1(q)).count(S) <= 1, q);
    }

    void tickInTheQuestionnaireGrid_data() {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("column");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("shownList");
        for (const char* before : {"nenhum", "cargo", "depto", "padrao"}) {
            const QString b = QString::fromLatin1(before);
            const bool wasCargo = b == u"cargo", wasDepto = b == u"depto",
                       wasPadrao = b == u"padrao";
            QTest::addRow("%s, Q. Cargo", before)
                << b << "IDCARG" << (wasCargo ? "NNN" : "SNN") << (wasCargo ? "" : "cargo");
            QTest::addRow("%s, Q. Depto.", before)
                << b << "IDDEPT" << (wasDepto ? "NNN" : "NSN") << (wasDepto ? "" : "depto");
            QTest::addRow("%s, Q. Padrão", before)
                << b << "IDPADR" << (wasPadrao ? "NNN" : "NNS") << "";
        }
    }

    // Every tick first clears every tie of the questionnaire on the service, then shows the list
    // of the new mode, empty, with the focus in it; an untick leaves the row in edit.
    void tickInTheQuestionnaireGrid() {
        QFETCH(QString, before);
        QFETCH(QString, column);
        QFETCH(QString, shown);
        QFETCH(QString, shownList);
        const QString setup =
            before == u"cargo"    ? "INSERT INTO INSPCARGO (CDFILIAL, CDINSPECAO, CDCARGO) VALUES "
                                    "('0001', '02003', '0005')"
            : before == u"depto"  ? "INSERT INTO INSPDEPTO (CDFILIAL, CDINSPECAO, CDDEPTO) VALUES "
                                    "('0001', '02003', '003')"
            : before == u"padrao" ? "INSERT INTO INSPPADRAO (CDFILIAL, CDINSPECAO) VALUES "
                                    "('0001', '02003')"
                                  : QString();
        if (!setup.isEmpty()) sql({setup});
        TfrmParametros* f = openQuestionnaires();
        goTo(QStringLiteral("02003"));
        QCOMPARE(f->questionario.dbgCargo->isVisible(), before == u"cargo");
        QCOMPARE(f->questionario.dbgDepto->isVisible(), before == u"depto");

        markCalls();
        clickCell(f->questionario.dbgQuestCand, f->questionario.cdsInspecao.RecNo(), column);
        const bool standardTick = column == u"IDPADR" && shown == u"NNS";
        QCOMPARE(calls(), (QStringList{QStringLiteral("SetDelTdCarg 0001 02003"),
                                       QStringLiteral("SetDelTdDep 0001 02003"),
                                       standardTick ? QStringLiteral("SetInsPad 02003 0001")
                                                    : QStringLiteral("SetDelPad 02003 0001")}));
        QCOMPARE(shownFlags(), shown);
        QCOMPARE(storedFlags(QStringLiteral("02003")), standardTick ? "NNS" : "NNN");
        QVERIFY(storedTicks(QStringLiteral("GetCargo"), QStringLiteral("02003")).isEmpty());
        QVERIFY(storedTicks(QStringLiteral("GetDepto"), QStringLiteral("02003")).isEmpty());
        const bool untick = shown == u"NNN" && column != u"IDPADR";
        QCOMPARE(f->questionario.cdsInspecao.State(),
                 untick ? DataSetState::Edit : DataSetState::Browse);
        QCOMPARE(f->questionario.dbgCargo->isVisible(), shownList == u"cargo");
        QCOMPARE(f->questionario.dbgDepto->isVisible(), shownList == u"depto");
        if (!shownList.isEmpty()) {
            QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(list(shownList)));
            QVERIFY(listSet(shownList).RecordCount() >= 10);
            QVERIFY(ticked(listSet(shownList).Data()).isEmpty());
        }
        QVERIFY(services().shownErrors.isEmpty());
    }

    void tickInAList_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QStringList>("expectedCalls");
        QTest::addColumn<QStringList>("stored");
        QTest::addRow("cargo, marcar")
            << "cargo"
            << "0003"
            << QStringList{"SetInsCarg 0001 01001 0003", "SetDelTdDep 0001 01001",
                           "SetDelPad 01001 0001"}
            << QStringList{"0001", "0002", "0003"};
        QTest::addRow("cargo, desmarcar")
            << "cargo"
            << "0001"
            << QStringList{"SetDelCarg 0001 01001 0001", "SetDelTdDep 0001 01001",
                           "SetDelPad 01001 0001"}
            << QStringList{"0002"};
        QTest::addRow("depto, marcar")
            << "depto"
            << "003"
            << QStringList{"SetDelTdCarg 0001 01002", "SetInsDep 01002 0001 003",
                           "SetDelPad 01002 0001"}
            << QStringList{"001", "002", "003"};
        QTest::addRow("depto, desmarcar")
            << "depto"
            << "001"
            << QStringList{"SetDelTdCarg 0001 01002", "SetDelDep 01002 0001 001",
                           "SetDelPad 01002 0001"}
            << QStringList{"002"};
    }

    // One click on a row that is not the current one moves there and ticks it.
    void tickInAList() {
        QFETCH(QString, kind);
        QFETCH(QString, code);
        QFETCH(QStringList, expectedCalls);
        QFETCH(QStringList, stored);
        TfrmParametros* f = openQuestionnaires();
        const QString q = openQuestionnaire(kind);
        goTo(q);
        TDBGrid* g = list(kind);
        TClientDataSet& set = listSet(kind);
        QVERIFY(g->isVisible());
        const int row = rowOf(set, code);
        QVERIFY(row > 0 || code == u"0001" || code == u"001");

        // The name column changes nothing.
        clickCell(g, row, kind == u"cargo" ? QStringLiteral("NMCARGO") : QStringLiteral("NMDEPTO"));
        QVERIFY(calls().isEmpty());
        QCOMPARE(f->questionario.cdsInspecao.State(), DataSetState::Browse);
        QCOMPARE(set.State(), DataSetState::Browse);
        set.First();

        clickCell(g, row, QStringLiteral("IDCHECK"));
        QCOMPARE(calls(), expectedCalls);
        QCOMPARE(storedTicks(tickMethod(kind), q), stored);
        QCOMPARE(ticked(set.Data()), stored);
        QCOMPARE(set.RecNo(), row);
        QCOMPARE(set.State(), DataSetState::Browse);
        QCOMPARE(f->questionario.cdsInspecao.State(), DataSetState::Browse);
        QCOMPARE(shownFlags(), kind == u"cargo" ? QStringLiteral("SNN") : QStringLiteral("NSN"));

        // A quick pair of clicks is two clicks: the tick goes and comes back.
        markCalls();
        const QModelIndex i = cell(g, row, QStringLiteral("IDCHECK"));
        QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, g->visualRect(i).center());
        QTest::mouseDClick(g->viewport(), Qt::LeftButton, {}, g->visualRect(i).center());
        QCOMPARE(calls().size(), 6);
        QCOMPARE(storedTicks(tickMethod(kind), q), stored);
        QCOMPARE(ticked(set.Data()), stored);
        QVERIFY(services().shownErrors.isEmpty());
    }

    // At the window's own size the grid scrolls; one click on a tick of another row moves there
    // and ticks that cell.
    void oneClickOnAnotherRow_data() {
        QTest::addColumn<QString>("column");
        QTest::addColumn<QString>("shown");
        QTest::newRow("Q. Cargo") << "IDCARG"
                                  << "SNN";
        QTest::newRow("Q. Depto.") << "IDDEPT"
                                   << "NSN";
        QTest::newRow("Q. Padrão") << "IDPADR"
                                   << "NNS";
    }

    void oneClickOnAnotherRow() {
        QFETCH(QString, column);
        QFETCH(QString, shown);
        m_window->parametersAction()->trigger();
        TfrmParametros* f = form();
        f->mnuQuestionario->trigger();
        TDBGrid* g = f->questionario.dbgQuestCand;
        focus(f->questionario.dbgCargo); // the first questionnaire is by position
        const int row = rowOf(f->questionario.cdsInspecao, QStringLiteral("02003"));
        g->scrollTo(cell(g, row, column));
        const QRect visible =
            g->visualRect(cell(g, row, column)).intersected(g->viewport()->rect());
        QVERIFY(!visible.isEmpty());
        markCalls();
        QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, visible.center());
        QCOMPARE(f->questionario.cdsInspecao.RecNo(), row);
        QCOMPARE(calls().size(), 3);
        QCOMPARE(shownFlags(), shown);
    }

    void listLeftEmptyDropsTheMode_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("cargo") << "cargo";
        QTest::newRow("depto") << "depto";
    }

    void listLeftEmptyDropsTheMode() {
        QFETCH(QString, kind);
        TfrmParametros* f = openQuestionnaires();
        const QString q = openQuestionnaire(kind);
        const QString column =
            kind == u"cargo" ? QStringLiteral("IDCARG") : QStringLiteral("IDDEPT");
        bool& emptyFlag = kind == u"cargo" ? Cli_zol00900::boCargVazio : Cli_zol00900::boDepVazio;
        const QString mode = kind == u"cargo" ? QStringLiteral("SNN") : QStringLiteral("NSN");
        goTo(q);
        TDBGrid* g = list(kind);
        clickCell(g, 0, QStringLiteral("IDCHECK"));
        clickCell(g, 1, QStringLiteral("IDCHECK"));
        QVERIFY(storedTicks(tickMethod(kind), q).isEmpty());
        QCOMPARE(shownFlags(), mode); // the mode stays while the focus is in the list

        focus(f->questionario.dbgQuestCand);
        QCOMPARE(shownFlags(), QStringLiteral("NNN"));
        QCOMPARE(f->questionario.cdsInspecao.State(), DataSetState::Edit);
        QVERIFY(emptyFlag);
        QVERIFY(!g->isVisible());
        QVERIFY(!listSet(kind).Active());

        // The next click on the column clears the ties but does not tick it again.
        markCalls();
        clickCell(f->questionario.dbgQuestCand, f->questionario.cdsInspecao.RecNo(), column);
        QCOMPARE(calls().size(), 3);
        QCOMPARE(shownFlags(), QStringLiteral("NNN"));
        QVERIFY(!f->questionario.dbgCargo->isVisible() && !f->questionario.dbgDepto->isVisible());
        QVERIFY(!emptyFlag);

        // Once more, left empty; then a change of row clears the flag and the tick works.
        clickCell(f->questionario.dbgQuestCand, f->questionario.cdsInspecao.RecNo(), column);
        QCOMPARE(shownFlags(), mode);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(g));
        focus(f->questionario.dbgQuestCand);
        QVERIFY(emptyFlag);
        goTo(QStringLiteral("02003"));
        QVERIFY(!emptyFlag);
        goTo(q);
        clickCell(f->questionario.dbgQuestCand, f->questionario.cdsInspecao.RecNo(), column);
        QCOMPARE(shownFlags(), mode);
        QVERIFY(g->isVisible());

        // Leaving a list with a tick changes no questionnaire field and clears the flag.
        clickCell(g, 2, QStringLiteral("IDCHECK"));
        emptyFlag = true;
        focus(f->questionario.dbgQuestCand);
        QVERIFY(!emptyFlag);
        QCOMPARE(shownFlags(), mode);
        QCOMPARE(f->questionario.cdsInspecao.State(), DataSetState::Browse);
        QVERIFY(g->isVisible());
        QVERIFY(services().shownErrors.isEmpty());
    }

    // Blank ticks close both lists but hide neither; code and name clicks only clear the flags.
    void blankTicksAndCodeOrNameClicks() {
        TfrmParametros* f = openQuestionnaires();
        QVERIFY(f->questionario.dbgCargo->isVisible()); // 01001, by position, is the first row
        protocol::DataPacket p = f->questionario.cdsInspecao.Data();
        const int blank = rowOf(f->questionario.cdsInspecao, QStringLiteral("02003"));
        p.rows[blank][2] = QString();
        p.rows[blank][3] = QVariant();
        p.rows[blank][4] = QString();
        f->questionario.cdsInspecao.SetData(p);
        markCalls();
        goTo(QStringLiteral("02003"));
        QVERIFY(!f->questionario.cdsCargo.Active() && !f->questionario.cdsDepto.Active());
        QVERIFY(f->questionario.dbgCargo->isVisible());
        QVERIFY(!f->questionario.dbgDepto->isVisible());
        // The list left on screen is closed: its title and Space do nothing.
        clickTitle(f->questionario.dbgCargo, QStringLiteral("IDCHECK"));
        focus(f->questionario.dbgCargo);
        QTest::keyClick(f->questionario.dbgCargo, Qt::Key_Space);
        focus(f->questionario.dbgQuestCand);
        QVERIFY(services().shownErrors.isEmpty());
        QCOMPARE(f->questionario.cdsInspecao.State(), DataSetState::Browse);

        for (const char* field : {"CDINSPECAO", "NMINSPECAO"}) {
            Cli_zol00900::boCargVazio = Cli_zol00900::boDepVazio = true;
            clickCell(f->questionario.dbgQuestCand, blank, QString::fromLatin1(field));
            QVERIFY(!Cli_zol00900::boCargVazio && !Cli_zol00900::boDepVazio);
            QCOMPARE(f->questionario.cdsInspecao.State(), DataSetState::Browse);
        }
        QVERIFY(calls().isEmpty());
        QCOMPARE(shownFlags(), QString());

        // A blank tick counts as not ticked.
        clickCell(f->questionario.dbgQuestCand, blank, QStringLiteral("IDPADR"));
        QCOMPARE(calls().last(), QStringLiteral("SetInsPad 02003 0001"));
        QCOMPARE(shownFlags(), QStringLiteral("NNS"));
    }

    void invertAThreeRowList_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QStringList>("expectedCalls");
        QTest::addColumn<QStringList>("stored");
        QTest::addRow("cargo")
            << "cargo" << QStringList{"SetDelCarg 0001 01001 0001", "SetDelTdDep 0001 01001",
                                      "SetDelPad 01001 0001",       "SetInsCarg 0001 01001 0002",
                                      "SetDelTdDep 0001 01001",     "SetDelPad 01001 0001",
                                      "SetInsCarg 0001 01001 0003", "SetDelTdDep 0001 01001",
                                      "SetDelPad 01001 0001"}
            << QStringList{"0002", "0003"};
        QTest::addRow("depto")
            << "depto" << QStringList{"SetDelTdCarg 0001 01002",  "SetDelDep 01002 0001 001",
                                      "SetDelPad 01002 0001",     "SetDelTdCarg 0001 01002",
                                      "SetInsDep 01002 0001 002", "SetDelPad 01002 0001",
                                      "SetDelTdCarg 0001 01002",  "SetInsDep 01002 0001 003",
                                      "SetDelPad 01002 0001"}
            << QStringList{"002", "003"};
    }

    void invertAThreeRowList() {
        QFETCH(QString, kind);
        QFETCH(QStringList, expectedCalls);
        QFETCH(QStringList, stored);
        sql({"DELETE FROM INSPCARGO WHERE NOT (CDINSPECAO = '01001' AND CDCARGO = '0001')",
             "DELETE FROM CARGO WHERE CDCARGO > '0003'",
             "DELETE FROM INSPDEPTO WHERE NOT (CDINSPECAO = '01002' AND CDDEPTO = '001')",
             "DELETE FROM DEPTO WHERE CDDEPTO > '003'"});
        TfrmParametros* f = openQuestionnaires();
        goTo(openQuestionnaire(kind));
        TDBGrid* g = list(kind);
        QCOMPARE(g->model()->rowCount(), 3);
        clickTitle(g, kind == u"cargo" ? QStringLiteral("NMCARGO") : QStringLiteral("NMDEPTO"));
        QVERIFY(calls().isEmpty());

        clickTitle(g, QStringLiteral("IDCHECK"));
        QCOMPARE(calls(), expectedCalls);
        QCOMPARE(storedTicks(tickMethod(kind), openQuestionnaire(kind)), stored);
        QCOMPARE(ticked(listSet(kind).Data()), stored);
        QCOMPARE(listSet(kind).RecNo(), 2);
        QCOMPARE(g->model()->rowCount(), 3); // attached again
        QCOMPARE(g->currentIndex().row(), 2);
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        QVERIFY(f->findChild<QProgressDialog*>() == nullptr);
        QVERIFY(services().shownErrors.isEmpty());
    }

    void invertALongList_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("cargo") << "cargo";
        QTest::newRow("depto") << "depto";
    }

    // Hundreds of rows: a progress shows and paints while it runs; every row ends inverted.
    void invertALongList() {
        QFETCH(QString, kind);
        sql({kind == u"cargo"
                 ? "WITH RECURSIVE n(i) AS (SELECT 100 UNION ALL SELECT i + 1 FROM n WHERE i < "
                   "399) "
                   "INSERT INTO CARGO (CDCARGO, NMCARGO) SELECT printf('%04d', i), 'Cargo ' || i "
                   "FROM n"
                 : "WITH RECURSIVE n(i) AS (SELECT 100 UNION ALL SELECT i + 1 FROM n WHERE i < "
                   "399) "
                   "INSERT INTO DEPTO (CDDEPTO, NMDEPTO) SELECT printf('%03d', i), 'Depto ' || i "
                   "FROM n"});
        TfrmParametros* f = openQuestionnaires();
        const QString q = openQuestionnaire(kind);
        goTo(q);
        TClientDataSet& set = listSet(kind);
        const int total = set.RecordCount();
        QVERIFY(total >= 300);
        const QStringList before = ticked(set.Data());
        QCOMPARE(before.size(), 2);
        QStringList expected;
        for (const protocol::Row& row : set.Data().rows)
            if (!before.contains(row[1].toString())) expected << row[1].toString();

        int lowest = total, highest = 0;
        bool shown = false, closeTried = false;
        PaintCounter counter;
        QTimer poll;
        poll.setInterval(0);
        connect(&poll, &QTimer::timeout, this, [&] {
            auto* progress = f->findChild<QProgressDialog*>(QStringLiteral("prgInversao"));
            if (!progress) return;
            progress->installEventFilter(&counter);
            shown = shown || progress->isVisible();
            // Closing the window while the walk runs waits for its end.
            if (shown && !closeTried) {
                closeTried = true;
                m_window->mdiArea()->subWindowList().first()->close();
            }
            lowest = std::min(lowest, progress->value());
            highest = std::max(highest, progress->value());
        });
        poll.start();
        markCalls();
        clickTitle(list(kind), QStringLiteral("IDCHECK"));
        poll.stop();

        QVERIFY(shown && closeTried);
        QCOMPARE(m_window->mdiArea()->subWindowList().size(), 1);
        QCOMPARE(form(), f);
        QVERIFY(counter.paints > 0);
        QVERIFY(lowest < highest && highest <= total); // seen while it ran, not only at the end
        QCOMPARE(storedTicks(tickMethod(kind), q), expected);
        QCOMPARE(ticked(set.Data()), expected);
        QCOMPARE(calls().size(), 3 * total);
        QCOMPARE(set.RecNo(), total - 1);
        QVERIFY(f->findChild<QProgressDialog*>() == nullptr);
        QVERIFY(services().shownErrors.isEmpty());
    }

    // Confirm with the focus in a position list left with nothing ticked leaves the list first,
    // also when a check then fails and moves the focus.
    void confirmLeavesAnEmptiedListFirst() {
        sql({"UPDATE PARAMRH SET VRPRAZEFEFUN = -1"});
        TfrmParametros* f = openQuestionnaires();
        f->mnuEncargos->trigger();
        typeInto(f->dbeVrPeEncTemp, QStringLiteral("1"));
        f->mnuQuestionario->trigger();
        QCOMPARE(ticked(f->questionario.cdsCargo.Data()), (QStringList{"0001", "0002"}));
        clickCell(f->questionario.dbgCargo, 0, QStringLiteral("IDCHECK"));
        clickCell(f->questionario.dbgCargo, 1, QStringLiteral("IDCHECK"));
        QCOMPARE(focused(), static_cast<QWidget*>(f->questionario.dbgCargo));
        click(f->sbtConfirmar);
        QCOMPARE(focused(), static_cast<QWidget*>(f->dbeVrPrazEfeFun));
        QCOMPARE(f->questionario.cdsInspecao.FieldByName(QStringLiteral("IDCARG")).AsString(), N);
        QVERIFY(Cli_zol00900::boCargVazio);
    }

    // A list that cannot be loaded is reported once and leaves no busy animation running.
    void failedListLoadStopsTheAnimation_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("cargos") << QStringLiteral("cargo");
        QTest::newRow("departamentos") << QStringLiteral("depto");
    }
    void failedListLoadStopsTheAnimation() {
        QFETCH(QString, kind);
        failCalls(tickMethod(kind), openQuestionnaire(kind));
        openQuestionnaires();
        goTo(openQuestionnaire(kind));
        QCOMPARE(services().shownErrors.size(), 1);
        QCOMPARE(services().busyDepth(), 0);
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    }

    // The position list, like the department list, goes on past a failing row, says so once
    // and shows what the service holds: a position the service did not tie is not left ticked.
    void failureInThePositionList() {
        failCalls(QStringLiteral("SetInsCarg"), QStringLiteral("0003"));
        failCalls(QStringLiteral("SetDelCarg"), QStringLiteral("0002"));
        TfrmParametros* f = openQuestionnaires();
        clickCell(f->questionario.dbgCargo, 2, QStringLiteral("IDCHECK"));
        QCOMPARE(services().shownErrors.size(), 1);
        QVERIFY(services().shownErrors.last().contains(QStringLiteral("0003 - ")));
        QVERIFY(calls().isEmpty());
        QCOMPARE(f->questionario.cdsCargo.State(), DataSetState::Browse);
        QCOMPARE(f->questionario.cdsCargo.RecNo(), 2);
        const QStringList before{"0001", "0002"};
        QCOMPARE(storedTicks(QStringLiteral("GetCargo"), QStringLiteral("01001")), before);
        QCOMPARE(ticked(f->questionario.cdsCargo.Data()), before);

        clickTitle(f->questionario.dbgCargo, QStringLiteral("IDCHECK"));
        QCOMPARE(services().shownErrors.size(), 2);
        const QString message = services().shownErrors.last();
        QVERIFY(message.contains(QStringLiteral("0002 - ")));
        QVERIFY(message.contains(QStringLiteral("0003 - ")));
        const QStringList stored = storedTicks(QStringLiteral("GetCargo"), QStringLiteral("01001"));
        QVERIFY(stored.contains(QStringLiteral("0002")) &&
                !stored.contains(QStringLiteral("0001")) &&
                !stored.contains(QStringLiteral("0003")));
        QCOMPARE(ticked(f->questionario.cdsCargo.Data()), stored);
        QCOMPARE(f->questionario.dbgCargo->model()->rowCount(),
                 f->questionario.cdsCargo.RecordCount());
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    }

    // The department list goes on past a failing row, then says so once and shows what the
    // service holds.
    void failureInTheDepartmentList() {
        failCalls(QStringLiteral("SetInsDep"), QStringLiteral("003"));
        failCalls(QStringLiteral("SetDelDep"), QStringLiteral("002"));
        TfrmParametros* f = openQuestionnaires();
        goTo(QStringLiteral("01002"));
        markCalls();
        clickCell(f->questionario.dbgDepto, 2, QStringLiteral("IDCHECK"));
        QCOMPARE(services().shownErrors.size(), 1);
        QVERIFY(services().shownErrors.last().contains(QStringLiteral("003 - Comercial")));
        QCOMPARE(calls(), QStringList{"SetDelTdCarg 0001 01002"});
        QCOMPARE(f->questionario.cdsDepto.State(), DataSetState::Browse);
        QCOMPARE(f->questionario.cdsDepto.RecNo(), 2);
        QCOMPARE(ticked(f->questionario.cdsDepto.Data()), (QStringList{"001", "002"}));

        markCalls();
        clickTitle(f->questionario.dbgDepto, QStringLiteral("IDCHECK"));
        QCOMPARE(services().shownErrors.size(), 2);
        const QString message = services().shownErrors.last();
        QVERIFY(message.contains(QStringLiteral("002 - Financeiro")));
        QVERIFY(message.contains(QStringLiteral("003 - Comercial")));
        QStringList expected;
        for (const protocol::Row& row : f->questionario.cdsDepto.Data().rows) {
            const QString d = row[1].toString();
            expected << QStringLiteral("SetDelTdCarg 0001 01002");
            if (d == u"002" || d == u"003") continue;
            expected << (d == u"001" ? QStringLiteral("SetDelDep 01002 0001 ")
                                     : QStringLiteral("SetInsDep 01002 0001 ")) +
                            d
                     << QStringLiteral("SetDelPad 01002 0001");
        }
        QCOMPARE(calls(), expected);
        const QStringList stored = storedTicks(QStringLiteral("GetDepto"), QStringLiteral("01002"));
        QCOMPARE(stored, (QStringList{"002", "004", "005", "006", "007", "008", "009", "010"}));
        QCOMPARE(ticked(f->questionario.cdsDepto.Data()), stored);
        QCOMPARE(f->questionario.cdsDepto.RecNo(), f->questionario.cdsDepto.RecordCount() - 1);
    }

    void failureInTheQuestionnaireGrid_data() {
        QTest::addColumn<QString>("column");
        QTest::addColumn<QString>("shown");
        QTest::newRow("Q. Cargo") << "IDCARG"
                                  << "SNN";
        QTest::newRow("Q. Padrão") << "IDPADR"
                                   << "NNS";
    }

    // The remaining calls are not made; the row stays in edit with what was written.
    void failureInTheQuestionnaireGrid() {
        QFETCH(QString, column);
        QFETCH(QString, shown);
        failCalls(QStringLiteral("SetDelTdDep"), QStringLiteral("02003"));
        TfrmParametros* f = openQuestionnaires();
        goTo(QStringLiteral("02003"));
        Cli_zol00900::boDepVazio = true;
        clickCell(f->questionario.dbgQuestCand, f->questionario.cdsInspecao.RecNo(), column);
        QCOMPARE(services().shownErrors.size(), 1);
        QCOMPARE(calls(), QStringList{"SetDelTdCarg 0001 02003"});
        QCOMPARE(f->questionario.cdsInspecao.State(), DataSetState::Edit);
        QCOMPARE(shownFlags(), shown);
        QVERIFY(Cli_zol00900::boDepVazio);
        QVERIFY(!f->questionario.dbgCargo->isVisible() && !f->questionario.dbgDepto->isVisible());
        QCOMPARE(storedFlags(QStringLiteral("02003")), QStringLiteral("NNN"));
    }

    void keys_data() {
        QTest::addColumn<QString>("grid");
        QTest::addColumn<QStringList>("expectedCalls");
        QTest::newRow("dbgQuestCand")
            << "dbgQuestCand"
            << QStringList{"SetDelTdCarg 0001 02003", "SetDelTdDep 0001 02003",
                           "SetInsPad 02003 0001"};
        QTest::newRow("dbgCargo") << "dbgCargo"
                                  << QStringList{"SetInsCarg 0001 01001 0003",
                                                 "SetDelTdDep 0001 01001", "SetDelPad 01001 0001"};
        QTest::newRow("dbgDepto") << "dbgDepto"
                                  << QStringList{"SetDelTdCarg 0001 01002",
                                                 "SetInsDep 01002 0001 003",
                                                 "SetDelPad 01002 0001"};
    }

    // Space toggles the tick cell; Ctrl+Space, Ctrl+Delete, typing and F2 change nothing.
    void keys() {
        QFETCH(QString, grid);
        QFETCH(QStringList, expectedCalls);
        TfrmParametros* f = openQuestionnaires();
        TDBGrid* g = f->findChild<TDBGrid*>(grid);
        QString field = QStringLiteral("IDCHECK");
        if (grid == u"dbgQuestCand") {
            goTo(QStringLiteral("02003"));
            field = QStringLiteral("IDPADR");
        } else if (grid == u"dbgDepto") {
            goTo(QStringLiteral("01002"));
        }
        focus(g);
        const int row = grid == u"dbgQuestCand" ? f->questionario.cdsInspecao.RecNo() : 2;
        g->setCurrentIndex(cell(g, row, field));
        TClientDataSet* set = g->DataSource()->DataSet();
        const int rows = set->RecordCount();
        markCalls();
        for (const auto& [key, modifiers] :
             QList<QPair<Qt::Key, Qt::KeyboardModifiers>>{{Qt::Key_Space, Qt::ControlModifier},
                                                          {Qt::Key_Delete, Qt::ControlModifier},
                                                          {Qt::Key_X, Qt::NoModifier},
                                                          {Qt::Key_F2, Qt::NoModifier}}) {
            QTest::keyClick(g, key, modifiers);
            QVERIFY(g->viewport()->findChildren<QLineEdit*>().isEmpty()); // no editor opened
        }
        QVERIFY(calls().isEmpty());
        QCOMPARE(set->RecordCount(), rows);
        QCOMPARE(set->State(), DataSetState::Browse);
        QVERIFY(g->selectionModel()->isSelected(g->currentIndex()));

        QTest::keyClick(g, Qt::Key_Space);
        QCOMPARE(calls(), expectedCalls);
        QCOMPARE(set->FieldByName(field).AsString(), S);
        // The cell stays current through the reload that the tick causes: Space again unticks.
        markCalls();
        QTest::keyClick(g, Qt::Key_Space);
        QCOMPARE(calls().size(), 3);
        QCOMPARE(set->FieldByName(field).AsString(), N);

        // Moving down past the last row adds nothing.
        g->setCurrentIndex(cell(g, rows - 1, field));
        QTest::keyClick(g, Qt::Key_Down);
        QCOMPARE(set->RecordCount(), rows);
        QCOMPARE(set->RecNo(), rows - 1);
        QVERIFY(!set->Editing());
        QVERIFY(services().shownErrors.isEmpty());
    }

    // Nothing is ever added to an empty list, and no call is made for it.
    void emptyListsTakeNoTicks() {
        sql({"DELETE FROM INSPCARGO", "DELETE FROM CARGO"});
        TfrmParametros* f = openQuestionnaires();
        goTo(QStringLiteral("02003"));
        clickCell(f->questionario.dbgQuestCand, f->questionario.cdsInspecao.RecNo(),
                  QStringLiteral("IDCARG"));
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(f->questionario.dbgCargo));
        QVERIFY(f->questionario.cdsCargo.Active() && f->questionario.cdsCargo.IsEmpty());
        markCalls();
        QTest::keyClick(f->questionario.dbgCargo, Qt::Key_Space);
        QTest::mouseClick(f->questionario.dbgCargo->viewport(), Qt::LeftButton, {}, {5, 5});
        QVERIFY(calls().isEmpty());
        QVERIFY(f->questionario.cdsCargo.IsEmpty());
        QCOMPARE(f->questionario.cdsCargo.State(), DataSetState::Browse);
        focus(f->questionario.dbgQuestCand); // leaving the empty list drops the mode
        QCOMPARE(shownFlags(), QStringLiteral("NNN"));
        QVERIFY(Cli_zol00900::boCargVazio);

        sql({"DELETE FROM INSPDEPTO", "DELETE FROM INSPPADRAO",
             "DELETE FROM INSPECAO WHERE LENGTH(CDINSPECAO) = 5"});
        f->mnuEncargos->trigger();
        f->mnuQuestionario->trigger();
        QVERIFY(f->questionario.cdsInspecao.IsEmpty());
        markCalls();
        QTest::mouseClick(f->questionario.dbgQuestCand->viewport(), Qt::LeftButton, {}, {120, 8});
        QTest::keyClick(f->questionario.dbgQuestCand, Qt::Key_Space);
        QVERIFY(calls().isEmpty());
        QVERIFY(f->questionario.cdsInspecao.IsEmpty());
        QCOMPARE(f->questionario.cdsInspecao.State(), DataSetState::Browse);
        QVERIFY(services().shownErrors.isEmpty());
    }

    // The grabbed pixels of tick cells: the box for "S", "N" and empty text, nothing for other
    // values (a null included), on the cell's background or on the highlight of the current cell.
    void tickCellsArePaintedAsCheckBoxes() {
        TfrmParametros* f = openQuestionnaires();
        protocol::DataPacket p = f->questionario.cdsInspecao.Data();
        p.rows[0][2] = S;
        p.rows[0][3] = N;
        p.rows[0][4] = QString();
        p.rows[1][2] = QStringLiteral("X");
        p.rows[1][3] = QVariant();
        p.rows[1][4] = S;
        f->questionario.cdsInspecao.SetData(p);
        TDBGrid* g = f->questionario.dbgQuestCand;
        focus(g);
        g->setCurrentIndex(cell(g, 0, QStringLiteral("IDCARG")));
        const auto highlight = [](TDBGrid* grid) {
            return grid->palette().color(grid->isActiveWindow() ? QPalette::Active
                                                                : QPalette::Inactive,
                                         QPalette::Highlight);
        };
        const QColor base = g->palette().color(QPalette::Base);
        QVERIFY(base != highlight(g));
        struct Case {
            int row;
            const char* field;
            char kind; // S ticked, N empty box, E greyed box, - no picture
            bool current;
        };
        const Case cases[] = {{0, "IDCARG", 'S', true},  {0, "IDDEPT", 'N', false},
                              {0, "IDPADR", 'E', false}, {1, "IDCARG", '-', false},
                              {1, "IDDEPT", '-', false}, {1, "IDPADR", 'S', false}};
        QImage image = g->viewport()->grab().toImage();
        for (const Case& c : cases) {
            const QRect r = g->visualRect(cell(g, c.row, QString::fromLatin1(c.field)));
            const QString problem = cellProblem(image, r, c.kind, c.current ? highlight(g) : base);
            QVERIFY2(problem.isEmpty(),
                     qPrintable(QStringLiteral("%1 %2: %3")
                                    .arg(c.row)
                                    .arg(QString::fromLatin1(c.field), problem)));
        }

        // A list shows the current cell's highlight only while it has the focus.
        TDBGrid* positions = f->questionario.dbgCargo;
        QVERIFY(positions->isVisible());
        QCOMPARE(positions->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("✔"));
        const QRect first = positions->visualRect(cell(positions, 0, QStringLiteral("IDCHECK")));
        image = positions->viewport()->grab().toImage();
        QCOMPARE(cellProblem(image, first, 'S', positions->palette().color(QPalette::Base)),
                 QString());
        const QRect third = positions->visualRect(cell(positions, 2, QStringLiteral("IDCHECK")));
        QCOMPARE(cellProblem(image, third, 'N', positions->palette().color(QPalette::Base)),
                 QString());
        focus(positions);
        image = positions->viewport()->grab().toImage();
        QCOMPARE(cellProblem(image, first, 'S', highlight(positions)), QString());
    }

    // With a service that answers late the grids are painted while the calls wait: what the
    // window shows then is boxes, on entering the page and after a tick, not letters.
    void tickCellsArePaintedAsBoxesWhileCallsWait() {
        m_relay->delayAnswers(300);
        TfrmParametros* f = openQuestionnaires();
        // What the window system shows, not a fresh paint of the widget.
        const auto shown = [](TDBGrid* grid) {
            QCoreApplication::processEvents();
            const QPoint at = grid->viewport()->mapTo(grid->window(), QPoint(0, 0));
            return grid->screen()
                ->grabWindow(grid->window()->winId(), at.x(), at.y(), grid->viewport()->width(),
                             grid->viewport()->height())
                .toImage();
        };
        const auto problem = [&](TDBGrid* grid, int row, const char* field, char kind) {
            const QRect r = grid->visualRect(cell(grid, row, QString::fromLatin1(field)));
            return cellProblem(shown(grid), r, kind, grid->palette().color(QPalette::Base));
        };
        QCOMPARE(problem(f->questionario.dbgQuestCand, 0, "IDDEPT", 'N'), QString());
        QCOMPARE(problem(f->questionario.dbgCargo, 2, "IDCHECK", 'N'), QString());
        clickCell(f->questionario.dbgCargo, 2, QStringLiteral("IDCHECK"));
        QCOMPARE(f->questionario.cdsCargo.FieldByName(QStringLiteral("IDCHECK")).AsString(), S);
        QCOMPARE(problem(f->questionario.dbgCargo, 3, "IDCHECK", 'N'), QString());
    }
};

QTEST_MAIN(QuestionnaireTest)
#include "QuestionnaireTest.moc"
