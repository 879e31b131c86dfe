#include "HostServices.h"

#include <stdexcept>

namespace {
HostServices* g_host = nullptr;
}

HostServices& host() {
    if (!g_host) throw std::logic_error("no host services installed");
    return *g_host;
}

void setHostServices(HostServices* services) {
    g_host = services;
}
bool hasHostServices() {
    return g_host != nullptr;
}
