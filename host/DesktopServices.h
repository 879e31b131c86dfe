#pragma once
// The host services of the rh desktop: its state, dialogs, busy animation and error handling.

#include "HostServices.h"

#include <QList>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <memory>

class QMdiArea;
class TBusyAnimation;
class QStatusBar;
class QMainWindow;
class TfrmPadrao;
class TNetConnection;

class DesktopServices : public HostServices {
public:
    DesktopServices();
    ~DesktopServices() override;
    QString FiliProc() override { return branch; }
    QString WebURL() override { return serverHost; }
    int WebPort() override { return serverPort; }
    QString serverToken() override { return token; }
    QSslConfiguration serverTls() override { return tls; }
    // Through the service, like every read of reference data the desktop makes.
    std::optional<protocol::DataPacket> lookup(const QString& name,
                                               const QStringList& values) override;
    int codePictureLevels(int pictureType) override;
    // The rows of a lookup of the service; throws when the service cannot answer.
    protocol::DataPacket lookupRows(const QString& name, const QStringList& values);
    // Closes the lookups' connection (the service is going away).
    void endLookups();

    void showError(const QString& text) override;
    // A note the user reads and closes, such as the "Sobre" box.
    void showInformation(const QString& title, const QString& text);
    ModalResult ask(const QString& text, MsgDlgType kind,
                    const QList<ModalResult>& buttons) override;
    // Its buttons say what they do; the one that keeps the typing is the default and Esc's.
    bool confirmDiscard(const QString& text) override;
    bool pickRow(TClientDataSet& rows, const QStringList& visibleFields,
                 const QString& title) override;
    QString selectDirectory(const QString& start) override;
    // A file to write, named `suggested` in the user's documents unless they choose otherwise;
    // empty when they give up.
    QString selectSaveFile(const QString& title, const QString& suggested);
    void busyStart() override;
    void busyStop() override;
    void setWaitCursor(bool on) override;
    void handleException(const std::exception& e) override;
    void showStatus(const QString& text) override;
    QWidget* mainForm() override;
    void showChildForm(QWidget* form) override;
    // Runs the activation of a child form that became the active window; while a child window
    // is being shown, once that show is over.
    void activateForm(TfrmPadrao* form);

    QString branch;
    QString serverHost = QStringLiteral("127.0.0.1");
    int serverPort = 7400;
    QString token;
    QSslConfiguration tls; // null: plain TCP
    QPointer<QMainWindow> window;
    QPointer<QMdiArea> mdiArea;
    QPointer<TBusyAnimation> busyIndicator;
    // Where the desktop remembers the user's choices; empty: nothing is remembered.
    QString settingsPath;

    // Unattended mode (tests, scripts): dialogs are recorded and answered from these instead of
    // being shown.
    bool unattended = false;
    QStringList shownErrors;
    QList<Qt::CursorShape> pointersAtErrors; // the pointer while each error was shown
    QStringList questions;
    QStringList statusNotes; // every note shown in the status bar
    QStringList shownInformation;
    QList<ModalResult> answers;                     // next answers to questions; OK when empty
    std::function<int(TClientDataSet&)> pickAnswer; // row to pick, or -1
    QStringList pickTitles;                         // the title of every pick list offered
    QString directoryAnswer;
    QStringList directoryStarts; // where each directory dialog started
    QString saveFileAnswer;
    QStringList saveFileSuggestions; // the name each save dialog suggested
    int busyDepth() const { return m_busyDepth; }

private:
    std::unique_ptr<TNetConnection> m_lookups;
    int m_busyDepth = 0;
    int m_waitDepth = 0;
    int m_showingDepth = 0;
    QList<QPointer<TfrmPadrao>> m_pendingActivations;
};
