#include "Methods.h"

#include "Schema.h"

#include "contract/Lookups.h"

namespace rhserver {

namespace ErrorCode = protocol::ErrorCode;

namespace {

// The select list of an editable record: its own columns from its table (P), in the layout's
// order, and the names shown beside it from the tables they belong to.
QByteArray recordSelect(const contract::Layout& layout, const QHash<QString, QString>& shownFrom,
                        const char* fromAndWhere) {
    QStringList columns;
    for (const protocol::FieldSpec& f : layout.fields)
        columns << (layout.isDisplayOnly(f.name) ? shownFrom.value(f.name)
                                                 : QStringLiteral("P.") + f.name);
    return (QStringLiteral("SELECT ") + columns.join(QStringLiteral(", ")) + u' ' +
            QLatin1String(fromAndWhere))
        .toUtf8();
}

const OneRecordRead& geralRead() {
    static const QByteArray sql = recordSelect(
        contract::geral(), {{QStringLiteral("NMINDICE"), QStringLiteral("I.NMINDICE")}},
        "FROM PARAMRH P LEFT JOIN INDICE I ON I.CDINDICE = P.CDINDICECB "
        "WHERE P.CDPARAMRH = ?");
    static const OneRecordRead read{sql.constData(), contract::geral().fields};
    return read;
}

const OneRecordRead& filialRead() {
    static const QByteArray sql =
        recordSelect(contract::filial(),
                     {{QStringLiteral("NMFILIAL"), QStringLiteral("F.NMFILIAL")},
                      {QStringLiteral("NMCONVMEDI"), QStringLiteral("C.NMCONVMEDI")}},
                     "FROM PARAMFILIAL P JOIN FILIAL F ON F.CDFILIAL = P.CDFILIAL "
                     "LEFT JOIN CONVMEDI C ON C.CDCONVMEDI = P.CDCONMEDDEF WHERE P.CDFILIAL = ?");
    static const OneRecordRead read{sql.constData(), contract::filial().fields};
    return read;
}

// Made once, for the process: the storage keeps its prepared statements by the text's address.
const contract::Positional& preparedLookup(const contract::Lookup& l, Engine engine) {
    static const auto all = [] {
        QHash<QString, std::pair<contract::Positional, contract::Positional>> made;
        for (const contract::Lookup& each : contract::lookups())
            made.insert(each.name, {each.positional(false), each.positional(true)});
        return made;
    }();
    const auto& both = *all.find(l.name);
    return engine == Engine::PostgreSQL ? both.second : both.first;
}

} // namespace

std::string Methods::lookup(const contract::Lookup& l, const QVector<protocol::Argument>& args) {
    const contract::Positional& p = preparedLookup(l, s.engine());
    QVariantList values;
    for (const int bound : p.binds)
        values << std::get<QString>(args[bound]);
    return s.readPacket(p.sql.constData(), values, l.fields);
}

const OneRecordRead* oneRecordRead(const contract::Method& method) {
    if (method.name == contract::method::GetGeral) return &geralRead();
    if (method.name == contract::method::GetFilial) return &filialRead();
    return nullptr;
}

std::string Methods::getGeral(const QString& key) {
    return s.readPacket(geralRead().sql, {key}, geralRead().fields);
}

std::string Methods::getFilial(const QString& branch) {
    return s.readPacket(filialRead().sql, {branch}, filialRead().fields);
}

std::string Methods::getConvMed(const QString& code, const QString& all) {
    if (all == QLatin1String("T"))
        return s.readPacket("SELECT CDCONVMEDI, NMCONVMEDI FROM CONVMEDI ORDER BY CDCONVMEDI", {},
                            contract::convMedico().fields);
    return s.readPacket("SELECT CDCONVMEDI, NMCONVMEDI FROM CONVMEDI WHERE CDCONVMEDI = ?", {code},
                        contract::convMedico().fields);
}

std::string Methods::getInspecao(const QString& levelText) {
    bool ok = false;
    const int level = levelText.trimmed().toInt(&ok);
    if (!ok)
        throw ServiceError{ErrorCode::InvalidParams,
                           QStringLiteral("GetInspecao espera o número de um nível da máscara de "
                                          "questionários, mas recebeu %1.")
                               .arg(shown(levelText))};
    QSqlQuery& pict = s.query("SELECT DSMASCARA FROM CODPICT WHERE CDTPPICT = ?");
    pict.bindValue(0, QuestionnairePicture);
    s.exec(pict);
    const QString mask = pict.next() ? pict.value(0).toString() : QString();
    pict.finish();
    const QVector<int> lengths = levelLengths(mask);
    if (lengths.isEmpty())
        refuse(
            QStringLiteral("A máscara de código dos questionários (tipo %1) não está cadastrada.")
                .arg(QuestionnairePicture));
    // A level outside the mask matches no code: the list is simply empty.
    const int length = level >= 0 && level < lengths.size() ? lengths[level] : -1;
    return s.readPacket("SELECT I.CDINSPECAO, I.NMINSPECAO, "
                        "CASE WHEN EXISTS (SELECT 1 FROM INSPCARGO T WHERE T.CDFILIAL = ? AND "
                        "T.CDINSPECAO = I.CDINSPECAO) "
                        "THEN 'S' ELSE 'N' END, "
                        "CASE WHEN EXISTS (SELECT 1 FROM INSPDEPTO T WHERE T.CDFILIAL = ? AND "
                        "T.CDINSPECAO = I.CDINSPECAO) "
                        "THEN 'S' ELSE 'N' END, "
                        "CASE WHEN EXISTS (SELECT 1 FROM INSPPADRAO T WHERE T.CDFILIAL = ? AND "
                        "T.CDINSPECAO = I.CDINSPECAO) "
                        "THEN 'S' ELSE 'N' END "
                        "FROM INSPECAO I WHERE LENGTH(I.CDINSPECAO) = ? ORDER BY I.CDINSPECAO",
                        {session.branch, session.branch, session.branch, length},
                        contract::inspecao().fields);
}

std::string Methods::getCargo(const QString& inspecao) {
    return tickedList("SELECT CASE WHEN EXISTS (SELECT 1 FROM INSPCARGO T WHERE T.CDFILIAL = ? AND "
                      "T.CDINSPECAO = ? AND T.CDCARGO = C.CDCARGO) THEN 'S' ELSE 'N' END, "
                      "C.CDCARGO, C.NMCARGO FROM CARGO C ORDER BY C.CDCARGO",
                      inspecao, contract::cargo());
}

std::string Methods::getDepto(const QString& inspecao) {
    return tickedList("SELECT CASE WHEN EXISTS (SELECT 1 FROM INSPDEPTO T WHERE T.CDFILIAL = ? AND "
                      "T.CDINSPECAO = ? AND T.CDDEPTO = D.CDDEPTO) THEN 'S' ELSE 'N' END, "
                      "D.CDDEPTO, D.NMDEPTO FROM DEPTO D ORDER BY D.CDDEPTO",
                      inspecao, contract::depto());
}

std::string Methods::tickedList(const char* sql, const QString& inspecao,
                                const contract::Layout& layout) {
    return s.readPacket(sql, {session.branch, inspecao}, layout.fields);
}
} // namespace rhserver
