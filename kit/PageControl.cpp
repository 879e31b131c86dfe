#include "PageControl.h"

#include "Dispatch.h"
#include "FocusMoves.h"

#include <QCache>
#include <QEvent>
#include <QLayout>
#include <QPaintEngine>
#include <QPainter>
#include <QStyleOptionTabWidgetFrame>
#include <QTabBar>
#include <cmath>
#include <utility>

namespace {
// A tab bar whose every input that may change the page is one page selection; painting and
// hovering, the bulk of its events, pass straight on.
class PageTabBar : public QTabBar {
public:
    using QTabBar::QTabBar;

protected:
    bool event(QEvent* e) override {
        switch (e->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::KeyPress:
        case QEvent::Wheel:
        case QEvent::Shortcut: {
            PageSelection selecting;
            return QTabBar::event(e);
        }
        default:
            return QTabBar::event(e);
        }
    }
};
} // namespace

TPageControl::TPageControl(QWidget* parent, const QString& name)
    : QTabWidget(parent) {
    setObjectName(name);
    setTabBar(new PageTabBar(this));
    setFocusPolicy(Qt::NoFocus);
    tabBar()->setFocusPolicy(Qt::NoFocus);
    connect(this, &QTabWidget::currentChanged, this, [this] {
        if (!m_settingPage && OnChange) Dispatch(OnChange);
    });
}

QWidget* TPageControl::AddPage(const QString& name, const QString& caption) {
    auto* page = new QWidget;
    page->setObjectName(name);
    addTab(page, caption);
    return page;
}

void TPageControl::SetActivePage(QWidget* page) {
    PageSelection selecting;
    m_settingPage = true;
    setCurrentWidget(page);
    m_settingPage = false;
}

namespace {
constexpr int paneMargin = 1;

// The pane's frame as the style draws it, to be laid over whatever is behind it.
QImage drawnPane(QStyle* style, const QStyleOptionTabWidgetFrame& option, const QWidget* widget,
                 qreal scale) {
    // A margin: at a doubled scale a line on the edge spills half outside it.
    QImage pane((option.rect.size() + QSize(2 * paneMargin, 2 * paneMargin)) * scale,
                QImage::Format_ARGB32_Premultiplied);
    pane.setDevicePixelRatio(scale);
    pane.fill(Qt::transparent);
    QStyleOptionTabWidgetFrame atOrigin = option;
    atOrigin.rect.moveTopLeft(QPoint(paneMargin, paneMargin));
    QPainter painter(&pane);
    style->drawPrimitive(QStyle::PE_FrameTabWidget, &atOrigin, &painter, widget);
    return pane;
}

// How far in from each edge the frame's lines go, in pixels, when all within is one opaque
// colour; 0 when it is not so (a style that shades its pane).
int frameWidth(const QImage& pane) {
    constexpr int widest = 8;
    for (int edge = 1; edge <= widest && 2 * edge < std::min(pane.width(), pane.height()); ++edge) {
        const QRgb fill = pane.pixel(edge, edge);
        if (qAlpha(fill) != 255) continue;
        bool uniform = true;
        for (int y = edge; uniform && y < pane.height() - edge; ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(pane.constScanLine(y));
            for (int x = edge; x < pane.width() - edge; ++x)
                if (line[x] != fill) {
                    uniform = false;
                    break;
                }
        }
        if (uniform) return edge;
    }
    return 0;
}

// The frame kept as its four edges and the colour within; `simple` is false when the style
// shades its pane, which is then painted as Qt paints it.
struct PanePicture {
    QImage top, bottom, left, right;
    QColor fill;
    bool simple = false;
};

PanePicture keptPane(const QImage& pane) {
    PanePicture kept;
    const int edge = frameWidth(pane);
    if (edge == 0) return kept;
    const int w = pane.width(), h = pane.height();
    kept.top = pane.copy(0, 0, w, edge);
    kept.bottom = pane.copy(0, h - edge, w, edge);
    kept.left = pane.copy(0, edge, edge, h - 2 * edge);
    kept.right = pane.copy(w - edge, edge, edge, h - 2 * edge);
    kept.fill = QColor::fromRgba(pane.pixel(edge, edge));
    kept.simple = true;
    return kept;
}

// A translucent picture laid over what is behind it, in bands of rows few enough for the raster
// engine to blend them itself rather than wake its thread pool.
void drawInBands(QPainter& painter, const QPointF& at, const QImage& picture) {
    constexpr int rowsPerBand = 64;
    const qreal scale = picture.devicePixelRatio();
    for (int top = 0; top < picture.height(); top += rowsPerBand) {
        const QRect band(0, top, picture.width(), std::min(rowsPerBand, picture.height() - top));
        painter.drawImage(QRectF(at + QPointF(0, top / scale), QSizeF(band.size()) / scale),
                          picture, band);
    }
}

void paintPane(QPainter& painter, const PanePicture& kept, const QRect& rect) {
    const QPoint at = rect.topLeft() - QPoint(paneMargin, paneMargin);
    const QRectF outer(at, QSizeF(rect.size()) + QSizeF(2 * paneMargin, 2 * paneMargin));
    const qreal e = kept.top.deviceIndependentSize().height();
    painter.drawImage(outer.topLeft(), kept.top);
    painter.drawImage(QPointF(outer.left(), outer.bottom() - e), kept.bottom);
    drawInBands(painter, QPointF(outer.left(), outer.top() + e), kept.left);
    drawInBands(painter, QPointF(outer.right() - e, outer.top() + e), kept.right);
    painter.fillRect(outer.adjusted(e, e, -e, -e), kept.fill);
}

// The frames drawn so far, by look and size, up to about a megabyte of edges.
QCache<QString, PanePicture>& keptPanes() {
    static QCache<QString, PanePicture> panes(1024);
    return panes;
}
} // namespace

