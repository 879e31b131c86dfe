// Rules that tie one field of the general record to another.

#include "Parametros.h"

void TfrmParametros::drgTipoIndiceChange() {
    // An index of the other kind must be chosen anew; a record being loaded keeps its index.
    if (cdsGeral.State() != DataSetState::Edit) return;
    cdsGeral.FieldByName(QStringLiteral("CDINDICECB")).Clear();
    cdsGeral.FieldByName(QStringLiteral("NMINDICE")).Clear();
}

void TfrmParametros::dcbFeriasChange() {
    if (dcbFerias->ItemIndex() == 1)
        cdsGeral.FieldByName(QStringLiteral("QTDIASFERIPG")).SetValue(30.0);
}

void TfrmParametros::cdsGeralIDTPFERIASPGGetText(TField& sender, QString& text, bool) {
    const QString code = sender.AsString();
    if (code == u"C")
        text = msgPadrao.Msg(QStringLiteral("CORRIDOS"));
    else if (code == u"U")
        text = msgPadrao.Msg(QStringLiteral("UTEIS"));
    else
        text.clear();
}

void TfrmParametros::cdsGeralIDTPFERIASPGSetText(TField& sender, const QString& text) {
    if (text == msgPadrao.Msg(QStringLiteral("CORRIDOS"))) sender.SetValue(QStringLiteral("C"));
    if (text == msgPadrao.Msg(QStringLiteral("UTEIS"))) sender.SetValue(QStringLiteral("U"));
}

void TfrmParametros::BtnIndiceBeforePesq(QWidget*, bool&) {
    if (dtsPadrao.State() == DataSetState::Browse) dtsPadrao.Edit();
    qryPesqIndice.Close();
    qryPesqIndice.ParamByName(QStringLiteral("PERVALOR")).SetAsString(indexKindDigit());
    qryPesqIndice.ParamByName(QStringLiteral("CDINDICE")).Clear();
    qryPesqIndice.ParamByName(QStringLiteral("TCDINDICE")).SetAsString(QStringLiteral("T"));
    qryPesqIndice.Open();
}

void TfrmParametros::BtnIndiceAfterPesq(QWidget*) {
    dbeCdIndiceCb->setText(qryPesqIndice.Query.FieldByName(QStringLiteral("CDINDICE")).AsString());
    dbeNmIndice->setText(qryPesqIndice.Query.FieldByName(QStringLiteral("NMINDICE")).AsString());
}
