#pragma once
// One line per event on stderr, whole lines even when several threads write at once. Text that
// came from a client can neither start a line of its own nor make one long: control characters
// are written escaped and a line is cut at a fixed length.

#include <QString>

namespace rhserver {

constexpr int MaxLogLine = 1000;

void logLine(const QString& line);

// For events any client can cause at will (connections made and ended, refused requests): at
// most a few dozen lines a second for the whole process; the lines left out are counted in the
// next one written.
void logClientEvent(const QString& line);

} // namespace rhserver
