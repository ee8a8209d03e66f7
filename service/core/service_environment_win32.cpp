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

ServiceEnvironment MakeSystemEnvironment(const SystemEnvironmentOptions& options) {
    ServiceEnvironment env;
    std::unique_ptr<HidBus> system = CreateSystemHidBus();
    std::shared_ptr<HidBus> bus =
        options.wrapBus ? options.wrapBus(std::move(system)) : std::move(system);
    std::shared_ptr<XmlLoader> loader = CreateSystemXmlLoader();
    env.bus = bus.get();
    env.xmlLoader = loader.get();
    env.owned = {std::move(bus), std::move(loader)};
    env.propsPath = options.propsPath ? *options.propsPath : DefaultDisplayPropsPath();
    env.pipeName = options.pipeName;
    env.lcdServer = options.lcdServer;
    env.clock = &SystemClock();
    env.sleeper = &SystemSleeper();
    // The volume monitor, the pipe and the text converter: the system's by default.
    return env;
}

}  // namespace zelk
