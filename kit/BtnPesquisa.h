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
    std::function<void(bool& flag)> OnBeforePesq;
    std::function<void()> OnAfterPesq;
    std::function<void()> OnClick;

    // What a click does; also callable from code.
    void Pesquisar();
};
