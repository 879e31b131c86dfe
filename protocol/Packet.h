#pragma once
// Data packets and deltas: the values that travel between the service and the record sets.

#include <QDate>
#include <QString>
#include <QVariant>
#include <QVector>

namespace protocol {

enum class FieldType { String, Float, Date };

struct FieldSpec {
    QString name;
    FieldType type = FieldType::String;
    int size = 0; // characters, for strings only

    bool operator==(const FieldSpec&) const = default;
};

// A value is a null QVariant, a QString, a double or a QDate, by the field's type.
using Row = QVector<QVariant>;

struct DataPacket {
    QVector<FieldSpec> fields;
    QVector<Row> rows;

    int indexOf(const QString& fieldName) const;
};

struct DeltaChange {
    enum class Op { Update, Insert };
    Op op = Op::Update;
    Row oldValues; // empty for an insert
    Row newValues;
};

struct Delta {
    QVector<FieldSpec> fields;
    QVector<DeltaChange> changes;

    int indexOf(const QString& fieldName) const;
};

QString typeName(FieldType type);
// The position of the field of that name, matched without regard to case; -1 when absent.
int fieldIndex(const QVector<FieldSpec>& fields, const QString& name);

// Empty when the value fits the field; otherwise a sentence that says why it does not.
QString checkValue(const FieldSpec& field, const QVariant& value);

} // namespace protocol
