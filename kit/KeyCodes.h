#pragma once
// Typed characters as codes, the way key-press filters see them: Ctrl+V is 22, Backspace 8,
// Enter 13, Esc 27, Ctrl+C 3, Ctrl+X 24; 0 means no character (or a swallowed one).

#include <QKeyEvent>

namespace keys {
constexpr int None = 0;
constexpr int CtrlC = 3;
constexpr int Backspace = 8;
constexpr int Tab = 9;
constexpr int Enter = 13;
constexpr int CtrlV = 22;
constexpr int CtrlX = 24;
constexpr int Esc = 27;
} // namespace keys

inline int charCodeFor(const QKeyEvent* e) {
    // Every paste shortcut (Shift+Insert too) is the paste character for the filters.
    if (e->matches(QKeySequence::Paste)) return keys::CtrlV;
    // Selecting all moves the selection, like the arrows: no character for the filters.
    if (e->matches(QKeySequence::SelectAll)) return keys::None;
    const auto mods = e->modifiers() & ~Qt::KeypadModifier;
    if ((mods & Qt::ControlModifier) && !(mods & Qt::AltModifier) && e->key() >= Qt::Key_A &&
        e->key() <= Qt::Key_Z)
        return e->key() - Qt::Key_A + 1;
    switch (e->key()) {
    case Qt::Key_Backspace:
        return keys::Backspace;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return keys::Enter;
    case Qt::Key_Escape:
        return keys::Esc;
    case Qt::Key_Tab:
        return keys::Tab;
    default:
        break;
    }
    if (mods & (Qt::ControlModifier | Qt::AltModifier)) return keys::None;
    const QString text = e->text();
    if (text.isEmpty() || !text.at(0).isPrint()) return keys::None;
    return text.at(0).unicode();
}

// Whether the key would change the text of an edit.
inline bool keyModifiesText(QKeyEvent* e) {
    if (e == QKeySequence::Paste || e == QKeySequence::Cut || e == QKeySequence::Undo ||
        e == QKeySequence::Redo)
        return true;
    if (e->key() == Qt::Key_Backspace || e->key() == Qt::Key_Delete) return true;
    const auto mods = e->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier);
    return !mods && !e->text().isEmpty() && e->text().at(0).isPrint();
}
