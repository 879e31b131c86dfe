#include "LookupQueries.h"

#include "contract/Lookups.h"

namespace data {

namespace {
using protocol::FieldType;

TField& textField(TADOIBQuery& query, const char* name, int size, const QString& label = {},
                  bool visible = true) {
    TField& f = query.Query.AddField({QString::fromLatin1(name), FieldType::String, size}, label);
    f.Visible = visible;
    return f;
}

// The query reads through the service's lookup, whose statement it shows.
void setStatement(TADOIBQuery& query, QLatin1String lookup) {
    const contract::Lookup* l = contract::findLookup({lookup.data(), size_t(lookup.size())});
    query.Lookup = lookup;
    query.SQL = l->sql;
    query.SQL_IB = l->sqlPg.isEmpty() ? l->sql : l->sqlPg;
}
} // namespace

void defineQryPesqIndice(TADOIBQuery& query) {
    setStatement(query, contract::lookup::PesqIndice);
    textField(query, "NMINDICE", 30, QStringLiteral("Nome"));
    textField(query, "CDINDICE", 4, QStringLiteral("Código"));
    textField(query, "CDTPINDICE", 1, {}, false);
    textField(query, "IDPERVALOR", 1, {}, false);
}

void defineQryVdIndice(TADOIBQuery& query) {
    setStatement(query, contract::lookup::VdIndice);
    textField(query, "NMINDICE", 30);
    textField(query, "CDINDICE", 4);
    textField(query, "CDTPINDICE", 1);
    textField(query, "IDPERVALOR", 1);
}

void defineQryPesqFilial(TADOIBQuery& query) {
    setStatement(query, contract::lookup::PesqFilial);
    textField(query, "CDFILIAL", 4, QStringLiteral("Código"));
    textField(query, "NMFILIAL", 30, QStringLiteral("Nome"));
}

} // namespace data
