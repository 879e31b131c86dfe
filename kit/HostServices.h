#pragma once
// What the screen asks of the host application: its state, its dialogs and its error handling.
// The host installs one implementation; tests install a recorder.

#include "protocol/Packet.h"

#include <QSslConfiguration>
#include <QString>
#include <QStringList>
#include <exception>
#include <optional>

class TClientDataSet;
class QWidget;

enum class MsgDlgType { Warning, Error, Information, Confirmation };
enum class ModalResult { None = 0, Ok = 1, Cancel = 2, Yes = 6, No = 7 };

class HostServices {
public:
    virtual ~HostServices() = default;

    // Host state.
    virtual QString FiliProc() = 0;
    virtual QString WebURL() = 0;
    virtual int WebPort() = 0;
    virtual QString serverToken() { return {}; }
    // What a connection to the server trusts; null: the server speaks plain TCP.
    virtual QSslConfiguration serverTls() { return {}; }
    // Number of levels of the host's code picture of this type (TDBPicture::GetTtNiveis).
    virtual int codePictureLevels(int pictureType) = 0;

    // Dialogs.
    virtual void showError(const QString& text) = 0;
    virtual ModalResult ask(const QString& text, MsgDlgType kind,
                            const QList<ModalResult>& buttons) = 0;
    // A question whose yes throws typed changes away: true only when the user chose to discard
    // them. Enter and Esc keep them.
    virtual bool confirmDiscard(const QString& text) {
        return ask(text, MsgDlgType::Confirmation, {ModalResult::Ok, ModalResult::Cancel}) ==
               ModalResult::Ok;
    }
    // Offers the rows of a record set under the title, opening on its current row; positions
    // it on the pick and returns true, or false.
    virtual bool pickRow(TClientDataSet& rows, const QStringList& visibleFields,
                         const QString& title) = 0;
    // The chosen directory, or an empty text when the user cancels.
    virtual QString selectDirectory(const QString& start) = 0;

    // Busy animation: nestable; a stop without a start does no harm.
    virtual void busyStart() = 0;
    virtual void busyStop() = 0;

    // Hourglass pointer while the host works.
    virtual void setWaitCursor(bool on) = 0;

    // A failure that no handler absorbed.
    virtual void handleException(const std::exception& e) = 0;
    // A passing note for the user, such as the outcome of a command that ends without a dialog.
    virtual void showStatus(const QString& /*text*/) {}

    // The application's main window, owner of every child form.
    virtual QWidget* mainForm() { return nullptr; }
    // Adds the form as a child window the first time, then shows, activates and restores it.
    virtual void showChildForm(QWidget* /*form*/) {}
    // A named read-only lookup of the application server, with its parameters' values in order:
    // its rows. Nothing when the host has no server for lookups: queries then read the database
    // connection below.
    virtual std::optional<protocol::DataPacket> lookup(const QString& /*name*/,
                                                       const QStringList& /*values*/) {
        return std::nullopt;
    }
    // Name of the read-only database connection (QSqlDatabase::database) of a host that reads
    // its lookups itself; Qt's default connection unless the host names its own.
    virtual QString databaseConnection() { return QStringLiteral("qt_sql_default_connection"); }
};

HostServices& host();
void setHostServices(HostServices* services);
bool hasHostServices();

// Busy animation of the host; every start passes the main form and kind 1.
inline void ActiveShowAvi(QWidget* /*form*/, int /*kind*/) {
    host().busyStart();
}
inline void DeactiveShowAvi() {
    host().busyStop();
}

inline QString FiliProc() {
    return host().FiliProc();
}
inline QString WebURL() {
    return host().WebURL();
}
inline int WebPort() {
    return host().WebPort();
}

// The host's code picture of a type; GetTtNiveis gives its number of levels.
class TDBPicture {
public:
    explicit TDBPicture(int type)
        : m_type(type) {}
    int GetTtNiveis() const { return host().codePictureLevels(m_type); }

private:
    int m_type;
};
inline TDBPicture DBPictObj(int pictureType) {
    return TDBPicture(pictureType);
}
