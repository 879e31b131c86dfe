// The screen at the window sizes people use: nothing a person reads is cut without a way to read
// it, the questionnaires get their share of the height, a dark theme stays readable, and a screen
// reader finds a name for every control.

#include "Colours.h"
#include "HistoryWindow.h"
#include "ParametrosFixture.h"

#include <QAccessible>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyleFactory>
#include <QTreeWidget>

namespace {

// Text wider than the room its widget gives it, for everything a person reads on the page.
QStringList cutTexts(QWidget* page) {
    QStringList cut;
    const auto check = [&](const QWidget* w, const QString& text, int room) {
        const int needed = w->fontMetrics().horizontalAdvance(text);
        if (!text.isEmpty() && needed > room)
            cut << QStringLiteral("%1 \"%2\" (%3 > %4)")
                       .arg(w->objectName(), text)
                       .arg(needed)
                       .arg(room);
    };
    for (QLabel* l : page->findChildren<QLabel*>())
        if (l->isVisible() && !l->wordWrap() && l->pixmap().isNull())
            check(l, l->text().remove(u'&'), l->contentsRect().width());
    for (QAbstractButton* b : page->findChildren<QAbstractButton*>())
        if (b->isVisible() && !b->text().isEmpty() && b->sizeHint().width() > b->width())
            cut << b->objectName() + u' ' + b->text();
    for (QGroupBox* g : page->findChildren<QGroupBox*>())
        if (g->isVisible()) check(g, g->title(), g->width());
    for (QTabBar* bar : page->findChildren<QTabBar*>())
        if (bar->isVisible())
            for (int i = 0; i < bar->count(); ++i)
                check(bar, bar->tabText(i), bar->tabRect(i).width());
    for (QHeaderView* h : page->findChildren<QHeaderView*>())
        if (h->isVisible() && h->orientation() == Qt::Horizontal)
            for (int i = 0; i < h->count(); ++i)
                if (!h->isSectionHidden(i))
                    check(h, h->model()->headerData(i, Qt::Horizontal).toString(),
                          h->sectionSize(i) -
                              2 * h->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, h));
    return cut;
}

// The contrast of a widget's text against its background, read from the pixels it painted where
// the text is (inside its frame, no wider than the text): the most common colour there is the
// background, the one furthest from it the text.
double paintedContrast(QWidget* w, const QString& text) {
    const int width = w->fontMetrics().horizontalAdvance(text) + 8;
    const QRect where = w->rect().adjusted(3, 3, -3, -3) & QRect(0, 0, width, w->height());
    const QImage image = w->grab(where).toImage();
    QHash<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            ++counts[image.pixel(x, y) & 0xffffff];
    QRgb background = 0;
    int most = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > most) most = it.value(), background = it.key();
    double best = 1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        best = std::max(best, ContrastRatio(QColor(it.key()), QColor(background)));
    return best;
}

} // namespace

class ScreenSizesTest : public ParametrosFixture {
    Q_OBJECT

    // Every page and sub-page brought forward in turn, by clicking its tab.
    void visitPages(const std::function<void(QWidget* page)>& onEach) {
        TfrmParametros* f = form();
        for (int top = 0; top < f->pgcPadrao->count(); ++top) {
            clickTab(f->pgcPadrao, top);
            TPageControl* inner = top == 0 ? f->pgcGeral : f->pgcFilial;
            for (int sub = 0; sub < inner->count(); ++sub) {
                clickTab(inner, sub);
                QTest::qWait(20);
                onEach(inner->widget(sub));
            }
        }
    }
    void openMaximised(QSize size) {
        m_window->resize(size);
        m_window->show();
        openScreen();
        QTRY_VERIFY(!windows().isEmpty());
        windows().first()->showMaximized();
        QTest::qWait(50);
    }

private slots:
    void cleanup() { stopDesktop(); }

