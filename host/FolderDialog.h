#pragma once
// The folder chooser: Qt's own dialog, in Brazilian Portuguese whatever the machine's locale.

#include <QString>

class QWidget;

// The folder chosen, or an empty text when the user cancels.
QString chooseFolder(QWidget* parent, const QString& title, const QString& start);
