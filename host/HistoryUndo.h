#pragma once
// Taking back a change the history lists: the call that writes the values the change replaced,
// through the service's ordinary methods, so its conflict check and audit apply to it.

#include "HistoryDecode.h"
#include "protocol/Rpc.h"

#include <optional>

struct HistoryUndo {
    QString method;
    QVector<protocol::Argument> args;
    HistoryEntry written; // what the call writes, in the history's words
};

// The call that takes back what the row did, or nothing when it cannot be taken back: a
// refusal, a record's insertion, every tie of a questionnaire undone at once, a row that
// changed no value.
//
// A record's change is sent back with the values it wrote as the old ones: when the record was
// changed again since, the service answers with a conflict and writes nothing.
std::optional<HistoryUndo> undoOf(const HistoryEntry& entry, const NameOf& nameOf);
