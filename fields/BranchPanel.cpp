// The branch panel: code and name of the branch whose parameters are shown, and loading them.

#include "Consiste.h"

#include "Exceptions.h"
#include "Parametros.h"
#include "contract/Methods.h"

void TfrmParametros::medCdFilialChange() {
    edtNmFilial->clear();
}

void TfrmParametros::medCdFilialExit(QWidget*) {
    if (EmptyString(medCdFilial->text())) return;
    medCdFilial->setText(Ajusta(medCdFilial->text(), 4));
    if (!openBranchQuery(medCdFilial->text())) {
        focusIntoView(medCdFilial);
        MensErro(msgPadrao.Msg(QStringLiteral("COD_NC")), true);
    }
    edtNmFilial->setText(qryPesqFilial.Query.FieldByName(QStringLiteral("NMFILIAL")).AsString());
}

bool TfrmParametros::openBranchQuery(const QString& code) {
    qryPesqFilial.Close();
    qryPesqFilial.ParamByName(QStringLiteral("CDFILIAL")).SetAsString(code);
    qryPesqFilial.ParamByName(QStringLiteral("TCDFILIAL")).Clear();
    qryPesqFilial.Open();
    return !qryPesqFilial.IsEmpty();
}

QString TfrmParametros::branchName(const QString& code) {
    if (!openBranchQuery(code)) return {};
    return qryPesqFilial.Query.FieldByName(QStringLiteral("NMFILIAL")).AsString();
}

void TfrmParametros::BtnFilialBeforePesq(QWidget*, bool&) {
    qryPesqFilial.Close();
    qryPesqFilial.ParamByName(QStringLiteral("CDFILIAL")).Clear();
    qryPesqFilial.ParamByName(QStringLiteral("TCDFILIAL")).SetAsString(QStringLiteral("T"));
    qryPesqFilial.Open();
}

void TfrmParametros::BtnFilialAfterPesq(QWidget*) {
    // Picked from outside the panel, no exit of the panel would load it: it loads now.
    const bool fromOutside = !panFilial->isAncestorOf(ActiveControl());
    const QString picked = qryPesqFilial.Query.FieldByName(QStringLiteral("CDFILIAL")).AsString();
    if (picked != m_branchRead) {
        if (!mayDropBranchChanges()) return;
        // Dropped now: leaving the panel reads the branch picked without asking again.
        if (!fromOutside) cdsFilial.Close();
    }
    medCdFilial->setText(qryPesqFilial.Query.FieldByName(QStringLiteral("CDFILIAL")).AsString());
    edtNmFilial->setText(qryPesqFilial.Query.FieldByName(QStringLiteral("NMFILIAL")).AsString());
    if (fromOutside) loadChosenBranch();
}

bool TfrmParametros::mayDropBranchChanges() {
    return mayDropChangesOf({&cdsFilial});
}

void TfrmParametros::showBranchOfRecord() {
    if (m_branchRead.isEmpty() || m_branchRead == medCdFilial->text()) return;
    medCdFilial->setText(m_branchRead);
    const QString name = cdsFilial.IsEmpty()
                             ? QString()
                             : cdsFilial.FieldByName(QStringLiteral("NMFILIAL")).AsString();
    edtNmFilial->setText(name.isEmpty() ? branchName(m_branchRead) : name);
}

void TfrmParametros::readBranch(const QString& code) {
    LoadFromServer(netParamZOL, cdsFilial, contract::method::GetFilial, {code});
    m_branchRead = code;
}

void TfrmParametros::panFilialEnter(QWidget*) {
    // Passing through the code (Tab, Shift+Tab, a click) reads nothing and drops nothing: that
    // happens when the panel is left with another branch chosen.
}

void TfrmParametros::panFilialExit() {
    const bool sameBranch = cdsFilial.Active() && medCdFilial->text() == m_branchRead;
    // The record being edited stays as it is: there is nothing else to read.
    if (sameBranch && (cdsFilial.Editing() || cdsFilial.ChangeCount() > 0)) return;
    // Kept changes keep their branch: the code shown is the record's again, and nothing loads.
    if (!sameBranch && !mayDropBranchChanges()) {
        showBranchOfRecord();
        return;
    }
    loadChosenBranch();
}

void TfrmParametros::loadChosenBranch() {
    ActiveShowAvi(host().mainForm(), 1);
    try {
        if (EmptyString(medCdFilial->text())) {
            focusIntoView(medCdFilial);
            MensErro(msgPadrao.Msg(QStringLiteral("FILIAL_DEVE")), true);
        }
        readBranch(medCdFilial->text());
        subscribeToChanges();
    } catch (const std::exception& e) {
        // Absorbed: leaving the panel goes on. A failed read must not pass for an empty branch,
        // nor the record still shown for the branch that could not be read.
        DeactiveShowAvi();
        noteAbsorbedFailure(QStringLiteral("Não foi possível carregar a filial"), e);
        if (!dynamic_cast<const EAbort*>(&e) && cdsFilial.Active()) showBranchOfRecord();
        return;
    }
    DeactiveShowAvi();
}
