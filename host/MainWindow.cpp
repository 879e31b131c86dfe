#include "MainWindow.h"

#include "WindowMenu.h"
#include "contract/Lookups.h"

#include "BusyAnimation.h"
#include "Desktop.h"
#include "Dispatch.h"
#include "Exceptions.h"
#include "FormPadrao.h"
#include "HistoryWindow.h"
#include "PageControl.h"
#include "WindowPlaces.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QSettings>
#include <QStatusBar>
#include <QToolButton>

bool ScreenModule::load(const QString& path, QString* error) {
    m_library.setFileName(path);
    // Finalize runs at exit; the code itself stays mapped until the process ends.
    m_library.setLoadHints(QLibrary::PreventUnloadHint);
    if (!m_library.load()) {
        *error = QStringLiteral("Não foi possível carregar o módulo %1: %2")
                     .arg(path, m_library.errorString());
        return false;
    }
    auto initialize = reinterpret_cast<void (*)()>(m_library.resolve("Initialize"));
    m_finalize = reinterpret_cast<void (*)()>(m_library.resolve("Finalize"));
    m_iniProc = reinterpret_cast<void (*)()>(m_library.resolve("IniProc"));
    if (!initialize || !m_finalize || !m_iniProc) {
        *error =
            QStringLiteral("O módulo %1 não exporta Initialize, Finalize e IniProc.").arg(path);
        m_iniProc = nullptr;
        m_library.unload();
        return false;
    }
    initialize();
    return true;
}

void ScreenModule::unload() {
    if (!m_iniProc) return;
    m_finalize();
    m_iniProc = nullptr;
    m_library.unload();
}

void ScreenModule::open() const {
    if (m_iniProc) m_iniProc();
}

MainWindow::MainWindow(DesktopServices& services, QWidget* parent)
    : QMainWindow(parent)
    , m_services(services)
    , m_mdi(new QMdiArea(this)) {
    setObjectName(QStringLiteral("frmPrincipal"));
    setWindowTitle(QStringLiteral("Recursos Humanos"));
    setWindowIcon(ProductIcon());
    m_mdi->setObjectName(QStringLiteral("mdiArea"));
    setCentralWidget(m_mdi);
    resize(1024, 700);

    // "D": the screens' own menus take O and M.
    QMenu* modules = menuBar()->addMenu(QStringLiteral("Mó&dulos"));
    modules->setObjectName(QStringLiteral("mnuModulos"));
    m_openParameters = modules->addAction(QStringLiteral("&Parâmetros Gerais"));
    m_openParameters->setObjectName(QStringLiteral("mnuParametrosGerais"));
    m_openParameters->setEnabled(false);
    connect(m_openParameters, &QAction::triggered, this,
            [this] { Dispatch([this] { m_parameters.open(); }); });
    m_openHistory = modules->addAction(QStringLiteral("&Histórico de alterações"));
    m_openHistory->setObjectName(QStringLiteral("mnuHistorico"));
    connect(m_openHistory, &QAction::triggered, this,
            [this] { Dispatch([this] { openHistory(); }); });
    modules->addSeparator();
    QAction* quit = modules->addAction(QStringLiteral("&Sair"));
    connect(quit, &QAction::triggered, this, &QWidget::close);

    QMenu* view = menuBar()->addMenu(QStringLiteral("E&xibir"));
    view->setObjectName(QStringLiteral("mnuExibir"));
    m_viewMenu = view->menuAction();
    QAction* captions = view->addAction(QStringLiteral("&Texto nos botões da barra"));
    captions->setObjectName(QStringLiteral("mnuTextoNosBotoes"));
    captions->setCheckable(true);
    if (!m_services.settingsPath.isEmpty())
        TfrmPadrao::ShowToolBarCaptions(QSettings(m_services.settingsPath, QSettings::IniFormat)
                                            .value(QStringLiteral("exibir/textoNosBotoes"))
                                            .toBool());
    captions->setChecked(TfrmPadrao::ToolBarCaptionsShown());
    connect(captions, &QAction::toggled, this, [this](bool shown) {
        TfrmPadrao::ShowToolBarCaptions(shown);
        if (!m_services.settingsPath.isEmpty())
            QSettings(m_services.settingsPath, QSettings::IniFormat)
                .setValue(QStringLiteral("exibir/textoNosBotoes"), shown);
    });

    m_windowMenu = menuBar()->addMenu(new WindowMenu(m_mdi, this));

    QMenu* help = menuBar()->addMenu(QStringLiteral("Aj&uda"));
    help->setObjectName(QStringLiteral("mnuAjuda"));
    QAction* about = help->addAction(QStringLiteral("&Sobre"));
    about->setObjectName(QStringLiteral("mnuSobre"));
    connect(about, &QAction::triggered, this, [this] {
        m_services.showInformation(QStringLiteral("Sobre o Recursos Humanos"), aboutText());
    });

    m_branchButton = new QToolButton(this);
    m_branchButton->setObjectName(QStringLiteral("btnTrocarFilial"));
    m_branchButton->setText(QStringLiteral("Trocar filial…"));
    connect(m_branchButton, &QToolButton::clicked, this,
            [this] { Dispatch([this] { chooseBranch(); }); });
    m_branchLabel = new QLabel(this);
    m_branchLabel->setObjectName(QStringLiteral("lblFilialAtual"));
    m_serverLabel = new QLabel(this);
    m_serverLabel->setObjectName(QStringLiteral("lblServidor"));
    auto* busy = new TBusyAnimation(this);
    busy->hide();
    statusBar()->addWidget(m_branchLabel);
    statusBar()->addWidget(m_branchButton);
    statusBar()->addPermanentWidget(busy);
    statusBar()->addPermanentWidget(m_serverLabel);

    m_services.window = this;
    m_services.mdiArea = m_mdi;
    m_services.busyIndicator = busy;
    connect(m_mdi, &QMdiArea::subWindowActivated, this, &MainWindow::childActivated);
    // Coming back to the application is an activation for a screen whose set-up is pending.
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState s) {
        if (s == Qt::ApplicationActive && m_activeForm && m_activeForm->ActivationPending())
            m_activeForm->Activate(false);
    });
    updateBranchButton();
    if (!m_services.settingsPath.isEmpty())
        restoreGeometry(QSettings(m_services.settingsPath, QSettings::IniFormat)
                            .value(QStringLiteral("janela/geometria"))
                            .toByteArray());
}

