// What the service is built from: the panel's bus, the XML loader, the pipe, the volume source,
// time and COM. One function puts them together for each environment the service runs in:
// MakeSystemEnvironment for the real machine (its HID bus from service_environment_win32.cpp or
// service_environment_posix.cpp) and MakeVirtualEnvironment for the virtual panel of lumara-sim,
// the tests and the benchmarks (both in service_environment.cpp).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/pipe_message.h"
#include "service/adapters/clock.h"
#include "service/adapters/text_converter.h"
#include "service/adapters/volume_monitor.h"
#include "service/core/lcd_server_config.h"
#include "service/panel/display_props.h"
#include "service/panel/hid_bus.h"
#include "service/pipe/pipe_endpoint.h"

namespace zelk {

class SimVolumeSource;
class VirtualPanelBus;

struct ServiceEnvironment {
    HidBus* bus = nullptr;
    XmlLoader* xmlLoader = nullptr;
    std::string propsPath;
    std::string pipeName = kPipeName;
    Clock* clock = nullptr;
    // The clock thread's period and the resume delay.
    Sleeper* sleeper = nullptr;
    // The panel's own sleeps (scroll steps and handshakes); `sleeper` when null.
    Sleeper* panelSleeper = nullptr;
    std::function<std::unique_ptr<TextConverter>()> makeConverter = CreateSystemTextConverter;
    // Makes a volume monitor on the calling thread; empty (or a null result) means no volume
    // source at all.
    std::function<std::unique_ptr<VolumeMonitor>(void* context)> makeVolumeMonitor =
        CreateSystemVolumeMonitor;
    std::function<std::unique_ptr<PipeEndpoint>()> makePipeEndpoint = CreateSystemPipeEndpoint;
    // COM for the service thread (the XML DOM needs it on Windows; nothing elsewhere).
    std::function<bool()> initializeCom = InitializeServiceCom;
    std::function<void()> uninitializeCom = UninitializeServiceCom;
    // The LCDproc server: off unless the environment turns it on.
    LcdServerConfig lcdServer;
    // What the environment made for itself (the bus, the loader) and owns: it lives as long as
    // the service that holds the environment, and goes after the service's panel.
    std::vector<std::shared_ptr<void>> owned;

    static bool InitializeServiceCom();
    static void UninitializeServiceCom();
};

// The real machine: the system's HID bus, XML loader, pipe, master volume, clock and sleeper.
struct SystemEnvironmentOptions {
    // DisplayProps.xml; unset: the file beside the program (Windows), whose path is empty, and
    // so not loaded, when it does not fit the path length limit.
    std::optional<std::string> propsPath;
    std::string pipeName = kPipeName;
    // Where the hidraw nodes are described and where they are opened (Linux).
    std::string hidrawClassDir = "/sys/class/hidraw";
    std::string devDir = "/dev";
    // Put around the system's bus before the service gets it (lumarad's bus that stops writing
    // once the machine shuts down); the system's bus itself when empty.
    std::function<std::unique_ptr<HidBus>(std::unique_ptr<HidBus>)> wrapBus;
    // The LCDproc server: on, on loopback, by default.
    LcdServerConfig lcdServer{.enabled = true};
};

ServiceEnvironment MakeSystemEnvironment(const SystemEnvironmentOptions& options);
// The platform's part of it: the system's HID bus (service_environment_win32.cpp, _posix.cpp).
std::unique_ptr<HidBus> CreateSystemEnvironmentBus(const SystemEnvironmentOptions& options);

// The virtual panel: its bus, a scripted volume source, the system's pipe (under a name of its
// own where several run at once) and the system's COM.
struct VirtualEnvironmentOptions {
    VirtualPanelBus* bus = nullptr;
    // No volume source at all when null.
    SimVolumeSource* volume = nullptr;
    // The system's XML loader when null.
    XmlLoader* xmlLoader = nullptr;
    std::string propsPath;
    std::string pipeName = kPipeName;
    // The system's clock and sleeper when null; `panelSleeper` is `sleeper` when null.
    Clock* clock = nullptr;
    Sleeper* sleeper = nullptr;
    Sleeper* panelSleeper = nullptr;
    // The LCDproc server: off by default.
    LcdServerConfig lcdServer;
};

ServiceEnvironment MakeVirtualEnvironment(const VirtualEnvironmentOptions& options);

}  // namespace zelk
