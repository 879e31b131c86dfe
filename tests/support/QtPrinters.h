#pragma once
// Readable failure messages for Qt values in GoogleTest.

#include <QDate>
#include <QString>
#include <QVariant>
#include <ostream>

inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QVariant& value, std::ostream* os) {
    if (value.isNull())
        *os << "null";
    else if (value.typeId() == QMetaType::QString)
        PrintTo(value.toString(), os);
    else
        *os << value.typeName() << '(' << value.toString().toStdString() << ')';
}
