#include "BtnPesquisa.h"

#include "Consiste.h"
#include "Dispatch.h"
#include "HostServices.h"
#include "Icons.h"

#include <QStyle>

TBtnPesquisa::TBtnPesquisa(QWidget* parent, const QString& name)
    : QToolButton(parent) {
    setObjectName(name);
    setToolTip(QStringLiteral("Pesquisar"));
    setIcon(StyleIcon(QStyle::SP_FileDialogContentsView));
    setFocusPolicy(Qt::NoFocus);
    setAutoRaise(true);
    connect(this, &QToolButton::clicked, this, [this] { Dispatch([this] { Pesquisar(); }); });
}

void TBtnPesquisa::Pesquisar() {
    if (!DataSource) {
        if (OnClick) OnClick();
        return;
    }
    bool flag = true;
    if (OnBeforePesq) OnBeforePesq(flag);
    TClientDataSet* rows = DataSource->DataSet();
    if (!rows || !rows->Active() || rows->IsEmpty()) MensErro(EmptyError, true);
    QStringList visible;
    for (int i = 0; i < rows->FieldCount(); ++i)
        if (rows->Fields(i).Visible) visible << rows->Fields(i).FieldName();
    if (host().pickRow(*rows, visible) && OnAfterPesq) OnAfterPesq();
}
