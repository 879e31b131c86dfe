#include "Lookups.h"

#include "Layouts.h"

#include <QRegularExpression>
#include <cstring>
#include <stdexcept>

namespace contract {

namespace {

using protocol::FieldType;

const QStringList indiceStatement{
    QStringLiteral("SELECT"),
    QStringLiteral("    NMINDICE,"),
    QStringLiteral("    CDINDICE,"),
    QStringLiteral("    CDTPINDICE,"),
    QStringLiteral("    IDPERVALOR"),
    QStringLiteral("FROM"),
    QStringLiteral("   INDICE"),
    QStringLiteral("WHERE CDTPINDICE= '2' AND"),
    QStringLiteral("   IDPERVALOR = :PERVALOR  AND"),
    QStringLiteral("   (CDINDICE = :CDINDICE OR :TCDINDICE = 'T' )"),
};

// A parameter: a colon and a name, not after another colon (a cast) or inside a word.
const QRegularExpression& parameterName() {
    static const QRegularExpression name(QStringLiteral(R"((?<![:\w]):([A-Za-z_]\w*))"));
    return name;
}

QStringList paramsOf(const QStringList& sql) {
    QStringList names;
    for (auto it = parameterName().globalMatch(sql.join(u'\n')); it.hasNext();) {
        const QString n = it.next().captured(1);
        if (!names.contains(n)) names << n;
    }
    return names;
}

Lookup make(QLatin1String name, QStringList sql, QVector<protocol::FieldSpec> fields) {
    QStringList params = paramsOf(sql);
    return {name, std::move(sql), {}, std::move(params), std::move(fields)};
}

Lookup names(QLatin1String name, const NameList& list, int codeSize, int nameSize) {
    const QString code = QLatin1String(list.code), shown = QLatin1String(list.name);
    Lookup l = make(name,
                    {QStringLiteral("SELECT %1, %2 FROM %3 ORDER BY %1")
                         .arg(code, shown, QLatin1String(list.table))},
                    {{code, FieldType::String, codeSize}, {shown, FieldType::String, nameSize}});
    l.namesTable = list.table;
    return l;
}

} // namespace

const std::vector<Lookup>& lookups() {
    static const std::vector<Lookup> all = [] {
        const QVector<protocol::FieldSpec> indiceFields = {
            {QStringLiteral("NMINDICE"), FieldType::String, 30},
            {QStringLiteral("CDINDICE"), FieldType::String, 4},
            {QStringLiteral("CDTPINDICE"), FieldType::String, 1},
            {QStringLiteral("IDPERVALOR"), FieldType::String, 1}};
        return std::vector<Lookup>{
            make(lookup::PesqIndice,
                 indiceStatement +
                     QStringList{QStringLiteral("ORDER BY"), QStringLiteral("   CDINDICE")},
                 indiceFields),
            make(lookup::VdIndice, indiceStatement, indiceFields),
            make(lookup::PesqFilial,
                 {QStringLiteral("SELECT "), QStringLiteral("   CDFILIAL,"),
                  QStringLiteral("   NMFILIAL "), QStringLiteral("FROM"),
                  QStringLiteral("   FILIAL"), QStringLiteral("WHERE "),
                  QStringLiteral("   (CDFILIAL = :CDFILIAL OR :TCDFILIAL = 'T' )"),
                  QStringLiteral("ORDER BY"), QStringLiteral("   CDFILIAL")},
                 {{QStringLiteral("CDFILIAL"), FieldType::String, 4},
                  {QStringLiteral("NMFILIAL"), FieldType::String, 30}}),
            make(lookup::Mascara,
                 {QStringLiteral("SELECT DSMASCARA FROM CODPICT WHERE CDTPPICT = :CDTPPICT")},
                 {{QStringLiteral("DSMASCARA"), FieldType::String, 30}}),
            names(lookup::NomesIndice, indices, 4, 30),
            names(lookup::NomesConvMedi, medicalPlans, 2, 30),
            names(lookup::NomesFilial, branches, 4, 30),
            names(lookup::NomesCargo, positions, 4, 30),
            names(lookup::NomesDepto, departments, 3, 30),
            names(lookup::NomesInspecao, questionnaires, 10, 200),
        };
    }();
    return all;
}

Positional Lookup::positional(bool postgres) const {
    const QString text = (postgres && !sqlPg.isEmpty() ? sqlPg : sql).join(u'\n');
    Positional p;
    QString out;
    qsizetype from = 0;
    for (auto it = parameterName().globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        out += QStringView(text).mid(from, m.capturedStart() - from);
        out += u'?';
        p.binds.push_back(int(params.indexOf(m.captured(1))));
        from = m.capturedEnd();
    }
    out += QStringView(text).mid(from);
    p.sql = out.toUtf8();
    return p;
}

const Lookup* findLookup(std::string_view name) {
    for (const Lookup& l : lookups())
        if (std::string_view(l.name.data(), size_t(l.name.size())) == name) return &l;
    return nullptr;
}

const Lookup& namesLookup(const NameList& list) {
    for (const Lookup& l : lookups())
        if (l.namesTable && std::strcmp(l.namesTable, list.table) == 0) return l;
    // Every list of the layouts has its lookup above.
    throw std::logic_error("no lookup for a name list");
}

} // namespace contract
