#pragma once
// Names a screen reader reads: every control, tab bar, grid and button of a window gets the
// caption a person reads beside it, and its tip as its description.

#include <QString>

class QWidget;

// The caption a person reads for the control: its label (a buddy, or the label of its row in a
// form layout), the title of the group it sits in, its own text, or the tip of a button that
// shows only an icon. Empty when it has none.
QString CaptionOf(const QWidget* control);

// Names every control under root that has no name of its own yet; tab bars are named after the
// page that holds them.
void NameControlsForScreenReaders(QWidget* root);
