// The visual kit with real key and mouse events: focus exit and enter events of controls and
// containers, key-press filters, bound edits and the record-set grid.

#include "BtnPesquisa.h"
#include "DBControls.h"
#include "DBGrid.h"
#include "Dispatch.h"
#include "Exceptions.h"
#include "FormPadrao.h"
#include "PageControl.h"
#include "RecordingHost.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QClipboard>
#include <QPainter>
#include <QProxyStyle>
#include <QVBoxLayout>
#include <QtTest>

namespace {
// A style whose tab pane is shaded top to bottom: no single colour fills it.
class ShadedPaneStyle : public QProxyStyle {
public:
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        if (element != PE_FrameTabWidget)
            return QProxyStyle::drawPrimitive(element, option, painter, widget);
        QLinearGradient shade(option->rect.topLeft(), option->rect.bottomLeft());
        shade.setColorAt(0, Qt::white);
        shade.setColorAt(1, QColor(0, 0, 128));
        painter->fillRect(option->rect, shade);
    }
};

protocol::DataPacket threeRows() {
    protocol::DataPacket p;
    p.fields = {{QStringLiteral("CODIGO"), FieldType::String, 4},
                {QStringLiteral("VALOR"), FieldType::Float, 0}};
    p.rows = {{QStringLiteral("0001"), 1.5},
              {QStringLiteral("0002"), QVariant()},
              {QStringLiteral("0003"), 3.0}};
    return p;
}
} // namespace

class KitWidgetsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<RecordingHost> m_host;
    std::unique_ptr<TfrmPadrao> m_form;
    TClientDataSet m_set{QStringLiteral("cdsTeste")};
    TDataSource m_source{QStringLiteral("dtsTeste")};
    QWidget* m_panel = nullptr;
    TDBEdit *m_code = nullptr, *m_value = nullptr;
    TEdit* m_outside = nullptr;
    QStringList m_events;

    void focus(QWidget* w) {
        w->setFocus(Qt::OtherFocusReason);
        QTRY_COMPARE(QApplication::focusWidget(), w);
    }

