// The questionnaire grid: three mutually exclusive tick columns, each tick sent to the service at
// once, and the events that tie the grid to its check lists.

#include "ModuleState.h"
#include "Parametros.h"
#include "TickFields.h"

#include "Exceptions.h"

using namespace questionnaire;

void TfrmParametros::bindQuestionnaireEvents() {
    positions.attach(dbgCargo);
    departments.attach(dbgDepto);
    cdsInspecao.BeforeScroll = [this](TClientDataSet&) { cdsInspecaoBeforeScroll(); };
    cdsInspecao.BeforeInsert = [this](TClientDataSet&) { cdsInspecaoBeforeInsert(); };
    cdsCargo.BeforeInsert = [this](TClientDataSet&) { cdsCargoBeforeInsert(); };
    cdsDepto.BeforeInsert = [this](TClientDataSet&) { cdsDeptoBeforeInsert(); };
    OnExit(panDepCarg, [this] { panDepCargExit(); });

    dbgQuestCand->OnCellClick = [this](TColumn& c) { dbgQuestCandCellClick(c); };
    dbgQuestCand->OnKeyDown = [this](int& key, Qt::KeyboardModifiers shift) {
        dbgQuestCandKeyDown(key, shift);
    };
    dbgQuestCand->OnColEnter = [this] { dbgQuestCandColEnter(); };
    OnEnter(dbgQuestCand, [this] { dbgQuestCandEnter(); });
    dbgQuestCand->OnDrawColumnCell = [this](QPainter* canvas, const QRect& rect, int col,
                                            TColumn& column, const QStyleOptionViewItem& state) {
        dbgQuestCandDrawColumnCell(canvas, rect, col, column, state);
    };

    dbgCargo->OnCellClick = [this](TColumn& c) { dbgCargoCellClick(c); };
    dbgCargo->OnKeyDown = [this](int& key, Qt::KeyboardModifiers shift) {
        dbgCargoKeyDown(key, shift);
    };
    dbgCargo->OnTitleClick = [this](TColumn& c) { dbgCargoTitleClick(c); };
    dbgCargo->OnColEnter = [this] { dbgCargoColEnter(); };
    OnEnter(dbgCargo, [this] { dbgCargoEnter(); });
    OnExit(dbgCargo, [this] { dbgCargoExit(); });
    dbgCargo->OnDrawColumnCell = [this](QPainter* canvas, const QRect& rect, int col,
                                        TColumn& column, const QStyleOptionViewItem& state) {
        dbgCargoDrawColumnCell(canvas, rect, col, column, state);
    };

    dbgDepto->OnCellClick = [this](TColumn& c) { dbgDeptoCellClick(c); };
    dbgDepto->OnKeyDown = [this](int& key, Qt::KeyboardModifiers shift) {
        dbgDeptoKeyDown(key, shift);
    };
    dbgDepto->OnTitleClick = [this](TColumn& c) { dbgDeptoTitleClick(c); };
    dbgDepto->OnColEnter = [this] { dbgDeptoColEnter(); };
    OnEnter(dbgDepto, [this] { dbgDeptoEnter(); });
    OnExit(dbgDepto, [this] { dbgDeptoExit(); });
    dbgDepto->OnDrawColumnCell = [this](QPainter* canvas, const QRect& rect, int col,
                                        TColumn& column, const QStyleOptionViewItem& state) {
        dbgDeptoDrawColumnCell(canvas, rect, col, column, state);
    };
}

void TfrmParametros::cdsInspecaoBeforeScroll() {
    Cli_zol00900::boCargVazio = false;
    Cli_zol00900::boDepVazio = false;
}

void TfrmParametros::cdsInspecaoBeforeInsert() {
    Abort();
}

