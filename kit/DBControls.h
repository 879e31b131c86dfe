#pragma once
// Data-aware controls: each shows one field of the record set behind its data source and puts
// the set into edit before the user changes it.

#include "DataSource.h"
#include "FocusMoves.h"

#include <QComboBox>
#include <QDate>
#include <QGroupBox>
#include <QLineEdit>
#include <QPointer>
#include <functional>

class QButtonGroup;

// Key-press filter: gets the typed character's code and refuses it by setting it to 0.
using KeyPressHandler = std::function<void(QWidget* sender, int& key)>;

// A control that must write its text back before the focus may leave it.
class ExitCommit {
public:
    virtual ~ExitCommit() = default;
    virtual void commitOnExit() = 0; // may throw: the focus then stays
    // Writes what the control shows into its field, judging nothing else.
    virtual void writeBack() { commitOnExit(); }
    virtual void afterExit() {}
    // Shows text typed or picked for a record being edited that its field does not hold yet.
    virtual bool HasUnwrittenText() const { return false; }
};

// Runs a key-press filter through the dispatcher; true when the key may go on.
bool filterKey(const KeyPressHandler& handler, QWidget* sender, int& key);

class FieldLink : public DataLink {
public:
    TDataSource* DataSource() const { return m_source; }
    QString DataField() const { return m_fieldName; }
    TField* Field() const;
    bool DataSetEditing() const;

protected:
    void bind(TDataSource* source, const QString& fieldName);
    void unbind();
    ~FieldLink() override { unbind(); }
    // Puts the set into edit through the data source; false when it cannot be edited.
    bool startEditing();
    void linkSourceDestroyed() override { m_source = nullptr; }

private:
    TDataSource* m_source = nullptr;
    QString m_fieldName;
};

// Plain edit with a key-press filter (the branch code and name edits).
class TEdit : public QLineEdit {
    Q_OBJECT
public:
    TEdit(QWidget* parent, const QString& name);
    KeyPressHandler OnKeyPress;
    std::function<void()> OnChange; // every change of the text, typed or set

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
};

class TDBEdit : public QLineEdit, public FieldLink, public ExitCommit {
    Q_OBJECT
public:
    TDBEdit(QWidget* parent, const QString& name);
    void SetDataSource(TDataSource* source) { bind(source, DataField()); }
    void SetDataField(const QString& field) { bind(DataSource(), field); }
    KeyPressHandler OnKeyPress;

    // Writes a changed text into the field, when the set is being edited.
    void UpdateRecord();
    bool Modified() const { return m_modified; }
    void commitOnExit() override { UpdateRecord(); }
    void writeBack() override { UpdateRecord(); }
    void afterExit() override;
    bool HasUnwrittenText() const override { return m_modified && DataSetEditing(); }

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void linkStateChanged() override;
    void linkRecordChanged(TField* field) override;
    void linkUpdateRecord() override { UpdateRecord(); }
    void linkFocusControl(TField& field) override;
    virtual QString textForField() const { return text(); }
    virtual bool acceptsChar(int key) const;
    void refresh();

private:
    int typingLimit() const;
    // For a number field: whether the text with `typed` put at the cursor has more digits than
    // the limit allows.
    bool exceedsNumberLimit(const QString& typed) const;
    bool m_modified = false;
    bool m_refreshing = false;
    int m_maxLength = 0;

public:
    // Limits what can be typed, not what is shown (a display text may be longer). Without a
    // limit of its own a text field's size is the limit.
    void setMaxLength(int length) { m_maxLength = length; }
    int maxLength() const { return typingLimit(); }
};

class TDBDateEditPlus : public TDBEdit {
    Q_OBJECT
public:
    TDBDateEditPlus(QWidget* parent, const QString& name);
    QColor ValidDateColor = Qt::blue;
    QStringList NomeSemana;
    bool SaveTime = false;

    // Raises when the typed text is not a date; an empty editor passes.
    void CheckValidDate();
    QDate GetDate() const;
    void SetDate(const QDate& date); // as the calendar does: starts editing first
    // The editor judges its text before the field takes it.
    void commitOnExit() override;

protected:
    QString textForField() const override;
    bool acceptsChar(int key) const override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    void showCalendar();
    void paintValidity();
};

class TDBRadioGroup : public QGroupBox, public FieldLink {
    Q_OBJECT
public:
    TDBRadioGroup(QWidget* parent, const QString& name, const QString& caption,
                  const QStringList& items, const QStringList& values, int columns);
    void SetDataSource(TDataSource* source) { bind(source, DataField()); }
    void SetDataField(const QString& field) { bind(DataSource(), field); }
    int ItemIndex() const { return m_index; }
    std::function<void()> OnChange; // every change of the value, loads included
    QStringList Values;

protected:
    void linkStateChanged() override { refresh(); }
    void linkRecordChanged(TField* field) override;

private:
    void refresh();
    void userClicked(int index);
    void setIndex(int index);
    QButtonGroup* m_buttons;
    int m_index = -1;
};

class TDBComboBox : public QComboBox, public FieldLink {
    Q_OBJECT
public:
    TDBComboBox(QWidget* parent, const QString& name, const QStringList& items);
    void SetDataSource(TDataSource* source) { bind(source, DataField()); }
    void SetDataField(const QString& field) { bind(DataSource(), field); }
    int ItemIndex() const { return currentIndex(); }
    KeyPressHandler OnKeyPress;
    std::function<void()> OnChange; // a choice by the user

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void linkStateChanged() override { refresh(); }
    void linkRecordChanged(TField* field) override;
    void linkFocusControl(TField& field) override;

private:
    void refresh();
    void userChose(int index);
    bool m_refreshing = false;
};
