#pragma once
// Page controls whose change event runs only when the user changes the tab, and menu items.

#include <QAction>
#include <QMenu>
#include <QTabWidget>
#include <functional>

class TPageControl : public QTabWidget {
    Q_OBJECT
public:
    TPageControl(QWidget* parent, const QString& name);
    // A new tab sheet; its widget carries the sheet's name.
    QWidget* AddPage(const QString& name, const QString& caption);
    QWidget* ActivePage() const { return currentWidget(); }
    // Selects a page from code: the change event does not run.
    void SetActivePage(QWidget* page);
    std::function<void()> OnChange;

    // The page's controls are built by `build` the first time the page is about to be seen, so
    // that opening the form builds only what its first pages show.
    void BuildOnFirstShow(QWidget* page, std::function<void()> build);
    // Builds the page now if it still waits for its first show: for a rule that needs its
    // controls before the user has seen them.
    void EnsureBuilt(QWidget* page);

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    bool m_settingPage = false;
};

void SetPageEnabled(QWidget* page, bool enabled);
bool PageEnabled(const QWidget* page);

// A menu item with a sub-menu: the item is the sub-menu's action, named like the item.
QMenu* AddSubMenu(QMenu* parent, const QString& name, const QString& caption);
QAction* AddMenuItem(QMenu* parent, const QString& name, const QString& caption,
                     bool checkable = false);
// Gives every item of the menu and of its sub-menus that has no accelerator the first letter of
// its caption not yet taken in its menu; the captions' text stays as it is.
void GiveAccelerators(QMenu* menu);
