#include "BtnPesquisa.h"

#include "Consiste.h"
#include "Dispatch.h"
#include "HostServices.h"
#include "Icons.h"

#include <QLineEdit>
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
    openOnTheValueShown(*rows, visible);
    if (host().pickRow(*rows, visible, Caption) && OnAfterPesq) OnAfterPesq();
}

void TBtnPesquisa::openOnTheValueShown(TClientDataSet& rows, const QStringList& visible) {
    auto* edit = qobject_cast<QLineEdit*>(Associate);
    const QString shown = edit ? edit->text().trimmed() : QString();
    if (shown.isEmpty()) return;
    for (int r = 0; r < rows.RecordCount(); ++r) {
        rows.MoveTo(r);
        for (const QString& field : visible)
            if (rows.FieldByName(field).AsString().trimmed() == shown) return;
    }
    rows.First();
}
