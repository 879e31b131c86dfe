// Renders every page of the parameters screen to PNG files, on the offscreen platform.
// Usage: rhscreens OUTDIR  (uses a fresh demo database in a temporary folder)

#include "Desktop.h"
#include "MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTemporaryDir>
#include <QTimer>

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--version") {
            fputs("rhscreens " RH_VERSION "\n", stdout);
            return 0;
        }
        if (arg == "--help" || arg == "-h") {
            fputs("Uso: rhscreens PASTA\nDesenha as páginas da tela de parâmetros e a janela do "
                  "histórico em arquivos PNG na PASTA, sobre um banco de demonstração novo.\n",
                  stdout);
            return 0;
        }
        if (arg.startsWith('-')) {
            fprintf(stderr, "rhscreens: opção desconhecida: %s; veja rhscreens --help\n", argv[i]);
            return 2;
        }
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    installPortuguese();
    QApplication::setWindowIcon(ProductIcon());
    if (argc < 2) {
        fprintf(stderr, "rhscreens: informe a pasta dos arquivos; veja rhscreens --help\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    QTemporaryDir temp;
    const QString modulesDir = QApplication::applicationDirPath() + QStringLiteral("/../modules");
    Desktop desktop;
    QString message;
    if (!desktop.startUnattended(temp.filePath(QStringLiteral("rh.db")), &message)) {
        fprintf(stderr, "%s\n", qPrintable(message));
        return 1;
    }
    MainWindow window(desktop.services);
    window.setBranch(desktop.services.branch, desktop.defaultBranchName);
    window.setServerText(desktop.serverDescription, desktop.serverDetails);
    window.resize(900, 620);
    if (!window.loadModules(modulesDir, &message)) {
        fprintf(stderr, "%s\n", qPrintable(message));
        return 1;
    }
    window.show();
    window.parametersAction()->trigger();
    if (QMdiSubWindow* frame = window.mdiArea()->activeSubWindow()) frame->showMaximized();
    const QList<QPair<const char*, const char*>> pages{{"mnuEncargos", "geral-encargos"},
                                                       {"mnuCestaBasica", "geral-cesta-basica"},
                                                       {"mnuAgenda", "geral-agenda"},
                                                       {"mnuFerias", "geral-ferias"},
                                                       {"mnuQuestionario", "geral-questionario"},
                                                       {"mnuAgeFilial", "filial-agenda"},
                                                       {"mnuDIversos", "filial-diversos"}};
    for (const auto& [item, file] : pages) {
        auto* action = window.findChild<QAction*>(QString::fromLatin1(item));
        if (!action) continue;
        action->trigger();
        QCoreApplication::processEvents();
        window.grab().save(out + QStringLiteral("/%1.png").arg(QString::fromLatin1(file)));
    }
    for (const QString& e : desktop.services.shownErrors)
        fprintf(stderr, "erro mostrado: %s\n", qPrintable(e));
    window.mdiArea()->closeAllSubWindows();
    setHostServices(nullptr);
    return desktop.services.shownErrors.isEmpty() ? 0 : 1;
}
