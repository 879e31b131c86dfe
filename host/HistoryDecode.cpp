#include "HistoryDecode.h"

#include "Formats.h"
#include "contract/Layouts.h"
#include "contract/Methods.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

namespace {

// Each write in words: the action the history lists and, for a tie, what it did, with {item}
// and {inspecao} standing for the item's and the questionnaire's codes.
struct Words {
    QLatin1String method;
    const char* action;
    const char* done = nullptr;
};
namespace m = contract::method;
const Words writes[] = {
    {m::SetGeral, "Alteração dos parâmetros gerais"},
    {m::SetFilial, "Alteração dos parâmetros da filial"},
    {m::SetInsCarg, "Vínculo de cargo", "Cargo {item} vinculado ao questionário {inspecao}"},
    {m::SetDelCarg, "Exclusão de vínculo de cargo",
     "Cargo {item} desvinculado do questionário {inspecao}"},
    {m::SetInsDep, "Vínculo de departamento",
     "Departamento {item} vinculado ao questionário {inspecao}"},
    {m::SetDelDep, "Exclusão de vínculo de departamento",
     "Departamento {item} desvinculado do questionário {inspecao}"},
    {m::SetDelTdCarg, "Exclusão dos vínculos de cargos",
     "Todos os cargos desvinculados do questionário {inspecao}"},
    {m::SetDelTdDep, "Exclusão dos vínculos de departamentos",
     "Todos os departamentos desvinculados do questionário {inspecao}"},
    {m::SetInsPad, "Marcação de questionário padrão",
     "Questionário {inspecao} marcado como padrão"},
    {m::SetDelPad, "Desmarcação de questionário padrão",
     "Questionário {inspecao} deixou de ser padrão"},
};

const Words* wordsOf(const QString& method) {
    for (const Words& w : writes)
        if (method == w.method) return &w;
    return nullptr;
}

QString actionOf(const QString& method) {
    const Words* words = wordsOf(method);
    return words ? QString::fromUtf8(words->action) : method;
}

// "0003 – Analista de Recursos Humanos", or the code alone when its list does not name it.
QString codeAndName(const contract::NameList& list, const QString& code, const NameOf& nameOf) {
    const QString name = nameOf && !code.isEmpty() ? nameOf(list, code) : QString();
    return name.isEmpty() ? code : code + QStringLiteral(" – ") + name;
}

// A value as the screen shows it: the words of a code, a code with its name, a number in the
// field's picture.
QString shownValue(const contract::Layout::Shown& shown, const QVariant& value,
                   const NameOf& nameOf) {
    if (!value.isNull() && shown.words.contains(value.toString()))
        return shown.words.value(value.toString());
    if (!value.isNull() && shown.names && !value.toString().isEmpty())
        return codeAndName(*shown.names, value.toString(), nameOf);
    if (!value.isNull() && !shown.picture.isEmpty() && value.typeId() == QMetaType::Double)
        return FormatFloat(shown.picture, value.toDouble());
    return historyValueText(value);
}

QVariant jsonValue(const QJsonValue& v) {
    if (v.isNull() || v.isUndefined()) return {};
    if (v.isDouble()) return v.toDouble();
    return v.toString();
}

void decodeDelta(const contract::Method& method, const QJsonObject& delta, const NameOf& nameOf,
                 HistoryEntry* e) {
    const QJsonArray fields = delta.value(QLatin1String("fields")).toArray();
    QStringList names, types;
    for (const QJsonValue& f : fields) {
        names << f.toObject().value(QLatin1String("name")).toString();
        types << f.toObject().value(QLatin1String("type")).toString();
    }
    const bool geral = method.record == contract::Record::Geral;
    const contract::Layout& layout = geral ? contract::geral() : contract::filial();
    const qsizetype key = names.indexOf(QLatin1String(layout.key));
    for (const QJsonValue& c : delta.value(QLatin1String("changes")).toArray()) {
        const QJsonObject change = c.toObject();
        const bool insert = change.value(QLatin1String("op")).toString() == QLatin1String("insert");
        const QJsonArray oldValues = change.value(QLatin1String("old")).toArray();
        const QJsonArray newValues = change.value(QLatin1String("new")).toArray();
        if (e->record.isEmpty())
            e->record =
                geral ? QStringLiteral("Parâmetros gerais")
                      : QStringLiteral("Filial %1")
                            .arg(codeAndName(contract::branches,
                                             (insert ? newValues : oldValues).at(key).toString(),
                                             nameOf));
        for (qsizetype i = 0; i < names.size(); ++i) {
            if (i == key || layout.isDisplayOnly(names[i])) continue;
            QVariant before = insert ? QVariant() : jsonValue(oldValues.at(i));
            QVariant after = jsonValue(newValues.at(i));
            if (types[i] == QLatin1String("date")) {
                if (!before.isNull()) before = QDate::fromString(before.toString(), Qt::ISODate);
                if (!after.isNull()) after = QDate::fromString(after.toString(), Qt::ISODate);
            }
            if (before == after) continue;
            const contract::Layout::Shown shown = layout.shown.value(names[i]);
            e->changes << QStringLiteral("%1: %2 → %3")
                              .arg(layout.caption(names[i]), shownValue(shown, before, nameOf),
                                   shownValue(shown, after, nameOf));
        }
    }
    if (e->record.isEmpty()) e->record = geral ? QStringLiteral("Parâmetros gerais") : QString();
}

void decodeTie(const contract::Tie& tie, const char* words, const QJsonArray& args,
               const NameOf& nameOf, HistoryEntry* e) {
    const auto arg = [&](int i) { return i >= 0 ? args.at(i).toString() : QString(); };
    const QString inspecao = arg(tie.inspecaoArg);
    e->record = QStringLiteral("Filial %1, questionário %2")
                    .arg(codeAndName(contract::branches, arg(tie.branchArg), nameOf),
                         codeAndName(contract::questionnaires, inspecao, nameOf));
    const contract::NameList& items =
        tie.table == contract::Tie::Table::Cargo ? contract::positions : contract::departments;
    e->changes << QString::fromUtf8(words)
                      .replace(QLatin1String("{item}"),
                               codeAndName(items, arg(tie.itemArg), nameOf))
                      .replace(QLatin1String("{inspecao}"), inspecao);
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

void describeWrite(HistoryEntry* e, const NameOf& nameOf) {
    const Words* words = wordsOf(e->method);
    e->action = actionOf(e->method);
    e->record.clear();
    e->changes.clear();
    const contract::Method* called = contract::findMethod(e->method.toStdString());
    if (!called) return;
    const QJsonArray arguments = QJsonDocument::fromJson(e->arguments).array();
    if (called->record != contract::Record::None)
        decodeDelta(*called, arguments.at(0).toObject(), nameOf, e);
    if (words && words->done) decodeTie(called->tie, words->done, arguments, nameOf, e);
}

QVector<HistoryEntry> decodeHistory(const protocol::DataPacket& packet, const NameOf& nameOf) {
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
        e.arguments = row[args].toString().toUtf8();
        e.refused = row[refused].toString() == QLatin1String("S");
        if (e.refused) {
            e.action = actionOf(e.method);
            e.changes << QStringLiteral("recusado: o token só pode consultar");
            // Rows are kept for one refusal a minute per token; the rest went to the server's log.
            const QJsonArray arguments = QJsonDocument::fromJson(e.arguments).array();
            const int unrecorded = arguments.at(0).toObject().value(u"naoRegistradas").toInt();
            if (unrecorded > 0)
                e.changes << QStringLiteral("mais %1 recusa(s) anterior(es) deste token estão só "
                                            "no registro do servidor")
                                 .arg(unrecorded);
        } else {
            describeWrite(&e, nameOf);
        }
        entries.push_back(std::move(e));
    }
    return entries;
}
