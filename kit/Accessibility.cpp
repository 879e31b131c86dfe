#include "Accessibility.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTabBar>
#include <QTabWidget>

namespace {

QString plain(QString text) {
    text.remove(QRegularExpression(QStringLiteral("&(?!&)")));
    text.replace(QStringLiteral("&&"), QStringLiteral("&"));
    if (text.endsWith(u':')) text.chop(1);
    return text.trimmed();
}

bool holds(QLayoutItem* item, const QWidget* control) {
    if (!item) return false;
    if (item->widget() == control) return true;
    if (const QLayout* inner = item->layout())
        for (int i = 0; i < inner->count(); ++i)
            if (holds(inner->itemAt(i), control)) return true;
    return false;
}

// The label of the form-layout row the control is in, nested rows included.
QLabel* formRowLabel(const QWidget* control) {
    const QWidget* parent = control->parentWidget();
    const auto* form = parent ? qobject_cast<const QFormLayout*>(parent->layout()) : nullptr;
    if (!form) return nullptr;
    for (int row = 0; row < form->rowCount(); ++row)
        if (holds(form->itemAt(row, QFormLayout::FieldRole), control))
            if (const QLayoutItem* label = form->itemAt(row, QFormLayout::LabelRole))
                return qobject_cast<QLabel*>(label->widget());
    return nullptr;
}

QString buddyLabel(const QWidget* control) {
    for (const QLabel* l : control->window()->findChildren<const QLabel*>())
        if (l->buddy() == control) return plain(l->text());
    return {};
}

QString tabBarName(const QTabBar* bar) {
    // The pages of a page: named after the tab of the page that holds them.
    const QWidget* own = bar->parentWidget();
    for (const QWidget* w = own ? own->parentWidget() : nullptr; w; w = w->parentWidget()) {
        const QWidget* stack = w->parentWidget();
        const auto* outer =
            stack ? qobject_cast<const QTabWidget*>(stack->parentWidget()) : nullptr;
        if (!outer) continue;
        if (const int at = outer->indexOf(const_cast<QWidget*>(w)); at >= 0)
            return QStringLiteral("Páginas de %1").arg(plain(outer->tabText(at)));
    }
    return QStringLiteral("Páginas");
}

} // namespace

QString CaptionOf(const QWidget* control) {
    if (const auto* bar = qobject_cast<const QTabBar*>(control)) return tabBarName(bar);
    if (const auto* button = qobject_cast<const QAbstractButton*>(control)) {
        if (!button->text().isEmpty() && !qobject_cast<const QGroupBox*>(control))
            return plain(button->text());
        if (!button->toolTip().isEmpty()) return plain(button->toolTip());
    }
    if (QString label = buddyLabel(control); !label.isEmpty()) return label;
    if (const QLabel* label = formRowLabel(control)) return plain(label->text());
    if (const auto* group = qobject_cast<const QGroupBox*>(control)) return plain(group->title());
    for (const QWidget* w = control->parentWidget(); w && !w->isWindow(); w = w->parentWidget())
        if (const auto* group = qobject_cast<const QGroupBox*>(w);
            group && !group->title().isEmpty())
            return plain(group->title());
    return {};
}

void NameControlsForScreenReaders(QWidget* root) {
    for (QWidget* w : root->findChildren<QWidget*>()) {
        const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) ||
                             qobject_cast<QComboBox*>(w) || qobject_cast<QAbstractItemView*>(w) ||
                             qobject_cast<QTabBar*>(w) || qobject_cast<QGroupBox*>(w);
        // Parts of a compound control (a combo box's edit, a view's scroll bars) are its own.
        if (!control || qobject_cast<QComboBox*>(w->parentWidget())) continue;
        // Some readers take a control's name from the label tied to it (a combo box's name is
        // its text there): the label of its row is tied to it.
        if (QLabel* label = formRowLabel(w);
            label && !label->buddy() && label->parentWidget() == w->parentWidget())
            label->setBuddy(w);
        if (w->accessibleName().isEmpty()) w->setAccessibleName(CaptionOf(w));
        if (w->accessibleDescription().isEmpty() && !w->toolTip().isEmpty())
            w->setAccessibleDescription(w->toolTip());
    }
}
