#pragma once
// Starting the desktop: options, the shared database connection, the embedded service.

#include "DesktopServices.h"

#include <QIcon>
#include <QStringList>
#include <memory>

namespace rhserver {
class RhServer;
}

struct DesktopOptions {
    QString server; // HOST:PORT; empty: the embedded service
    QString db; // the embedded service's: sqlite:PATH or postgresql://…; empty: the user's folder
    QString branch; // empty: the first branch
    QString tokenFile;
    QString tlsCaFile; // with a server: TLS, trusting only this certificate
    QString modulesDir;
    // Where the embedded service's demo makes its payroll folders; empty: the user's data folder.
    QString dataFolder;
};

// Reads the command line; false with a message for the user when it is wrong. A request for
// help also returns false, with the help text and *helpAsked set.
bool parseDesktopOptions(const QStringList& args, DesktopOptions* options, QString* message,
                         bool* helpAsked = nullptr);

// The screen modules beside the build's programs, or where an installed rh keeps them.
QString defaultModulesDir(const QString& programDir);

// The user's SQLite database, in the data folder; one left in the folder of earlier versions is
// moved there first. Empty with a message when the folder cannot be made.
QString defaultDatabasePath(QString* message);
// The user's data folder of rh (~/.local/share/rh): the database and the demo's payroll folders.
QString userDataFolder();

class Desktop {
public:
    Desktop();
    ~Desktop();
    // Opens the database, starts or reaches the service and fills the services; false with a
    // message for the user when the product cannot run.
    bool start(const DesktopOptions& options, QString* message);
    // For tests, benchmarks and rendering: installs these services with dialogs recorded instead
    // of shown, and starts the embedded service on the SQLite file at the path.
    bool startUnattended(const QString& sqlitePath, QString* message);
    DesktopServices services;
    QString serverDescription;
    QString databaseDescription; // the database in use, without any password // "Servidor interno"
                                 // or the server's host
    QString serverDetails;       // where exactly: address and port
    QString defaultBranchName;
    QStringList notes; // options taken but not used, told once the desktop is up

private:
    // Reaches the chosen server once; why not, empty when it answered.
    QString probeServer();
    // The branch asked for, else the one chosen last time, else the first; false when none is.
    bool chooseBranch(QString branch, QString* message);
    std::unique_ptr<rhserver::RhServer> m_embedded;
};

// Called first thing in main, before any thread starts: memory freed after a large list goes
// back to the system instead of staying in the allocator's per-thread pools.
void keepMemoryLean();

// Qt's own texts (dialog buttons, window and context menus) in Brazilian Portuguese, and
// Brazilian number and date formats; false when Qt's translations are not installed.
bool installPortuguese();
// The product's icon, for the main window and every screen's window.
QIcon ProductIcon();
