// Loading the position or department list of the current questionnaire.

#include "Parametros.h"

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
