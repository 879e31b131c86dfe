#include "NoticeBar.h"

#include "Colours.h"
#include "Icons.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>

TNoticeBar::TNoticeBar(QWidget* parent, const QString& actionText)
    : QFrame(parent) {
    setObjectName(QStringLiteral("barAvisos"));
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    UseInfoColours(this); // a note, not an error
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(6, 3, 3, 3);
    m_text = new QLabel(this);
    m_text->setObjectName(QStringLiteral("lblAvisos"));
    m_text->setWordWrap(true);
    m_text->setTextFormat(Qt::PlainText);
    m_action = new QPushButton(actionText, this);
    m_action->setObjectName(QStringLiteral("btnAvisoAcao"));
    m_action->setFocusPolicy(Qt::TabFocus);
    m_close = new QToolButton(this);
    m_close->setObjectName(QStringLiteral("btnAvisoFechar"));
    m_close->setIcon(StyleIcon(QStyle::SP_TitleBarCloseButton));
    m_close->setToolTip(QStringLiteral("Fechar o aviso"));
    m_close->setAutoRaise(true);
    row->addWidget(m_text, 1);
    row->addWidget(m_action);
    row->addWidget(m_close);
    connect(m_action, &QPushButton::clicked, this, &TNoticeBar::ActionClicked);
    connect(m_close, &QToolButton::clicked, this, [this] {
        m_lines.clear();
        showLines();
    });
    hide();
}

void TNoticeBar::Tell(const QString& subject, const QString& text) {
    m_lines.insert(subject, text);
    showLines();
}

void TNoticeBar::Forget(const QString& subject) {
    m_lines.remove(subject);
    showLines();
}

QString TNoticeBar::Text() const {
    return m_text->text();
}

void TNoticeBar::showLines() {
    m_text->setText(m_lines.values().join(u'\n'));
    setVisible(!m_lines.isEmpty());
}
