// Checks of the branch record that run when their field is left, on Confirm and before a post.

#include "Consiste.h"

#include "Formats.h"
#include "Parametros.h"
#include "contract/Methods.h"

#include <QDir>
#include <QFileInfo>

void TfrmParametros::dbeFechamentoExit(QWidget*) {
    if (EmptyString(dbeFechamento->text())) return;
    dbeFechamento->setText(Ajusta(dbeFechamento->text(), 2));
    // A stored day that is not a number fails like a day out of range.
    bool isNumber = false;
    const int day = dbeFechamento->text().toInt(&isNumber);
    if (isNumber && day >= 1 && day <= 31) return;
    pgcPadrao->SetActivePage(tshFormulario);
    pgcFilial->SetActivePage(tshAgeFilial);
    focusIntoView(dbeFechamento);
    MensErro(Format(msgPadrao.Msg(QStringLiteral("DATA_INV")), dbeFechamento->text()), true);
}

void TfrmParametros::dbdUltiFechaExit(QWidget*) {
    dbdUltiFecha->CheckValidDate();
    if (dbdUltiFecha->GetDate() > QDate::currentDate()) {
        focusIntoView(dbdUltiFecha);
        MensErro(msgPadrao.Msg(QStringLiteral("DATA")), true);
    }
}

void TfrmParametros::dbeMediConvExit(QWidget*) {
    if (!cdsFilial.Editing()) return;
    if (EmptyString(dbeMediConv->text())) return;
    dbeMediConv->setText(Ajusta(dbeMediConv->text(), 2));
    LoadFromServer(netParamZOL, cdsVdConv, contract::method::GetConvMed,
                   {dbeMediConv->text(), QString()});
    if (cdsVdConv.IsEmpty()) {
        focusIntoView(dbeMediConv);
        dbeNmConvenioMedico->clear();
        MensErro(msgPadrao.Msg(QStringLiteral("Convenio_nc")), true);
    }
    dbeNmConvenioMedico->setText(cdsVdConv.FieldByName(QStringLiteral("NMCONVMEDI")).AsString());
}

void TfrmParametros::Vd_Diretorio() {
    // A new record is checked too: a folder that does not exist would fail the payroll
    // hand-over later, far from its cause.
    if (!cdsFilial.Editing()) return;
    const QString path = dbeDiretorio->text();
    if (EmptyString(path)) return;
    if (!QFileInfo(path).isDir()) {
        cdsFilial.FieldByName(QStringLiteral("NMDIRPONTO")).FocusControl();
        MensErro(msgPadrao.Msg(QStringLiteral("Diretorio_ne")), true);
    }
}
