#pragma once
// A typed field of a record set: its definition, its value in the current record, its texts.

#include "protocol/Packet.h"

#include <functional>

class TClientDataSet;

using protocol::FieldType;

class TField {
public:
    TField(TClientDataSet* dataSet, int index, const protocol::FieldSpec& definition);

    QString FieldName() const { return m_spec.name; }
    FieldType DataType() const { return m_spec.type; }
    int Size() const { return m_spec.size; }
    const protocol::FieldSpec& definition() const { return m_spec; }
    int index() const { return m_index; }
    TClientDataSet* DataSet() const { return m_dataSet; }

    QString DisplayLabel;
    QString DisplayFormat;
    QString EditFormat;
    bool Visible = true;
    // Text hooks: get-text gets displayText=true for the display text, false for the edit text.
    std::function<void(TField& sender, QString& text, bool displayText)> OnGetText;
    std::function<void(TField& sender, const QString& text)> OnSetText;

    // Value in the current record (the edit buffer while editing); null when there is none.
    QVariant Value() const;
    void SetValue(const QVariant& value); // only while editing
    void Clear() { SetValue(QVariant()); }
    bool IsNull() const { return Value().isNull(); }
    QString AsString() const;
    double AsFloat() const;
    QDate AsDate() const;

    QString DisplayText() const;
    QString EditText() const;
    // Writes a text typed by the user, through OnSetText when there is one.
    void SetText(const QString& text);

    // Asks the bound control to take the focus.
    void FocusControl();

private:
    QString defaultText(bool displayText) const;
    TClientDataSet* m_dataSet;
    int m_index;
    protocol::FieldSpec m_spec;
};
