#include "PageControl.h"

#include "Dispatch.h"
#include "FocusMoves.h"

#include <QEvent>
#include <QLayout>
#include <QPaintEngine>
#include <QPainter>
#include <QPixmapCache>
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

// The frame kept as its four edges and the colour within, or whole when it is not that simple.
struct PanePicture {
    QPixmap top, bottom, left, right, whole;
    QColor fill;
};

PanePicture keptPane(const QImage& pane) {
    PanePicture kept;
    const int edge = frameWidth(pane);
    const qreal scale = pane.devicePixelRatio();
    const auto part = [&](const QRect& r) {
        QPixmap p = QPixmap::fromImage(pane.copy(r));
        p.setDevicePixelRatio(scale);
        return p;
    };
    if (edge == 0) {
        kept.whole = part(pane.rect());
        return kept;
    }
    const int w = pane.width(), h = pane.height();
    kept.top = part(QRect(0, 0, w, edge));
    kept.bottom = part(QRect(0, h - edge, w, edge));
    kept.left = part(QRect(0, edge, edge, h - 2 * edge));
    kept.right = part(QRect(w - edge, edge, edge, h - 2 * edge));
    kept.fill = QColor::fromRgba(pane.pixel(edge, edge));
    return kept;
}

// A translucent picture laid over what is behind it, in bands of rows few enough for the raster
// engine to blend them itself rather than wake its thread pool.
void drawInBands(QPainter& painter, const QPointF& at, const QPixmap& picture) {
    constexpr int rowsPerBand = 64;
    const qreal scale = picture.devicePixelRatio();
    for (int top = 0; top < picture.height(); top += rowsPerBand) {
        const QRect band(0, top, picture.width(), std::min(rowsPerBand, picture.height() - top));
        painter.drawPixmap(QRectF(at + QPointF(0, top / scale), QSizeF(band.size()) / scale),
                           picture, band);
    }
}

void paintPane(QPainter& painter, const PanePicture& kept, const QRect& rect) {
    const QPoint at = rect.topLeft() - QPoint(paneMargin, paneMargin);
    if (!kept.whole.isNull()) return drawInBands(painter, at, kept.whole);
    const QSizeF edge = kept.top.deviceIndependentSize();
    const QRectF outer(at, QSizeF(rect.size()) + QSizeF(2 * paneMargin, 2 * paneMargin));
    const qreal e = edge.height();
    painter.drawPixmap(outer.topLeft(), kept.top);
    painter.drawPixmap(QPointF(outer.left(), outer.bottom() - e), kept.bottom);
    drawInBands(painter, QPointF(outer.left(), outer.top() + e), kept.left);
    drawInBands(painter, QPointF(outer.right() - e, outer.top() + e), kept.right);
    painter.fillRect(outer.adjusted(e, e, -e, -e), kept.fill);
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
    if (scale != std::round(scale)) {
        painter.end();
        return QTabWidget::paintEvent(e);
    }
    QStyleOptionTabWidgetFrame option;
    initStyleOption(&option);
    option.rect = style()->subElementRect(QStyle::SE_TabWidgetTabPane, &option, this);
    const QString key = QStringLiteral("rh-pane:%1:%2x%3:%4:%5:%6x%7:%8,%9,%10x%11:%12:%13")
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
    static const QStringList parts{QStringLiteral(":t"), QStringLiteral(":b"),
                                   QStringLiteral(":l"), QStringLiteral(":r"),
                                   QStringLiteral(":w"), QStringLiteral(":c")};
    PanePicture kept;
    QPixmap* pieces[] = {&kept.top, &kept.bottom, &kept.left, &kept.right, &kept.whole};
    QPixmap fill;
    bool found = QPixmapCache::find(key + parts[5], &fill);
    for (int i = 0; found && i < 5; ++i)
        QPixmapCache::find(key + parts[i], pieces[i]);
    found = found && (!kept.whole.isNull() || !kept.right.isNull());
    if (found) {
        kept.fill = fill.toImage().pixelColor(0, 0);
    } else {
        kept = keptPane(drawnPane(style(), option, this, scale));
        QImage colour(1, 1, QImage::Format_ARGB32);
        colour.setPixelColor(0, 0, kept.fill);
        QPixmapCache::insert(key + parts[5], QPixmap::fromImage(colour));
        for (int i = 0; i < 5; ++i)
            if (!pieces[i]->isNull()) QPixmapCache::insert(key + parts[i], *pieces[i]);
    }
    paintPane(painter, kept, option.rect);
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
