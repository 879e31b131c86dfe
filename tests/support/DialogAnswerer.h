#pragma once
// Answers the desktop's real message boxes with a key, as a person does once the box is up and
// active, and keeps what each one said.

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QtTest>

class DialogAnswerer : public QObject {
public:
    QStringList texts; // every box answered, in order
    // The next answers: Return, Escape, or a button's letter with Alt; Return when empty.
    QList<QKeyCombination> keys;
    // A question that throws typing away is answered "Descartar alterações" with its letter.
    static constexpr QKeyCombination Discard{Qt::AltModifier, Qt::Key_D};

    DialogAnswerer() {
        connect(&m_poll, &QTimer::timeout, this, [this] { answerOpenBox(); });
        m_poll.start(10);
    }

    // The desktop is back to its window: no box open and the window that opened it active.
    static bool settled(QWidget* window) {
        return !QApplication::activeModalWidget() && window->isActiveWindow();
    }

private:
    void answerOpenBox() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        // A window manager activates a new window a moment after it is mapped, and finishes its
        // own work on it a moment later: a person reads the box before answering.
        if (QGuiApplication::platformName() != u"offscreen" && !box->isActiveWindow()) return;
        if (box != m_seen) {
            m_seen = box;
            m_seenFor.start();
        }
        if (m_seenFor.elapsed() < ReadingMs) return;
        m_seen = nullptr;
        texts << box->text();
        QPointer<QWidget> owner = box->parentWidget() ? box->parentWidget()->window() : nullptr;
        const QKeyCombination key =
            keys.isEmpty() ? QKeyCombination(Qt::Key_Return) : keys.takeFirst();
        QTest::keyClick(box->windowHandle(), key.key(), key.keyboardModifiers());
        // Without a window manager nothing gives the activation back: do what one does, once
        // the box's own event loop has ended. A window manager on a loaded machine may drop it:
        // then the person clicks the window, which asks the manager for it the same way.
        if (!owner) return;
        if (QGuiApplication::platformName() == u"offscreen")
            QTimer::singleShot(0, owner, [owner] { owner->activateWindow(); });
        else
            QTimer::singleShot(GiveBackMs, owner, [owner] {
                if (!QApplication::activeModalWidget() && !owner->isActiveWindow())
                    owner->activateWindow();
            });
    }

    static constexpr qint64 ReadingMs = 300;
    static constexpr int GiveBackMs = 1000;
    QTimer m_poll;
    QPointer<QMessageBox> m_seen;
    QElapsedTimer m_seenFor;
};
