#include "Splitter.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace {

class GripHandle : public QSplitterHandle {
public:
    using QSplitterHandle::QSplitterHandle;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        QStyleOptionFrame frame;
        frame.initFrom(this);
        frame.lineWidth = 1;
        frame.state |= QStyle::State_Raised;
        p.fillRect(rect(), palette().color(QPalette::Button));
        style()->drawPrimitive(QStyle::PE_Frame, &frame, &p, this);
        // Five dots across the middle say "drag me" on every style.
        const bool across = orientation() == Qt::Vertical;
        const QPoint centre = rect().center();
        const int dot = std::max(2, (across ? height() : width()) / 3);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(palette().color(underMouse() ? QPalette::Highlight : QPalette::Dark));
        for (int i = -2; i <= 2; ++i) {
            const QPoint at = across ? QPoint(centre.x() + i * dot * 2, centre.y())
                                     : QPoint(centre.x(), centre.y() + i * dot * 2);
            p.drawEllipse(QRectF(at.x() - dot / 2.0, at.y() - dot / 2.0, dot, dot));
        }
    }
    void enterEvent(QEnterEvent* e) override {
        QSplitterHandle::enterEvent(e);
        update();
    }
    void leaveEvent(QEvent* e) override {
        QSplitterHandle::leaveEvent(e);
        update();
    }
};

} // namespace

TSplitter::TSplitter(Qt::Orientation orientation, const QString& name)
    : QSplitter(orientation) {
    setObjectName(name);
    setHandleWidth(std::max(8, fontMetrics().height() / 2));
    connect(this, &QSplitter::splitterMoved, this, [this] { m_moved = true; });
}

QSplitterHandle* TSplitter::createHandle() {
    auto* handle = new GripHandle(orientation(), this);
    handle->setAttribute(Qt::WA_Hover);
    handle->setToolTip(QStringLiteral("Arraste para dividir o espaço"));
    return handle;
}

void TSplitter::SetOrientation(Qt::Orientation o) {
    if (o == orientation()) return;
    m_moved = false;
    setOrientation(o);
}

void TSplitter::resizeEvent(QResizeEvent* e) {
    QSplitter::resizeEvent(e);
    if (OnResize) OnResize();
}
