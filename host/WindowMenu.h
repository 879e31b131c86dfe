#pragma once
// The "Janela" menu: the open windows, going from one to the next, closing the one in front and
// arranging them.

#include <QMenu>

class QMdiArea;
class QMdiSubWindow;

class WindowMenu : public QMenu {
    Q_OBJECT
public:
    WindowMenu(QMdiArea* area, QWidget* parent);
    // The window's own keys would make the menu's ambiguous, and then neither would work.
    static void leaveKeysToMenu(QMdiSubWindow* window);

private:
    void listWindows();

    QMdiArea* m_area;
    QList<QAction*> m_windowItems;
};
