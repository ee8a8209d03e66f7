// The service's string table built into the program: the same texts as the Windows string
// resources of lumara_strings.rc, ids 1 to 32.
#include <cstring>

#include "service/core/panel_texts.h"

namespace zelk {
namespace {

constexpr const char* kServiceStrings[] = {
    nullptr,  // no string 0
    "LumaraService::Install, Failed call to open SCM, Error:%1",
    "LumaraService::Install, Failed call to lock SCM, Error:%1",
    "LumaraService::Install, Failed call to CreateService, Error:%1",
    "LumaraService::Install, Failed call to install service as an event log source, Error:%1",
    "LumaraService::Uninstall, Failed call to open SCM, Error:%1",
    "LumaraService::Uninstall, Failed call to OpenService, Error:%1",
    "LumaraService::Uninstall, Failed call to WaitForStop, Error:%1",
    "LumaraService::Uninstall, Failed call to DeleteService, Error:%1",
    "LumaraService::Uninstall, Failed call to remove service as an event log source, Error:%1",
    "Failed to start the service, Error:%1",
    "Failed to stop the service, Error:%1",
    "Failed to continue the service, Error:%1",
    "Failed to pause the service, Error:%1",
    "Failed to start the service, Error:%1",
    "%1, %2",
    "LumaraService::Uninstall, Failed to stop service, Error:%1",
    "LumaraService::SetServiceToStatus, Failed call to open SCM, Error:%1",
    "LumaraService::SetServiceToStatus, Failed call to OpenService, Error:%1",
    "LumaraService::SetServiceToStatus, Failed to start the service, Error:%1",
    "LumaraService::SetServiceToStatus, Failed to continue the service, Error:%1",
    "LumaraService::SetServiceToStatus, Failed to pause the service, Error:%1",
    "LumaraService::SetServiceToStatus, Failed to stop the service, Error:%1",
    "LumaraService::SetServiceToStatus, Failed to wait for the service to change state, Error:%1",
    "LumaraService::SetServiceToStatus, Failed to check the service status, Error:%1",
    "Channel %d",
    "Track %d/%d",
    "Starting Up",
    "Preparing",
    "to standby...",
    "shutdown...",
    "Service",
    "stopping...",
};

}  // namespace

std::size_t LoadServiceString(int id, char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) return 0;
    buffer[0] = '\0';
    constexpr int kCount = static_cast<int>(sizeof kServiceStrings / sizeof kServiceStrings[0]);
    if (id <= 0 || id >= kCount) return 0;
    const char* text = kServiceStrings[id];
    std::size_t length = std::strlen(text);
    if (length > size - 1) length = size - 1;
    std::memcpy(buffer, text, length);
    buffer[length] = '\0';
    return length;
}

}  // namespace zelk
