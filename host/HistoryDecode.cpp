#include "HistoryDecode.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

namespace {

// Names of other tables shown on the screen's records; the service never writes them.
const QStringList displayOnly = {QStringLiteral("NMINDICE"), QStringLiteral("NMFILIAL"),
                                 QStringLiteral("NMCONVMEDI")};

struct TieCall {
    const char* method;
    int branch, questionnaire, item; // positions in the arguments; -1: none
    const char* itemLabel;
    const char* done;
};

const TieCall tieCalls[] = {
    {"SetInsCarg", 0, 1, 2, "cargo", "cargo %1 vinculado"},
    {"SetDelCarg", 0, 1, 2, "cargo", "vínculo do cargo %1 excluído"},
    {"SetInsDep", 1, 0, 2, "departamento", "departamento %1 vinculado"},
    {"SetDelDep", 1, 0, 2, "departamento", "vínculo do departamento %1 excluído"},
    {"SetDelTdCarg", 0, 1, -1, nullptr, "todos os cargos desvinculados"},
    {"SetDelTdDep", 0, 1, -1, nullptr, "todos os departamentos desvinculados"},
    {"SetInsPad", 1, 0, -1, nullptr, "marcado como padrão"},
    {"SetDelPad", 1, 0, -1, nullptr, "deixou de ser padrão"},
};

QVariant jsonValue(const QJsonValue& v) {
    if (v.isNull() || v.isUndefined()) return {};
    if (v.isDouble()) return v.toDouble();
    return v.toString();
}

void decodeDelta(const QString& method, const QJsonObject& delta, HistoryEntry* e) {
    const QJsonArray fields = delta.value(QLatin1String("fields")).toArray();
    QStringList names, types;
    for (const QJsonValue& f : fields) {
        names << f.toObject().value(QLatin1String("name")).toString();
        types << f.toObject().value(QLatin1String("type")).toString();
    }
    const bool geral = method == QLatin1String("SetGeral");
    const qsizetype key =
        names.indexOf(geral ? QStringLiteral("CDPARAMRH") : QStringLiteral("CDFILIAL"));
    for (const QJsonValue& c : delta.value(QLatin1String("changes")).toArray()) {
        const QJsonObject change = c.toObject();
        const bool insert = change.value(QLatin1String("op")).toString() == QLatin1String("insert");
        const QJsonArray oldValues = change.value(QLatin1String("old")).toArray();
        const QJsonArray newValues = change.value(QLatin1String("new")).toArray();
        if (e->record.isEmpty())
            e->record = geral ? QStringLiteral("Parâmetros gerais")
                              : QStringLiteral("Filial %1")
                                    .arg((insert ? newValues : oldValues).at(key).toString());
        for (qsizetype i = 0; i < names.size(); ++i) {
            if (i == key || displayOnly.contains(names[i])) continue;
            QVariant before = insert ? QVariant() : jsonValue(oldValues.at(i));
            QVariant after = jsonValue(newValues.at(i));
            if (types[i] == QLatin1String("date")) {
                if (!before.isNull()) before = QDate::fromString(before.toString(), Qt::ISODate);
                if (!after.isNull()) after = QDate::fromString(after.toString(), Qt::ISODate);
            }
            if (before == after) continue;
            e->changes << QStringLiteral("%1: %2 → %3")
                              .arg(names[i], historyValueText(before), historyValueText(after));
        }
    }
    if (e->record.isEmpty()) e->record = geral ? QStringLiteral("Parâmetros gerais") : QString();
}

void decodeTie(const TieCall& call, const QJsonArray& args, HistoryEntry* e) {
    const auto arg = [&](int i) { return i >= 0 ? args.at(i).toString() : QString(); };
    e->record =
        QStringLiteral("Filial %1, questionário %2").arg(arg(call.branch), arg(call.questionnaire));
    const QString done = QString::fromUtf8(call.done);
    e->changes << (call.item >= 0 ? done.arg(arg(call.item)) : done);
}

} // namespace

QString historyValueText(const QVariant& value) {
    if (value.isNull() || !value.isValid()) return QStringLiteral("(vazio)");
    const QLocale brazil(QLocale::Portuguese, QLocale::Brazil);
    switch (value.typeId()) {
    case QMetaType::Double:
        return brazil.toString(value.toDouble(), 'f', QLocale::FloatingPointShortest);
    case QMetaType::QDate:
        return value.toDate().toString(QStringLiteral("dd/MM/yyyy"));
    default:
        return value.toString().isEmpty() ? QStringLiteral("(vazio)") : value.toString();
    }
}

QVector<HistoryEntry> decodeHistory(const protocol::DataPacket& packet) {
    const int number = packet.indexOf(QStringLiteral("NRAUDITORIA"));
    const int when = packet.indexOf(QStringLiteral("DTAUDITORIA"));
    const int who = packet.indexOf(QStringLiteral("NMTOKEN"));
    const int method = packet.indexOf(QStringLiteral("NMMETODO"));
    const int refused = packet.indexOf(QStringLiteral("IDRECUSADO"));
    const int args = packet.indexOf(QStringLiteral("DSARGUMENTOS"));
    QVector<HistoryEntry> entries;
    for (const protocol::Row& row : packet.rows) {
        HistoryEntry e;
        e.number = qint64(row[number].toDouble());
        e.when = QDateTime::fromString(row[when].toString(), Qt::ISODateWithMs).toLocalTime();
        e.who = row[who].isNull() ? QStringLiteral("(sem token)") : row[who].toString();
        e.method = row[method].toString();
        e.refused = row[refused].toString() == QLatin1String("S");
        const QJsonArray arguments = QJsonDocument::fromJson(row[args].toString().toUtf8()).array();
        if (e.refused) {
            e.changes << QStringLiteral("recusado: o token só pode consultar");
            // Rows are kept for one refusal a minute per token; the rest went to the server's log.
            const int unrecorded = arguments.at(0).toObject().value(u"naoRegistradas").toInt();
            if (unrecorded > 0)
                e.changes << QStringLiteral("mais %1 recusa(s) anterior(es) deste token estão só "
                                            "no registro do servidor")
                                 .arg(unrecorded);
        } else if (e.method == QLatin1String("SetGeral") ||
                   e.method == QLatin1String("SetFilial")) {
            decodeDelta(e.method, arguments.at(0).toObject(), &e);
        } else {
            for (const TieCall& call : tieCalls)
                if (e.method == QLatin1String(call.method)) decodeTie(call, arguments, &e);
        }
        entries.push_back(std::move(e));
    }
    return entries;
}