// Qt's raster engine hands every tall run of translucent lines to its thread pool, a wake-up per
// batch of rows: the frame's shaded lines cost many times copying a picture of them. The frame
// is drawn once per look and size and kept as its edges; a paint copies them.
void TPageControl::paintEvent(QPaintEvent* e) {
    if (documentMode()) return QTabWidget::paintEvent(e);
    QPainter painter(this);
    // The device painted may be finer than the screen's, as when the window is rendered scaled;
    // at a fractional scale a copy would not fall on the same pixels as the lines it copies.
    const qreal scale = painter.paintEngine()->paintDevice()->devicePixelRatio();
    QStyleOptionTabWidgetFrame option;
    initStyleOption(&option);
    option.rect = style()->subElementRect(QStyle::SE_TabWidgetTabPane, &option, this);
    const QString key = QStringLiteral("%1:%2x%3:%4:%5:%6x%7:%8,%9,%10x%11:%12:%13")
                            .arg(quintptr(style()))
                            .arg(option.rect.width())
                            .arg(option.rect.height())
                            .arg(scale)
                            .arg(option.palette.cacheKey())
                            .arg(option.tabBarSize.width())
                            .arg(option.tabBarSize.height())
                            .arg(option.selectedTabRect.x())
                            .arg(option.selectedTabRect.y())
                            .arg(option.selectedTabRect.width())
                            .arg(option.selectedTabRect.height())
                            .arg(int(option.shape))
                            .arg(int(option.state) | int(option.direction) << 24);
    const bool wholeScale = scale == std::round(scale);
    const PanePicture* kept = wholeScale ? keptPanes().object(key) : nullptr;
    PanePicture made;
    if (!kept && wholeScale) {
        made = keptPane(drawnPane(style(), option, this, scale));
        const qsizetype bytes = made.top.sizeInBytes() + made.bottom.sizeInBytes() +
                                made.left.sizeInBytes() + made.right.sizeInBytes();
        keptPanes().insert(key, new PanePicture(made), std::max<qsizetype>(1, bytes / 1024));
        kept = &made;
    }
    if (!kept || !kept->simple) {
        painter.end();
        return QTabWidget::paintEvent(e);
    }
    paintPane(painter, *kept, option.rect);
}

