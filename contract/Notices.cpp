#include "Notices.h"

#include "Layouts.h"

#include <QJsonObject>
#include <QRegularExpression>

namespace contract {

QString generalRecord() {
    return QStringLiteral("geral");
}
QString branchRecord(const QString& branch) {
    return QStringLiteral("filial:") + branch;
}
QString questionnaireRecord(const QString& branch) {
    return QStringLiteral("questionario:") + branch;
}

std::optional<QStringList> parseSubscription(const QString& text, QString* error) {
    static const QRegularExpression record(
        QStringLiteral(R"(^(geral|(filial|questionario):[0-9A-Za-z]{1,4})$)"));
    QStringList records;
    if (text.size() > MaxSubscriptionBytes) {
        *error = QStringLiteral("A lista de registros a assinar é longa demais.");
        return std::nullopt;
    }
    int named = 0;
    for (const QStringView part : QStringView(text).split(u',', Qt::SkipEmptyParts)) {
        // Stops at the first name over the limit, repeated names included.
        if (++named > MaxSubscribedRecords) break;
        const QString name = part.trimmed().toString();
        if (!record.match(name).hasMatch()) {
            *error = QStringLiteral("\"%1\" não é um registro que se possa assinar (geral, "
                                    "filial:CÓDIGO ou questionario:CÓDIGO).")
                         .arg(name.left(40));
            return std::nullopt;
        }
        if (!records.contains(name)) records << name;
    }
    if (named > MaxSubscribedRecords) {
        *error = QStringLiteral("Uma conexão pode assinar no máximo %1 registros.")
                     .arg(MaxSubscribedRecords);
        return std::nullopt;
    }
    return records;
}

QStringList changedRecords(const Method& method, const QJsonArray& arguments) {
    if (method.record == Record::Geral) return {generalRecord()};
    if (method.record == Record::Filial) {
        // Every branch the delta names, by its key.
        const QJsonObject delta = arguments.at(0).toObject();
        const QJsonArray fields = delta.value(u"fields").toArray();
        qsizetype key = -1;
        for (qsizetype i = 0; i < fields.size(); ++i)
            if (fields.at(i).toObject().value(u"name").toString() == QLatin1String(filial().key))
                key = i;
        QStringList records;
        if (key < 0) return records;
        for (const QJsonValue& c : delta.value(u"changes").toArray()) {
            const QJsonObject change = c.toObject();
            const QJsonArray row =
                change.value(change.contains(u"old") ? u"old" : u"new").toArray();
            const QString record = branchRecord(row.at(key).toString());
            if (!records.contains(record)) records << record;
        }
        return records;
    }
    if (method.tie.table != Tie::Table::None && method.tie.branchArg >= 0)
        return {questionnaireRecord(arguments.at(method.tie.branchArg).toString())};
    return {};
}

} // namespace contract
