#pragma once
// One line per event on stderr, whole lines even when several threads write at once. Text that
// came from a client can neither start a line of its own nor make one long: control characters
// are written escaped and a line is cut at a fixed length.

#include <QString>

namespace rhserver {

constexpr int MaxLogLine = 1000;

void logLine(const QString& line);

// For events any client can cause at will (connections made and ended, refused requests): at
// most a few dozen lines a second for each client address, so that one address's flood does not
// silence the others; the lines left out are counted in the next one written for that address.
void logClientEvent(const QString& address, const QString& line);

} // namespace rhserver
