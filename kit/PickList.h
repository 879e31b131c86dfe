#pragma once
// The search button's pick list: the visible columns of a record set's rows, keyboard first.
// Typing filters the rows (any visible column containing the text), the arrows move, Enter
// picks, Esc closes.

#include "ClientDataSet.h"

#include <QDialog>

class QLineEdit;
class QSortFilterProxyModel;
class QStandardItemModel;
class QTableView;

class TPickList : public QDialog {
    Q_OBJECT
public:
    TPickList(const TClientDataSet& rows, const QStringList& visibleFields, const QString& title,
              QWidget* parent = nullptr);
    // The record number of the row picked, or -1.
    int PickedRecord() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void selectFirstRow();
    void fitColumns();
    QLineEdit* m_filter;
    QTableView* m_table;
    QStandardItemModel* m_model;
    QSortFilterProxyModel* m_proxy;
};
