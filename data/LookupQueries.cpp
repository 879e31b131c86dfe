#include "LookupQueries.h"

namespace data {

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

TField& textField(TADOIBQuery& query, const char* name, int size, const QString& label = {},
                  bool visible = true) {
    TField& f = query.Query.AddField({QString::fromLatin1(name), FieldType::String, size}, label);
    f.Visible = visible;
    return f;
}

void setStatement(TADOIBQuery& query, const QStringList& lines) {
    // One text per engine; both engines take the same statement.
    query.SQL = lines;
    query.SQL_IB = lines;
}
} // namespace

void defineQryPesqIndice(TADOIBQuery& query) {
    setStatement(query, indiceStatement +
                            QStringList{QStringLiteral("ORDER BY"), QStringLiteral("   CDINDICE")});
    textField(query, "NMINDICE", 30, QStringLiteral("Nome"));
    textField(query, "CDINDICE", 4, QStringLiteral("Código"));
    textField(query, "CDTPINDICE", 1, {}, false);
    textField(query, "IDPERVALOR", 1, {}, false);
}

void defineQryVdIndice(TADOIBQuery& query) {
    setStatement(query, indiceStatement);
    textField(query, "NMINDICE", 30);
    textField(query, "CDINDICE", 4);
    textField(query, "CDTPINDICE", 1);
    textField(query, "IDPERVALOR", 1);
}

void defineQryPesqFilial(TADOIBQuery& query) {
    setStatement(query, {QStringLiteral("SELECT "), QStringLiteral("   CDFILIAL,"),
                         QStringLiteral("   NMFILIAL "), QStringLiteral("FROM"),
                         QStringLiteral("   FILIAL"), QStringLiteral("WHERE "),
                         QStringLiteral("   (CDFILIAL = :CDFILIAL OR :TCDFILIAL = 'T' )"),
                         QStringLiteral("ORDER BY"), QStringLiteral("   CDFILIAL")});
    textField(query, "CDFILIAL", 4, QStringLiteral("Código"));
    textField(query, "NMFILIAL", 30, QStringLiteral("Nome"));
}

} // namespace data
