// The simulator's standard-input commands, one per line, against a service that is not
// running (its handlers act on the state and gates alone) and a virtual panel.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz/fuzz_support.h"
#include "service/core/service_host.h"
#include "tools/sim/sim_commands.h"
#include "service/adapters/virtual_volume.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace zelk;
    static fuzz::NoSleeper sleeper;
    StandaloneServiceHost host;
    SimVolumeSource volume{32768};
    VirtualPanelBus bus{VirtualDeviceConfig{}};
    VirtualEnvironmentOptions parts;
    parts.bus = &bus;
    parts.volume = &volume;
    parts.sleeper = &sleeper;
    LumaraService service(host, MakeVirtualEnvironment(parts));
    for (const std::string& line : fuzz::Pieces(data, size, '\n')) {
        std::string error;
        RunSimCommand(line, service, volume, &bus, error);
    }
    return 0;
}
