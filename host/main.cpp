#include "Desktop.h"
#include "MainWindow.h"

#include <QApplication>
#include <QMessageBox>
#include <QStandardPaths>

int main(int argc, char** argv) {
    // Help needs no display: answer it before the window system is reached.
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--version" || arg == "--versao") {
            fputs("rh " RH_VERSION "\n", stdout);
            return 0;
        }
        if (arg == "-h" || arg == "--help" || arg == "--ajuda" || arg == "-?") {
            DesktopOptions ignored;
            QString help;
            parseDesktopOptions({QStringLiteral("rh"), QStringLiteral("--help")}, &ignored, &help);
            fputs(help.toUtf8().constData(), stdout);
            return 0;
        }
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("rh"));
    QApplication::setWindowIcon(ProductIcon());
    if (!installPortuguese())
        fprintf(stderr, "rh: as traduções do Qt (qt6-translations-l10n) não estão instaladas.\n");
    DesktopOptions options;
    QString message;
    bool helpAsked = false;
    if (!parseDesktopOptions(QApplication::arguments(), &options, &message, &helpAsked)) {
        fprintf(helpAsked ? stdout : stderr, "%s\n", message.toUtf8().constData());
        return helpAsked ? 0 : 2;
    }
    if (options.modulesDir.isEmpty())
        options.modulesDir = defaultModulesDir(QApplication::applicationDirPath());
    Desktop desktop;
    desktop.services.settingsPath =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
        QStringLiteral("/rh/rh.conf");
    setHostServices(&desktop.services);
    if (!desktop.start(options, &message)) {
        QMessageBox::critical(nullptr, QStringLiteral("Recursos Humanos"), message);
        return 1;
    }
    MainWindow window(desktop.services);
    window.setBranch(desktop.services.branch, desktop.defaultBranchName);
    window.setServerText(desktop.serverDescription, desktop.serverDetails);
    window.setDatabaseText(desktop.databaseDescription);
    if (!window.loadModules(options.modulesDir, &message))
        QMessageBox::warning(&window, QStringLiteral("Recursos Humanos"), message);
    window.show();
    const int code = app.exec();
    setHostServices(nullptr);
    return code;
}
