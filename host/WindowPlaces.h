#pragma once
// Where the desktop's child windows go and which were open: a window fills the workspace unless
// the user moved or resized it, and then it opens where they left it; the windows open when rh
// closes, with their state, open again at its next start. Kept in the desktop's settings file.

#include <QString>
#include <QStringList>

class QMdiArea;
class QMdiSubWindow;

class WindowPlaces {
public:
    // settingsPath empty: nothing is remembered, every window fills the workspace.
    WindowPlaces(const QString& settingsPath, QMdiArea* area)
        : m_settingsPath(settingsPath)
        , m_area(area) {}

    // Places a window just made: where the user left it last time, or filling the workspace.
    void place(QMdiSubWindow* frame, const QString& kind) const;
    // Remembers the open windows in their order, each one's place (only when the user moved or
    // resized it) and whether it was maximised or minimised.
    void rememberOpen(const QList<QMdiSubWindow*>& frames) const;
    // The windows to open at the start; null when nothing was ever remembered (a first start).
    bool remembered(QStringList* kinds) const;
    // "maximizada", "minimizada" or empty, as the window was left.
    QString state(const QString& kind) const;

    // The kind of a window, as the settings name it; empty for a window not remembered.
    static QString kindOf(const QMdiSubWindow* frame);

private:
    QString m_settingsPath;
    QMdiArea* m_area;
};
