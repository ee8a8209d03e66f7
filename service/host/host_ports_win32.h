// The Windows service control manager, registry and event log behind the host's interfaces.
// Declared without OS headers; defined in host_ports_win32.cpp (Windows build only).
#pragma once

#include <string>

#include "service/host/host_ports.h"

namespace zelk {

ScmApi& SystemScmApi();
RegistryApi& SystemRegistryApi();
EventLogApi& SystemEventLogApi();

// The full path of the running program, however long (empty when it cannot be read).
std::string SystemModulePath();

}  // namespace zelk
