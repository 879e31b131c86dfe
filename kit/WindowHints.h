#pragma once
// A dialog waits for an answer: a title and a close button, nothing to minimise or maximise.

#include <QWidget>

inline void GiveDialogHints(QWidget* dialog) {
    dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint);
}