    void eachSizeShowsWhatAPersonReads_data() {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("questionnaireRows");
        QTest::addColumn<bool>("listBeside"); // the position list beside the questionnaires
        QTest::newRow("1024x768") << QSize(1024, 768) << 5 << false;
        QTest::newRow("1366x900") << QSize(1366, 900) << 8 << false;
        QTest::newRow("1920x1080") << QSize(1920, 1080) << 8 << true;
    }
    void eachSizeShowsWhatAPersonReads() {
        QFETCH(QSize, size);
        QFETCH(int, questionnaireRows);
        QFETCH(bool, listBeside);
        startDesktop();
        openMaximised(size);
        visitPages([](QWidget* page) {
            const QStringList cut = cutTexts(page);
            QVERIFY2(cut.isEmpty(),
                     qPrintable(page->objectName() + u' ' + cut.join(QStringLiteral("; "))));
        });
        QTRY_VERIFY(cutTexts(form()->panMenu).isEmpty());
        form()->mnuQuestionario->trigger();
        TDBGrid* grid = form()->questionario.dbgQuestCand;
        QTRY_VERIFY(grid->isVisible());
        const int rows = grid->viewport()->height() / grid->verticalHeader()->defaultSectionSize();
        QVERIFY2(rows >= questionnaireRows, qPrintable(QString::number(rows)));
        // The name column takes what the others leave, so names are not cut.
        const int name = IndiceCol(grid, QStringLiteral("NMINSPECAO"));
        for (int r = 0; r < grid->model()->rowCount(); ++r) {
            const QString text = grid->model()->index(r, name).data().toString();
            QVERIFY2(grid->fontMetrics().horizontalAdvance(text) < grid->columnWidth(name),
                     qPrintable(text));
        }
        QVERIFY(form()->questionario.splPar->handleWidth() >= 6);
        QCOMPARE(form()->questionario.splPar->orientation() == Qt::Horizontal, listBeside);

        // The history: short columns whole, long ones whole in their tip, a row in full below.
        execSql(QStringLiteral(
            "INSERT INTO RHAUDITORIA (DTAUDITORIA, CDFILIAL, IDSESSAO, NMMETODO, DSARGUMENTOS) "
            "VALUES ('2026-06-01T12:00:00.000Z', '0002', 'x', 'SetDelPad', "
            "'[\"02002\",\"0002\"]')"));
        m_window->findChild<QAction*>(QStringLiteral("mnuHistorico"))->trigger();
        auto* history = m_window->findChild<HistoryWindow*>();
        QTRY_VERIFY(history && history->isVisible());
        history->parentWidget()->showMaximized();
        auto* list = history->findChild<QTreeWidget*>(QStringLiteral("grdHistorico"));
        QTRY_VERIFY(list->topLevelItemCount() > 0);
        QVERIFY(cutTexts(history).isEmpty());
        const int textMargins =
            2 * (list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1);
        for (int r = 0; r < list->topLevelItemCount(); ++r) {
            QTreeWidgetItem* item = list->topLevelItem(r);
            for (int c = 0; c < list->columnCount(); ++c) {
                const int needed = list->fontMetrics().horizontalAdvance(item->text(c));
                const bool whole = needed + textMargins <= list->columnWidth(c);
                QVERIFY2(whole || item->toolTip(c) == item->text(c),
                         qPrintable(QStringLiteral("%1: %2").arg(c).arg(item->text(c))));
                if (c == 0 || c == 2)
                    QVERIFY2(whole, qPrintable(QStringLiteral("%1 %2 %3")
                                                   .arg(item->text(c))
                                                   .arg(needed)
                                                   .arg(list->columnWidth(c))));
            }
        }
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->topLevelItem(0)).center());
        const QString details =
            history->findChild<QPlainTextEdit*>(QStringLiteral("txtDetalhes"))->toPlainText();
        QVERIFY2(details.contains(list->topLevelItem(0)->text(4)), qPrintable(details));
    }

    // Tool bar, menus, titles and dialogs as a person meets them.
    void theToolBarAndMenusSayWhatTheyDo() {
        startDesktop();
        openMaximised(QSize(1366, 900));
        TfrmParametros* f = form();
        QVERIFY(f->windowTitle().startsWith(QStringLiteral("Parâmetros Gerais")));
        // Maximised, the screen's name leads the main window's title too.
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Parâmetros Gerais — Recursos Humanos"));
        windows().first()->showNormal();
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Recursos Humanos"));
        windows().first()->showMaximized();
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Parâmetros Gerais — Recursos Humanos"));
        QCOMPARE(f->sbtAlterar->iconSize(),
                 QSize(1, 1) * f->style()->pixelMetric(QStyle::PM_ToolBarIconSize));
        QCOMPARE(f->sbtAlterar->toolTip(), QStringLiteral("Alterar (F2)"));
        QCOMPARE(f->btpDirFolhaPag->toolTip(), QStringLiteral("Escolher pasta"));
        QVERIFY(f->btpDirFolhaPag->icon().cacheKey() != f->btnConvMedi->icon().cacheKey());
        // The disabled picture is faint: far fewer strong pixels than the enabled one.
        const auto inked = [](const QIcon& icon, QIcon::Mode mode) {
            const QImage image = icon.pixmap(QSize(24, 24), mode).toImage();
            int n = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    n += qAlpha(image.pixel(x, y)) > 128;
            return n;
        };
        QCOMPARE(inked(f->sbtConfirmar->icon(), QIcon::Disabled), 0);
        QVERIFY(inked(f->sbtConfirmar->icon(), QIcon::Normal) > 20);

        // Exibir ▸ Texto nos botões da barra: captions under the icons, kept for the next start.
        auto* captions = m_window->findChild<QAction*>(QStringLiteral("mnuTextoNosBotoes"));
        captions->trigger();
        QCOMPARE(f->sbtAlterar->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        QTRY_COMPARE(cutTexts(f->panMenu), QStringList());
        captions->trigger();
        QCOMPARE(f->sbtAlterar->toolButtonStyle(), Qt::ToolButtonIconOnly);

        // One ticked item in each sub-page menu, the page in front, from the start.
        const auto ticked = [](QMenu* menu) {
            QStringList names;
            for (QAction* a : menu->actions())
                if (a->isChecked()) names << a->text().remove(u'&');
            return names;
        };
        QCOMPARE(ticked(f->mnuFolhaDadosMenu), QStringList{QStringLiteral("Encargo")});
        QVERIFY(ticked(f->mnuFormularioMenu).isEmpty());
    }

    // In a dark theme every text reads at 4.5:1 or better, on every page.
    void aDarkThemeStaysReadable() {
        const QString before = QApplication::style()->name();
        const QPalette light = QApplication::palette();
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        QPalette dark;
        dark.setColor(QPalette::Window, QColor(45, 45, 48));
        dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
        dark.setColor(QPalette::Base, QColor(30, 30, 30));
        dark.setColor(QPalette::AlternateBase, QColor(40, 40, 44));
        dark.setColor(QPalette::Text, QColor(230, 230, 230));
        dark.setColor(QPalette::Button, QColor(55, 55, 60));
        dark.setColor(QPalette::ButtonText, QColor(230, 230, 230));
        dark.setColor(QPalette::ToolTipBase, QColor(60, 58, 40));
        dark.setColor(QPalette::ToolTipText, QColor(240, 240, 220));
        dark.setColor(QPalette::Highlight, QColor(38, 79, 120));
        dark.setColor(QPalette::HighlightedText, Qt::white);
        QApplication::setPalette(dark);
        startDesktop();
        openMaximised(QSize(1366, 900));
        visitPages([](QWidget* page) {
            for (QWidget* w : page->findChildren<QWidget*>()) {
                const auto* label = qobject_cast<QLabel*>(w);
                const auto* edit = qobject_cast<QLineEdit*>(w);
                const QString text = label ? label->text() : edit ? edit->text() : QString();
                if (text.isEmpty() || !w->isVisible() || !w->isEnabled()) continue;
                const double ratio = paintedContrast(w, text);
                QVERIFY2(ratio >= 4.5,
                         qPrintable(QStringLiteral("%1: %2").arg(w->objectName()).arg(ratio)));
            }
        });
        stopDesktop();
        QApplication::setPalette(light);
        QApplication::setStyle(QStyleFactory::create(before));
    }

    // A screen reader finds each control by the caption a person reads beside it.
    void everyControlHasTheNameOfItsCaption() {
        startDesktop();
        openMaximised(QSize(1366, 900));
        TfrmParametros* f = form();
        f->mnuQuestionario->trigger(); // its page is built when first shown
        QVERIFY(f->questionario.dbgQuestCand);
        const QList<QPair<QWidget*, QString>> expected{
            {f->dbeVrPeEncTemp, QStringLiteral("Encargos com Temporários (%)")},
            {f->dbeCdIndiceCb, QStringLiteral("Índice Financeiro")},
            {f->BtnIndice, QStringLiteral("Pesquisar")},
            {f->dbdDtBaseCB, QStringLiteral("Data Base")},
            {f->dcbFerias, QStringLiteral("Tipo")},
            {f->dbeQtDias, QStringLiteral("Quantidade de Dias")},
            {f->medCdFilial, QStringLiteral("Filial")},
            {f->dbeFechamento, QStringLiteral("Dia de Fechamento do RH")},
            {f->dbeDiretorio, QStringLiteral("Diretório para Integração com a Folha de Pagamento")},
            {f->btpDirFolhaPag, QStringLiteral("Escolher pasta")},
            {f->dbeMediConv, QStringLiteral("Convênio Médico Padrão")},
            {f->sbtConfirmar, QStringLiteral("Confirmar")},
            {f->questionario.dbgQuestCand, QStringLiteral("Questionários")},
        };
        for (const auto& [control, name] : expected) {
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(control);
            QVERIFY(a);
            // On Linux a combo box's name is its text; its caption is the label tied to it.
            const auto labels = a->relations(QAccessible::Label);
            QCOMPARE(qobject_cast<QComboBox*>(control) && !labels.isEmpty()
                         ? labels.first().first->text(QAccessible::Name)
                         : a->text(QAccessible::Name),
                     name);
        }
        // Each tab is read by its caption.
        QAccessibleInterface* tabs = QAccessible::queryAccessibleInterface(f->pgcGeral->tabBar());
        QVERIFY(tabs->childCount() >= f->pgcGeral->count()); // and its scroll buttons
        for (int i = 0; i < f->pgcGeral->count(); ++i)
            QCOMPARE(tabs->child(i)->text(QAccessible::Name), f->pgcGeral->tabText(i));
        // Nothing a person can reach is nameless.
        for (QWidget* w : f->findChildren<QWidget*>()) {
            if (!(w->focusPolicy() & Qt::TabFocus) && !qobject_cast<QAbstractButton*>(w)) continue;
            if (qobject_cast<QComboBox*>(w->parentWidget()) || !w->isEnabled()) continue;
            if (w->objectName().isEmpty() || qobject_cast<QAbstractScrollArea*>(w->parentWidget()))
                continue; // a part of a compound control
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
            QVERIFY2(a && !a->text(QAccessible::Name).isEmpty(), qPrintable(w->objectName()));
        }
    }
};

QTEST_MAIN(ScreenSizesTest)
#include "ScreenSizesTest.moc"
