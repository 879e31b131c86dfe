#pragma once
// The search button beside an edit: refills its rows, offers them in a pick list and hands the
// pick to its after-search event.

#include "DataSource.h"

#include <QToolButton>
#include <functional>

class TBtnPesquisa : public QToolButton {
    Q_OBJECT
public:
    TBtnPesquisa(QWidget* parent, const QString& name);

    QWidget* Associate = nullptr;
    TDataSource* DataSource = nullptr; // none: the button is a plain button (OnClick)
    QString EmptyError;
    QString Caption = QStringLiteral("Pesquisa"); // the pick list's title: what is searched
    std::function<void(bool& flag)> OnBeforePesq;
    std::function<void()> OnAfterPesq;
    std::function<void()> OnClick;

    // What a click does; also callable from code.
    void Pesquisar();

private:
    // The list opens on the row whose code or name the associated edit shows.
    void openOnTheValueShown(TClientDataSet& rows, const QStringList& visible);
};
