#pragma once
// A keyed message table: lines of key, "|", text.

#include "HostServices.h"

#include <QStringList>

class TMessages {
public:
    TMessages() = default;
    explicit TMessages(QStringList lines)
        : Lines(std::move(lines)) {}

    QStringList Lines;

    // The text after the first "|" of the line whose key matches exactly; empty when absent.
    QString Msg(const QString& key) const;
    // Shows the text of the key in a dialog and returns the button pressed.
    ModalResult ShowMsg(const QString& key, MsgDlgType kind, const QList<ModalResult>& buttons,
                        int helpContext = 0) const;
    // Asks the key's question before typed changes are thrown away: true to discard them.
    bool ConfirmDiscard(const QString& key) const;
};

// The host's standard messages, shared by every form.
const TMessages& msgMensagensPadroes();
