#include "service/core/service_environment.h"

#include "service/adapters/virtual_volume.h"
#include "service/panel/virtual_panel.h"

namespace zelk {

ServiceEnvironment MakeSystemEnvironment(const SystemEnvironmentOptions& options) {
    ServiceEnvironment env;
    std::unique_ptr<HidBus> system = CreateSystemEnvironmentBus(options);
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

ServiceEnvironment MakeVirtualEnvironment(const VirtualEnvironmentOptions& options) {
    ServiceEnvironment env;
    env.bus = options.bus;
    if (options.xmlLoader != nullptr) {
        env.xmlLoader = options.xmlLoader;
    } else {
        std::shared_ptr<XmlLoader> loader = CreateSystemXmlLoader();
        env.xmlLoader = loader.get();
        env.owned.push_back(std::move(loader));
    }
    env.propsPath = options.propsPath;
    env.pipeName = options.pipeName;
    env.lcdServer = options.lcdServer;
    env.clock = options.clock != nullptr ? options.clock : &SystemClock();
    env.sleeper = options.sleeper != nullptr ? options.sleeper : &SystemSleeper();
    env.panelSleeper = options.panelSleeper;
    if (SimVolumeSource* volume = options.volume) {
        env.makeVolumeMonitor = [volume](void* context) { return volume->MakeMonitor(context); };
    } else {
        env.makeVolumeMonitor = {};
    }
    return env;
}

}  // namespace zelk