QString MainWindow::aboutText() const {
    return QStringLiteral(
               "Recursos Humanos %1\nParâmetros gerais de RH.\n\n%2\n%3\nBanco de dados: %4")
        .arg(QStringLiteral(RH_VERSION), m_serverLabel->text(), m_serverLabel->toolTip(),
             m_databaseText);
}

MainWindow::~MainWindow() {
    // A window going while this one is half destroyed must not reach its menus.
    disconnect(m_mdi, nullptr, this, nullptr);
    closeScreens();
    for (QMdiSubWindow* w : m_mdi->subWindowList())
        disconnect(w, nullptr, this, nullptr);
    m_parameters.unload();
}

bool MainWindow::closeScreens() {
    // A closed screen is released at once: its module is finalised right after.
    for (QMdiSubWindow* window : m_mdi->subWindowList()) {
        if (!window->close()) return false;
        delete window;
    }
    return true;
}

bool MainWindow::loadModules(const QString& modulesDir, QString* error) {
    const bool ok = m_parameters.load(modulesDir + QStringLiteral("/libzol00900.so"), error);
    m_openParameters->setEnabled(ok);
    return ok;
}

void MainWindow::setServerText(const QString& text, const QString& details) {
    m_serverLabel->setText(text);
    m_serverLabel->setToolTip(details);
}

void MainWindow::setBranch(const QString& code, const QString& name) {
    m_services.branch = code;
    m_branchLabel->setText(QStringLiteral("Filial: %1 - %2").arg(code, name));
}

void MainWindow::chooseBranch() {
    // Open screens talk to the service in the branch they were opened in.
    if (!m_mdi->subWindowList().isEmpty()) {
        m_services.showError(QStringLiteral("Feche as telas abertas antes de trocar de filial."));
        return;
    }
    TClientDataSet branches(QStringLiteral("filiais"));
    branches.AddField({QStringLiteral("CDFILIAL"), protocol::FieldType::String, 4},
                      QStringLiteral("Código"));
    branches.AddField({QStringLiteral("NMFILIAL"), protocol::FieldType::String, 30},
                      QStringLiteral("Nome"));
    const protocol::DataPacket packet =
        m_services.lookupRows(contract::lookup::PesqFilial, {QString(), QStringLiteral("T")});
    int current = 0; // the list opens on the branch in use
    for (int i = 0; i < packet.rows.size(); ++i)
        if (packet.rows[i].value(0).toString() == m_services.branch) current = i;
    branches.SetData(packet);
    if (current > 0) branches.MoveTo(current);
    if (!m_services.pickRow(branches, {QStringLiteral("CDFILIAL"), QStringLiteral("NMFILIAL")},
                            QStringLiteral("Trocar filial: pesquisa de filiais")))
        return;
    setBranch(branches.FieldByName(QStringLiteral("CDFILIAL")).AsString(),
              branches.FieldByName(QStringLiteral("NMFILIAL")).AsString());
    if (!m_services.settingsPath.isEmpty())
        QSettings(m_services.settingsPath, QSettings::IniFormat)
            .setValue(QStringLiteral("filial"), m_services.branch);
}

