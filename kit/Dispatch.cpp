#include "Dispatch.h"

#include "CallWait.h"
#include "Exceptions.h"
#include "HostServices.h"

#include <QDebug>

bool Dispatch(const std::function<void()>& handler, FailureReport report) {
    // A handler waiting for the server is still running: no other may start in between.
    if (CallWaiting()) return false;
    try {
        handler();
        return true;
    } catch (const EAbort&) {
        return false;
    } catch (const std::exception& e) {
        if (!hasHostServices())
            qWarning("Unhandled failure: %s", e.what());
        else if (report == FailureReport::Note)
            host().showStatus(QString::fromUtf8(e.what()));
        else
            host().handleException(e);
        return false;
    }
}

void DispatchDrawing(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        qWarning("Failure while drawing: %s", e.what());
    }
}
