#pragma once
// One line per event on stderr, whole lines even when several threads write at once.

#include <QString>

namespace rhserver {

void logLine(const QString& line);

} // namespace rhserver
