#include "Packet.h"

namespace protocol {

int fieldIndex(const QVector<FieldSpec>& fields, const QString& name) {
    for (int i = 0; i < fields.size(); ++i)
        if (fields[i].name.compare(name, Qt::CaseInsensitive) == 0) return i;
    return -1;
}

int DataPacket::indexOf(const QString& fieldName) const {
    return fieldIndex(fields, fieldName);
}
int Delta::indexOf(const QString& fieldName) const {
    return fieldIndex(fields, fieldName);
}

QString typeName(FieldType type) {
    switch (type) {
    case FieldType::String:
        return QStringLiteral("string");
    case FieldType::Float:
        return QStringLiteral("float");
    case FieldType::Date:
        return QStringLiteral("date");
    }
    return {};
}

QString checkValue(const FieldSpec& field, const QVariant& value) {
    if (value.isNull()) return {};
    switch (field.type) {
    case FieldType::String:
        if (value.typeId() != QMetaType::QString)
            return QStringLiteral("o campo %1 espera texto").arg(field.name);
        if (static_cast<const QString*>(value.constData())->size() > field.size)
            return QStringLiteral("o texto do campo %1 passa de %2 caracteres")
                .arg(field.name)
                .arg(field.size);
        return {};
    case FieldType::Float:
        if (value.typeId() != QMetaType::Double)
            return QStringLiteral("o campo %1 espera um número").arg(field.name);
        if (!qIsFinite(value.toDouble()))
            return QStringLiteral("o campo %1 recebeu um número inválido").arg(field.name);
        return {};
    case FieldType::Date:
        if (value.typeId() != QMetaType::QDate || !value.toDate().isValid())
            return QStringLiteral("o campo %1 espera uma data").arg(field.name);
        return {};
    }
    return {};
}

} // namespace protocol
