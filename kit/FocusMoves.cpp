#include "FocusMoves.h"

#include "FormPadrao.h"
#include "PageControl.h"

#include <QApplication>
#include <QStackedWidget>

namespace {
int g_quietFocus = 0;
int g_pageSelections = 0;

TfrmPadrao* formOf(QWidget* widget) {
    for (QWidget* w = widget; w; w = w->parentWidget())
        if (auto* form = qobject_cast<TfrmPadrao*>(w)) return form;
    return nullptr;
}
} // namespace

bool focusMovesQuietly() {
    return g_quietFocus > 0;
}

bool pagesBeingSelected() {
    return g_pageSelections > 0;
}

PageSelection::PageSelection() {
    ++g_pageSelections;
}

PageSelection::~PageSelection() {
    if (--g_pageSelections > 0 || focusMovesQuietly()) return;
    QWidget* now = QApplication::focusWidget();
    if (TfrmPadrao* form = formOf(now)) form->FocusSettled(now);
}

QWidget* FirstFocusableIn(QWidget* page) {
    for (QWidget* w = page->nextInFocusChain(); w && w != page; w = w->nextInFocusChain())
        if (page->isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus) && w->isEnabled() &&
            w->isVisibleTo(page))
            return w;
    return nullptr;
}

void focusIntoView(QWidget* widget) {
    // Pages of a tab control live in a stacked widget whose parent is the tab control.
    QList<QPair<QTabWidget*, QWidget*>> pages;
    for (QWidget* w = widget; w; w = w->parentWidget()) {
        auto* stack = qobject_cast<QStackedWidget*>(w->parentWidget());
        if (!stack) continue;
        if (auto* tabs = qobject_cast<QTabWidget*>(stack->parentWidget())) pages.prepend({tabs, w});
    }
    // Hiding the page that holds the focus moves the focus too: that move is quiet as well.
    ++g_quietFocus;
    bool pagesChanged = false;
    for (auto [tabs, page] : pages) {
        pagesChanged |= tabs->currentWidget() != page;
        if (auto* control = qobject_cast<TPageControl*>(tabs))
            control->SetActivePage(page);
        else
            tabs->setCurrentWidget(page);
    }
    widget->setFocus(Qt::OtherFocusReason);
    --g_quietFocus;
    // While a dialog is active Qt only notes the focus for later, and tells nobody.
    if (TfrmPadrao* form = formOf(widget)) form->FocusPlaced(widget, pagesChanged);
}
