#pragma once
// The field definitions of the parameters screen's six record sets.

#include "ClientDataSet.h"

namespace data {

void defineGeral(TClientDataSet& cdsGeral);
void defineFilial(TClientDataSet& cdsFilial);
void defineInspecao(TClientDataSet& cdsInspecao);
void defineCargo(TClientDataSet& cdsCargo);
void defineDepto(TClientDataSet& cdsDepto);
void defineVdConv(TClientDataSet& cdsVdConv);

} // namespace data
