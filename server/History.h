#pragma once
// The audit rows as a data packet, newest first: the service's change history.

#include "Storage.h"

#include "protocol/Rpc.h"

#include <string>

namespace rhserver {

struct HistoryQuery {
    QString branch; // empty: every branch (and the rows of no branch)
    QString from;   // ISO 8601 instant, inclusive; empty: no lower bound
    QString to;     // ISO 8601 instant, exclusive; empty: no upper bound
    QString before; // audit number; only older rows, for the next page; empty: the newest
};

// Throws ServiceError (-32602) for a bound or number it cannot read.
std::string historyJson(Storage& storage, const HistoryQuery& query);

} // namespace rhserver
