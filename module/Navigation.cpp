// Moving between pages by tab, menu and keys; menu check marks follow the visible page.

#include "ModuleState.h"
#include "Parametros.h"

#include <QApplication>

void TfrmParametros::checkGeralMenus() {
    QWidget* page = pgcGeral->ActivePage();
    mnuEncargos->setChecked(page == tshEncargos);
    mnuCestaBasica->setChecked(page == tshCestaBasica);
    mnuAgenda->setChecked(page == tshAgenda);
    mnuFerias->setChecked(page == tshFerias);
    mnuQuestionario->setChecked(page == tshQuest);
}

void TfrmParametros::checkFilialMenus() {
    mnuAgeFilial->setChecked(pgcFilial->ActivePage() == tshAgeFilial);
    mnuDIversos->setChecked(pgcFilial->ActivePage() == tshDiversos);
}

void TfrmParametros::checkMenusOfVisiblePage() {
    if (pgcPadrao->ActivePage() == tshFolhaDados) {
        checkGeralMenus();
        mnuAgeFilial->setChecked(false);
        mnuDIversos->setChecked(false);
    } else {
        checkFilialMenus();
        for (QAction* a : {mnuEncargos, mnuCestaBasica, mnuAgenda, mnuFerias, mnuQuestionario})
            a->setChecked(false);
    }
}

void TfrmParametros::pgcPadraoChange() {
    TfrmPadrao::pgcPadraoChange();
    checkMenusOfVisiblePage();
    if (pgcPadrao->ActivePage() == tshFolhaDados)
        dtsPadraoStateChange();
    else
        dtsFilialStateChange();
}

void TfrmParametros::PagesBroughtForward() {
    checkMenusOfVisiblePage();
}

void TfrmParametros::pgcGeralChange() {
    checkGeralMenus();
    // A general record that did not load offers nothing to edit.
    sbtAlterar->setEnabled(pgcGeral->ActivePage() != tshQuest && cdsGeral.Active() &&
                           !netParamZOL.ReadOnly());
    mnuAlterar->setEnabled(sbtAlterar->isEnabled());
    if (pgcGeral->ActivePage() == tshQuest) questionario.pageShown();
}

void TfrmParametros::pgcFilialChange() {
    // The form offers no insertion of parameter records.
    sbtIncluir->setEnabled(false);
    mnuIncluir->setEnabled(sbtIncluir->isEnabled());
    checkFilialMenus();
}

void TfrmParametros::showSubPage(QWidget* mainPage, TPageControl* pages, QWidget* subPage) {
    // The focus lands in the chosen page without passing through a control of another.
    PageSelection selecting;
    pgcPadrao->SetActivePage(mainPage);
    pages->SetActivePage(subPage);
    // Its first field, also when the menu had the keyboard: the window gives the focus back to
    // it once the menu is gone, instead of to a control of the page hidden.
    // As a shortcut gives it: what the field holds is selected, so typing replaces it.
    if (QWidget* first = FirstFocusableIn(subPage)) first->setFocus(Qt::ShortcutFocusReason);
    pgcPadraoChange();
    if (pages == pgcGeral)
        pgcGeralChange();
    else
        pgcFilialChange();
}

void TfrmParametros::mnuEncargosClick() {
    showSubPage(tshFolhaDados, pgcGeral, tshEncargos);
}
void TfrmParametros::mnuCestaBasicaClick() {
    showSubPage(tshFolhaDados, pgcGeral, tshCestaBasica);
}
void TfrmParametros::mnuAgendaClick() {
    showSubPage(tshFolhaDados, pgcGeral, tshAgenda);
}
void TfrmParametros::mnuFeriasClick() {
    showSubPage(tshFolhaDados, pgcGeral, tshFerias);
}
void TfrmParametros::mnuQuestionarioClick() {
    showSubPage(tshFolhaDados, pgcGeral, tshQuest);
}
void TfrmParametros::mnuAgeFilialClick() {
    showSubPage(tshFormulario, pgcFilial, tshAgeFilial);
}
void TfrmParametros::mnuDIversosClick() {
    showSubPage(tshFormulario, pgcFilial, tshDiversos);
}

void TfrmParametros::FormKeyDown(int& key, Qt::KeyboardModifiers shift) {
    TfrmPadrao::FormKeyDown(key, shift);
    questionario.formKeyDown(key, shift);
}

bool TfrmParametros::focusNextPrevChild(bool next) {
    // The branch code takes no focus when a page is shown (entering it closes the branch
    // record), but it is the first Tab stop of "Filial": after the last field of the sub-page
    // shown and before its first.
    if (pgcPadrao->ActivePage() == tshFormulario) {
        const bool agenda = pgcFilial->ActivePage() == tshAgeFilial;
        QWidget* first = agenda ? static_cast<QWidget*>(dbeFechamento) : dbeDiretorio;
        QWidget* last = agenda ? static_cast<QWidget*>(dbdUltiFecha) : dbeMediConv;
        QWidget* now = QApplication::focusWidget();
        QWidget* to = now == medCdFilial             ? (next ? first : last)
                      : now == (next ? last : first) ? medCdFilial
                                                     : nullptr;
        if (to && to->isEnabled()) {
            to->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return true;
        }
    }
    return TfrmPadrao::focusNextPrevChild(next);
}
