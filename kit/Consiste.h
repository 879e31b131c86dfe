#pragma once
// The host's validation routines shared by every screen.

#include "protocol/Packet.h"
#include "protocol/Rpc.h"

#include <QString>

// Whether the text counts as empty: nothing, or blanks only.
bool EmptyString(const QString& text);
// A code in its stored form: trimmed, right-aligned to the width and filled with zeros on the
// left ("1" with 4 gives "0001"). A longer code is returned trimmed and otherwise unchanged.
QString Ajusta(const QString& text, int width);
// Shows the text as an error; with stop, ends the running command with a quiet abort.
void MensErro(const QString& text, bool stop);
// The data packet of a server result; raises EServerError with the server's sentence when the
// result reports a failure. A write method's result gives an empty packet.
protocol::DataPacket CheckResultServ(const protocol::Response& result, bool showError, int number);
// The same check, with the packet as it was read (null for a write method's answer), for loading
// a record set without making a value object per cell.
std::shared_ptr<const protocol::PacketColumns> CheckResultColumns(const protocol::Response& result);
