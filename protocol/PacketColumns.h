#pragma once
// A data packet as the desktop keeps it: one array per field instead of an object per value.
// Texts of a field share one buffer; a value becomes a QVariant only when it is read.

#include "Packet.h"

#include <string_view>
#include <vector>

namespace protocol {

class PacketColumns {
public:
    explicit PacketColumns(QVector<FieldSpec> fields = {});

    const QVector<FieldSpec>& fields() const { return m_fields; }
    int rowCount() const { return m_rows; }

    bool isNull(int row, int column) const;
    // Characters of a text value (0 for a null or another type), without making the value.
    qsizetype textLength(int row, int column) const;
    QVariant value(int row, int column) const;
    Row row(int row) const;
    DataPacket toPacket() const;

    // Filling, a row at a time: every column gets one value, then endRow().
    void reserve(int rows);
    // Once some rows are in: room for the texts of `rows` rows, at the length seen so far, so
    // that a large packet's texts are not copied each time their buffer grows.
    void reserveTexts(int rows);
    // After the last row of a packet whose texts were reserved: gives back the room not used.
    void finish();
    void appendNull(int column);
    // The text must be valid UTF-8 (as the JSON parser leaves it).
    void appendText(int column, std::string_view utf8);
    void appendNumber(int column, double number);
    void appendDate(int column, QDate date);
    void endRow() { ++m_rows; }

private:
    // Where a row's text starts in its column's buffer.
    qsizetype textStart(int row, int column) const;

    // Every text of a column, one after the other: one byte a character while they all fit
    // in Latin-1 (as the texts of this system mostly do), UTF-16 once one does not.
    struct Column {
        QByteArray latin1;
        QString utf16;
        bool wide = false;
        std::vector<quint32> ends;   // where each row's text ends; a packet is under 4 GB
        std::vector<double> numbers; // floats; dates as Julian days
        std::vector<bool> nulls;
        qsizetype textSize() const { return wide ? utf16.size() : latin1.size(); }
        qsizetype textCapacity() const { return wide ? utf16.capacity() : latin1.capacity(); }
        // From Latin-1 to UTF-16, when the first text that does not fit comes.
        void widen();
    };

    QVector<FieldSpec> m_fields;
    std::vector<Column> m_columns;
    int m_rows = 0;
};

} // namespace protocol
