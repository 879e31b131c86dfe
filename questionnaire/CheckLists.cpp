// The position and department check lists of the current questionnaire: ticking a row, the
// keyboard, inverting a whole list by its title and leaving a list with nothing ticked.

#include "ModuleState.h"
#include "Parametros.h"
#include "TickFields.h"

#include "Exceptions.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProgressDialog>

using namespace questionnaire;

namespace {

// From this many rows an inversion shows how far it has got.
constexpr int ProgressFromRows = 100;
// How often a running inversion brings its progress and the windows up to date.
constexpr qint64 ProgressEveryMs = 40;

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

void TfrmParametros::cdsCargoBeforeInsert() {
    Abort();
}

void TfrmParametros::cdsDeptoBeforeInsert() {
    Abort();
}

void TfrmParametros::dbgCargoCellClick(TColumn& Column) {
    QStringList failures;
    positionClick(Column, failures);
    if (!failures.isEmpty()) showTickFailures(positionList(), failures);
}

void TfrmParametros::positionClick(TColumn& column, QStringList& failures) {
    // A list left on screen for a questionnaire with blank ticks is closed: nothing to tick.
    if (column.FieldName != IDCHECK || !cdsCargo.Active()) return;
    collectTickFailure(positionList(), failures, [&] {
        cdsInspecao.Edit();
        cdsCargo.Edit();
        TField& check = cdsCargo.FieldByName(IDCHECK);
        const QString code = cdsInspecao.FieldByName(QStringLiteral("CDINSPECAO")).AsString();
        const QString position = cdsCargo.FieldByName(QStringLiteral("CDCARGO")).AsString();
        if (isUnticked(check.AsString())) {
            check.SetValue(Ticked);
            cdsInspecao.FieldByName(IDCARG).SetValue(Ticked);
            cdsInspecao.FieldByName(IDPADR).SetValue(NotTicked);
            cdsInspecao.FieldByName(IDDEPT).SetValue(NotTicked);
            callService(netParamZOL, QStringLiteral("SetInsCarg"), {FiliProc(), code, position});
            callService(netParamZOL, QStringLiteral("SetDelTdDep"), {FiliProc(), code});
            callService(netParamZOL, QStringLiteral("SetDelPad"), {code, FiliProc()});
        } else {
            callService(netParamZOL, QStringLiteral("SetDelCarg"), {FiliProc(), code, position});
            callService(netParamZOL, QStringLiteral("SetDelTdDep"), {FiliProc(), code});
            callService(netParamZOL, QStringLiteral("SetDelPad"), {code, FiliProc()});
            cdsInspecao.FieldByName(IDDEPT).SetValue(NotTicked);
            cdsInspecao.FieldByName(IDPADR).SetValue(NotTicked);
            check.SetValue(NotTicked);
        }
        cdsCargo.Post();
        cdsInspecao.Post();
    });
}

void TfrmParametros::dbgDeptoCellClick(TColumn& Column) {
    QStringList failures;
    departmentClick(Column, failures);
    if (!failures.isEmpty()) showTickFailures(departmentList(), failures);
}

void TfrmParametros::departmentClick(TColumn& column, QStringList& failures) {
    ActiveShowAvi(host().mainForm(), 1);
    if (column.FieldName == IDCHECK && cdsDepto.Active()) {
        collectTickFailure(departmentList(), failures, [&] {
            cdsInspecao.Edit();
            cdsDepto.Edit();
            TField& check = cdsDepto.FieldByName(IDCHECK);
            const QString code = cdsInspecao.FieldByName(QStringLiteral("CDINSPECAO")).AsString();
            const QString item = cdsDepto.FieldByName(QStringLiteral("CDDEPTO")).AsString();
            if (isUnticked(check.AsString())) {
                cdsInspecao.FieldByName(IDDEPT).SetValue(Ticked);
                check.SetValue(Ticked);
                cdsInspecao.FieldByName(IDCARG).SetValue(NotTicked);
                cdsInspecao.FieldByName(IDPADR).SetValue(NotTicked);
                callService(netParamZOL, QStringLiteral("SetDelTdCarg"), {FiliProc(), code});
                callService(netParamZOL, QStringLiteral("SetInsDep"), {code, FiliProc(), item});
                callService(netParamZOL, QStringLiteral("SetDelPad"), {code, FiliProc()});
            } else {
                callService(netParamZOL, QStringLiteral("SetDelTdCarg"), {FiliProc(), code});
                callService(netParamZOL, QStringLiteral("SetDelDep"), {code, FiliProc(), item});
                callService(netParamZOL, QStringLiteral("SetDelPad"), {code, FiliProc()});
                cdsInspecao.FieldByName(IDPADR).SetValue(NotTicked);
                cdsInspecao.FieldByName(IDCARG).SetValue(NotTicked);
                check.SetValue(NotTicked);
            }
            cdsDepto.Post();
            cdsInspecao.Post();
        });
    }
    DeactiveShowAvi();
}

TfrmParametros::TickList TfrmParametros::positionList() {
    return {cdsCargo,
            QStringLiteral("CDCARGO"),
            QStringLiteral("NMCARGO"),
            QStringLiteral("GetCargo"),
            QStringLiteral("do cargo"),
            QStringLiteral("cargos")};
}

TfrmParametros::TickList TfrmParametros::departmentList() {
    return {cdsDepto,
            QStringLiteral("CDDEPTO"),
            QStringLiteral("NMDEPTO"),
            QStringLiteral("GetDepto"),
            QStringLiteral("do departamento"),
            QStringLiteral("departamentos")};
}

// A failing call ends the click without passing the failure on; the caller reports what failed.
void TfrmParametros::collectTickFailure(const TickList& list, QStringList& failures,
                                        const std::function<void()>& click) {
    const QString row = list.set.FieldByName(list.codeField).AsString() + QStringLiteral(" - ") +
                        list.set.FieldByName(list.nameField).AsString();
    try {
        click();
    } catch (const EAbort&) {
        // Refused before any call (an empty list): nothing to report.
    } catch (const std::exception& e) {
        const auto* known = dynamic_cast<const Exception*>(&e);
        const QString why = known ? known->message() : QString::fromUtf8(e.what());
        failures << row + QStringLiteral(": ") + why;
    }
}

// A tick the service did not store must not stay on screen: say so once, and show the list as
// the service holds it.
void TfrmParametros::showTickFailures(const TickList& list, const QStringList& failures) {
    QString text = failures.size() == 1
                       ? QStringLiteral("Não foi possível gravar a marca %1 %2")
                             .arg(list.ofOne, failures.first())
                       : QStringLiteral("Não foi possível gravar a marca de %1 %2:\n%3")
                             .arg(failures.size())
                             .arg(list.ofMany, failures.join(u'\n'));
    const int row = list.set.RecNo();
    const QString code = cdsInspecao.FieldByName(QStringLiteral("CDINSPECAO")).AsString();
    ActiveShowAvi(host().mainForm(), 1);
    try {
        LoadFromServer(netParamZOL, list.set, list.readMethod, {code});
        if (row > 0) list.set.MoveTo(row);
        text += QStringLiteral("\nA lista mostra agora as marcas gravadas no servidor.");
    } catch (const Exception& e) {
        text += QStringLiteral("\nA lista não pôde ser lida novamente: %1").arg(e.message());
    }
    DeactiveShowAvi();
    MensErro(text, false);
}

void TfrmParametros::dbgCargoKeyDown(int& key, Qt::KeyboardModifiers shift) {
    const TField* current = dbgCargo->SelectedField();
    if (current && current->FieldName() == IDCHECK && key == Qt::Key_Space &&
        !(shift & Qt::ControlModifier))
        dbgCargoCellClick(dbgCargo->Columns[IndiceCol(dbgCargo, IDCHECK)]);
    if (key == Qt::Key_Delete && (shift & Qt::ControlModifier)) key = 0;
}

void TfrmParametros::dbgDeptoKeyDown(int& key, Qt::KeyboardModifiers shift) {
    const TField* current = dbgDepto->SelectedField();
    if (current && current->FieldName() == IDCHECK && key == Qt::Key_Space &&
        !(shift & Qt::ControlModifier))
        dbgDeptoCellClick(dbgDepto->Columns[IndiceCol(dbgDepto, IDCHECK)]);
    if (key == Qt::Key_Delete && (shift & Qt::ControlModifier)) key = 0;
}

void TfrmParametros::dbgCargoTitleClick(TColumn& Column) {
    if (!isTickColumn(dbgCargo, Column)) return;
    // Failed rows do not stop the inversion; they are told together at its end.
    QStringList failures;
    invertCheckList(dbgCargo, cdsCargo, [&](TColumn& tick) { positionClick(tick, failures); });
    if (!failures.isEmpty()) showTickFailures(positionList(), failures);
}

void TfrmParametros::dbgDeptoTitleClick(TColumn& Column) {
    if (!isTickColumn(dbgDepto, Column)) return;
    // Failed rows do not stop the inversion; they are told together at its end.
    QStringList failures;
    invertCheckList(dbgDepto, cdsDepto, [&](TColumn& tick) { departmentClick(tick, failures); });
    if (!failures.isEmpty()) showTickFailures(departmentList(), failures);
}

// Runs the list's click on the tick of every row, first to last, with the grid detached so that
// the walk is not painted; the current row ends on the last one.
void TfrmParametros::invertCheckList(TDBGrid* grid, TClientDataSet& set,
                                     const std::function<void(TColumn&)>& click) {
    if (!set.Active()) return;
    WaitCursor wait;
    // The progress keeps the event loop turning: closing the window must wait for the end.
    const LongWork working(*this);
    set.First();
    DetachedGrid detached(grid);
    TColumn& tick = grid->Columns[IndiceCol(grid, IDCHECK)];
    const int total = set.RecordCount();
    std::unique_ptr<QProgressDialog> progress;
    if (total >= ProgressFromRows) {
        progress = std::make_unique<QProgressDialog>(this);
        progress->setObjectName(QStringLiteral("prgInversao"));
        progress->setWindowTitle(QStringLiteral("Questionário"));
        progress->setCancelButton(nullptr);
        progress->setWindowModality(Qt::NonModal);
        progress->setMinimumDuration(0);
        progress->setRange(0, total);
        progress->show();
    }
    int done = 0;
    QElapsedTimer sinceShown;
    sinceShown.start();
    while (!set.Eof()) {
        click(tick);
        set.Next();
        ++done;
        // Shown after the first row, then a few times a second and at the last: drawing the
        // dialog and the windows after every row cost more than the row's three calls.
        if (progress && (done == 1 || set.Eof() || sinceShown.elapsed() >= ProgressEveryMs)) {
            sinceShown.restart();
            progress->setLabelText(
                QStringLiteral("Invertendo as marcas: %1 de %2").arg(done).arg(total));
            progress->setValue(done);
            // Keeps the windows painting; the user's keys and clicks wait for the end.
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        }
    }
}

void TfrmParametros::dbgCargoExit() {
    leaveCheckList(dbgCargo, cdsCargo, IDCARG, Cli_zol00900::boCargVazio);
}

void TfrmParametros::dbgDeptoExit() {
    leaveCheckList(dbgDepto, cdsDepto, IDDEPT, Cli_zol00900::boDepVazio);
}

// A list left with nothing ticked drops the questionnaire's mode, locally and unposted.
void TfrmParametros::leaveCheckList(TDBGrid* grid, TClientDataSet& set, const QString& modeField,
                                    bool& emptyFlag) {
    // A list closed under the focus (its questionnaire changed mode) has nothing to say.
    if (!set.Active()) return;
    set.First();
    DetachedGrid detached(grid);
    bool found = false;
    while (!set.Eof() && !found) {
        found = set.FieldByName(IDCHECK).AsString() == Ticked;
        set.Next();
    }
    if (!found) {
        cdsInspecao.Edit();
        cdsInspecao.FieldByName(modeField).SetValue(NotTicked);
        emptyFlag = true;
    } else {
        emptyFlag = false;
    }
}

void TfrmParametros::dbgCargoColEnter() {
    const TField* current = dbgCargo->SelectedField();
    dbgCargo->InPlaceEditing = !(current && current->FieldName() == IDCHECK);
}

void TfrmParametros::dbgDeptoColEnter() {
    const TField* current = dbgDepto->SelectedField();
    dbgDepto->InPlaceEditing = !(current && current->FieldName() == IDCHECK);
}

void TfrmParametros::dbgCargoEnter() {
    dbgCargoColEnter();
}

void TfrmParametros::dbgDeptoEnter() {
    dbgDeptoColEnter();
}
