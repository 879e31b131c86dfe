#pragma once
// Module-level state of the parameters unit, one set per loaded module.

class TfrmParametros;

#define RH_EXPORT __attribute__((visibility("default")))

namespace Cli_zol00900 {
RH_EXPORT extern TfrmParametros* frmParametros;
RH_EXPORT extern bool boIdCriado;
RH_EXPORT extern bool boPrimVez;
RH_EXPORT extern bool boDepVazio;
RH_EXPORT extern bool boCargVazio;
} // namespace Cli_zol00900
