#pragma once
// The service's audit rows in words: who changed which record, and each field from what to what.

#include "contract/Layouts.h"
#include "protocol/Packet.h"

#include <QDateTime>
#include <QStringList>
#include <QVector>
#include <functional>

struct HistoryEntry {
    qint64 number = 0;    // the audit row's number, for paging
    QDateTime when;       // local time
    QString who;          // the token's name
    QString method;       // as the service names it
    QByteArray arguments; // the call's arguments as the audit keeps them (a JSON array)
    QString action;       // what it did, in words: "Alteração dos parâmetros gerais", …
    QString record;       // "Parâmetros gerais", "Filial 0001 – Matriz", ...
    QStringList changes;  // "Label: old → new", or what a tie call did
    bool refused = false;
};

// The name of a code in its list; empty when the list does not hold the code.
using NameOf = std::function<QString(const contract::NameList&, const QString& code)>;

// One entry per row of a GetHistorico packet, in its order; codes with their names where nameOf
// knows them.
QVector<HistoryEntry> decodeHistory(const protocol::DataPacket& packet, const NameOf& nameOf = {});

// Fills the action, record and changes of an accepted write from its method and arguments.
void describeWrite(HistoryEntry* entry, const NameOf& nameOf);

// A value as the user reads it: Brazilian numbers and dates, "(vazio)" for none.
QString historyValueText(const QVariant& value);
