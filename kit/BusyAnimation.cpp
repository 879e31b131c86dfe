#include "BusyAnimation.h"

#include <QPainter>
#include <QTimerEvent>

namespace {
constexpr int framesPerSweep = 24;
constexpr int frameMs = 50;
} // namespace

TBusyAnimation::TBusyAnimation(QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("aviOcupado"));
    setToolTip(QStringLiteral("Aguarde: o programa está trabalhando."));
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QSize TBusyAnimation::sizeHint() const {
    return {100, fontMetrics().height()};
}

void TBusyAnimation::Start() {
    show();
    if (!m_timer.isActive()) m_timer.start(frameMs, Qt::PreciseTimer, this);
}

void TBusyAnimation::Stop() {
    m_timer.stop();
    hide();
}

void TBusyAnimation::timerEvent(QTimerEvent* e) {
    if (e->timerId() != m_timer.timerId()) return QWidget::timerEvent(e);
    ++m_frame;
    update();
}

void TBusyAnimation::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect area = rect().adjusted(0, 2, -1, -3);
    p.fillRect(rect(), palette().window());
    p.setPen(palette().color(QPalette::Mid));
    p.setBrush(palette().base());
    p.drawRect(area);
    // The block goes right, then back left.
    const int step = m_frame % (2 * framesPerSweep);
    const int pos = step < framesPerSweep ? step : 2 * framesPerSweep - step;
    const int blockWidth = std::max(8, area.width() / 4);
    const int x = area.left() + 1 + (area.width() - blockWidth - 1) * pos / framesPerSweep;
    p.fillRect(QRect(x, area.top() + 2, blockWidth, area.height() - 3),
               palette().color(QPalette::Highlight));
}
