#include "PacketColumns.h"

namespace protocol {

namespace {
// Decodes well-formed UTF-8 into `out`, which has room for one unit per byte; answers the units
// written, or -1 at the first sequence that is not plain well-formed UTF-8 (an overlong form, a
// surrogate) or, for Latin-1 units, at the first character past U+00FF. What is refused is left
// to the next wider form, and at last to Qt's decoder and its replacement characters.
template <typename Unit> qsizetype decodeUtf8(std::string_view in, Unit* out) {
    constexpr bool latin1 = sizeof(Unit) == 1;
    const auto* p = reinterpret_cast<const unsigned char*>(in.data());
    const unsigned char* const end = p + in.size();
    Unit* const first = out;
    while (p < end) {
        const unsigned b = *p;
        if (b < 0x80) {
            *out++ = Unit(b);
            ++p;
        } else if (b >= 0xC2 && b < (latin1 ? 0xC4 : 0xE0) && end - p >= 2 &&
                   (p[1] & 0xC0) == 0x80) {
            *out++ = Unit(((b & 0x1F) << 6) | (p[1] & 0x3F));
            p += 2;
        } else if (latin1) {
            return -1;
        } else if (b >= 0xE0 && b < 0xF0 && end - p >= 3 && (p[1] & 0xC0) == 0x80 &&
                   (p[2] & 0xC0) == 0x80) {
            const unsigned u = ((b & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F);
            if (u < 0x800 || (u >= 0xD800 && u < 0xE000)) return -1;
            *out++ = Unit(u);
            p += 3;
        } else if (b >= 0xF0 && b < 0xF5 && end - p >= 4 && (p[1] & 0xC0) == 0x80 &&
                   (p[2] & 0xC0) == 0x80 && (p[3] & 0xC0) == 0x80) {
            const unsigned u =
                ((b & 0x07) << 18) | ((p[1] & 0x3F) << 12) | ((p[2] & 0x3F) << 6) | (p[3] & 0x3F);
            if (u < 0x10000 || u > 0x10FFFF) return -1;
            *out++ = Unit(0xD800 + ((u - 0x10000) >> 10));
            *out++ = Unit(0xDC00 + ((u - 0x10000) & 0x3FF));
            p += 4;
        } else {
            return -1;
        }
    }
    return out - first;
}

// Appends the decoded text to `buffer` in one pass, its room taken first (no form takes more
// units than UTF-8 takes bytes); false, with the buffer as it was, when decodeUtf8 refuses it.
template <typename Buffer, typename Unit>
bool appendDecoded(Buffer& buffer, std::string_view utf8) {
    const qsizetype start = buffer.size();
    buffer.resize(start + qsizetype(utf8.size()));
    const qsizetype written = decodeUtf8(utf8, reinterpret_cast<Unit*>(buffer.data()) + start);
    buffer.resize(written < 0 ? start : start + written);
    return written >= 0;
}
} // namespace

PacketColumns::PacketColumns(QVector<FieldSpec> fields)
    : m_fields(std::move(fields))
    , m_columns(size_t(m_fields.size())) {}

void PacketColumns::reserve(int rows) {
    for (int c = 0; c < m_fields.size(); ++c) {
        Column& column = m_columns[size_t(c)];
        column.nulls.reserve(size_t(rows));
        if (m_fields[c].type == FieldType::String)
            column.ends.reserve(size_t(rows));
        else
            column.numbers.reserve(size_t(rows));
    }
}

void PacketColumns::reserveTexts(int rows) {
    if (m_rows == 0) return;
    for (Column& column : m_columns) {
        const qsizetype expected = column.textSize() * rows / m_rows * 9 / 8;
        if (expected <= column.textCapacity()) continue;
        if (column.wide)
            column.utf16.reserve(expected);
        else
            column.latin1.reserve(expected);
    }
}

void PacketColumns::finish() {
    for (Column& column : m_columns) {
        if (column.textCapacity() - column.textSize() <= column.textSize() / 8) continue;
        column.latin1.squeeze();
        column.utf16.squeeze();
    }
}

void PacketColumns::appendNull(int column) {
    Column& c = m_columns[size_t(column)];
    c.nulls.push_back(true);
    if (m_fields[column].type == FieldType::String)
        c.ends.push_back(quint32(c.textSize()));
    else
        c.numbers.push_back(0);
}

void PacketColumns::appendText(int column, std::string_view utf8) {
    Column& c = m_columns[size_t(column)];
    c.nulls.push_back(false);
    if (!c.wide && !appendDecoded<QByteArray, char>(c.latin1, utf8)) c.widen();
    if (c.wide && !appendDecoded<QString, char16_t>(c.utf16, utf8))
        c.utf16.append(QString::fromUtf8(utf8.data(), qsizetype(utf8.size())));
    c.ends.push_back(quint32(c.textSize()));
}

void PacketColumns::Column::widen() {
    utf16.reserve(latin1.capacity());
    utf16.append(QLatin1StringView(latin1));
    latin1 = QByteArray();
    wide = true;
}

void PacketColumns::appendNumber(int column, double number) {
    Column& c = m_columns[size_t(column)];
    c.nulls.push_back(false);
    c.numbers.push_back(number);
}

void PacketColumns::appendDate(int column, QDate date) {
    Column& c = m_columns[size_t(column)];
    c.nulls.push_back(false);
    c.numbers.push_back(double(date.toJulianDay()));
}

qsizetype PacketColumns::textStart(int row, int column) const {
    return row == 0 ? 0 : m_columns[size_t(column)].ends[size_t(row) - 1];
}

bool PacketColumns::isNull(int row, int column) const {
    return m_columns[size_t(column)].nulls[size_t(row)];
}

qsizetype PacketColumns::textLength(int row, int column) const {
    const Column& c = m_columns[size_t(column)];
    if (m_fields[column].type != FieldType::String || c.nulls[size_t(row)]) return 0;
    return c.ends[size_t(row)] - textStart(row, column);
}

QVariant PacketColumns::value(int row, int column) const {
    const Column& c = m_columns[size_t(column)];
    if (c.nulls[size_t(row)]) return {};
    switch (m_fields[column].type) {
    case FieldType::String: {
        const qsizetype start = textStart(row, column);
        const qsizetype length = c.ends[size_t(row)] - start;
        if (c.wide) return QString(c.utf16.constData() + start, length);
        return QString::fromLatin1(c.latin1.constData() + start, length);
    }
    case FieldType::Float:
        return c.numbers[size_t(row)];
    case FieldType::Date:
        return QDate::fromJulianDay(qint64(c.numbers[size_t(row)]));
    }
    return {};
}

Row PacketColumns::row(int row) const {
    Row values(m_fields.size());
    for (int c = 0; c < m_fields.size(); ++c)
        values[c] = value(row, c);
    return values;
}

DataPacket PacketColumns::toPacket() const {
    DataPacket packet;
    packet.fields = m_fields;
    packet.rows.reserve(m_rows);
    for (int r = 0; r < m_rows; ++r)
        packet.rows.push_back(row(r));
    return packet;
}

} // namespace protocol
