#pragma once
// A check list of the questionnaire page, of positions or of departments: a tick ties the row to
// the current questionnaire on the service at once, the tick column's title inverts every tick,
// and leaving the list with nothing ticked drops the questionnaire's mode. Both lists are this
// one class; what tells them apart is data, so they cannot go different ways.

#include "DBGrid.h"
#include "FormPadrao.h"
#include "NetConnection.h"
#include "contract/Methods.h"

#include <deque>
#include <functional>

class TCheckList {
public:
    // A tie method of the service; where it takes the branch, the questionnaire and the row is
    // the contract's.
    using TieCall = QLatin1String;

    // What a list is: the questionnaire's tick it belongs to, its table's fields, the service's
    // methods, and the words its messages use.
    struct Kind {
        QString modeField;
        QString codeField, nameField;
        QString readMethod;
        // In the order the service receives them.
        QList<TieCall> tickCalls, untickCalls;
        // Whether a tick shows the busy animation while its calls wait: the department list's
        // does, the position list's does not.
        bool busyWhileTicking;
        QString ofOne, ofMany;
        // Left with nothing ticked: the next tick of the mode in the questionnaire grid only
        // confirms the drop.
        bool& leftEmpty;
    };

    // The list's rows are `rows`; `questionnaires` holds the questionnaire they belong to. The
    // form keeps itself open while an inversion runs, and shows its progress.
    TCheckList(Kind kind, TClientDataSet& rows, TClientDataSet& questionnaires,
               TNetConnection& connection, TfrmPadrao& form);
    TCheckList(const TCheckList&) = delete;
    TCheckList& operator=(const TCheckList&) = delete;

    // The grid that shows the rows, once the page is built.
    void attach(TDBGrid* grid) { m_grid = grid; }
    TDBGrid* grid() const { return m_grid; }
    TClientDataSet& rows() const { return m_rows; }

    // Reads the list of the questionnaire, with the busy animation.
    void load(const QString& questionnaire);

    // The list's events.
    void beforeInsert();
    void cellClick(TColumn& column);
    void keyDown(int& key, Qt::KeyboardModifiers shift);
    void titleClick(TColumn& column);
    void exit();
    void enter();
    void colEnter();

private:
    // A tick of one row; a failing call ends it and is added to the failures.
    void click(TColumn& column, QStringList& failures);
    void toggleCurrentRow();
    void call(const QList<TieCall>& calls, const QString& questionnaire, const QString& row);
    void collectTickFailure(QStringList& failures, const std::function<void()>& click);
    // Tells the failures once and shows the list as the service holds it.
    void showTickFailures(const QStringList& failures);
    void invertTicks(const std::function<void(TColumn&)>& click);
    // A row of an inversion whose calls went out and whose answers were not read yet.
    struct SentRow {
        QString label; // "code - name", as failures name the row
        QVector<std::int64_t> calls;
    };
    // Reads the row's answers; its first failure is added to the failures.
    void settle(const SentRow& row, QStringList& failures);
    QString currentRowLabel() const;

    const Kind m_kind;
    TClientDataSet& m_rows;
    TClientDataSet& m_questionnaires;
    TNetConnection& m_connection;
    TfrmPadrao& m_form;
    TDBGrid* m_grid = nullptr;
    // While an inversion sends, the calls of the row being ticked go here instead of waiting.
    QVector<std::int64_t>* m_sending = nullptr;
};
