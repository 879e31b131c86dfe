#pragma once
// The service's audit rows in words: who changed which record, and each field from what to what.

#include "protocol/Packet.h"

#include <QDateTime>
#include <QStringList>
#include <QVector>

struct HistoryEntry {
    qint64 number = 0;   // the audit row's number, for paging
    QDateTime when;      // local time
    QString who;         // the token's name
    QString method;      // as the service names it
    QString action;      // what it did, in words: "Alteração dos parâmetros gerais", …
    QString record;      // "Parâmetros gerais", "Filial 0001", ...
    QStringList changes; // "FIELD: old → new", or what a tie call did
    bool refused = false;
};

// One entry per row of a GetHistorico packet, in its order.
QVector<HistoryEntry> decodeHistory(const protocol::DataPacket& packet);

// A value as the user reads it: Brazilian numbers and dates, "(vazio)" for none.
QString historyValueText(const QVariant& value);