private slots:
    void init() {
        m_host = std::make_unique<RecordingHost>();
        m_form = std::make_unique<TfrmPadrao>();
        m_events.clear();
        if (m_set.FieldCount() == 0) {
            m_set.AddField({QStringLiteral("CODIGO"), FieldType::String, 4});
            m_set.AddField({QStringLiteral("VALOR"), FieldType::Float, 0}).DisplayFormat =
                QStringLiteral("#,##0.00");
            m_source.SetDataSet(&m_set);
        }
        m_set.SetData(threeRows());
        auto* page = m_form->tshFolhaDados;
        auto* layout = new QVBoxLayout(page);
        m_panel = new QWidget(page);
        m_panel->setObjectName(QStringLiteral("panTeste"));
        auto* panelLayout = new QVBoxLayout(m_panel);
        m_code = new TDBEdit(m_panel, QStringLiteral("dbeCodigo"));
        m_value = new TDBEdit(m_panel, QStringLiteral("dbeValor"));
        panelLayout->addWidget(m_code);
        panelLayout->addWidget(m_value);
        m_outside = new TEdit(page, QStringLiteral("edtFora"));
        layout->addWidget(m_panel);
        layout->addWidget(m_outside);
        m_code->SetDataField(QStringLiteral("CODIGO"));
        m_code->SetDataSource(&m_source);
        m_value->SetDataField(QStringLiteral("VALOR"));
        m_value->SetDataSource(&m_source);
        m_form->OnExit(m_code, [this] { m_events << QStringLiteral("saiu:codigo"); });
        m_form->OnExit(m_panel, [this] { m_events << QStringLiteral("saiu:painel"); });
        m_form->OnEnter(m_panel, [this] { m_events << QStringLiteral("entrou:painel"); });
        m_form->OnEnter(m_outside, [this] { m_events << QStringLiteral("entrou:fora"); });
        m_form->show();
        m_form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
        focus(m_code);
        m_events.clear();
    }

    void cleanup() {
        m_form.reset();
        m_host.reset();
    }

    void exitEventsRunInnermostFirstAndContainersOnlyWhenLeft() {
        focus(m_value);
        QCOMPARE(m_events, QStringList{QStringLiteral("saiu:codigo")});
        focus(m_outside);
        QCOMPARE(m_events,
                 (QStringList{QStringLiteral("saiu:codigo"), QStringLiteral("saiu:painel"),
                              QStringLiteral("entrou:fora")}));
        focus(m_code);
        QCOMPARE(m_events.last(), QStringLiteral("entrou:painel"));
    }

    void anAbortedExitKeepsTheFocusOrLeavesItWhereTheHandlerPutIt() {
        m_form->OnExit(m_code, [] { Abort(); });
        m_value->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(m_code));
        QCOMPARE(m_form->ActiveControl(), static_cast<QWidget*>(m_code));

        m_form->OnExit(m_code, [this] {
            m_outside->setFocus();
            MensErroLike();
        });
        m_value->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(m_outside));
        QCOMPARE(m_host->errors, QStringList{QStringLiteral("recusado")});
    }

    void keyFilterSwallowsRefusedCharactersPasteIncluded() {
        QList<int> seen;
        m_outside->OnKeyPress = [&](QWidget*, int& key) {
            seen << key;
            if (key == 22 || key == u'x') key = 0;
        };
        QApplication::clipboard()->setText(QStringLiteral("colado"));
        focus(m_outside);
        QTest::keyClicks(m_outside, QStringLiteral("axb"));
        QTest::keyClick(m_outside, Qt::Key_V, Qt::ControlModifier);
        QTest::keyClick(m_outside, Qt::Key_Backspace);
        QCOMPARE(m_outside->text(), QStringLiteral("a"));
        QCOMPARE(seen, (QList<int>{u'a', u'x', u'b', 22, 8}));
    }

    void boundEditStartsEditingWritesBackOnExitAndRefusesBadNumbers() {
        QCOMPARE(m_value->text(), QStringLiteral("1,50"));
        focus(m_value);
        QCOMPARE(m_value->text(),
                 QStringLiteral("1,50")); // without an edit format the display format serves
        m_value->selectAll();
        QTest::keyClicks(m_value, QStringLiteral("2x,75"));
        QCOMPARE(m_set.State(), DataSetState::Edit);
        QCOMPARE(m_value->text(), QStringLiteral("2,75"));
        focus(m_code);
        QCOMPARE(m_set.FieldByName(QStringLiteral("VALOR")).AsFloat(), 2.75);
        QCOMPARE(m_value->text(), QStringLiteral("2,75"));

        // A text that is not a number keeps the focus and the typed text.
        focus(m_value);
        m_value->setText(QStringLiteral("2,7,5"));
        m_code->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(m_value));
        QCOMPARE(m_value->text(), QStringLiteral("2,7,5"));
        QCOMPARE(m_host->exceptions.size(), 1);
    }

    void typingStopsAtTheFieldSizeButLongerTextsStillShow() {
        focus(m_code);
        m_code->selectAll();
        QTest::keyClicks(m_code, QStringLiteral("123456"));
        QCOMPARE(m_code->text(), QStringLiteral("1234"));
        m_set.Post();
        QCOMPARE(m_set.FieldByName(QStringLiteral("CODIGO")).AsString(), QStringLiteral("1234"));
    }

    void gridFollowsTheCursorAndMovesIt() {
        TDBGrid grid(nullptr, QStringLiteral("dbgTeste"));
        QAbstractItemModelTester tester(grid.model(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        grid.SetColumns({{QStringLiteral("CODIGO"), QStringLiteral("Código")},
                         {QStringLiteral("VALOR"), QStringLiteral("Valor")}});
        grid.SetDataSource(&m_source);
        grid.show();
        grid.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&grid));
        QCOMPARE(grid.model()->rowCount(), 3);
        m_set.MoveTo(2);
        QCOMPARE(grid.currentIndex().row(), 2);
        grid.setFocus();
        QTest::keyClick(&grid, Qt::Key_Up);
        QCOMPARE(m_set.RecNo(), 1);
        // Moving down past the last row asks for a new record; a refusing set adds nothing.
        int refused = 0;
        m_set.BeforeInsert = [&](TClientDataSet&) {
            ++refused;
            Abort();
        };
        m_set.Last();
        QTest::keyClick(&grid, Qt::Key_Down);
        QCOMPARE(refused, 1);
        QCOMPARE(m_set.RecordCount(), 3);
        QCOMPARE(m_set.State(), DataSetState::Browse);
        m_set.BeforeInsert = nullptr;
        // Clicking a cell moves the cursor; a detached grid is empty.
        QStringList clicked;
        grid.OnCellClick = [&](TColumn& c) { clicked << c.FieldName; };
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, {},
                          grid.visualRect(grid.model()->index(0, 1)).center());
        QCOMPARE(m_set.RecNo(), 0);
        QCOMPARE(clicked, QStringList{QStringLiteral("VALOR")});
        grid.SetDataSource(nullptr);
        QCOMPARE(grid.model()->rowCount(), 0);
        QCOMPARE(IndiceCol(&grid, QStringLiteral("valor")), 1);
    }

    void searchButtonOffersTheRowsOrSaysTheListIsEmpty() {
        TBtnPesquisa button(m_form->tshFolhaDados, QStringLiteral("btnTeste"));
        button.DataSource = &m_source;
        button.EmptyError = QStringLiteral("Não há registro cadastrado.");
        m_set.Fields(1).Visible = false;
        int before = 0;
        QString picked;
        button.OnBeforePesq = [&](bool&) { ++before; };
        button.OnAfterPesq = [&] {
            picked = m_set.FieldByName(QStringLiteral("CODIGO")).AsString();
        };
        m_host->pick = 2;
        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(before, 1);
        QCOMPARE(picked, QStringLiteral("0003"));
        QCOMPARE(m_host->pickedFrom, QStringList{QStringLiteral("CODIGO")});
        m_set.Fields(1).Visible = true;

        // Closing the list without a pick runs no after-search event.
        picked.clear();
        m_host->pick = -1;
        QTest::mouseClick(&button, Qt::LeftButton);
        QVERIFY(picked.isEmpty());

        // An empty list is never offered: the button's own text says why.
        protocol::DataPacket empty = threeRows();
        empty.rows.clear();
        button.OnBeforePesq = [&](bool&) { m_set.SetData(empty); };
        m_host->pickedFrom.clear();
        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(m_host->errors, QStringList{QStringLiteral("Não há registro cadastrado.")});
        QVERIFY(m_host->pickedFrom.isEmpty());
    }

    // A second form and its search buttons and date edits share the pictures of the first
    // (one pixmap cache, not decoded again per form).
    void picturesAreMadeOncePerProcess() {
        TfrmPadrao second;
        QCOMPARE(second.sbtIncluir->icon().cacheKey(), m_form->sbtIncluir->icon().cacheKey());
        QVERIFY(second.sbtIncluir->icon().cacheKey() != second.sbtExcluir->icon().cacheKey());
        TBtnPesquisa one(nullptr, QStringLiteral("btnUm")), two(nullptr, QStringLiteral("btnDois"));
        QVERIFY(!one.icon().isNull());
        QCOMPARE(one.icon().cacheKey(), two.icon().cacheKey());
        TDBDateEditPlus dateOne(nullptr, QStringLiteral("dtUm")),
            dateTwo(nullptr, QStringLiteral("dtDois"));
        auto* calendarOne = dateOne.findChild<QAction*>(QStringLiteral("dtUmCalendario"));
        auto* calendarTwo = dateTwo.findChild<QAction*>(QStringLiteral("dtDoisCalendario"));
        QVERIFY(calendarOne && calendarTwo);
        QCOMPARE(calendarOne->icon().cacheKey(), calendarTwo->icon().cacheKey());
    }

    // The page control copies its frame from a picture drawn once: it must look as Qt draws it,
    // at whole and fractional scales, enabled or not, and again from the kept picture.
    void pagePaneLooksAsQtDrawsIt_data() {
        QTest::addColumn<qreal>("scale");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("shaded");
        QTest::newRow("1x") << 1.0 << true << false;
        QTest::newRow("1,5x") << 1.5 << true << false;
        QTest::newRow("2x") << 2.0 << true << false;
        QTest::newRow("2x desabilitado") << 2.0 << false << false;
        QTest::newRow("painel sombreado") << 1.0 << true << true;
    }
    void pagePaneLooksAsQtDrawsIt() {
        QFETCH(qreal, scale);
        QFETCH(bool, enabled);
        QFETCH(bool, shaded);
        ShadedPaneStyle shading; // outlives the widgets that use it
        TPageControl ours(nullptr, QStringLiteral("pgcTeste"));
        QTabWidget qts;
        for (QTabWidget* tabs : {static_cast<QTabWidget*>(&ours), &qts}) {
            if (shaded) tabs->setStyle(&shading);
            tabs->addTab(new QWidget, QStringLiteral("Agenda"));
            tabs->addTab(new QWidget, QStringLiteral("Diversos"));
            tabs->setCurrentIndex(1);
            tabs->setEnabled(enabled);
            tabs->resize(317, 203);
            tabs->setFocusPolicy(Qt::NoFocus);
            tabs->tabBar()->setFocusPolicy(Qt::NoFocus);
            tabs->tabBar()->setDrawBase(true); // as the kit's own tab bar has it
            tabs->show();
            QVERIFY(QTest::qWaitForWindowExposed(tabs));
        }
        const auto picture = [scale](QWidget& w) {
            QImage image(w.size() * scale, QImage::Format_ARGB32_Premultiplied);
            image.setDevicePixelRatio(scale);
            image.fill(Qt::white);
            w.render(&image);
            return image;
        };
        const QImage expected = picture(qts);
        QCOMPARE(picture(ours), expected); // drawn
        QCOMPARE(picture(ours), expected); // copied from what was kept
    }

private:
    void MensErroLike() {
        m_host->showError(QStringLiteral("recusado"));
        Abort();
    }
};

QTEST_MAIN(KitWidgetsTest)
#include "KitWidgetsTest.moc"
