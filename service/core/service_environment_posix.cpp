// The service on Linux: the hidraw bus, the expat loader, the Unix socket, the ALSA master
// volume, the system's clock; no COM.
#include "service/core/service_environment.h"

#include "service/panel/hid_bus_hidraw.h"

namespace zelk {

bool ServiceEnvironment::InitializeServiceCom() {
    return true;
}

void ServiceEnvironment::UninitializeServiceCom() {}

std::unique_ptr<HidBus> CreateSystemEnvironmentBus(const SystemEnvironmentOptions& options) {
    return CreateHidrawBus(options.hidrawClassDir, options.devDir);
}

}  // namespace zelk
