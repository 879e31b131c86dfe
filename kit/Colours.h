#pragma once
// Colours taken from the desktop's palette, never fixed, so the screens read as well in a dark
// theme as in a light one.

#include <QColor>

class QWidget;

// The contrast ratio of two colours as WCAG 2 defines it: 1 (none) to 21 (black on white).
double ContrastRatio(const QColor& a, const QColor& b);

// The wanted colour, made lighter or darker as little as needed to read at 4.5:1 on background.
QColor ReadableOn(const QColor& wanted, const QColor& background);

// The "info" colours (the palette's tool-tip colours) for the widget's background and text, kept
// in step when the desktop changes its palette.
void UseInfoColours(QWidget* widget);
