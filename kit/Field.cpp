#include "Field.h"

#include "ClientDataSet.h"
#include "Exceptions.h"
#include "Formats.h"

namespace {
const QString DateFormat = QStringLiteral("dd/MM/yyyy");
}

TField::TField(TClientDataSet* dataSet, int index, const protocol::FieldSpec& definition)
    : m_dataSet(dataSet)
    , m_index(index)
    , m_spec(definition) {}

QVariant TField::Value() const {
    return m_dataSet->valueAt(m_index);
}
void TField::SetValue(const QVariant& value) {
    m_dataSet->setValueAt(m_index, value);
}

QString TField::AsString() const {
    const QVariant v = Value();
    if (v.isNull()) return {};
    switch (m_spec.type) {
    case FieldType::String:
        return v.toString();
    case FieldType::Float:
        return FloatToStr(v.toDouble());
    case FieldType::Date:
        return v.toDate().toString(DateFormat);
    }
    return {};
}

double TField::AsFloat() const {
    const QVariant v = Value();
    if (v.isNull()) return 0.0;
    if (m_spec.type == FieldType::Float) return v.toDouble();
    if (auto d = StrToFloat(v.toString())) return *d;
    throw EDatabaseError(QStringLiteral("'%1' não é um valor numérico válido").arg(v.toString()));
}

QDate TField::AsDate() const {
    const QVariant v = Value();
    return m_spec.type == FieldType::Date ? v.toDate() : QDate();
}

QString TField::defaultText(bool displayText) const {
    const QVariant v = Value();
    if (v.isNull()) return {};
    if (m_spec.type == FieldType::Float) {
        const QString picture = displayText || EditFormat.isEmpty() ? DisplayFormat : EditFormat;
        return picture.isEmpty() ? FloatToStr(v.toDouble()) : FormatFloat(picture, v.toDouble());
    }
    return AsString();
}

QString TField::DisplayText() const {
    QString text = defaultText(true);
    if (OnGetText) OnGetText(const_cast<TField&>(*this), text, true);
    return text;
}

QString TField::EditText() const {
    QString text = defaultText(false);
    if (OnGetText) OnGetText(const_cast<TField&>(*this), text, false);
    return text;
}

void TField::SetText(const QString& text) {
    if (OnSetText) {
        OnSetText(*this, text);
        return;
    }
    const QString trimmed = text.trimmed();
    switch (m_spec.type) {
    case FieldType::String:
        SetValue(text.isEmpty() ? QVariant() : QVariant(text));
        return;
    case FieldType::Float: {
        if (trimmed.isEmpty()) {
            Clear();
            return;
        }
        const auto value = StrToFloat(trimmed);
        if (!value)
            throw EDatabaseError(
                QStringLiteral("'%1' não é um valor numérico válido").arg(trimmed));
        SetValue(*value);
        return;
    }
    case FieldType::Date: {
        if (trimmed.isEmpty()) {
            Clear();
            return;
        }
        const QDate date = QDate::fromString(trimmed, DateFormat);
        if (!date.isValid())
            throw EDatabaseError(QStringLiteral("'%1' não é uma data válida").arg(trimmed));
        SetValue(date);
        return;
    }
    }
}

void TField::FocusControl() {
    m_dataSet->focusField(*this);
}
