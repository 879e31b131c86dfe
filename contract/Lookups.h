#pragma once
// The desktop's lookups: read-only methods of the service, each a fixed statement per engine that
// the service runs with the values the desktop binds to its :NAME parameters. The desktop sends
// a lookup's name and values, never SQL; it holds no database credentials.

#include "protocol/Packet.h"

#include <QLatin1String>
#include <QStringList>
#include <string_view>
#include <vector>

namespace contract {

namespace lookup {
// Indices of a kind (:PERVALOR), one (:CDINDICE) or all of it (:TCDINDICE 'T'), by code.
inline constexpr QLatin1String PesqIndice{"LkPesqIndice"};
// The same, unordered: the check of one typed code.
inline constexpr QLatin1String VdIndice{"LkVdIndice"};
// Branches: one (:CDFILIAL) or all (:TCDFILIAL 'T'), by code.
inline constexpr QLatin1String PesqFilial{"LkPesqFilial"};
// The mask of a code picture (:CDTPPICT), whose dots separate its levels.
inline constexpr QLatin1String Mascara{"LkMascara"};
// Every code and name of a list the history shows names of.
inline constexpr QLatin1String NomesIndice{"LkNomesIndice"};
inline constexpr QLatin1String NomesConvMedi{"LkNomesConvMedi"};
inline constexpr QLatin1String NomesFilial{"LkNomesFilial"};
inline constexpr QLatin1String NomesCargo{"LkNomesCargo"};
inline constexpr QLatin1String NomesDepto{"LkNomesDepto"};
inline constexpr QLatin1String NomesInspecao{"LkNomesInspecao"};
} // namespace lookup

// A statement as a database interface takes it: "?" for each :NAME, and the index in the
// lookup's parameters that each "?" binds.
struct Positional {
    QByteArray sql;
    QVector<int> binds;
};

struct Lookup {
    QLatin1String name;
    QStringList sql;    // the statement, lines as the desktop's query shows them
    QStringList sqlPg;  // PostgreSQL's, when it differs; empty: the same
    QStringList params; // its :NAME parameters, in order of first appearance
    QVector<protocol::FieldSpec> fields;
    const char* namesTable = nullptr; // the table of a name list's lookup

    Positional positional(bool postgres) const;
};

const std::vector<Lookup>& lookups();
const Lookup* findLookup(std::string_view name);

struct NameList;
// The lookup of every code and name of the list.
const Lookup& namesLookup(const NameList& list);

} // namespace contract