void MainWindow::openHistory() {
    for (QMdiSubWindow* w : m_mdi->subWindowList())
        if (auto* open = qobject_cast<HistoryWindow*>(w->widget())) {
            m_mdi->setActiveSubWindow(w);
            open->refresh();
            return;
        }
    auto* history = new HistoryWindow(m_services);
    QMdiSubWindow* frame = m_mdi->addSubWindow(history);
    frame->setAttribute(Qt::WA_DeleteOnClose);
    frame->setWindowIcon(ProductIcon());
    WindowPlaces(m_services.settingsPath, m_mdi).place(frame, WindowPlaces::kindOf(frame));
    frame->show();
    history->refresh();
}

void MainWindow::updateBranchButton(const QObject* leaving) {
    bool screensOpen = false;
    for (QMdiSubWindow* w : m_mdi->subWindowList()) {
        if (w == leaving || w->isHidden()) continue;
        screensOpen = true;
        if (!w->property("rhWatched").toBool()) {
            w->setProperty("rhWatched", true);
            connect(w, &QObject::destroyed, this, [this, w] { updateBranchButton(w); });
        }
    }
    m_branchButton->setEnabled(!screensOpen);
    m_branchButton->setToolTip(screensOpen
                                   ? QStringLiteral("Feche as telas abertas para trocar de filial: "
                                                    "elas trabalham na filial atual.")
                                   : QStringLiteral("Escolher a filial em que se vai trabalhar."));
}

void MainWindow::childActivated(QMdiSubWindow* window) {
    updateBranchButton();
    if (window) WindowMenu::leaveKeysToMenu(window);
    auto* form = window ? qobject_cast<TfrmPadrao*>(window->widget()) : nullptr;
    if (form == m_activeForm) return;
    for (QAction* a : m_mergedMenus)
        menuBar()->removeAction(a);
    m_mergedMenus.clear();
    m_activeForm = form;
    if (!form) return;
    for (QMenu* menu : form->FormMenus()) {
        GiveAccelerators(menu);
        // "Exibir", "Janela" and "Ajuda" stay last, as in the programs people know.
        menuBar()->insertAction(m_viewMenu, menu->menuAction());
        m_mergedMenus << menu->menuAction();
    }
    m_services.activateForm(form);
}

void MainWindow::restoreWindows() {
    const WindowPlaces places(m_services.settingsPath, m_mdi);
    QStringList kinds;
    // The very first start opens the screen, so nobody has to look for it.
    if (!places.remembered(&kinds)) kinds = {QStringLiteral("parametros")};
    for (const QString& kind : kinds) {
        QAction* open = kind == QLatin1String("parametros")  ? m_openParameters
                        : kind == QLatin1String("historico") ? m_openHistory
                                                             : nullptr;
        if (!open || !open->isEnabled()) continue;
        open->trigger();
        QMdiSubWindow* frame = m_mdi->activeSubWindow();
        if (!frame || WindowPlaces::kindOf(frame) != kind) continue;
        const QString state = places.state(kind);
        if (state == QLatin1String("maximizada"))
            frame->showMaximized();
        else if (state == QLatin1String("minimizada"))
            frame->showMinimized();
    }
}

void MainWindow::closeEvent(QCloseEvent* e) {
    // Which windows were open, and where, before closing them; bottom first.
    WindowPlaces(m_services.settingsPath, m_mdi)
        .rememberOpen(m_mdi->subWindowList(QMdiArea::StackingOrder));
    if (!closeScreens()) {
        e->ignore();
        return;
    }
    m_parameters.unload();
    if (!m_services.settingsPath.isEmpty())
        QSettings(m_services.settingsPath, QSettings::IniFormat)
            .setValue(QStringLiteral("janela/geometria"), saveGeometry());
    e->accept();
}
