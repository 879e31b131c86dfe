// What the general and the branch record do around a post and a cancel: the last checks, the
// transfer of the change to the service, and the pages given back on a cancel.

#include "Consiste.h"

#include "Parametros.h"
#include "contract/Methods.h"

void TfrmParametros::sendPendingChanges(TClientDataSet& records, const QString& method) {
    ActiveShowAvi(host().mainForm(), 1);
    try {
        if (records.ChangeCount() > 0) {
            CallServer(netParamZOL, method, {records.Delta()});
            records.MergeChangeLog();
        }
    } catch (...) {
        // Not stored: the record goes back into edit with what was typed, so that it is still
        // offered to Confirm or Cancel and nobody takes it for stored.
        DeactiveShowAvi();
        if (records.Active() && !records.Editing()) records.Edit();
        throw;
    }
    DeactiveShowAvi();
}

void TfrmParametros::cdsGeralBeforePost() {
    ValorNegat();
    cdsGeral.FieldByName(QStringLiteral("IDTPFERIASPG"))
        .SetValue(dcbFerias->ItemIndex() == 0 ? QStringLiteral("U") : QStringLiteral("C"));
}

void TfrmParametros::cdsGeralAfterPost() {
    sendPendingChanges(cdsGeral, contract::method::SetGeral);
}

void TfrmParametros::cdsFilialBeforePost() {
    if (pgcPadrao->ActivePage() == tshFormulario) dbeFechamentoExit(dbeFechamento);
    cdsFilial.FieldByName(QStringLiteral("CDFILIAL")).SetValue(medCdFilial->text());
    cdsFilial.FieldByName(QStringLiteral("NMFILIAL")).SetValue(edtNmFilial->text());
    if (EmptyString(dbeFechamento->text())) {
        pgcPadrao->SetActivePage(tshFormulario);
        pgcFilial->SetActivePage(tshAgeFilial);
        focusIntoView(dbeFechamento);
        MensErro(msgPadrao.Msg(QStringLiteral("dtFech_Dv")), true);
    }
}

void TfrmParametros::cdsFilialAfterPost() {
    sendPendingChanges(cdsFilial, contract::method::SetFilial);
}

void TfrmParametros::cdsGeralBeforeCancel() {
    setPageAndItem(tshFormulario, mnuFormulario, true);
    enableGeralSubPages();
}

void TfrmParametros::cdsFilialBeforeCancel() {
    setPageAndItem(tshFolhaDados, mnuFolhaDados, true);
    setPageAndItem(tshAgeFilial, mnuAgeFilial, true);
    setPageAndItem(tshDiversos, mnuDIversos, true);
}

void TfrmParametros::bindEditingRules() {
    cdsGeral.AfterEdit = [this](TClientDataSet&) { cdsGeralAfterEdit(); };
    cdsGeral.BeforePost = [this](TClientDataSet&) { cdsGeralBeforePost(); };
    cdsGeral.AfterPost = [this](TClientDataSet&) { cdsGeralAfterPost(); };
    cdsGeral.BeforeCancel = [this](TClientDataSet&) { cdsGeralBeforeCancel(); };
    cdsFilial.AfterEdit = [this](TClientDataSet&) { cdsFilialAfterEdit(); };
    cdsFilial.BeforePost = [this](TClientDataSet&) { cdsFilialBeforePost(); };
    cdsFilial.AfterPost = [this](TClientDataSet&) { cdsFilialAfterPost(); };
    cdsFilial.BeforeCancel = [this](TClientDataSet&) { cdsFilialBeforeCancel(); };
}
