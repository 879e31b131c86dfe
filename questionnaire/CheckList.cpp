// A check list of the current questionnaire: ticking a row, the keyboard, inverting a whole list
// by its title and leaving a list with nothing ticked.

#include "CheckList.h"
#include "TickFields.h"

#include "Exceptions.h"
#include "ServiceCalls.h"
#include "WindowHints.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProgressDialog>
#include <optional>

using namespace questionnaire;

namespace {

// From this many rows an inversion shows how far it has got.
constexpr int ProgressFromRows = 100;
// How often a running inversion brings its progress and the windows up to date.
constexpr qint64 ProgressEveryMs = 40;
// Rows of an inversion whose answers may be owed at once: enough to keep the service busy, few
// enough that a failure is known soon after its row.
constexpr size_t RowsInFlight = 64;

// Re-attaches a detached grid, however the walk over its record set ends.
class DetachedGrid {
public:
    DetachedGrid(TDBGrid* grid)
        : m_grid(grid)
        , m_source(grid->DataSource()) {
        m_grid->SetDataSource(nullptr);
    }
    ~DetachedGrid() { m_grid->SetDataSource(m_source); }
    DetachedGrid(const DetachedGrid&) = delete;
    DetachedGrid& operator=(const DetachedGrid&) = delete;

private:
    TDBGrid* m_grid;
    TDataSource* m_source;
};

class WaitCursor {
public:
    WaitCursor() { host().setWaitCursor(true); }
    ~WaitCursor() { host().setWaitCursor(false); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

bool isTickColumn(TDBGrid* grid, const TColumn& column) {
    const int tick = IndiceCol(grid, IDCHECK);
    return tick >= 0 && &column == &std::as_const(grid->Columns).at(tick);
}

} // namespace

TCheckList::TCheckList(Kind kind, TClientDataSet& rows, TClientDataSet& questionnaires,
                       TNetConnection& connection, TfrmPadrao& form)
    : m_kind(std::move(kind))
    , m_rows(rows)
    , m_questionnaires(questionnaires)
    , m_connection(connection)
    , m_form(form) {}

void TCheckList::load(const QString& questionnaire) {
    const BusyShown busy;
    LoadFromServer(m_connection, m_rows, m_kind.readMethod, {questionnaire});
}

void TCheckList::beforeInsert() {
    Abort();
}

void TCheckList::cellClick(TColumn& column) {
    QStringList failures;
    click(column, failures);
    if (!failures.isEmpty()) showTickFailures(failures);
}

void TCheckList::click(TColumn& column, QStringList& failures) {
    // A list left on screen for a questionnaire with blank ticks is closed: nothing to tick.
    if (column.FieldName != IDCHECK || !m_rows.Active()) return;
    std::optional<BusyShown> busy;
    if (m_kind.busyWhileTicking) busy.emplace();
    collectTickFailure(failures, [this] { toggleCurrentRow(); });
}

// The row's tick and the questionnaire's mode change together: a tick makes the list's mode the
// only one, an untick clears the other two and keeps this one.
void TCheckList::toggleCurrentRow() {
    m_questionnaires.Edit();
    m_rows.Edit();
    TField& check = m_rows.FieldByName(IDCHECK);
    const QString questionnaire =
        m_questionnaires.FieldByName(QStringLiteral("CDINSPECAO")).AsString();
    const QString row = m_rows.FieldByName(m_kind.codeField).AsString();
    const auto clearOtherModes = [&] {
        for (const QString& mode : {IDCARG, IDDEPT, IDPADR})
            if (mode != m_kind.modeField) m_questionnaires.FieldByName(mode).SetValue(NotTicked);
    };
    if (isUnticked(check.AsString())) {
        check.SetValue(Ticked);
        m_questionnaires.FieldByName(m_kind.modeField).SetValue(Ticked);
        clearOtherModes();
        call(m_kind.tickCalls, questionnaire, row);
    } else {
        call(m_kind.untickCalls, questionnaire, row);
        clearOtherModes();
        check.SetValue(NotTicked);
    }
    m_rows.Post();
    m_questionnaires.Post();
}

void TCheckList::call(const QList<TieCall>& calls, const QString& questionnaire,
                      const QString& row) {
    for (const TieCall method : calls) {
        const contract::Tie& tie =
            contract::findMethod({method.data(), size_t(method.size())})->tie;
        QVector<protocol::Argument> arguments(tie.itemArg >= 0 ? 3 : 2);
        arguments[tie.branchArg] = FiliProc();
        arguments[tie.inspecaoArg] = questionnaire;
        if (tie.itemArg >= 0) arguments[tie.itemArg] = row;
        if (m_sending)
            *m_sending << m_connection.AppServer().send(method, arguments);
        else
            callService(m_connection, method, arguments);
    }
}

namespace {
QString failureText(const std::exception& e) {
    const auto* known = dynamic_cast<const Exception*>(&e);
    return known ? known->message() : QString::fromUtf8(e.what());
}
} // namespace

QString TCheckList::currentRowLabel() const {
    return m_rows.FieldByName(m_kind.codeField).AsString() + QStringLiteral(" - ") +
           m_rows.FieldByName(m_kind.nameField).AsString();
}

// A failing call ends the click without passing the failure on; the caller reports what failed.
void TCheckList::collectTickFailure(QStringList& failures, const std::function<void()>& click) {
    const QString row = currentRowLabel();
    try {
        click();
    } catch (const EAbort&) {
        // Refused before any call (an empty list): nothing to report.
    } catch (const std::exception& e) {
        failures << row + QStringLiteral(": ") + failureText(e);
    }
}

void TCheckList::settle(const SentRow& row, QStringList& failures) {
    bool failed = false;
    // Every answer is read, so that the next row's come next.
    for (const std::int64_t call : row.calls) {
        try {
            const protocol::Response answer = m_connection.AppServer().receive(call);
            if (!failed) CheckResultServ(answer, true, 0);
        } catch (const std::exception& e) {
            if (!failed) failures << row.label + QStringLiteral(": ") + failureText(e);
            failed = true;
        }
    }
}

// A tick the service did not store must not stay on screen: say so once, and show the list as
// the service holds it.
void TCheckList::showTickFailures(const QStringList& failures) {
    QString text = failures.size() == 1
                       ? QStringLiteral("Não foi possível gravar a marca %1 %2")
                             .arg(m_kind.ofOne, failures.first())
                       : QStringLiteral("Não foi possível gravar a marca de %1 %2:\n%3")
                             .arg(failures.size())
                             .arg(m_kind.ofMany, failures.join(u'\n'));
    const int row = m_rows.RecNo();
    const QString questionnaire =
        m_questionnaires.FieldByName(QStringLiteral("CDINSPECAO")).AsString();
    try {
        const BusyShown busy;
        LoadFromServer(m_connection, m_rows, m_kind.readMethod, {questionnaire});
        if (row > 0) m_rows.MoveTo(row);
        text += QStringLiteral("\nA lista mostra agora as marcas gravadas no servidor.");
    } catch (const Exception& e) {
        text += QStringLiteral("\nA lista não pôde ser lida novamente: %1").arg(e.message());
    }
    MensErro(text, false);
}

void TCheckList::keyDown(int& key, Qt::KeyboardModifiers shift) {
    const TField* current = m_grid->SelectedField();
    if (current && current->FieldName() == IDCHECK && key == Qt::Key_Space &&
        !(shift & Qt::ControlModifier))
        cellClick(m_grid->Columns[IndiceCol(m_grid, IDCHECK)]);
    if (key == Qt::Key_Delete && (shift & Qt::ControlModifier)) key = 0;
}

void TCheckList::titleClick(TColumn& column) {
    if (!isTickColumn(m_grid, column)) return;
    // Failed rows do not stop the inversion; they are told together at its end. Each row's calls
    // go out in the rule's order without waiting for the rows before: the service answers them
    // in order, and a row's answers are read a window of rows later.
    QStringList failures;
    std::deque<SentRow> sent;
    invertTicks([&](TColumn& tick) {
        sent.push_back({currentRowLabel(), {}});
        m_sending = &sent.back().calls;
        click(tick, failures);
        m_sending = nullptr;
        if (sent.size() > RowsInFlight) {
            settle(sent.front(), failures);
            sent.pop_front();
        }
    });
    for (; !sent.empty(); sent.pop_front())
        settle(sent.front(), failures);
    if (!failures.isEmpty()) showTickFailures(failures);
}

// Runs the list's click on the tick of every row, first to last, with the grid detached so that
// the walk is not painted; the current row ends on the last one.
void TCheckList::invertTicks(const std::function<void(TColumn&)>& click) {
    if (!m_rows.Active()) return;
    WaitCursor wait;
    // The progress keeps the event loop turning: closing the window must wait for the end.
    const TfrmPadrao::LongWork working(m_form);
    m_rows.First();
    DetachedGrid detached(m_grid);
    TColumn& tick = m_grid->Columns[IndiceCol(m_grid, IDCHECK)];
    const int total = m_rows.RecordCount();
    std::unique_ptr<QProgressDialog> progress;
    if (total >= ProgressFromRows) {
        progress = std::make_unique<QProgressDialog>(&m_form);
        progress->setObjectName(QStringLiteral("prgInversao"));
        progress->setWindowTitle(QStringLiteral("Questionário"));
        GiveDialogHints(progress.get());
        progress->setCancelButton(nullptr);
        progress->setWindowModality(Qt::NonModal);
        progress->setMinimumDuration(0);
        progress->setRange(0, total);
        progress->show();
    }
    int done = 0;
    QElapsedTimer sinceShown;
    sinceShown.start();
    while (!m_rows.Eof()) {
        click(tick);
        m_rows.Next();
        ++done;
        // Shown after the first row, then a few times a second and at the last: drawing the
        // dialog and the windows after every row cost more than the row's three calls.
        if (progress && (done == 1 || m_rows.Eof() || sinceShown.elapsed() >= ProgressEveryMs)) {
            sinceShown.restart();
            progress->setLabelText(
                QStringLiteral("Invertendo as marcas: %1 de %2").arg(done).arg(total));
            progress->setValue(done);
            // Keeps the windows painting; the user's keys and clicks wait for the end.
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        }
    }
}

// A list left with nothing ticked drops the questionnaire's mode, locally and unposted.
void TCheckList::exit() {
    // A list closed under the focus (its questionnaire changed mode) has nothing to say.
    if (!m_rows.Active()) return;
    m_rows.First();
    DetachedGrid detached(m_grid);
    bool found = false;
    while (!m_rows.Eof() && !found) {
        found = m_rows.FieldByName(IDCHECK).AsString() == Ticked;
        m_rows.Next();
    }
    if (!found) {
        m_questionnaires.Edit();
        m_questionnaires.FieldByName(m_kind.modeField).SetValue(NotTicked);
        m_kind.leftEmpty = true;
    } else {
        m_kind.leftEmpty = false;
    }
}

void TCheckList::enter() {
    colEnter();
}

void TCheckList::colEnter() {
    const TField* current = m_grid->SelectedField();
    m_grid->InPlaceEditing = !(current && current->FieldName() == IDCHECK);
}
