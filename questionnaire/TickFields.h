#pragma once
// What the questionnaire rules share: the tick fields' names and values, the service's
// association calls, whose results are checked and dropped, and the busy animation they show.

#include "Consiste.h"
#include "HostServices.h"
#include "NetConnection.h"

namespace questionnaire {

inline const QString IDCARG = QStringLiteral("IDCARG");
inline const QString IDDEPT = QStringLiteral("IDDEPT");
inline const QString IDPADR = QStringLiteral("IDPADR");
inline const QString IDCHECK = QStringLiteral("IDCHECK");
inline const QString Ticked = QStringLiteral("S");
inline const QString NotTicked = QStringLiteral("N");

// "N", empty text and no value all count as not ticked for the click rules.
inline bool isUnticked(const QString& value) {
    return value.isEmpty() || value == NotTicked;
}

inline void callService(TNetConnection& connection, const QString& method,
                        const QVector<protocol::Argument>& args) {
    CheckResultServ(connection.AppServer().call(method, args), true, 0);
}

// The host's busy animation while it lives, however the work ends.
class BusyShown {
public:
    BusyShown() { ActiveShowAvi(host().mainForm(), 1); }
    ~BusyShown() { DeactiveShowAvi(); }
    BusyShown(const BusyShown&) = delete;
    BusyShown& operator=(const BusyShown&) = delete;
};

} // namespace questionnaire
