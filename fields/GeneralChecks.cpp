// Checks of the general record that run when their field is left, on Confirm and before a post.

#include "Consiste.h"
#include "Parametros.h"

#include <cmath>

void TfrmParametros::ValorNegat() {
    const TField& deadline = cdsGeral.FieldByName(QStringLiteral("VRPRAZEFEFUN"));
    if (EmptyString(deadline.AsString())) return;
    // Rounded half to even: -0,5 and -0,4 count as zero.
    if (std::nearbyint(deadline.AsFloat()) < 0) {
        focusIntoView(dbeVrPrazEfeFun);
        MensErro(msgPadrao.Msg(QStringLiteral("VRPRAZ_INF")), true);
    }
}

void TfrmParametros::dbeVrCestaBasExit(QWidget*) {
    ValorNegat();
}

void TfrmParametros::dbdDtBaseCBExit(QWidget*) {
    dbdDtBaseCB->CheckValidDate();
}

QString TfrmParametros::indexKindDigit() const {
    return QString::number(drgTipoIndice->ItemIndex() + 1);
}

void TfrmParametros::dbeCdIndiceCbExit(QWidget*) {
    if (!cdsGeral.Editing()) return;
    if (EmptyString(dbeCdIndiceCb->text())) return;
    dbeCdIndiceCb->setText(Ajusta(dbeCdIndiceCb->text(), 4));
    qryVdIndice.Close();
    qryVdIndice.ParamByName(QStringLiteral("PERVALOR")).SetAsString(indexKindDigit());
    qryVdIndice.ParamByName(QStringLiteral("CDINDICE")).SetAsString(dbeCdIndiceCb->text());
    qryVdIndice.ParamByName(QStringLiteral("TCDINDICE")).Clear();
    qryVdIndice.Open();
    if (qryVdIndice.IsEmpty()) {
        focusIntoView(dbeCdIndiceCb);
        dbeNmIndice->clear();
        MensErro(msgPadrao.Msg(QStringLiteral("IND_NC")), true);
    }
    dbeNmIndice->setText(qryVdIndice.Query.FieldByName(QStringLiteral("NMINDICE")).AsString());
}
