#include "Dispatch.h"

#include "CallWait.h"
#include "Exceptions.h"
#include "HostServices.h"

#include <QDebug>

bool Dispatch(const std::function<void()>& handler) {
    // A handler waiting for the server is still running: no other may start in between.
    if (CallWaiting()) return false;
    try {
        handler();
        return true;
    } catch (const EAbort&) {
        return false;
    } catch (const std::exception& e) {
        if (hasHostServices())
            host().handleException(e);
        else
            qWarning("Unhandled failure: %s", e.what());
        return false;
    }
}
