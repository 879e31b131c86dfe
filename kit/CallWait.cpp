#include "CallWait.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

namespace {
int waitDepth = 0;

bool isUserInput(QEvent::Type type) {
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::NonClientAreaMouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::InputMethod:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::TabletMove:
    case QEvent::Drop:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Close:
        return true;
    default:
        return false;
    }
}
} // namespace

bool CallWaiting() {
    return waitDepth > 0;
}

bool CallWait::Available() {
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

CallWait::CallWait() {
    ++waitDepth;
    QCoreApplication::instance()->installEventFilter(this);
}

CallWait::~CallWait() {
    QCoreApplication::instance()->removeEventFilter(this);
    --waitDepth;
}

bool CallWait::eventFilter(QObject* /*watched*/, QEvent* event) {
    // Input sent straight to a widget bypasses the loop's own exclusion: drop it here too.
    if (!isUserInput(event->type())) return false;
    event->ignore();
    return true;
}

void CallWait::recheck() {
    if (m_loop && m_ready && m_ready()) m_loop->quit();
}

bool CallWait::run(const std::function<bool()>& ready, int timeoutMs) {
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(std::max(0, timeoutMs));
    m_ready = ready;
    m_loop = &loop;
    // Painting, the busy animation and the socket go on; clicks and keys wait in the queue.
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    m_loop = nullptr;
    m_ready = nullptr;
    return ready();
}
