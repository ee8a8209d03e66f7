// The service on Linux: the hidraw bus, the expat loader, the Unix socket, the ALSA master
// volume, the system's clock; no COM.
#include "service/core/service_environment.h"

#include "service/panel/hid_bus_hidraw.h"

namespace zelk {

bool ServiceEnvironment::InitializeServiceCom() {
    return true;
}

void ServiceEnvironment::UninitializeServiceCom() {}

ServiceEnvironment MakeSystemEnvironment(const SystemEnvironmentOptions& options) {
    ServiceEnvironment env;
    std::unique_ptr<HidBus> hidraw = CreateHidrawBus(options.hidrawClassDir, options.devDir);
    std::shared_ptr<HidBus> bus =
        options.wrapBus ? options.wrapBus(std::move(hidraw)) : std::move(hidraw);
    std::shared_ptr<XmlLoader> loader = CreateSystemXmlLoader();
    env.bus = bus.get();
    env.xmlLoader = loader.get();
    env.owned = {std::move(bus), std::move(loader)};
    env.propsPath = options.propsPath ? *options.propsPath : DefaultDisplayPropsPath();
    env.pipeName = options.pipeName;
    env.lcdServer = options.lcdServer;
    env.clock = &SystemClock();
    env.sleeper = &SystemSleeper();
    // The volume monitor, the socket and the text converter: the system's by default.
    return env;
}

}  // namespace zelk
