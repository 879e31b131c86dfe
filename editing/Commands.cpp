// The Edit, Confirm, Cancel and Verify commands of the tool bar, for the record of the visible
// top page.

#include "Consiste.h"

#include "Exceptions.h"
#include "ModuleState.h"
#include "Parametros.h"
#include "contract/Methods.h"
#include "contract/Notices.h"

#include <QTime>

void TfrmParametros::setPageAndItem(QWidget* page, QAction* item, bool enabled) {
    SetPageEnabled(page, enabled);
    item->setEnabled(PageEnabled(page));
}

void TfrmParametros::enableGeralSubPages() {
    setPageAndItem(tshEncargos, mnuEncargos, true);
    setPageAndItem(tshCestaBasica, mnuCestaBasica, true);
    setPageAndItem(tshAgenda, mnuAgenda, true);
    setPageAndItem(tshFerias, mnuFerias, true);
}

void TfrmParametros::noteAbsorbedFailure(const QString& what, const std::exception& e) {
    // The command ends quietly, but the user must not take what is shown for fresh data.
    if (!dynamic_cast<const EAbort*>(&e))
        host().showStatus(QStringLiteral("%1: %2").arg(what, QString::fromUtf8(e.what())));
}

void TfrmParametros::sbtAlterarClick() {
    if (pgcPadrao->ActivePage() == tshFolhaDados) {
        if (!cdsGeral.Active()) return; // it did not load: nothing to edit, nothing locked
        setPageAndItem(tshFormulario, mnuFormulario, false);
        enableGeralSubPages();
        cdsGeral.Edit();
        return;
    }
    // Without a branch record there is nothing to edit, and nothing is locked.
    if (!cdsFilial.Active()) return;
    setPageAndItem(tshFolhaDados, mnuFolhaDados, false);
    setPageAndItem(tshAgeFilial, mnuAgeFilial, true);
    setPageAndItem(tshDiversos, mnuDIversos, true);
    cdsFilial.Edit();
}

void TfrmParametros::cdsGeralAfterEdit() {
    sbtAlterarClick();
}

void TfrmParametros::cdsFilialAfterEdit() {
    sbtAlterarClick();
}

void TfrmParametros::sbtConfirmarClick() {
    // The checks read the record: what is typed in the focused control counts too, and a list
    // the user is in is left before a failing check moves the focus without leaving it.
    CommitTypedText();
    questionario.leaveFocusedList(ActiveControl());
    if (pgcPadrao->ActivePage() == tshFolhaDados) {
        enableGeralSubPages();
        dbeCdIndiceCbExit(dbeCdIndiceCb);
        dbeVrCestaBasExit(dbeVrCestaBas);
        dbdDtBaseCBExit(dbdDtBaseCB);
        cdsGeral.Post();
        // Only once stored: a failed check leaves the record in edit and "Filial" locked.
        setPageAndItem(tshFormulario, mnuFormulario, true);
        dtsFilialStateChange();
        readAgainIfToldChanged(contract::generalRecord(), cdsGeral);
        return;
    }
    if (cdsFilial.Editing()) {
        // A code typed in the panel and not left is no branch of this record's.
        showBranchOfRecord();
        dbeMediConvExit(dbeMediConv);
        dbdUltiFechaExit(dbdUltiFecha);
        dbeFechamentoExit(dbeFechamento);
        Vd_Diretorio();
        cdsFilial.Post();
        setPageAndItem(tshFolhaDados, mnuFolhaDados, true);
        readAgainIfToldChanged(contract::branchRecord(m_branchRead), cdsFilial);
    }
    dtsFilialStateChange();
}

void TfrmParametros::sbtCancelarClick() {
    if (!msgMensagensPadroes.ConfirmDiscard(QStringLiteral("Canc"))) return;
    TClientDataSet& records = pgcPadrao->ActivePage() == tshFolhaDados ? cdsGeral : cdsFilial;
    records.Cancel();
    // A change the service refused or never got goes too: the record shows what is stored.
    records.CancelUpdates();
}

void TfrmParametros::sbtVerificarClick() {
    ActiveShowAvi(host().mainForm(), 1);
    try {
        if (pgcPadrao->ActivePage() == tshFolhaDados) {
            if (Cli_zol00900::boPrimVez)
                loadFirstRecords(); // what of the first load failed
            else
                LoadFromServer(netParamZOL, cdsGeral, contract::method::GetGeral,
                               {QStringLiteral("1")});
            questionario.loadQuestionnaires();
            dtsPadraoStateChange();
            questionario.cdsInspecaoAfterScroll();
            barAvisos->Forget(contract::generalRecord());
            barAvisos->Forget(contract::questionnaireRecord(FiliProc()));
        } else {
            readBranch(medCdFilial->text());
            dtsFilialStateChange();
            barAvisos->Forget(contract::branchRecord(medCdFilial->text()));
        }
    } catch (const std::exception& e) {
        DeactiveShowAvi();
        noteAbsorbedFailure(QStringLiteral("Não foi possível verificar os dados"), e);
        return;
    }
    DeactiveShowAvi();
    host().showStatus(QStringLiteral("Dados verificados às %1.")
                          .arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss"))));
}
