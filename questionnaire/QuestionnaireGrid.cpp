// The questionnaire grid: three mutually exclusive tick columns, each tick sent to the service at
// once, and the list each tick brings up.

#include "Questionario.h"

#include "contract/Methods.h"

#include "TickFields.h"

#include "Exceptions.h"

using namespace questionnaire;

void TQuestionario::cdsInspecaoBeforeScroll() {
    m_leftEmpty.positions = false;
    m_leftEmpty.departments = false;
}

void TQuestionario::cdsInspecaoBeforeInsert() {
    Abort();
}

void TQuestionario::dbgQuestCandCellClick(TColumn& Column) {
    if (m_connection.ReadOnly()) return; // the key in use may only read
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
                if (!m_leftEmpty.positions) byPosition.SetValue(Ticked);
                byDepartment.SetValue(NotTicked);
                standard.SetValue(NotTicked);
            } else if (field == IDDEPT && ticking) {
                if (!m_leftEmpty.departments) byDepartment.SetValue(Ticked);
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
            callService(m_connection, contract::method::SetDelTdCarg, {FiliProc(), code});
            callService(m_connection, contract::method::SetDelTdDep, {FiliProc(), code});
            callService(m_connection,
                        field == IDPADR && ticking ? contract::method::SetInsPad
                                                   : contract::method::SetDelPad,
                        {code, FiliProc()});
            if (busy) DeactiveShowAvi();

            if (field == IDPADR) {
                showOnlyList(nullptr);
                cdsInspecao.Post();
            } else if (field == IDCARG && byPosition.AsString() == Ticked) {
                showOnlyList(dbgCargo);
                cdsInspecao.Post();
                cdsInspecaoAfterScroll();
                dbgCargo->setFocus(Qt::OtherFocusReason);
            } else if (field == IDDEPT && byDepartment.AsString() == Ticked) {
                showOnlyList(dbgDepto);
                cdsInspecao.Post();
                cdsInspecaoAfterScroll();
                dbgDepto->setFocus(Qt::OtherFocusReason);
            } else {
                // An untick: the row stays in edit until a later tick or a move posts it.
                showOnlyList(nullptr);
            }
        }
    } catch (...) {
        DeactiveShowAvi();
        throw;
    }
    m_leftEmpty.positions = false;
    m_leftEmpty.departments = false;
}

void TQuestionario::dbgQuestCandKeyDown(int& key, Qt::KeyboardModifiers shift) {
    for (const QString& field : {IDCARG, IDDEPT, IDPADR}) {
        const TField* current = dbgQuestCand->SelectedField();
        if (current && current->FieldName() == field && key == Qt::Key_Space &&
            !(shift & Qt::ControlModifier))
            dbgQuestCandCellClick(dbgQuestCand->Columns[IndiceCol(dbgQuestCand, field)]);
    }
    // The grid never deletes a questionnaire.
    if (key == Qt::Key_Delete && (shift & Qt::ControlModifier)) key = 0;
}

void TQuestionario::dbgQuestCandColEnter() {
    const TField* current = dbgQuestCand->SelectedField();
    const QString field = current ? current->FieldName() : QString();
    // Tick cells change only by click or Space, never through an editor.
    dbgQuestCand->InPlaceEditing = field != IDCARG && field != IDDEPT && field != IDPADR;
}

void TQuestionario::dbgQuestCandEnter() {
    dbgQuestCandColEnter();
}
