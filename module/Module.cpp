// The module's exported entries: load, unload and opening the screen.

#include "Dispatch.h"
#include "ModuleState.h"
#include "Parametros.h"

#include <stdexcept>

namespace Cli_zol00900 {
TfrmParametros* frmParametros = nullptr;
bool boIdCriado = false;
bool boPrimVez = true;
bool boDepVazio = false;
bool boCargVazio = false;

namespace {
int startCount = 0;

void startUp() {
    if (startCount++ != 0) return;
    boIdCriado = false;
    boPrimVez = true;
    boCargVazio = false;
    boDepVazio = false;
}

void shutDown() {
    if (--startCount != 0) return;
    // Nothing the screen uses is released here: the host closes the form before unloading.
}
} // namespace
} // namespace Cli_zol00900

namespace {
struct PackageUnitEntry {
    void (*Init)();
    void (*FInit)();
};

// The units of the module in start-up order; the parameters unit is the last (and only) one.
const PackageUnitEntry units[] = {
    {Cli_zol00900::startUp, Cli_zol00900::shutDown},
};
constexpr int unitCount = int(std::size(units));

// Restores the pointer whatever happens while the form is created or shown.
struct WaitCursor {
    WaitCursor() { host().setWaitCursor(true); }
    ~WaitCursor() { host().setWaitCursor(false); }
};

void openScreen() {
    using namespace Cli_zol00900;
    WaitCursor pointer;
    // The pointer too: a form destroyed without being closed leaves the flag set.
    const bool created = !boIdCriado || !frmParametros;
    if (created) {
        auto* form = new TfrmParametros(host().mainForm());
        form->Create();
        frmParametros = form;
        boIdCriado = true;
    }
    TfrmParametros* form = frmParametros;
    const int activations = form->ActivationCount();
    host().showChildForm(form);
    // An active child window is not activated again: asking for the screen once more counts
    // as the activation that repeats a first load that failed.
    if (!created && boPrimVez && form->ActivationCount() == activations) form->Activate();
}
} // namespace

struct PackageInfoTable {
    int UnitCount;
    const PackageUnitEntry* UnitInfo;
};

extern "C" {

RH_EXPORT const PackageInfoTable* GetPackageInfoTable() {
    static const PackageInfoTable table{unitCount, units};
    return &table;
}

RH_EXPORT void Initialize() {
    for (const PackageUnitEntry& u : units)
        u.Init();
}

RH_EXPORT void Finalize() {
    for (int i = unitCount - 1; i >= 0; --i)
        units[i].FInit();
}

RH_EXPORT void IniProc() noexcept {
    // A C entry point: no failure may leave it; the host's error handling reports it.
    try {
        Dispatch([] { openScreen(); });
    } catch (...) {
        // Not a std::exception: the dispatcher lets it through, the entry must not.
        if (hasHostServices())
            host().handleException(std::runtime_error("Falha inesperada ao abrir a tela."));
    }
}
}
