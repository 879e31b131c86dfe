// The position and department lists of the current questionnaire: which one is loaded and shown,
// what tells the two apart, and their events.

#include "ModuleState.h"
#include "Parametros.h"
#include "TickFields.h"

using namespace questionnaire;

void TfrmParametros::cdsInspecaoAfterScroll() {
    const QString code = cdsInspecao.FieldByName(QStringLiteral("CDINSPECAO")).AsString();
    const QString byPosition = cdsInspecao.FieldByName(QStringLiteral("IDCARG")).AsString();
    const QString byDepartment = cdsInspecao.FieldByName(QStringLiteral("IDDEPT")).AsString();
    const QString standard = cdsInspecao.FieldByName(QStringLiteral("IDPADR")).AsString();
    auto load = [&](TClientDataSet& target, const QString& method) {
        ActiveShowAvi(host().mainForm(), 1);
        try {
            LoadFromServer(netParamZOL, target, method, {code});
        } catch (...) {
            DeactiveShowAvi();
            throw;
        }
        DeactiveShowAvi();
    };
    if (byPosition == u"S") {
        load(cdsCargo, QStringLiteral("GetCargo"));
        dbgCargo->show();
        dbgDepto->hide();
    } else {
        cdsCargo.Close();
    }
    if (byDepartment == u"S") {
        load(cdsDepto, QStringLiteral("GetDepto"));
        dbgCargo->hide();
        dbgDepto->show();
    } else {
        cdsDepto.Close();
    }
    // Only exact "N" values hide the lists; blank flags leave them as they were.
    if (standard == u"S" || (byPosition == u"N" && byDepartment == u"N")) {
        dbgCargo->hide();
        dbgDepto->hide();
    }
}

// Leaving the panel of the two lists brings the lower area back in line with the current
// questionnaire's mode, which leaving a list may just have dropped.
void TfrmParametros::panDepCargExit() {
    cdsInspecaoAfterScroll();
}

TCheckList::Kind TfrmParametros::positionList() {
    using Call = TCheckList::TieCall;
    return {IDCARG,
            QStringLiteral("CDCARGO"),
            QStringLiteral("NMCARGO"),
            QStringLiteral("GetCargo"),
            {{QStringLiteral("SetInsCarg"), {Call::Branch, Call::Questionnaire, Call::Row}},
             {QStringLiteral("SetDelTdDep"), {Call::Branch, Call::Questionnaire}},
             {QStringLiteral("SetDelPad"), {Call::Questionnaire, Call::Branch}}},
            {{QStringLiteral("SetDelCarg"), {Call::Branch, Call::Questionnaire, Call::Row}},
             {QStringLiteral("SetDelTdDep"), {Call::Branch, Call::Questionnaire}},
             {QStringLiteral("SetDelPad"), {Call::Questionnaire, Call::Branch}}},
            /*busyWhileTicking=*/false,
            QStringLiteral("do cargo"),
            QStringLiteral("cargos"),
            Cli_zol00900::boCargVazio};
}

TCheckList::Kind TfrmParametros::departmentList() {
    using Call = TCheckList::TieCall;
    return {IDDEPT,
            QStringLiteral("CDDEPTO"),
            QStringLiteral("NMDEPTO"),
            QStringLiteral("GetDepto"),
            {{QStringLiteral("SetDelTdCarg"), {Call::Branch, Call::Questionnaire}},
             {QStringLiteral("SetInsDep"), {Call::Questionnaire, Call::Branch, Call::Row}},
             {QStringLiteral("SetDelPad"), {Call::Questionnaire, Call::Branch}}},
            {{QStringLiteral("SetDelTdCarg"), {Call::Branch, Call::Questionnaire}},
             {QStringLiteral("SetDelDep"), {Call::Questionnaire, Call::Branch, Call::Row}},
             {QStringLiteral("SetDelPad"), {Call::Questionnaire, Call::Branch}}},
            /*busyWhileTicking=*/true,
            QStringLiteral("do departamento"),
            QStringLiteral("departamentos"),
            Cli_zol00900::boDepVazio};
}

void TfrmParametros::cdsCargoBeforeInsert() {
    positions.beforeInsert();
}
void TfrmParametros::cdsDeptoBeforeInsert() {
    departments.beforeInsert();
}
void TfrmParametros::dbgCargoCellClick(TColumn& Column) {
    positions.cellClick(Column);
}
void TfrmParametros::dbgDeptoCellClick(TColumn& Column) {
    departments.cellClick(Column);
}
void TfrmParametros::dbgCargoKeyDown(int& key, Qt::KeyboardModifiers shift) {
    positions.keyDown(key, shift);
}
void TfrmParametros::dbgDeptoKeyDown(int& key, Qt::KeyboardModifiers shift) {
    departments.keyDown(key, shift);
}
void TfrmParametros::dbgCargoTitleClick(TColumn& Column) {
    positions.titleClick(Column);
}
void TfrmParametros::dbgDeptoTitleClick(TColumn& Column) {
    departments.titleClick(Column);
}
void TfrmParametros::dbgCargoExit() {
    positions.exit();
}
void TfrmParametros::dbgDeptoExit() {
    departments.exit();
}
void TfrmParametros::dbgCargoEnter() {
    positions.enter();
}
void TfrmParametros::dbgDeptoEnter() {
    departments.enter();
}
void TfrmParametros::dbgCargoColEnter() {
    positions.colEnter();
}
void TfrmParametros::dbgDeptoColEnter() {
    departments.colEnter();
}
