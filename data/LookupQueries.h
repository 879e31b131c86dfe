#pragma once
// The lookups of the screen, read through the service: financial indices and branches.

#include "ADOIBQuery.h"

namespace data {

// Indices of the selected kind, for the search list of the index button.
void defineQryPesqIndice(TADOIBQuery& query);
// One typed index code among the indices of the selected kind.
void defineQryVdIndice(TADOIBQuery& query);
// Branches: all of them for the search list, or one for the check of a typed code.
void defineQryPesqFilial(TADOIBQuery& query);

} // namespace data
