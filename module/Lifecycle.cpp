// Creation, first-activation load, close and destruction of the form.

#include "ModuleState.h"
#include "Parametros.h"

void TfrmParametros::FormCreate() {
    TfrmPadrao::FormCreate();
    netParamZOL.SetConnected(true);
    Cli_zol00900::boPrimVez = true;
    pgcPadrao->SetActivePage(tshFolhaDados);
    pgcGeral->SetActivePage(tshEncargos);
}

void TfrmParametros::netParamZOLBeforeConnect(TNetConnection& sender) {
    sender.Host = WebURL();
    sender.Port = WebPort();
}

void TfrmParametros::FormActivate() {
    Repaint();
    ActiveShowAvi(host().mainForm(), 1);
    try {
        if (Cli_zol00900::boPrimVez) loadFirstRecords();
    } catch (...) {
        DeactiveShowAvi();
        // Nothing to edit, confirm or cancel in a record that did not load.
        if (pgcPadrao->ActivePage() == tshFolhaDados)
            dtsPadraoStateChange();
        else
            dtsFilialStateChange();
        throw;
    }
    DeactiveShowAvi();
}

void TfrmParametros::loadFirstRecords() {
    // A retry reads only what did not load: never over a branch being edited, nor over a
    // branch the user chose meanwhile.
    if (!cdsFilial.Active() && medCdFilial->text().isEmpty()) {
        LoadFromServer(netParamZOL, cdsFilial, QStringLiteral("GetFilial"), {FiliProc()});
        medCdFilial->setText(FiliProc());
        edtNmFilial->setText(cdsFilial.FieldByName(QStringLiteral("NMFILIAL")).AsString());
    }
    LoadFromServer(netParamZOL, cdsGeral, QStringLiteral("GetGeral"), {QStringLiteral("1")});
    Cli_zol00900::boPrimVez = false;
}

bool TfrmParametros::ActivationPending() const {
    return Cli_zol00900::boPrimVez;
}

void TfrmParametros::FormClose(CloseAction& action) {
    TfrmPadrao::FormClose(action);
    Cli_zol00900::boIdCriado = false;
}

void TfrmParametros::FormDestroy() {
    TfrmPadrao::FormDestroy();
    netParamZOL.SetConnected(false);
}
