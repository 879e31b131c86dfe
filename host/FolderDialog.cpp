#include "FolderDialog.h"

#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QTreeView>

namespace {

// The file system model names types in English and writes dates in the machine's locale,
// whatever the application's: these two give the dialog the application's words and dates.
class FolderTypes : public QFileIconProvider {
public:
    QString type(const QFileInfo& info) const override {
        return info.isDir() ? QStringLiteral("Pasta") : QFileIconProvider::type(info);
    }
};

class BrazilianDates : public QIdentityProxyModel {
public:
    static constexpr int DateColumn = 3;
    QVariant data(const QModelIndex& index, int role) const override {
        auto* files = qobject_cast<QFileSystemModel*>(sourceModel());
        if (files && role == Qt::DisplayRole && index.column() == DateColumn)
            return QLocale().toString(files->lastModified(mapToSource(index)),
                                      QStringLiteral("dd/MM/yyyy HH:mm"));
        return QIdentityProxyModel::data(index, role);
    }
};

} // namespace

QString chooseFolder(QWidget* parent, const QString& title, const QString& start) {
    QFileDialog dialog(parent, title, start);
    dialog.setObjectName(QStringLiteral("dlgDiretorio"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setViewMode(QFileDialog::Detail);
    FolderTypes types;
    dialog.setIconProvider(&types);
    dialog.setProxyModel(new BrazilianDates);
    // Every column as wide as its header and texts; the name takes the rest.
    if (auto* view = dialog.findChild<QTreeView*>(QStringLiteral("treeView"))) {
        view->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
        view->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}
