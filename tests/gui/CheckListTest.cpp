// The position and department check lists on the real screen: a tick, an inversion by the
// title, a list left with nothing ticked, and what the service refuses, with real clicks and
// keys, the embedded service on loopback and a SQLite database made for each test.

#include "QuestionnaireFixture.h"

#include <QtTest>

class CheckListTest : public QuestionnaireFixture {
    Q_OBJECT

private slots:
    void init() { startDesktop(true); }
    void cleanup() { stop(); }

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
        // As over a network: the walk lasts long enough for the window system to paint it.
        m_relay->delayAnswers(20);
        clickTitle(list(kind), QStringLiteral("IDCHECK"));
        m_relay->delayAnswers(0);
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
    // service holds. An inversion sends each row's calls without waiting for the rows before, so
    // a failing row's questionnaire-wide calls after the failing one go out too.
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
            if (d != u"002" && d != u"003")
                expected << (d == u"001" ? QStringLiteral("SetDelDep 01002 0001 ")
                                         : QStringLiteral("SetInsDep 01002 0001 ")) +
                                d;
            expected << QStringLiteral("SetDelPad 01002 0001");
        }
        QCOMPARE(calls(), expected);
        const QStringList stored = storedTicks(QStringLiteral("GetDepto"), QStringLiteral("01002"));
        QCOMPARE(stored, (QStringList{"002", "004", "005", "006", "007", "008", "009", "010"}));
        QCOMPARE(ticked(f->questionario.cdsDepto.Data()), stored);
        QCOMPARE(f->questionario.cdsDepto.RecNo(), f->questionario.cdsDepto.RecordCount() - 1);
    }
};

QTEST_MAIN(CheckListTest)
#include "CheckListTest.moc"
