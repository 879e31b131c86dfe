// Which list of the current questionnaire is loaded and shown, moving between the questionnaires
// and that list, what tells the position list from the department list, and their events.

#include "Questionario.h"

#include "ServiceCalls.h"
#include "TickFields.h"

#include <QApplication>

using namespace questionnaire;

void TQuestionario::loadQuestionnaires() {
    ensurePage(); // its grids and the events of its record sets come with it
    LoadFromServer(m_connection, cdsInspecao, contract::method::GetInspecao,
                   {questionnaireLevelArgument()});
    shareRoom(); // the room the names need is known now
}

QString TQuestionario::questionnaireLevelArgument() const {
    return QString::number(DBPictObj(12).GetTtNiveis() - 1);
}

void TQuestionario::pageShown() {
    loadQuestionnaires();
    dbgQuestCand->setFocus(Qt::OtherFocusReason);
    cdsInspecaoAfterScroll();
}

void TQuestionario::cdsInspecaoAfterScroll() {
    ensurePage();
    const QString code = cdsInspecao.FieldByName(QStringLiteral("CDINSPECAO")).AsString();
    const QString byPosition = cdsInspecao.FieldByName(IDCARG).AsString();
    const QString byDepartment = cdsInspecao.FieldByName(IDDEPT).AsString();
    const QString standard = cdsInspecao.FieldByName(IDPADR).AsString();
    if (byPosition == Ticked) {
        m_positions.load(code);
        showOnlyList(dbgCargo);
    } else {
        cdsCargo.Close();
    }
    if (byDepartment == Ticked) {
        m_departments.load(code);
        showOnlyList(dbgDepto);
    } else {
        cdsDepto.Close();
    }
    // Only exact "N" values hide the lists; blank flags leave them as they were.
    if (standard == Ticked || (byPosition == NotTicked && byDepartment == NotTicked))
        showOnlyList(nullptr);
}

void TQuestionario::showOnlyList(const TDBGrid* list) {
    dbgCargo->setVisible(list == dbgCargo);
    dbgDepto->setVisible(list == dbgDepto);
}

// Leaving the panel of the two lists brings the lower area back in line with the current
// questionnaire's mode, which leaving a list may just have dropped.
void TQuestionario::panDepCargExit() {
    cdsInspecaoAfterScroll();
}

void TQuestionario::leaveFocusedList(QWidget* focused) {
    if (!focused || !dbgQuestCand) return; // no page built, no list to leave
    if (focused == dbgCargo)
        dbgCargoExit();
    else if (focused == dbgDepto)
        dbgDeptoExit();
}

void TQuestionario::formKeyDown(int& key, Qt::KeyboardModifiers shift) {
    if (!dbgQuestCand) return; // the page was never built: the focus is elsewhere
    const TCheckList* shown = nullptr;
    if (cdsInspecao.FieldByName(IDCARG).AsString() == Ticked)
        shown = &m_positions;
    else if (cdsInspecao.FieldByName(IDDEPT).AsString() == Ticked)
        shown = &m_departments;
    else
        return;
    TDBGrid* list = shown->grid();
    const bool alt = shift & Qt::AltModifier;
    QWidget* focused = QApplication::focusWidget();
    if (m_pages->ActivePage() == m_page && !cdsInspecao.Editing() && focused == dbgQuestCand) {
        if (alt && key == Qt::Key_PageDown) {
            key = 0;
            list->setFocus(Qt::OtherFocusReason);
        } else if (alt && key == Qt::Key_PageUp) {
            key = 0;
        }
    }
    if (focused == list && !shown->rows().Editing() && !cdsInspecao.Editing()) {
        if (alt && key == Qt::Key_PageUp) {
            key = 0;
            dbgQuestCand->setFocus(Qt::OtherFocusReason);
        } else if (alt && key == Qt::Key_PageDown) {
            key = 0;
        }
    }
}

namespace m = contract::method;

TCheckList::Kind TQuestionario::positionList() const {
    return {IDCARG,
            QStringLiteral("CDCARGO"),
            QStringLiteral("NMCARGO"),
            m::GetCargo,
            {m::SetInsCarg, m::SetDelTdDep, m::SetDelPad},
            {m::SetDelCarg, m::SetDelTdDep, m::SetDelPad},
            /*busyWhileTicking=*/false,
            QStringLiteral("do cargo"),
            QStringLiteral("cargos"),
            m_leftEmpty.positions};
}

TCheckList::Kind TQuestionario::departmentList() const {
    return {IDDEPT,
            QStringLiteral("CDDEPTO"),
            QStringLiteral("NMDEPTO"),
            m::GetDepto,
            {m::SetDelTdCarg, m::SetInsDep, m::SetDelPad},
            {m::SetDelTdCarg, m::SetDelDep, m::SetDelPad},
            /*busyWhileTicking=*/true,
            QStringLiteral("do departamento"),
            QStringLiteral("departamentos"),
            m_leftEmpty.departments};
}

void TQuestionario::cdsCargoBeforeInsert() {
    m_positions.beforeInsert();
}
void TQuestionario::cdsDeptoBeforeInsert() {
    m_departments.beforeInsert();
}
void TQuestionario::dbgCargoCellClick(TColumn& Column) {
    if (m_connection.ReadOnly()) return;
    m_positions.cellClick(Column);
}
void TQuestionario::dbgDeptoCellClick(TColumn& Column) {
    if (m_connection.ReadOnly()) return;
    m_departments.cellClick(Column);
}
void TQuestionario::dbgCargoKeyDown(int& key, Qt::KeyboardModifiers shift) {
    if (m_connection.ReadOnly() && key == Qt::Key_Space) return; // no tick with a read key
    m_positions.keyDown(key, shift);
}
void TQuestionario::dbgDeptoKeyDown(int& key, Qt::KeyboardModifiers shift) {
    if (m_connection.ReadOnly() && key == Qt::Key_Space) return; // no tick with a read key
    m_departments.keyDown(key, shift);
}
void TQuestionario::dbgCargoTitleClick(TColumn& Column) {
    if (m_connection.ReadOnly()) return;
    m_positions.titleClick(Column);
}
void TQuestionario::dbgDeptoTitleClick(TColumn& Column) {
    if (m_connection.ReadOnly()) return;
    m_departments.titleClick(Column);
}
void TQuestionario::dbgCargoExit() {
    m_positions.exit();
}
void TQuestionario::dbgDeptoExit() {
    m_departments.exit();
}
void TQuestionario::dbgCargoEnter() {
    m_positions.enter();
}
void TQuestionario::dbgDeptoEnter() {
    m_departments.enter();
}
void TQuestionario::dbgCargoColEnter() {
    m_positions.colEnter();
}
void TQuestionario::dbgDeptoColEnter() {
    m_departments.colEnter();
}
