#include "WindowPlaces.h"

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QSettings>

namespace {
// The rectangle a window was given when placed; a different one at close means the user moved it.
const char* const PlacedProperty = "rhPlacedGeometry";
} // namespace

void WindowPlaces::place(QMdiSubWindow* frame, const QString& kind) const {
    QRect rect(QPoint(0, 0), m_area->viewport()->size());
    if (!m_settingsPath.isEmpty() && !kind.isEmpty()) {
        const QRect kept = QSettings(m_settingsPath, QSettings::IniFormat)
                               .value(QStringLiteral("janelas/%1/geometria").arg(kind))
                               .toRect();
        // Kept only while some of it is still inside the workspace.
        if (kept.isValid() && kept.intersects(rect)) rect = kept;
    }
    frame->setGeometry(rect);
    frame->setProperty(PlacedProperty, rect);
}

void WindowPlaces::rememberOpen(const QList<QMdiSubWindow*>& frames) const {
    if (m_settingsPath.isEmpty()) return;
    QSettings settings(m_settingsPath, QSettings::IniFormat);
    QStringList open;
    for (const QMdiSubWindow* frame : frames) {
        const QString kind = kindOf(frame);
        if (kind.isEmpty() || frame->isHidden()) continue;
        open << kind;
        const QString key = QStringLiteral("janelas/%1/").arg(kind);
        settings.setValue(key + QStringLiteral("estado"),
                          frame->isMaximized()   ? QStringLiteral("maximizada")
                          : frame->isMinimized() ? QStringLiteral("minimizada")
                                                 : QString());
        const QRect normal = frame->isMaximized() || frame->isMinimized() ? frame->normalGeometry()
                                                                          : frame->geometry();
        if (normal != frame->property(PlacedProperty).toRect())
            settings.setValue(key + QStringLiteral("geometria"), normal);
    }
    settings.setValue(QStringLiteral("janelas/abertas"), open);
}

bool WindowPlaces::remembered(QStringList* kinds) const {
    if (m_settingsPath.isEmpty()) return true; // nothing to reopen, and no first start either
    QSettings settings(m_settingsPath, QSettings::IniFormat);
    if (!settings.contains(QStringLiteral("janelas/abertas"))) return false;
    *kinds = settings.value(QStringLiteral("janelas/abertas")).toStringList();
    return true;
}

QString WindowPlaces::state(const QString& kind) const {
    if (m_settingsPath.isEmpty()) return {};
    return QSettings(m_settingsPath, QSettings::IniFormat)
        .value(QStringLiteral("janelas/%1/estado").arg(kind))
        .toString();
}

QString WindowPlaces::kindOf(const QMdiSubWindow* frame) {
    const QWidget* content = frame->widget();
    if (!content) return {};
    if (content->objectName() == QLatin1String("frmParametros"))
        return QStringLiteral("parametros");
    if (content->objectName() == QLatin1String("frmHistorico")) return QStringLiteral("historico");
    return {};
}
