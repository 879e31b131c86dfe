// Creation, first-activation load, close and destruction of the form.

#include "ModuleState.h"

#include "Parametros.h"
#include "contract/Methods.h"

#include "Accessibility.h"

#include <algorithm>

void TfrmParametros::FormCreate() {
    TfrmPadrao::FormCreate();
    netParamZOL.SetConnected(true);
    showReadOnly();
    Cli_zol00900::boPrimVez = true;
    pgcPadrao->SetActivePage(tshFolhaDados);
    pgcGeral->SetActivePage(tshEncargos);
    checkMenusOfVisiblePage(); // one mark: the page in front
    NameControlsForScreenReaders(this);
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
        showReadOnly(); // a connection made only now tells its key's role now
        subscribeToChanges();
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
        readBranch(FiliProc());
        medCdFilial->setText(FiliProc());
        // A branch without parameters still has its name, in the branch table.
        edtNmFilial->setText(cdsFilial.IsEmpty()
                                 ? branchName(FiliProc())
                                 : cdsFilial.FieldByName(QStringLiteral("NMFILIAL")).AsString());
    }
    LoadFromServer(netParamZOL, cdsGeral, contract::method::GetGeral, {QStringLiteral("1")});
    Cli_zol00900::boPrimVez = false;
}

bool TfrmParametros::mayDropChangesOf(const QList<TClientDataSet*>& records) {
    CommitTypedText();
    // Typed and not posted (a text its field refused included), or posted and not stored:
    // either is lost.
    bool unsent = std::any_of(records.begin(), records.end(), [](TClientDataSet* r) {
        return r->Active() && ((r->Editing() && r->Modified()) || r->ChangeCount() > 0);
    });
    for (TDBEdit* edit : findChildren<TDBEdit*>())
        if (edit->HasUnwrittenText() && edit->DataSource() &&
            records.contains(edit->DataSource()->DataSet()))
            unsent = true;
    if (!unsent) return true;
    return msgMensagensPadroes.ConfirmDiscard(QStringLiteral("Canc"));
}

bool TfrmParametros::ActivationPending() const {
    return Cli_zol00900::boPrimVez;
}

void TfrmParametros::FormClose(CloseAction& action) {
    // Closing drops what was typed or refused and not yet stored: not without asking.
    if (!mayDropChangesOf({&cdsGeral, &cdsFilial})) {
        action = CloseAction::None;
        return;
    }
    TfrmPadrao::FormClose(action);
    Cli_zol00900::boIdCriado = false;
}

void TfrmParametros::FormDestroy() {
    TfrmPadrao::FormDestroy();
    netParamZOL.SetConnected(false);
}
