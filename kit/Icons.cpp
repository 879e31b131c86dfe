#include "Icons.h"

#include <QApplication>
#include <QHash>

QIcon StyleIcon(QStyle::StandardPixmap which) {
    static QHash<int, QIcon> made;
    static const QStyle* madeBy = nullptr;
    if (madeBy != QApplication::style()) { // a new application style draws its own
        made.clear();
        madeBy = QApplication::style();
    }
    if (const auto found = made.constFind(which); found != made.cend()) return *found;
    return *made.insert(which, QApplication::style()->standardIcon(which));
}
