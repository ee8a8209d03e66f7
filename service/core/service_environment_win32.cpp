// The service on Windows: the HID bus through SetupAPI, the MSXML loader (which needs COM on
// the service's thread), the named pipe, the winmm master volume, the system's clock.
#include <objbase.h>

#include "service/core/service_environment.h"

namespace zelk {

bool ServiceEnvironment::InitializeServiceCom() {
    return SUCCEEDED(CoInitialize(nullptr));
}

void ServiceEnvironment::UninitializeServiceCom() {
    CoUninitialize();
}

std::unique_ptr<HidBus> CreateSystemEnvironmentBus(const SystemEnvironmentOptions&) {
    return CreateSystemHidBus();
}

}  // namespace zelk
