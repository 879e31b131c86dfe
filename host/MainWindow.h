#pragma once
// The rh desktop: a multi-document main window that loads screen modules and merges the
// active screen's menus into its menu bar.

#include "DesktopServices.h"

#include <QLibrary>
#include <QMainWindow>
#include <memory>

class QLabel;
class QMdiArea;
class QMdiSubWindow;
class TfrmPadrao;

// One loaded screen module and its exported entries.
class ScreenModule {
public:
    // Loads the library and runs its Initialize; the reason goes to error on failure.
    bool load(const QString& path, QString* error);
    // Runs Finalize and unloads the library.
    void unload();
    void open() const;
    bool loaded() const { return m_iniProc != nullptr; }

private:
    QLibrary m_library;
    void (*m_iniProc)() = nullptr;
    void (*m_finalize)() = nullptr;
};

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(DesktopServices& services, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Loads the parameters module from the modules folder; false with the reason when it fails.
    bool loadModules(const QString& modulesDir, QString* error);
    // The server as the user knows it; the address and port go in the tooltip.
    void setServerText(const QString& text, const QString& details = {});
    void setBranch(const QString& code, const QString& name);
    void setDatabaseText(const QString& text) { m_databaseText = text; }
    // Version, server in use and database, as the "Sobre" box shows them.
    QString aboutText() const;
    QMdiArea* mdiArea() const { return m_mdi; }
    QAction* parametersAction() const { return m_openParameters; }
    QAction* historyAction() const { return m_openHistory; }
    // Opens the windows that were open when rh was last closed, in their state; at the very
    // first start, "Parâmetros Gerais".
    void restoreWindows();

protected:
    void closeEvent(QCloseEvent* e) override;
    // Closes and releases every screen; false when one refuses to close.
    bool closeScreens();

private:
    void childActivated(QMdiSubWindow* window);
    void chooseBranch();
    // Opens the change history, or brings the open one forward.
    void openHistory();
    // The branch can be changed only while no screen is open; the button says why not.
    void updateBranchButton(const QObject* leaving = nullptr);

    DesktopServices& m_services;
    QMdiArea* m_mdi;
    QAction* m_openParameters;
    QAction* m_openHistory;
    QLabel* m_branchLabel;
    class QToolButton* m_branchButton;
    QLabel* m_serverLabel;
    QList<QAction*> m_mergedMenus;
    QPointer<TfrmPadrao> m_activeForm;
    ScreenModule m_parameters;
    QString m_databaseText;
    QAction* m_windowMenu;
    QAction* m_viewMenu;
};
