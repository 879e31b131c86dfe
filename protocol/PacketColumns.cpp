#include "PacketColumns.h"

#include <algorithm>

namespace protocol {

namespace {
bool isAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return (static_cast<unsigned char>(c) & 0x80) == 0; });
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
        const qsizetype expected = column.texts.size() * rows / m_rows * 9 / 8;
        if (expected > column.texts.capacity()) column.texts.reserve(expected);
    }
}

void PacketColumns::finish() {
    for (Column& column : m_columns)
        if (column.texts.capacity() - column.texts.size() > column.texts.size() / 8)
            column.texts.squeeze();
}

void PacketColumns::appendNull(int column) {
    Column& c = m_columns[size_t(column)];
    c.nulls.push_back(true);
    if (m_fields[column].type == FieldType::String)
        c.ends.push_back(c.texts.size());
    else
        c.numbers.push_back(0);
}

void PacketColumns::appendText(int column, std::string_view utf8) {
    Column& c = m_columns[size_t(column)];
    c.nulls.push_back(false);
    // Most texts are plain ASCII, which is Latin-1 too and needs no decoding.
    if (isAscii(utf8))
        c.texts.append(QLatin1StringView(utf8.data(), qsizetype(utf8.size())));
    else
        c.texts.append(QString::fromUtf8(utf8.data(), qsizetype(utf8.size())));
    c.ends.push_back(c.texts.size());
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
        return QString(c.texts.constData() + start, c.ends[size_t(row)] - start);
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
