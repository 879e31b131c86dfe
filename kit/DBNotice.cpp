#include "DBNotice.h"

#include "Colours.h"

TDBEmptyNotice::TDBEmptyNotice(QWidget* parent, const QString& name, const QString& text)
    : QLabel(text, parent) {
    setObjectName(name);
    setWordWrap(true);
    setFrameShape(QFrame::StyledPanel);
    setMargin(4);
    setAutoFillBackground(true);
    UseInfoColours(this);
    setVisible(false);
}

void TDBEmptyNotice::SetDataSource(TDataSource* source) {
    if (m_source) m_source->removeLink(this);
    m_source = source;
    if (m_source) m_source->addLink(this);
    follow();
}

void TDBEmptyNotice::linkSourceDestroyed() {
    m_source = nullptr;
    follow();
}

void TDBEmptyNotice::follow() {
    const TClientDataSet* set = m_source ? m_source->DataSet() : nullptr;
    setVisible(set && set->Active() && set->IsEmpty());
}
