#pragma once
// Data packets and deltas as JSON, both directions.

#include "JsonWriter.h"
#include "Packet.h"

#include <simdjson.h>
#include <stdexcept>

namespace protocol {

// A packet or delta that is not valid; the message says what is wrong, in Portuguese.
class ProtocolError : public std::runtime_error {
public:
    explicit ProtocolError(const QString& message)
        : std::runtime_error(message.toStdString())
        , m_message(message) {}
    const QString& message() const { return m_message; }

private:
    QString m_message;
};

void writeValue(JsonWriter& out, const FieldSpec& field, const QVariant& value);
void writeFields(JsonWriter& out, const QVector<FieldSpec>& fields);
void writePacket(JsonWriter& out, const DataPacket& packet);
void writeDelta(JsonWriter& out, const Delta& delta);
std::string packetToJson(const DataPacket& packet);
std::string deltaToJson(const Delta& delta);

// Parsing throws ProtocolError and never returns a partly filled result.
DataPacket parsePacket(simdjson::dom::element element);
Delta parseDelta(simdjson::dom::element element);
DataPacket packetFromJson(std::string_view json);
Delta deltaFromJson(std::string_view json);

QString toQString(std::string_view utf8);

} // namespace protocol
