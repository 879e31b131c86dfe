#pragma once
// The in-memory record set: typed fields, a current-row cursor, the edit cycle and the change
// log that goes to the server as a delta.

#include "DataSetObserver.h"
#include "Field.h"
#include "protocol/PacketColumns.h"

#include <QList>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

enum class DataSetState { Inactive, Browse, Edit, Insert };

class TClientDataSet {
public:
    using Event = std::function<void(TClientDataSet&)>;

    explicit TClientDataSet(QString name = {});
    ~TClientDataSet();
    TClientDataSet(const TClientDataSet&) = delete;
    TClientDataSet& operator=(const TClientDataSet&) = delete;

    QString Name() const { return m_name; }

    // Field definitions. A set without definitions takes those of the first packet it gets.
    TField& AddField(const protocol::FieldSpec& definition, const QString& displayLabel = {});
    int FieldCount() const { return int(m_fields.size()); }
    TField& Fields(int index) const { return *m_fields[size_t(index)]; }
    TField* FindField(const QString& name) const;
    TField& FieldByName(const QString& name) const; // throws EDatabaseError when absent

    Event BeforeEdit, AfterEdit, BeforePost, AfterPost, BeforeCancel, AfterCancel;
    Event BeforeInsert, AfterInsert, BeforeScroll, AfterScroll;

    DataSetState State() const { return m_state; }
    bool Active() const { return m_state != DataSetState::Inactive; }
    bool Editing() const {
        return m_state == DataSetState::Edit || m_state == DataSetState::Insert;
    }
    bool IsEmpty() const;
    int RecordCount() const { return int(m_rows.size()); }
    int RecNo() const { return m_current; } // 0-based; -1 when empty or inactive
    bool Eof() const { return m_eof; }
    bool Bof() const { return m_bof; }

    // Replaces the whole content; a packet that does not fit the fields is refused and the
    // current content kept.
    void SetData(const protocol::DataPacket& packet);
    // The same from a packet as the connection reads it; its values stay in its columns, shared,
    // and become value objects only when read.
    void SetData(std::shared_ptr<const protocol::PacketColumns> packet);
    // The current content, as posted (the edit buffer is not included).
    protocol::DataPacket Data() const;
    // A field's value in a record as posted (0-based record number); null when out of range.
    QVariant ValueAt(int recNo, int field) const;
    void Close();

    void Edit();
    // While editing: whether any value differs from the record as it was (a new record: whether
    // any value was given).
    bool Modified() const;
    void Insert();
    void Post();
    void Cancel();

    void First();
    void Next();
    void Prior();
    void Last();
    void MoveTo(int recNo);

    int ChangeCount() const { return int(m_changeLog.size()); }
    protocol::Delta Delta() const;
    void MergeChangeLog();
    // Takes back every posted change not yet merged: changed records get their values as last
    // merged again, inserted ones go.
    void CancelUpdates();

    void addObserver(DataSetObserver* observer);
    void removeObserver(DataSetObserver* observer);

private:
    friend class TField;
    struct Record {
        enum class Status : quint8 { Unchanged, Modified, Inserted };
        // Its own values: once changed, or when it did not come from loaded columns. Kept apart
        // so that a loaded record takes 24 bytes.
        std::unique_ptr<protocol::Row> values;
        int id = 0;      // names the record in the change log; positions move on an insert
        int source = -1; // its row in the loaded columns, while it has no values of its own
        Status status = Status::Unchanged;
    };

    QVariant valueAt(int field) const;
    void setValueAt(int field, const QVariant& value);
    void focusField(TField& field);
    void checkActive() const;
    void setState(DataSetState state);
    void moveCursor(int target);
    void notifyRecordChanged();
    void fire(const Event& event);
    QVector<int> columnsFor(const QVector<protocol::FieldSpec>& packetFields) const;
    void replaceContent(std::vector<Record> rows, const QVector<protocol::FieldSpec>& adopted,
                        std::shared_ptr<const protocol::PacketColumns> loaded,
                        QVector<int> loadedColumns);
    QVariant recordValue(const Record& rec, int field) const;
    protocol::Row recordValues(const Record& rec) const;

    QString m_name;
    std::vector<std::unique_ptr<TField>> m_fields;
    std::vector<Record> m_rows;
    std::shared_ptr<const protocol::PacketColumns> m_loaded;
    QVector<int> m_loadedColumns; // the loaded column of each field
    std::vector<int> m_changeLog; // ids of the records changed since the last merge, in order
    // The values as last merged of each Modified record, by id: kept apart, as a loaded record
    // is a few bytes and most are never changed.
    std::unordered_map<int, protocol::Row> m_originals;
    int m_nextId = 1;
    protocol::Row m_buffer;
    DataSetState m_state = DataSetState::Inactive;
    int m_current = -1;
    bool m_eof = true;
    bool m_bof = true;
    QList<DataSetObserver*> m_observers;
};
