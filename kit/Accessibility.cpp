#include "Accessibility.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QLineEdit>

namespace {

// The text without its mnemonic marks: "&&" stands for one "&", a lone "&" marks the next letter.
QString plain(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'&') {
            out.append(text[i]);
        } else if (i + 1 < text.size() && text[i + 1] == u'&') {
            out.append(u'&');
            ++i;
        }
    }
    if (out.endsWith(u':')) out.chop(1);
    return out.trimmed();
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

using Buddies = QHash<const QWidget*, const QLabel*>;

Buddies buddiesIn(const QWidget* root) {
    Buddies buddies;
    for (const QLabel* l : root->findChildren<const QLabel*>())
        if (l->buddy()) buddies.insert(l->buddy(), l);
    return buddies;
}

// The caption a person reads for the control: its own text, or the tip of a button that shows
// only an icon; its label (a buddy, or the label of its row in a form layout); the title of the
// group it sits in. Empty when it has none.
QString captionOf(const QWidget* control, const Buddies& buddies) {
    if (const auto* button = qobject_cast<const QAbstractButton*>(control)) {
        if (!button->text().isEmpty() && !qobject_cast<const QGroupBox*>(control))
            return plain(button->text());
        if (!button->toolTip().isEmpty()) return plain(button->toolTip());
    }
    if (const QLabel* label = buddies.value(control)) return plain(label->text());
    if (const QLabel* label = formRowLabel(control)) return plain(label->text());
    if (const auto* group = qobject_cast<const QGroupBox*>(control)) return plain(group->title());
    for (const QWidget* w = control->parentWidget(); w && !w->isWindow(); w = w->parentWidget())
        if (const auto* group = qobject_cast<const QGroupBox*>(w);
            group && !group->title().isEmpty())
            return plain(group->title());
    return {};
}

} // namespace

void NameControlsForScreenReaders(QWidget* root) {
    const QList<QWidget*> all = root->findChildren<QWidget*>();
    // Some readers take a control's name from the label tied to it (a combo box's name is its
    // text there): each row's label is tied to the edit or list of its row first.
    for (QWidget* w : all)
        if (QLabel* label = formRowLabel(w);
            label && !label->buddy() && label->parentWidget() == w->parentWidget() &&
            (qobject_cast<QLineEdit*>(w) || qobject_cast<QComboBox*>(w)))
            label->setBuddy(w);
    const Buddies buddies = buddiesIn(root);
    for (QWidget* w : all) {
        const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) ||
                             qobject_cast<QComboBox*>(w) || qobject_cast<QAbstractItemView*>(w) ||
                             qobject_cast<QGroupBox*>(w);
        // Parts of a compound control (a combo box's edit, a view's scroll bars) are its own.
        if (!control || qobject_cast<QComboBox*>(w->parentWidget())) continue;
        if (w->accessibleName().isEmpty()) w->setAccessibleName(captionOf(w, buddies));
        if (w->accessibleDescription().isEmpty() && !w->toolTip().isEmpty())
            w->setAccessibleDescription(w->toolTip());
    }
}
