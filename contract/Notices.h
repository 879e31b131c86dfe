#pragma once
// Telling a client that someone changed what it shows. A session subscribes with `Assinar` and
// the records it shows; the service then sends, on that connection, a notice without id for each
// change of one of them: which record, by which method, who and when, never the values (the
// client reads what it needs with its ordinary calls).
//
//   → {"jsonrpc":"2.0","id":9,"method":"Assinar","params":["geral,filial:0001,questionario:0001"]}
//   ← {"jsonrpc":"2.0","id":9,"result":{"assinados":3}}
//   ← {"jsonrpc":"2.0","method":"Alterado","params":{"registro":"filial:0001",
//      "metodo":"SetFilial","quem":"maria","quando":"2026-12-08T17:02:03.123Z"}}

#include "Methods.h"

#include <QJsonArray>
#include <QStringList>
#include <optional>

namespace contract {

inline constexpr QLatin1String SubscribeMethod{"Assinar"};
inline constexpr QLatin1String ChangeNotice{"Alterado"};
// The most records one session may subscribe to.
inline constexpr int MaxSubscribedRecords = 16;
// Longer than any list of that many records can be: refused before it is read.
inline constexpr int MaxSubscriptionBytes = 512;

// The records a client may subscribe to: the general parameters, one branch's parameters, and one
// branch's questionnaire ties and marks.
QString generalRecord();
QString branchRecord(const QString& branch);
QString questionnaireRecord(const QString& branch);

// The records named in an Assinar argument, or nothing with the reason when one is not a record.
std::optional<QStringList> parseSubscription(const QString& text, QString* error);

// The records an accepted write changed, from its method and its arguments as the audit keeps
// them.
QStringList changedRecords(const Method& method, const QJsonArray& arguments);

} // namespace contract
