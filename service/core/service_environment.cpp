#include "service/core/service_environment.h"

#include "service/adapters/virtual_volume.h"
#include "service/panel/virtual_panel.h"

namespace zelk {

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
