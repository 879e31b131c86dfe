#pragma once
// Data packets and deltas as JSON, both directions.

#include "JsonWriter.h"
#include "Packet.h"
#include "PacketColumns.h"

#include <simdjson.h>
#include <stdexcept>

namespace protocol {

// Bounds that keep the work of one packet or delta small and linear: the records here have a few
// dozen fields, and a change log holds the rows edited since the last save.
constexpr int MaxFields = 256;
constexpr int MaxChanges = 1000;

// A packet or delta that is not valid; the message says what is wrong, in Portuguese.
class ProtocolError : public std::runtime_error {
public:
    // TooLarge: well formed, but past MaxFields or MaxChanges. Unstorable: a text holds a
    // character no database column keeps.
    enum class Kind { Invalid, TooLarge, Unstorable };
    explicit ProtocolError(const QString& message, Kind kind = Kind::Invalid)
        : std::runtime_error(message.toStdString())
        , m_message(message)
        , m_kind(kind) {}
    const QString& message() const { return m_message; }
    Kind kind() const { return m_kind; }

private:
    QString m_message;
    Kind m_kind;
};

void writeValue(JsonWriter& out, const FieldSpec& field, const QVariant& value);
void writeFields(JsonWriter& out, const QVector<FieldSpec>& fields);
void writePacket(JsonWriter& out, const DataPacket& packet);
void writeDelta(JsonWriter& out, const Delta& delta);
std::string packetToJson(const DataPacket& packet);
std::string deltaToJson(const Delta& delta);

// Parsing throws ProtocolError and never returns a partly filled result.
PacketColumns parseColumns(simdjson::dom::element element);
DataPacket parsePacket(simdjson::dom::element element);
Delta parseDelta(simdjson::dom::element element);
DataPacket packetFromJson(std::string_view json);
Delta deltaFromJson(std::string_view json);

QString toQString(std::string_view utf8);

} // namespace protocol