void TfrmParametros::dbgQuestCandCellClick(TColumn& Column) {
    const QString field = Column.FieldName;
    try {
        if (field == IDCARG || field == IDDEPT || field == IDPADR) {
            cdsInspecao.Edit();
            TField& byPosition = cdsInspecao.FieldByName(IDCARG);
            TField& byDepartment = cdsInspecao.FieldByName(IDDEPT);
            TField& standard = cdsInspecao.FieldByName(IDPADR);
            const QString code = cdsInspecao.FieldByName(QStringLiteral("CDINSPECAO")).AsString();
            const bool ticking = isUnticked(cdsInspecao.FieldByName(field).AsString());
            if (field == IDCARG && ticking) {
                // A list just left empty dropped this mode: the click confirms the drop.
                if (!Cli_zol00900::boCargVazio) byPosition.SetValue(Ticked);
                byDepartment.SetValue(NotTicked);
                standard.SetValue(NotTicked);
            } else if (field == IDDEPT && ticking) {
                if (!Cli_zol00900::boDepVazio) byDepartment.SetValue(Ticked);
                byPosition.SetValue(NotTicked);
                standard.SetValue(NotTicked);
            } else if (field == IDPADR && ticking) {
                standard.SetValue(Ticked);
                byDepartment.SetValue(NotTicked);
                byPosition.SetValue(NotTicked);
            } else {
                byPosition.SetValue(NotTicked);
                byDepartment.SetValue(NotTicked);
                standard.SetValue(NotTicked);
            }

            const bool busy = field == IDPADR;
            if (busy) ActiveShowAvi(host().mainForm(), 1);
            callService(netParamZOL, QStringLiteral("SetDelTdCarg"), {FiliProc(), code});
            callService(netParamZOL, QStringLiteral("SetDelTdDep"), {FiliProc(), code});
            callService(netParamZOL,
                        field == IDPADR && ticking ? QStringLiteral("SetInsPad")
                                                   : QStringLiteral("SetDelPad"),
                        {code, FiliProc()});
            if (busy) DeactiveShowAvi();

            if (field == IDPADR) {
                dbgCargo->hide();
                dbgDepto->hide();
                cdsInspecao.Post();
            } else if (field == IDCARG && byPosition.AsString() == Ticked) {
                dbgCargo->show();
                dbgDepto->hide();
                cdsInspecao.Post();
                cdsInspecaoAfterScroll();
                dbgCargo->setFocus(Qt::OtherFocusReason);
            } else if (field == IDDEPT && byDepartment.AsString() == Ticked) {
                dbgCargo->hide();
                dbgDepto->show();
                cdsInspecao.Post();
                cdsInspecaoAfterScroll();
                dbgDepto->setFocus(Qt::OtherFocusReason);
            } else {
                // An untick: the row stays in edit until a later tick or a move posts it.
                dbgCargo->hide();
                dbgDepto->hide();
            }
        }
    } catch (...) {
        DeactiveShowAvi();
        throw;
    }
    Cli_zol00900::boCargVazio = false;
    Cli_zol00900::boDepVazio = false;
}

void TfrmParametros::dbgQuestCandKeyDown(int& key, Qt::KeyboardModifiers shift) {
    for (const QString& field : {IDCARG, IDDEPT, IDPADR}) {
        const TField* current = dbgQuestCand->SelectedField();
        if (current && current->FieldName() == field && key == Qt::Key_Space &&
            !(shift & Qt::ControlModifier))
            dbgQuestCandCellClick(dbgQuestCand->Columns[IndiceCol(dbgQuestCand, field)]);
    }
    // The grid never deletes a questionnaire.
    if (key == Qt::Key_Delete && (shift & Qt::ControlModifier)) key = 0;
}

void TfrmParametros::dbgQuestCandColEnter() {
    const TField* current = dbgQuestCand->SelectedField();
    const QString field = current ? current->FieldName() : QString();
    // Tick cells change only by click or Space, never through an editor.
    dbgQuestCand->InPlaceEditing = field != IDCARG && field != IDDEPT && field != IDPADR;
}

void TfrmParametros::dbgQuestCandEnter() {
    dbgQuestCandColEnter();
}
