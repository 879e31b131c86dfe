#include "Desktop.h"
#include "MainWindow.h"

#include <QApplication>
#include <QMessageBox>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("rh"));
    QApplication::setOrganizationName(QStringLiteral("rh"));
    DesktopOptions options;
    QString message;
    if (!parseDesktopOptions(QApplication::arguments(), &options, &message)) {
        fprintf(stderr, "%s\n", qPrintable(message));
        return 2;
    }
    if (options.modulesDir.isEmpty())
        options.modulesDir = QApplication::applicationDirPath() + QStringLiteral("/../modules");
    Desktop desktop;
    setHostServices(&desktop.services);
    if (!desktop.start(options, &message)) {
        QMessageBox::critical(nullptr, QStringLiteral("Recursos Humanos"), message);
        return 1;
    }
    MainWindow window(desktop.services);
    window.setBranch(desktop.services.branch, desktop.defaultBranchName);
    window.setServerText(desktop.serverDescription);
    if (!window.loadModules(options.modulesDir, &message))
        QMessageBox::warning(&window, QStringLiteral("Recursos Humanos"), message);
    window.show();
    const int code = app.exec();
    setHostServices(nullptr);
    return code;
}
