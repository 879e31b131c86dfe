// Which commands, pages and menu items are offered, from the state of the visible record.

#include "Parametros.h"

namespace {
void enable(QAbstractButton* button, bool on) {
    button->setEnabled(on);
}
void mirror(QAction* item, const QAbstractButton* button) {
    item->setEnabled(button->isEnabled());
}
} // namespace

void TfrmParametros::dtsPadraoStateChange() {
    if (pgcPadrao->ActivePage() != tshFolhaDados) return;
    const bool editing = cdsGeral.Editing();
    const bool empty = cdsGeral.IsEmpty();
    const bool quest = pgcGeral->ActivePage() == tshQuest;
    enable(sbtAlterar, !empty && !editing && !quest);
    enable(sbtVerificar, !empty && !editing);
    SetPageEnabled(tshFormulario, !editing);
    enable(sbtConfirmar, editing);
    enable(sbtCancelar, editing);
    mirror(mnuAlterar, sbtAlterar);
    mirror(mnuVerificar, sbtVerificar);
    mnuFormulario->setEnabled(PageEnabled(tshFormulario));
    mirror(mnuConfirmar, sbtConfirmar);
    mirror(mnuCancelar, sbtCancelar);
}

void TfrmParametros::dtsFilialStateChange() {
    if (pgcPadrao->ActivePage() == tshFolhaDados) return;
    // A closed branch record counts as empty and not being edited.
    const bool editing = cdsFilial.Editing();
    const bool empty = !cdsFilial.Active() || cdsFilial.IsEmpty();
    enable(sbtAlterar, !editing);
    enable(sbtVerificar, !empty && !editing);
    SetPageEnabled(tshFolhaDados, !editing);
    enable(sbtConfirmar, editing);
    enable(sbtCancelar, editing);
    mirror(mnuAlterar, sbtAlterar);
    mirror(mnuVerificar, sbtVerificar);
    mnuFolhaDados->setEnabled(PageEnabled(tshFolhaDados));
    mirror(mnuConfirmar, sbtConfirmar);
    mirror(mnuCancelar, sbtCancelar);
}
