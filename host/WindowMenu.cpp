#include "WindowMenu.h"

#include <QActionGroup>
#include <QMdiArea>
#include <QMdiSubWindow>

namespace {
QAction* addItem(QMenu* menu, const char* name, const QString& caption,
                 const QList<QKeySequence>& keys = {}) {
    QAction* a = menu->addAction(caption);
    a->setObjectName(QString::fromLatin1(name));
    a->setShortcuts(keys);
    return a;
}
} // namespace

WindowMenu::WindowMenu(QMdiArea* area, QWidget* parent)
    : QMenu(QStringLiteral("&Janela"), parent)
    , m_area(area) {
    setObjectName(QStringLiteral("mnuJanela"));
    QAction* next = addItem(this, "mnuProximaJanela", QStringLiteral("&Próxima"),
                            {QKeySequence(Qt::CTRL | Qt::Key_Tab)});
    QAction* previous = addItem(this, "mnuJanelaAnterior", QStringLiteral("&Anterior"),
                                // Shown as the first; X11 sends Shift+Tab as Backtab.
                                {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab),
                                 QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab)});
    QAction* close =
        addItem(this, "mnuFecharJanela", QStringLiteral("&Fechar"),
                {QKeySequence(Qt::CTRL | Qt::Key_F4), QKeySequence(Qt::CTRL | Qt::Key_W)});
    addSeparator();
    QAction* cascade = addItem(this, "mnuCascata", QStringLiteral("&Cascata"));
    QAction* tile = addItem(this, "mnuLadoALado", QStringLiteral("&Lado a lado"));
    connect(next, &QAction::triggered, area, &QMdiArea::activateNextSubWindow);
    connect(previous, &QAction::triggered, area, &QMdiArea::activatePreviousSubWindow);
    connect(close, &QAction::triggered, area, &QMdiArea::closeActiveSubWindow);
    connect(cascade, &QAction::triggered, area, &QMdiArea::cascadeSubWindows);
    connect(tile, &QAction::triggered, area, &QMdiArea::tileSubWindows);
    connect(this, &QMenu::aboutToShow, this, &WindowMenu::listWindows);
}

void WindowMenu::leaveKeysToMenu(QMdiSubWindow* window) {
    if (!window->systemMenu()) return;
    for (QAction* a : window->systemMenu()->actions())
        a->setShortcuts({});
}

void WindowMenu::listWindows() {
    qDeleteAll(m_windowItems);
    m_windowItems.clear();
    QAction* first = actions().value(0);
    const QList<QMdiSubWindow*> windows = m_area->subWindowList();
    int number = 0;
    for (QMdiSubWindow* w : windows) {
        ++number;
        const QString title = w->windowTitle().isEmpty() && w->widget() ? w->widget()->windowTitle()
                                                                        : w->windowTitle();
        auto* item = new QAction(
            number < 10 ? QStringLiteral("&%1 %2").arg(number).arg(title) : title, this);
        item->setCheckable(true);
        item->setChecked(w == m_area->activeSubWindow());
        connect(item, &QAction::triggered, m_area, [area = m_area, w] {
            if (area->subWindowList().contains(w)) area->setActiveSubWindow(w);
        });
        insertAction(first, item);
        m_windowItems << item;
    }
    if (!windows.isEmpty()) {
        QAction* separator = new QAction(this);
        separator->setSeparator(true);
        insertAction(first, separator);
        m_windowItems << separator;
    }
}
