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
    if (fromOutside && !mayDropBranchChanges()) return;
    medCdFilial->setText(qryPesqFilial.Query.FieldByName(QStringLiteral("CDFILIAL")).AsString());
    edtNmFilial->setText(qryPesqFilial.Query.FieldByName(QStringLiteral("NMFILIAL")).AsString());
    if (fromOutside) loadChosenBranch();
}

bool TfrmParametros::mayDropBranchChanges() {
    return mayDropChangesOf({&cdsFilial});
}

void TfrmParametros::showBranchOfRecord() {
    const QString code = cdsFilial.FieldByName(QStringLiteral("CDFILIAL")).AsString();
    if (code.isEmpty() || code == medCdFilial->text()) return;
    medCdFilial->setText(code);
    edtNmFilial->setText(cdsFilial.FieldByName(QStringLiteral("NMFILIAL")).AsString());
}

void TfrmParametros::panFilialEnter(QWidget*) {
    // Choosing another branch drops an unposted change: not without asking.
    if (!mayDropBranchChanges()) Abort();
    cdsFilial.Close();
}

void TfrmParametros::panFilialExit() {
    // Kept changes keep their branch: the code shown is the record's again, and nothing loads.
    if (!mayDropBranchChanges()) {
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
        LoadFromServer(netParamZOL, cdsFilial, contract::method::GetFilial, {medCdFilial->text()});
        subscribeToChanges();
    } catch (const std::exception& e) {
        // Absorbed: leaving the panel goes on. A failed read must not pass for an empty branch.
        DeactiveShowAvi();
        noteAbsorbedFailure(QStringLiteral("Não foi possível carregar a filial"), e);
        return;
    }
    DeactiveShowAvi();
}
