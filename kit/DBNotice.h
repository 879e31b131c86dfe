#pragma once
// A line of text shown while its data source's record set is open but holds no record, so that
// blank bound controls are not left without a word.

#include "DataSource.h"

#include <QLabel>

class TDBEmptyNotice : public QLabel, public DataLink {
    Q_OBJECT
public:
    TDBEmptyNotice(QWidget* parent, const QString& name, const QString& text);
    void SetDataSource(TDataSource* source);

private:
    void linkStateChanged() override { follow(); }
    void linkRecordChanged(TField*) override { follow(); }
    void linkSourceDestroyed() override;
    void follow();

    TDataSource* m_source = nullptr;
};
