#pragma once
// Names a screen reader reads: every control, grid and button of a window gets the caption a
// person reads beside it, and its tip as its description. (Tabs are read by their own texts.)

class QWidget;

// Names every control under root that has no name of its own yet.
void NameControlsForScreenReaders(QWidget* root);