namespace {
// Holds a page's builder until the page is first shown or a rule asks for its controls.
class PageBuilder : public QObject {
public:
    PageBuilder(QWidget* page, std::function<void()> build)
        : QObject(page)
        , m_build(std::move(build)) {
        page->installEventFilter(this);
    }

    void buildNow() {
        auto* page = static_cast<QWidget*>(parent());
        page->removeEventFilter(this);
        const std::function<void()> build = std::exchange(m_build, {});
        if (!build) return;
        build();
        // Built while being shown: what the builder made is laid out and shown with the page,
        // in this same show (Qt would otherwise do it only once the event loop runs again).
        if (page->isVisible()) {
            for (QObject* o : page->children())
                if (auto* w = qobject_cast<QWidget*>(o);
                    w && !w->isWindow() && !w->testAttribute(Qt::WA_WState_ExplicitShowHide))
                    w->show();
            if (QLayout* layout = page->layout()) layout->activate();
        }
        deleteLater();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (watched == parent() && e->type() == QEvent::Show) buildNow();
        return false;
    }

private:
    std::function<void()> m_build;
};
} // namespace

void TPageControl::BuildOnFirstShow(QWidget* page, std::function<void()> build) {
    new PageBuilder(page, std::move(build));
}

void TPageControl::EnsureBuilt(QWidget* page) {
    for (QObject* o : page->children())
        if (auto* builder = dynamic_cast<PageBuilder*>(o)) {
            builder->buildNow();
            return;
        }
}

namespace {
QTabWidget* tabsOf(const QWidget* page, int* index) {
    for (QWidget* p = page->parentWidget(); p; p = p->parentWidget()) {
        if (auto* tabs = qobject_cast<QTabWidget*>(p)) {
            *index = tabs->indexOf(const_cast<QWidget*>(page));
            if (*index >= 0) return tabs;
        }
    }
    return nullptr;
}
} // namespace

void SetPageEnabled(QWidget* page, bool enabled) {
    int index = -1;
    if (QTabWidget* tabs = tabsOf(page, &index)) {
        // Qt repaints the whole tab bar even when nothing changes; the enabling rules run on
        // every state change, mostly confirming what is already shown.
        const int current = tabs->currentIndex();
        const bool unchanged = tabs->isTabEnabled(index) == enabled &&
                               !(enabled ? !tabs->isTabVisible(current) : index == current);
        if (!unchanged) {
            PageSelection selecting; // disabling the page shown shows another
            tabs->setTabEnabled(index, enabled);
        }
    } else {
        page->setEnabled(enabled);
    }
}

bool PageEnabled(const QWidget* page) {
    int index = -1;
    if (QTabWidget* tabs = tabsOf(page, &index)) return tabs->isTabEnabled(index);
    return page->isEnabled();
}

QMenu* AddSubMenu(QMenu* parent, const QString& name, const QString& caption) {
    QMenu* menu = parent->addMenu(caption);
    menu->setObjectName(name + QStringLiteral("Menu"));
    menu->menuAction()->setObjectName(name);
    return menu;
}

QAction* AddMenuItem(QMenu* parent, const QString& name, const QString& caption, bool checkable) {
    QAction* action = parent->addAction(caption);
    action->setObjectName(name);
    action->setCheckable(checkable);
    return action;
}

void GiveAccelerators(QMenu* menu) {
    QString taken;
    const QList<QAction*> actions = menu->actions();
    const auto accelerator = [](const QString& text) {
        const qsizetype at = text.indexOf(u'&');
        return at >= 0 && at + 1 < text.size() ? text[at + 1].toLower() : QChar();
    };
    for (const QAction* a : actions)
        if (const QChar c = accelerator(a->text()); !c.isNull()) taken += c;
    for (QAction* a : actions) {
        if (a->isSeparator()) continue;
        if (QMenu* sub = a->menu()) GiveAccelerators(sub);
        const QString text = a->text();
        if (!accelerator(text).isNull()) continue;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar c = text[i].toLower();
            if (!text[i].isLetter() || taken.contains(c)) continue;
            a->setText(text.left(i) + u'&' + text.mid(i));
            taken += c;
            break;
        }
    }
}
