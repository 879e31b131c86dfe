#include "PageControl.h"

#include "Dispatch.h"
#include "FocusMoves.h"

#include <QEvent>
#include <QLayout>
#include <QTabBar>
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
