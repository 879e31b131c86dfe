#pragma once
// The screen on the desktop with its real message boxes, answered by keys as a person does, and
// the moves a person makes: clicks through the window system, typing, menu items.

#include "DialogAnswerer.h"
#include "ParametrosFixture.h"

class DesktopDialogsFixture : public ParametrosFixture {
protected:
    std::unique_ptr<DialogAnswerer> m_answers;

    QLineEdit* edit(const QString& name) const { return form()->findChild<QLineEdit*>(name); }
    QAction* item(const QString& name) const { return form()->findChild<QAction*>(name); }
    QString message(const QString& key) const { return form()->msgPadrao.Msg(key); }
    void waitUntilSettled() { QTRY_VERIFY(DialogAnswerer::settled(m_window.get())); }

    // A click of the mouse, as the window system delivers it.
    void clickInto(QWidget* control) {
        QWidget* window = control->window();
        QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {},
                          control->mapTo(window, control->rect().center()));
    }
    // Clicks into the control and types the text over whatever it holds.
    void typeOver(QLineEdit* control, const QString& text) {
        clickInto(control);
        QTRY_COMPARE(focused(), static_cast<QWidget*>(control));
        control->selectAll();
        QTest::keyClick(control, Qt::Key_Delete);
        QTest::keyClicks(control, text);
    }
    // A key typed now goes where the focus is; it must change what the control shows.
    void nextKeystrokesLandIn(QLineEdit* control) {
        const QString before = control->text();
        QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_End);
        for (Qt::Key key : {Qt::Key_Backspace, Qt::Key_Backspace, Qt::Key_1})
            QTest::keyClick(static_cast<QWidget*>(nullptr), key);
        QVERIFY2(control->text() != before, qPrintable(control->objectName()));
    }
    void openOn(const char* menuItem) {
        openScreen();
        QTRY_VERIFY(form() && form()->ActivationCount() > 0);
        waitUntilSettled();
        item(QString::fromLatin1(menuItem))->trigger();
    }

    // A key pressed while the main window is active: it goes where the focus is.
    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
        QTest::keyClick(m_window->windowHandle(), key, modifiers);
    }
    // Starts the desktop with its real boxes, answered by keys.
    void startOnDesktop() {
        startDesktop();
        services().unattended = false;
        m_answers = std::make_unique<DialogAnswerer>();
    }
    void stopOnDesktop() {
        stopDesktop();
        m_answers.reset();
    }
};
