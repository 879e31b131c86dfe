// Which commands, pages and menu items are offered, from the state of the visible record.

#include "Parametros.h"

void TfrmParametros::setCommandStates(bool editOffered, bool verifyOffered, bool editing,
                                      QWidget* otherPage, QAction* otherPageItem) {
    // Controls first, then the menu items, each read back from its control.
    sbtAlterar->setEnabled(editOffered && !netParamZOL.ReadOnly());
    sbtVerificar->setEnabled(verifyOffered);
    SetPageEnabled(otherPage, !editing);
    sbtConfirmar->setEnabled(editing);
    sbtCancelar->setEnabled(editing);
    mnuAlterar->setEnabled(sbtAlterar->isEnabled());
    mnuVerificar->setEnabled(sbtVerificar->isEnabled());
    otherPageItem->setEnabled(PageEnabled(otherPage));
    mnuConfirmar->setEnabled(sbtConfirmar->isEnabled());
    mnuCancelar->setEnabled(sbtCancelar->isEnabled());
}

void TfrmParametros::dtsPadraoStateChange() {
    if (pgcPadrao->ActivePage() != tshFolhaDados) return;
    const bool editing = cdsGeral.Editing();
    const bool empty = !cdsGeral.Active() || cdsGeral.IsEmpty();
    const bool quest = pgcGeral->ActivePage() == tshQuest;
    // A general record that failed to load is read again by Verify.
    const bool verify = (!empty && !editing) || !cdsGeral.Active();
    setCommandStates(!empty && !editing && !quest, verify, editing, tshFormulario, mnuFormulario);
}

void TfrmParametros::dtsFilialStateChange() {
    if (pgcPadrao->ActivePage() == tshFolhaDados) return;
    // A closed branch record counts as empty and not being edited.
    const bool editing = cdsFilial.Editing();
    const bool empty = !cdsFilial.Active() || cdsFilial.IsEmpty();
    setCommandStates(!editing, !empty && !editing, editing, tshFolhaDados, mnuFolhaDados);
}

void TfrmParametros::showReadOnly() {
    if (!netParamZOL.ReadOnly()) return;
    const QString why = QStringLiteral(
        "Somente leitura: a chave de acesso em uso permite apenas consultar os parâmetros.");
    setWindowTitle(QStringLiteral("Parâmetros Gerais — Somente leitura"));
    host().showStatus(why);
    // Nothing typed, picked or ticked may start a change the service will refuse.
    dtsPadrao.AutoEdit = false;
    dtsFilial.AutoEdit = false;
    for (TDBEdit* edit : findChildren<TDBEdit*>()) {
        edit->setReadOnly(true);
        edit->setToolTip(why);
    }
    for (QWidget* w : std::initializer_list<QWidget*>{drgTipoIndice, dcbFerias, BtnIndice,
                                                      btnConvMedi, btpDirFolhaPag}) {
        w->setEnabled(false);
        w->setToolTip(why);
    }
    sbtAlterar->setToolTip(why);
    questionario.showReadOnly(why);
    sbtAlterar->setEnabled(false);
    mnuAlterar->setEnabled(false);
}
