// Time to open the parameters screen in the rh desktop: building the form, connecting and the
// first load (GetFilial, GetGeral), then entering "Questionário" (GetInspecao and its list).
// Runs on the offscreen platform against the embedded service on a temporary SQLite file.

#include "Desktop.h"
#include "MainWindow.h"
#include "ModuleState.h"
#include "Parametros.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {
double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}
} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 30;
    QTemporaryDir dir;
    Desktop desktop;
    QString message;
    if (!desktop.startUnattended(dir.filePath(QStringLiteral("rh.db")), &message)) {
        fprintf(stderr, "%s\n", qPrintable(message));
        return 1;
    }
    MainWindow window(desktop.services);
    if (!window.loadModules(QApplication::applicationDirPath() + QStringLiteral("/../modules"),
                            &message)) {
        fprintf(stderr, "%s\n", qPrintable(message));
        return 1;
    }
    window.show();
    std::vector<double> open, quest;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer t;
        t.start();
        window.parametersAction()->trigger();
        open.push_back(t.nsecsElapsed() / 1e6);
        t.restart();
        Cli_zol00900::frmParametros->mnuQuestionario->trigger();
        quest.push_back(t.nsecsElapsed() / 1e6);
        window.mdiArea()->closeAllSubWindows();
        QCoreApplication::processEvents();
    }
    printf(
        "abrir a tela (criar, conectar, GetFilial, GetGeral): primeira %.1f ms, mediana %.1f ms\n",
        open.front(), median(open));
    printf("entrar em Questionário (GetInspecao e lista): mediana %.1f ms\n", median(quest));
    printf("erros mostrados: %lld\n", static_cast<long long>(desktop.services.shownErrors.size()));
    window.mdiArea()->closeAllSubWindows();
    setHostServices(nullptr);
    return desktop.services.shownErrors.isEmpty() ? 0 : 1;
}
