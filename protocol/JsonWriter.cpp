#include "JsonWriter.h"

#include <charconv>
#include <cmath>
#include <stdexcept>

namespace protocol {

void JsonWriter::separate() {
    if (m_needComma) m_out.push_back(',');
}

void JsonWriter::beginObject() {
    separate();
    m_out.push_back('{');
    m_needComma = false;
}

void JsonWriter::endObject() {
    m_out.push_back('}');
    m_needComma = true;
}

void JsonWriter::beginArray() {
    separate();
    m_out.push_back('[');
    m_needComma = false;
}

void JsonWriter::endArray() {
    m_out.push_back(']');
    m_needComma = true;
}

void JsonWriter::key(std::string_view name) {
    string(name);
    m_out.push_back(':');
    m_needComma = false;
}

void JsonWriter::string(std::string_view utf8) {
    separate();
    m_out.push_back('"');
    static const char hex[] = "0123456789abcdef";
    const auto plain = [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u >= 0x20 && c != '"' && c != '\\';
    };
    size_t from = 0;
    while (from < utf8.size()) {
        // Runs of characters that need no escape are copied whole.
        size_t to = from;
        while (to < utf8.size() && plain(utf8[to]))
            ++to;
        m_out.append(utf8.data() + from, to - from);
        if (to == utf8.size()) break;
        const char c = utf8[to];
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            m_out += "\\\"";
            break;
        case '\\':
            m_out += "\\\\";
            break;
        case '\n':
            m_out += "\\n";
            break;
        case '\r':
            m_out += "\\r";
            break;
        case '\t':
            m_out += "\\t";
            break;
        default:
            m_out += "\\u00";
            m_out.push_back(hex[u >> 4]);
            m_out.push_back(hex[u & 0xf]);
        }
        from = to + 1;
    }
    m_out.push_back('"');
    m_needComma = true;
}

void JsonWriter::string(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    string(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
}

void JsonWriter::number(double value) {
    if (!std::isfinite(value)) throw std::invalid_argument("JSON has no infinite or NaN numbers");
    separate();
    char buffer[32];
    // Plain digits from 2^64 up would be an integer too big for the reader: use an exponent.
    auto [end, ec] = std::abs(value) >= 1e18 ? std::to_chars(buffer, buffer + sizeof buffer, value,
                                                             std::chars_format::scientific)
                                             : std::to_chars(buffer, buffer + sizeof buffer, value);
    m_out.append(buffer, end);
    m_needComma = true;
}

void JsonWriter::integer(std::int64_t value) {
    separate();
    char buffer[24];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    m_out.append(buffer, end);
    m_needComma = true;
}

void JsonWriter::boolean(bool value) {
    separate();
    m_out += value ? "true" : "false";
    m_needComma = true;
}

void JsonWriter::null() {
    separate();
    m_out += "null";
    m_needComma = true;
}

void JsonWriter::raw(std::string_view json) {
    separate();
    m_out += json;
    m_needComma = true;
}

} // namespace protocol
