#include "DrawnIcons.h"

#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>

namespace {

const QColor Outline(110, 110, 110);
const QColor Paper(252, 252, 252);

void page(QPainter& p) {
    QPainterPath sheet;
    sheet.moveTo(6, 2);
    sheet.lineTo(20, 2);
    sheet.lineTo(26, 8);
    sheet.lineTo(26, 30);
    sheet.lineTo(6, 30);
    sheet.closeSubpath();
    p.setPen(QPen(Outline, 1.5));
    p.setBrush(Paper);
    p.drawPath(sheet);
    p.drawPolyline(QPolygonF({QPointF(20, 2), QPointF(20, 8), QPointF(26, 8)}));
}

void stroke(QPainter& p, const QColor& colour, double width, const QPolygonF& line) {
    p.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(line);
}

// Each picture on a 32 × 32 grid.
void draw(QPainter& p, const QString& name) {
    if (name == QLatin1String("document-new")) {
        page(p);
        const QColor green(46, 139, 60);
        stroke(p, green, 4, {QPointF(16, 13), QPointF(16, 26)});
        stroke(p, green, 4, {QPointF(9.5, 19.5), QPointF(22.5, 19.5)});
    } else if (name == QLatin1String("edit-delete")) {
        const QColor grey(125, 125, 125);
        p.setPen(Qt::NoPen);
        p.setBrush(grey);
        p.drawRoundedRect(QRectF(5, 5, 22, 3.5), 1, 1);
        p.drawRect(QRectF(12.5, 2, 7, 3));
        QPainterPath body;
        body.moveTo(7, 10);
        body.lineTo(25, 10);
        body.lineTo(23, 30);
        body.lineTo(9, 30);
        body.closeSubpath();
        p.drawPath(body);
        for (double x : {12.0, 16.0, 20.0})
            stroke(p, QColor(230, 230, 230), 1.6, {QPointF(x, 13), QPointF(x, 27)});
    } else if (name == QLatin1String("document-edit")) {
        page(p);
        for (double y : {12.0, 16.0, 20.0})
            stroke(p, QColor(170, 170, 170), 1.2, {QPointF(9, y), QPointF(19, y)});
        p.save();
        p.translate(22, 19);
        p.rotate(45);
        p.setPen(QPen(QColor(120, 80, 20), 1));
        p.setBrush(QColor(240, 165, 40));
        p.drawRect(QRectF(-3, -12, 6, 17));
        p.setBrush(QColor(245, 220, 180));
        p.drawPolygon(QPolygonF({QPointF(-3, 5), QPointF(3, 5), QPointF(0, 10)}));
        p.restore();
    } else if (name == QLatin1String("dialog-ok")) {
        stroke(p, QColor(46, 139, 60), 5, {QPointF(5, 17), QPointF(13, 25), QPointF(27, 8)});
    } else if (name == QLatin1String("dialog-cancel")) {
        const QColor red(205, 45, 45);
        stroke(p, red, 5, {QPointF(7, 7), QPointF(25, 25)});
        stroke(p, red, 5, {QPointF(25, 7), QPointF(7, 25)});
    } else if (name == QLatin1String("view-refresh")) {
        const QColor blue(40, 110, 195);
        p.setPen(QPen(blue, 4, Qt::SolidLine, Qt::FlatCap));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(6, 6, 20, 20), 60 * 16, 290 * 16);
        p.setPen(Qt::NoPen);
        p.setBrush(blue);
        p.drawPolygon(QPolygonF({QPointF(16, 1), QPointF(24, 7.5), QPointF(15.5, 12)}));
    } else if (name == QLatin1String("edit-find")) {
        p.setPen(QPen(QColor(60, 60, 60), 3));
        p.setBrush(QColor(200, 225, 245));
        p.drawEllipse(QRectF(4, 4, 17, 17));
        stroke(p, QColor(60, 60, 60), 5, {QPointF(19.5, 19.5), QPointF(28, 28)});
    } else if (name == QLatin1String("document-print")) {
        p.setPen(QPen(Outline, 1.5));
        p.setBrush(Paper);
        p.drawRect(QRectF(9, 3, 14, 10));
        p.setBrush(QColor(150, 150, 150));
        p.drawRoundedRect(QRectF(3, 11, 26, 13), 2.5, 2.5);
        p.setBrush(Paper);
        p.drawRect(QRectF(9, 20, 14, 9));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(70, 190, 90));
        p.drawEllipse(QRectF(24, 14, 2.5, 2.5));
    }
}

class DrawnEngine : public QIconEngine {
public:
    explicit DrawnEngine(QString name)
        : m_name(std::move(name)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->translate(rect.topLeft());
        painter->scale(rect.width() / 32.0, rect.height() / 32.0);
        draw(*painter, m_name);
        painter->restore();
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1.0);
    }
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override {
        QPixmap pm(size * scale);
        pm.fill(Qt::transparent);
        {
            QPainter p(&pm);
            paint(&p, QRect(QPoint(0, 0), pm.size()), mode, state);
        }
        pm.setDevicePixelRatio(scale);
        return pm;
    }
    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override { return size; }
    QIconEngine* clone() const override { return new DrawnEngine(m_name); }
    QString key() const override { return QStringLiteral("rh-drawn"); }
    QString iconName() override { return m_name; }

private:
    QString m_name;
};

} // namespace

QIcon DrawnIcon(const QString& name) {
    return QIcon(new DrawnEngine(name));
}
