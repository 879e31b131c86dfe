// The decoder of packets and deltas: a text it accepts is written back by the writer and read
// again to the same values, so what the audit keeps replays as what was applied.

#include "protocol/PacketJson.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

bool sameRow(const protocol::Row& a, const protocol::Row& b) {
    if (a.size() != b.size()) return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a[i].isNull() != b[i].isNull()) return false;
        if (a[i].isNull()) continue;
        if (a[i].typeId() == QMetaType::Double) {
            if (a[i].toDouble() != b[i].toDouble()) return false;
        } else if (a[i] != b[i]) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const protocol::Delta delta = protocol::deltaFromJson(text);
        if (delta.fields.size() > protocol::MaxFields ||
            delta.changes.size() > protocol::MaxChanges)
            std::abort();
        const protocol::Delta again = protocol::deltaFromJson(protocol::deltaToJson(delta));
        if (again.fields != delta.fields || again.changes.size() != delta.changes.size())
            std::abort();
        for (qsizetype i = 0; i < delta.changes.size(); ++i)
            if (again.changes[i].op != delta.changes[i].op ||
                !sameRow(again.changes[i].oldValues, delta.changes[i].oldValues) ||
                !sameRow(again.changes[i].newValues, delta.changes[i].newValues))
                std::abort();
    } catch (const protocol::ProtocolError&) {
    }
    try {
        const protocol::DataPacket packet = protocol::packetFromJson(text);
        const protocol::DataPacket again = protocol::packetFromJson(protocol::packetToJson(packet));
        if (again.fields != packet.fields || again.rows.size() != packet.rows.size()) std::abort();
        for (qsizetype i = 0; i < packet.rows.size(); ++i)
            if (!sameRow(again.rows[i], packet.rows[i])) std::abort();
    } catch (const protocol::ProtocolError&) {
    }
    return 0;
}
