#pragma once
// Binds a record set to controls: relays state changes, record changes and focus requests,
// and puts the set into edit for a control that is about to change it (automatic editing).

#include "ClientDataSet.h"

#include <functional>

class TDataSource;

// A bound control's side of the binding. A link that is destroyed leaves its data sources.
class DataLink {
public:
    DataLink() = default;
    DataLink(const DataLink&) = delete;
    DataLink& operator=(const DataLink&) = delete;
    virtual ~DataLink();
    virtual void linkStateChanged() {}
    virtual void linkRecordChanged(TField* /*field: null for all*/) {}
    virtual void linkUpdateRecord() {}
    virtual void linkFocusControl(TField&) {}
    // The data source is being destroyed: forget it.
    virtual void linkSourceDestroyed() {}

private:
    friend class TDataSource;
    QList<TDataSource*> m_linkedTo;
};

class TDataSource : private DataSetObserver {
public:
    explicit TDataSource(QString name = {}, TClientDataSet* dataSet = nullptr);
    ~TDataSource() override;
    TDataSource(const TDataSource&) = delete;
    TDataSource& operator=(const TDataSource&) = delete;

    QString Name() const { return m_name; }
    TClientDataSet* DataSet() const { return m_dataSet; }
    void SetDataSet(TClientDataSet* dataSet);
    DataSetState State() const { return m_dataSet ? m_dataSet->State() : DataSetState::Inactive; }

    bool AutoEdit = true;
    std::function<void(TDataSource&)> OnStateChange;

    // Puts a browsed set into edit when automatic editing is on; returns whether it is editing.
    bool Edit();

    void addLink(DataLink* link);
    void removeLink(DataLink* link);

private:
    void dataSetStateChanged() override;
    void dataSetRecordChanged() override;
    void dataSetFieldChanged(TField& field) override;
    void dataSetUpdateRecord() override;
    void dataSetFocusControl(TField& field) override;
    void dataSetDestroyed() override;

    QString m_name;
    TClientDataSet* m_dataSet = nullptr;
    QList<DataLink*> m_links;
};
