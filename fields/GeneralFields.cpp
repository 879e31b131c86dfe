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
