#include "DataSource.h"

TDataSource::TDataSource(QString name, TClientDataSet* dataSet)
    : m_name(std::move(name)) {
    SetDataSet(dataSet);
}

DataLink::~DataLink() {
    for (TDataSource* s : QList<TDataSource*>(m_linkedTo))
        s->removeLink(this);
}

TDataSource::~TDataSource() {
    if (m_dataSet) m_dataSet->removeObserver(this);
    for (DataLink* l : QList<DataLink*>(m_links)) {
        l->m_linkedTo.removeAll(this);
        l->linkSourceDestroyed();
    }
}

void TDataSource::dataSetDestroyed() {
    m_dataSet = nullptr;
    for (DataLink* l : QList<DataLink*>(m_links))
        l->linkStateChanged();
}

void TDataSource::SetDataSet(TClientDataSet* dataSet) {
    if (dataSet == m_dataSet) return;
    if (m_dataSet) m_dataSet->removeObserver(this);
    m_dataSet = dataSet;
    if (m_dataSet) m_dataSet->addObserver(this);
    for (DataLink* l : QList<DataLink*>(m_links)) {
        l->linkStateChanged();
        l->linkRecordChanged(nullptr);
    }
}

bool TDataSource::Edit() {
    if (!m_dataSet) return false;
    if (AutoEdit && m_dataSet->State() == DataSetState::Browse) m_dataSet->Edit();
    return m_dataSet->Editing();
}

void TDataSource::addLink(DataLink* link) {
    if (m_links.contains(link)) return;
    m_links.append(link);
    link->m_linkedTo.append(this);
}

void TDataSource::removeLink(DataLink* link) {
    m_links.removeAll(link);
    link->m_linkedTo.removeAll(this);
}

void TDataSource::dataSetStateChanged() {
    for (DataLink* l : QList<DataLink*>(m_links))
        l->linkStateChanged();
    if (OnStateChange) OnStateChange(*this);
}

void TDataSource::dataSetRecordChanged() {
    for (DataLink* l : QList<DataLink*>(m_links))
        l->linkRecordChanged(nullptr);
}

void TDataSource::dataSetFieldChanged(TField& field) {
    for (DataLink* l : QList<DataLink*>(m_links))
        l->linkRecordChanged(&field);
}

void TDataSource::dataSetUpdateRecord() {
    for (DataLink* l : QList<DataLink*>(m_links))
        l->linkUpdateRecord();
}

void TDataSource::dataSetFocusControl(TField& field) {
    for (DataLink* l : QList<DataLink*>(m_links))
        l->linkFocusControl(field);
}
