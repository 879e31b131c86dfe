// What the general and branch fields accept as typed. A refused key is swallowed silently.

#include "KeyCodes.h"
#include "Parametros.h"

namespace {

bool isOneOf(int key, QStringView refused) {
    return key > 0 && key < 0x10000 && refused.contains(QChar(key));
}

// Digits and at most one decimal comma.
void percentFilter(QWidget* sender, int& key) {
    auto* edit = qobject_cast<QLineEdit*>(sender);
    if (key == u',' && edit && edit->text().contains(u',')) key = keys::None;
    if (key == keys::CtrlV || isOneOf(key, u"+-Ee")) key = keys::None;
}

void wholeNumberFilter(int& key) {
    if (key == keys::CtrlV || isOneOf(key, u"+,-.Ee")) key = keys::None;
}

void pasteFilter(int& key) {
    if (key == keys::CtrlV) key = keys::None;
}

// Codes are digits; Backspace and Enter are the only other keys taken.
void codeFilter(int& key) {
    const bool digit = key >= u'0' && key <= u'9';
    if (!digit && key != keys::Backspace && key != keys::Enter) key = keys::None;
}

} // namespace

void TfrmParametros::dbeVrPeEncTempKeyPress(QWidget* sender, int& key) {
    percentFilter(sender, key);
}
void TfrmParametros::dbeVrPeEncEfetKeyPress(QWidget* sender, int& key) {
    percentFilter(sender, key);
}
void TfrmParametros::dbeVrPeDescVTKeyPress(QWidget* sender, int& key) {
    percentFilter(sender, key);
}
void TfrmParametros::dbeVrCestaBasKeyPress(QWidget*, int& key) {
    wholeNumberFilter(key);
}
void TfrmParametros::dbeVrPrazEfeFunKeyPress(QWidget*, int& key) {
    wholeNumberFilter(key);
}
void TfrmParametros::dbeQtDiasKeyPress(QWidget*, int& key) {
    wholeNumberFilter(key);
}
void TfrmParametros::dbdDtBaseCBKeyPress(QWidget*, int& key) {
    pasteFilter(key);
}
void TfrmParametros::dcbFeriasKeyPress(QWidget*, int& key) {
    pasteFilter(key);
}
void TfrmParametros::dbdUltiFechaKeyPress(QWidget*, int& key) {
    pasteFilter(key);
}
void TfrmParametros::medCdFilialKeyPress(QWidget*, int& key) {
    codeFilter(key);
}
void TfrmParametros::dbeFechamentoKeyPress(QWidget*, int& key) {
    codeFilter(key);
}
void TfrmParametros::dbeMediConvKeyPress(QWidget*, int& key) {
    codeFilter(key);
}
