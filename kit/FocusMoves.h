#pragma once
// Focus moves that are not the user leaving a control: a check putting the focus on the control
// it refuses, and pages brought forward, whose hiding moves the focus on its own.

class QWidget;

// Brings every page that holds the widget to the front (running no page-change event), then
// focuses it. A check that failed puts the focus on its control this way: the control left and
// the control entered run no exit or enter events of their own for that move, and the form
// keeps the control as the one the user is in, also while a dialog has the activation.
void focusIntoView(QWidget* widget);
bool focusMovesQuietly();
// The first control inside the page that Tab reaches; null when there is none.
QWidget* FirstFocusableIn(QWidget* page);

// While pages are being selected, Qt moves the focus off the pages it hides, possibly through a
// control of a page shown only on the way. The form sees none of those moves; when the outermost
// selection ends, it takes where the focus landed as one move from the control the user was in.
class PageSelection {
public:
    PageSelection();
    ~PageSelection();
    PageSelection(const PageSelection&) = delete;
    PageSelection& operator=(const PageSelection&) = delete;
};
bool pagesBeingSelected();
