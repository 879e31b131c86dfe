#pragma once
// "Histórico de alterações": the service's audit rows, newest first, filtered by branch and
// period, each with who changed which record and which fields from what to what.

#include "HistoryDecode.h"
#include "NetConnection.h"

#include <QHash>
#include <QWidget>

struct HistoryUndo;

class DesktopServices;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QTreeWidget;

class HistoryWindow : public QWidget {
    Q_OBJECT
public:
    explicit HistoryWindow(DesktopServices& services, QWidget* parent = nullptr);

    // Reads the first page again with the filters as they are now.
    void refresh();
    // Adds the next page of older rows.
    void loadOlder();
    // Writes the rows shown to a CSV file the user chooses.
    void exportRows();
    // Takes back the change of the selected row, once the user confirms what will be written.
    void undoSelected();
    // Why the undo would give a questionnaire a second mode (by position, by department,
    // standard) in its branch, which the screen never allows; empty when it would not.
    QString tieModeConflict(const HistoryUndo& undo);

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    void fitColumns(bool measure);
    void showDetails();
    void createFilters();
    void createList();
    void load(qint64 before);
    // Greys the list and says so while it is not of the filters shown.
    void showListIsOfTheFilter(bool current);
    // Offers undo for the selected row when it can be taken back and the key may write.
    void updateUndo();
    // The name of a code, read from the shared database once per list and refresh.
    QString nameOf(const contract::NameList& list, const QString& code);
    // Every row of a lookup of the service; none when it cannot answer now.
    QVector<protocol::Row> readRows(const QString& lookup);
    NameOf names();
    const HistoryEntry* selectedEntry() const;

    DesktopServices& m_services;
    TNetConnection m_connection;
    QHBoxLayout* m_filters = nullptr;
    QComboBox* m_branch = nullptr;
    QCheckBox* m_period = nullptr;
    QDateEdit* m_from = nullptr;
    QDateEdit* m_to = nullptr;
    QPushButton* m_refresh = nullptr;
    QPushButton* m_older = nullptr;
    QPushButton* m_export = nullptr;
    QPushButton* m_undo = nullptr;
    QTreeWidget* m_list = nullptr;
    class QPlainTextEdit* m_details = nullptr;
    int m_textWidths[4] = {};
    QLabel* m_stale = nullptr;
    qint64 m_oldest = 0;
    QVector<HistoryEntry> m_shown; // the rows in the list, in its order
    QHash<const contract::NameList*, QHash<QString, QString>> m_names;
};
