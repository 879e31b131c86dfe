#include "Desktop.h"
#include "MainWindow.h"
#include "server/Storage.h"

#include <QApplication>
#include <QMessageBox>
#include <QStandardPaths>

namespace {
// A failure to start: one line on stderr for scripts and terminals, and a message box when
// there is a screen to show it on.
int failToStart(const QString& message) {
    const QString line = message.simplified();
    fprintf(stderr, "rh: %s\n", line.toUtf8().constData());
    const QString platform = QGuiApplication::platformName();
    if (platform != QLatin1String("offscreen") && platform != QLatin1String("minimal"))
        QMessageBox::critical(nullptr, QStringLiteral("Recursos Humanos"), message);
    return 1;
}
} // namespace

int main(int argc, char** argv) {
    keepMemoryLean();
    rhserver::tuneSqlite(); // for the embedded service, before any thread opens a database
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
        if (helpAsked) {
            fprintf(stdout, "%s\n", message.toUtf8().constData());
            return 0;
        }
        fprintf(stderr, "rh: %s\n", message.toUtf8().constData());
        return 2;
    }
    if (options.modulesDir.isEmpty())
        options.modulesDir = defaultModulesDir(QApplication::applicationDirPath());
    Desktop desktop;
    desktop.services.settingsPath =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
        QStringLiteral("/rh/rh.conf");
    setHostServices(&desktop.services);
    if (!desktop.start(options, &message)) return failToStart(message);
    for (const QString& note : desktop.notes)
        fprintf(stderr, "rh: %s\n", note.toUtf8().constData());
    MainWindow window(desktop.services);
    window.setBranch(desktop.services.branch, desktop.defaultBranchName);
    window.setServerText(desktop.serverDescription, desktop.serverDetails);
    window.setDatabaseText(desktop.databaseDescription);
    if (!window.loadModules(options.modulesDir, &message))
        QMessageBox::warning(&window, QStringLiteral("Recursos Humanos"), message);
    window.show();
    window.restoreWindows();
    const int code = app.exec();
    setHostServices(nullptr);
    return code;
}
