#pragma once
// The host's dialogs and error handling for tests: records what the screen shows and answers
// questions with a preset button, so that no modal dialog ever blocks a test.

#include "ClientDataSet.h"
#include "HostServices.h"

#include <QList>
#include <QStringList>

class RecordingHost : public HostServices {
public:
    struct Question {
        QString text;
        MsgDlgType kind;
        QList<ModalResult> buttons;
    };

    RecordingHost() { setHostServices(this); }
    ~RecordingHost() override { setHostServices(nullptr); }
    RecordingHost(const RecordingHost&) = delete;
    RecordingHost& operator=(const RecordingHost&) = delete;

    QStringList errors; // texts shown by showError
    QList<Question> questions;
    QStringList exceptions; // what() of failures handed to the host's error handling
    ModalResult answer = ModalResult::Ok;
    QString branch = QStringLiteral("0001");

    QString FiliProc() override { return branch; }
    QString WebURL() override { return QStringLiteral("127.0.0.1"); }
    int WebPort() override { return 7400; }
    int codePictureLevels(int) override { return 1; }

    void showError(const QString& text) override { errors << text; }
    ModalResult ask(const QString& text, MsgDlgType kind,
                    const QList<ModalResult>& buttons) override {
        questions.append({text, kind, buttons});
        return answer;
    }
    int pick = -1;          // the row a pick list picks; -1 closes it without a pick
    QStringList pickedFrom; // the visible fields each pick list offered
    QString pickedTitle;    // and the title of the last one
    int openedOn = -1;      // the row the last one opened on
    bool pickRow(TClientDataSet& rows, const QStringList& visible, const QString& title) override {
        pickedFrom = visible;
        pickedTitle = title;
        openedOn = rows.RecNo();
        if (pick < 0) return false;
        rows.MoveTo(pick);
        return true;
    }
    QString selectDirectory(const QString&) override { return {}; }
    void busyStart() override {}
    void busyStop() override {}
    void setWaitCursor(bool) override {}
    void handleException(const std::exception& e) override {
        exceptions << QString::fromUtf8(e.what());
    }
};
