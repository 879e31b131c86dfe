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

    // Opening the screen builds nothing of the page; Verify on another page of "Geral" builds it
    // unseen to read the questionnaires, and showing it later shows it whole, with the focus.
    void thePageIsBuiltWhenARuleFirstNeedsIt() {
        openScreen();
        m_window->mdiArea()->subWindowList().first()->resize(760, 560);
        TfrmParametros* f = form();
        QVERIFY(!f->questionario.dbgQuestCand);
        click(f->sbtVerificar);
        QVERIFY(f->questionario.dbgQuestCand);
        QVERIFY(!f->questionario.dbgQuestCand->isVisible());
        QVERIFY(f->questionario.cdsInspecao.RecordCount() > 0);
        QCOMPARE(f->questionario.dbgCargo->isVisibleTo(f->questionario.panDepCarg),
                 f->questionario.cdsCargo.Active());
        f->mnuQuestionario->trigger();
        QTRY_COMPARE(QApplication::focusWidget(),
                     static_cast<QWidget*>(f->questionario.dbgQuestCand));
        QVERIFY(f->questionario.dbgQuestCand->height() >
                4 * f->questionario.dbgQuestCand->verticalHeader()->defaultSectionSize());
        QCOMPARE(f->questionario.dbgCargo->isVisible(), f->questionario.cdsCargo.Active());
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
