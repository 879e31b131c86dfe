#include "Colours.h"

#include <QApplication>
#include <QEvent>
#include <QPalette>
#include <QWidget>
#include <cmath>

namespace {

double luminance(const QColor& c) {
    const auto channel = [](double v) {
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

void applyInfoColours(QWidget* widget) {
    const QPalette app = QApplication::palette(widget);
    QPalette p = widget->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(group, QPalette::Base, app.color(group, QPalette::ToolTipBase));
        p.setColor(group, QPalette::Window, app.color(group, QPalette::ToolTipBase));
        p.setColor(group, QPalette::Text, app.color(group, QPalette::ToolTipText));
        p.setColor(group, QPalette::WindowText, app.color(group, QPalette::ToolTipText));
    }
    widget->setPalette(p);
}

// Set roles are kept through a palette change: they are set again from the new palette.
class InfoColours : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::ApplicationPaletteChange)
            applyInfoColours(static_cast<QWidget*>(watched));
        return false;
    }
};

} // namespace

double ContrastRatio(const QColor& a, const QColor& b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor ReadableOn(const QColor& wanted, const QColor& background) {
    const bool darkBackground = luminance(background) < 0.18;
    QColor c = wanted.toHsl();
    for (int step = 0; step < 20 && ContrastRatio(c, background) < 4.5; ++step) {
        const int l = c.lightness();
        c.setHsl(c.hslHue(), c.hslSaturation(),
                 darkBackground ? std::min(255, l + 16) : std::max(0, l - 16));
    }
    return c.toRgb();
}

void UseInfoColours(QWidget* widget) {
    applyInfoColours(widget);
    widget->installEventFilter(new InfoColours(widget));
}
