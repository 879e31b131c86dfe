#pragma once
// What the screen may store in a field beyond its type: one-letter codes and day counts.

#include "protocol/Packet.h"

namespace rhserver {

// Empty when the value may be stored in the column; otherwise the sentence for the user.
QString ruleProblem(const protocol::FieldSpec& column, const QVariant& value);

} // namespace rhserver
