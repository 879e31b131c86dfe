// The medical plan lookup and the payroll directory of the branch record.

#include "Consiste.h"

#include "Parametros.h"
#include "contract/Methods.h"

void TfrmParametros::btnConvMediBeforePesq(QWidget*, bool&) {
    ActiveShowAvi(host().mainForm(), 1);
    try {
        cdsVdConv.Close();
        LoadFromServer(netParamZOL, cdsVdConv, contract::method::GetConvMed,
                       {QString(), QStringLiteral("T")});
    } catch (...) {
        DeactiveShowAvi();
        throw;
    }
    DeactiveShowAvi();
}

void TfrmParametros::btnConvMediAfterPesq(QWidget*) {
    if (dtsFilial.State() == DataSetState::Browse) dtsFilial.Edit();
    dbeMediConv->setText(cdsVdConv.FieldByName(QStringLiteral("CDCONVMEDI")).AsString());
    dbeNmConvenioMedico->setText(cdsVdConv.FieldByName(QStringLiteral("NMCONVMEDI")).AsString());
}

void TfrmParametros::dbeDiretorioExit(QWidget*) {
    Vd_Diretorio();
}

void TfrmParametros::btpDirFolhaPagClick(QWidget*) {
    // As leaving the panel: another branch chosen there is read (asking before changes are
    // dropped); the branch being edited stays as it is, and the folder joins its changes.
    panFilialExit();
    const QString start = dbeDiretorio->text();
    sbtAlterarClick();
    // No branch could be read (no code in the panel, or the read failed): nothing to edit.
    if (!cdsFilial.Editing()) return;
    const QString chosen = host().selectDirectory(start);
    if (!chosen.isEmpty()) dbeDiretorio->setText(chosen);
}
