// Renders every page of the parameters screen, and the change history after a few changes, to
// PNG files, on the offscreen platform.
// Usage: rhscreens OUTDIR  (uses a fresh demo database in a temporary folder)

#include "Desktop.h"
#include "MainWindow.h"
#include "NetConnection.h"
#include "contract/Methods.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

namespace {

// A few changes for the history page, made through the service as the screen makes them.
bool makeSampleChanges(DesktopServices& services, QString* message) {
    TNetConnection connection;
    connection.ServerName = QString(contract::ServerObjectName);
    connection.Host = services.serverHost;
    connection.Port = services.serverPort;
    try {
        connection.SetConnected(true);
        protocol::Response r =
            connection.AppServer().call(contract::method::GetGeral, {QStringLiteral("1")});
        const protocol::DataPacket geral = protocol::resultPacket(r);
        protocol::Delta delta;
        delta.fields = geral.fields;
        delta.changes.push_back({protocol::DeltaChange::Op::Update, geral.rows[0], geral.rows[0]});
        delta.changes[0].newValues[geral.indexOf(QStringLiteral("VRPEENCTEMP"))] = 7.5;
        delta.changes[0].newValues[geral.indexOf(QStringLiteral("QTDIASFERIPG"))] = 25.0;
        for (const auto& [method, args] : QList<QPair<QString, QVector<protocol::Argument>>>{
                 {contract::method::SetGeral, {delta}},
                 {contract::method::SetInsPad, {QStringLiteral("01002"), QStringLiteral("0001")}},
                 {contract::method::SetInsCarg,
                  {QStringLiteral("0001"), QStringLiteral("01002"), QStringLiteral("0003")}}}) {
            r = connection.AppServer().call(method, args);
            if (!r.ok) {
                *message = r.errorMessage;
                return false;
            }
        }
        return true;
    } catch (const std::exception& e) {
        *message = QString::fromLocal8Bit(e.what());
        return false;
    }
}

} // namespace

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
    desktop.services.settingsPath = temp.filePath(QStringLiteral("rh.conf")); // a first start
    // The demo's payroll folders as a user's first start shows them, not this run's temporary ones.
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("guia"));
        db.setDatabaseName(temp.filePath(QStringLiteral("rh.db")));
        if (db.open())
            QSqlQuery(db).exec(
                QStringLiteral("UPDATE PARAMFILIAL SET NMDIRPONTO = "
                               "'/home/usuario/.local/share/rh/folha/' || CDFILIAL"));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("guia"));
    MainWindow window(desktop.services);
    window.setBranch(desktop.services.branch, desktop.defaultBranchName);
    window.setServerText(desktop.serverDescription, desktop.serverDetails);
    window.resize(1366, 900);
    if (!window.loadModules(modulesDir, &message)) {
        fprintf(stderr, "%s\n", qPrintable(message));
        return 1;
    }
    window.show();
    // The first start: the screen opens by itself, filling the workspace.
    window.restoreWindows();
    QCoreApplication::processEvents();
    window.grab().save(out + QStringLiteral("/inicio.png"));
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
    // One page as a desktop scaled to 200 % shows it: twice the pixels, each picture at its size.
    if (auto* action = window.findChild<QAction*>(QStringLiteral("mnuQuestionario"))) {
        action->trigger();
        QCoreApplication::processEvents();
        QImage doubled(window.size() * 2, QImage::Format_ARGB32_Premultiplied);
        doubled.setDevicePixelRatio(2);
        doubled.fill(Qt::transparent);
        window.render(&doubled);
        doubled.save(out + QStringLiteral("/geral-questionario-200.png"));
    }
    // Someone else's changes, told above the pages.
    if (auto* action = window.findChild<QAction*>(QStringLiteral("mnuEncargos"))) action->trigger();
    if (!makeSampleChanges(desktop.services, &message)) {
        fprintf(stderr, "%s\n", qPrintable(message));
        return 1;
    }
    QElapsedTimer waited;
    waited.start();
    auto* notices = window.findChild<QWidget*>(QStringLiteral("barAvisos"));
    while (notices && !notices->isVisible() && waited.elapsed() < 3000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QCoreApplication::processEvents();
    window.grab().save(out + QStringLiteral("/aviso-alteracao.png"));
    window.mdiArea()->closeAllSubWindows();
    QCoreApplication::processEvents();
    window.historyAction()->trigger();
    if (QMdiSubWindow* frame = window.mdiArea()->activeSubWindow()) frame->showMaximized();
    QCoreApplication::processEvents();
    window.grab().save(out + QStringLiteral("/historico.png"));
    // A change chosen to be undone: its row selected, the button on.
    if (auto* list = window.findChild<QTreeWidget*>(QStringLiteral("grdHistorico"));
        list && list->topLevelItemCount() > 2) {
        list->setCurrentItem(list->topLevelItem(2));
        QCoreApplication::processEvents();
        window.grab().save(out + QStringLiteral("/historico-desfazer.png"));
    }
    for (const QString& e : desktop.services.shownErrors)
        fprintf(stderr, "erro mostrado: %s\n", qPrintable(e));
    window.mdiArea()->closeAllSubWindows();
    setHostServices(nullptr);
    return desktop.services.shownErrors.isEmpty() ? 0 : 1;
}
