#pragma once
// A small compact-JSON writer: the generic document classes cost more per call than the network.

#include <QString>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace protocol {

class JsonWriter {
public:
    void beginObject();
    void endObject();
    void beginArray();
    void endArray();
    void key(std::string_view name);

    void string(std::string_view utf8);
    void string(const QString& text);
    void string(const char* utf8) { string(std::string_view(utf8)); }
    void number(double value); // shortest text that reads back as the same double
    void integer(std::int64_t value);
    void boolean(bool value);
    void null();
    void raw(std::string_view json); // an already valid JSON value

    const std::string& text() const { return m_out; }
    std::string take() { return std::move(m_out); }

private:
    void separate();
    std::string m_out;
    bool m_needComma = false;
};

} // namespace protocol
