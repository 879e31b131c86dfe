#pragma once
// What the screen asks of the host application: its state, its dialogs and its error handling.
// The host installs one implementation; tests install a recorder.

#include <QString>
#include <QStringList>
#include <exception>

class TClientDataSet;

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
    // Number of levels of the host's code picture of this type (TDBPicture::GetTtNiveis).
    virtual int codePictureLevels(int pictureType) = 0;

    // Dialogs.
    virtual void showError(const QString& text) = 0;
    virtual ModalResult ask(const QString& text, MsgDlgType kind, const QList<ModalResult>& buttons) = 0;
    // Offers the rows of a record set; positions it on the pick and returns true, or false.
    virtual bool pickRow(TClientDataSet& rows, const QStringList& visibleFields) = 0;
    // The chosen directory, or an empty text when the user cancels.
    virtual QString selectDirectory(const QString& start) = 0;

    // Busy animation: nestable; a stop without a start does no harm.
    virtual void busyStart() = 0;
    virtual void busyStop() = 0;

    // Hourglass pointer while the host works.
    virtual void setWaitCursor(bool on) = 0;

    // A failure that no handler absorbed.
    virtual void handleException(const std::exception& e) = 0;
};

HostServices& host();
void setHostServices(HostServices* services);
bool hasHostServices();
