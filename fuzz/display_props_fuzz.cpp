// DisplayProps.xml through the system loader and InitializePanel, on the virtual panel.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz/fuzz_support.h"
#include "service/adapters/text_converter.h"
#include "service/panel/display_props.h"
#include "service/panel/panel_startup.h"
#include "service/panel/virtual_panel.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace zelk;
    static const std::string path = "/tmp/DisplayProps_fuzz_" + std::to_string(getpid()) + ".xml";
    static fuzz::NoSleeper sleeper;
    static const std::unique_ptr<XmlLoader> loader = CreateSystemXmlLoader();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    VirtualPanelBus bus{VirtualDeviceConfig{}};
    PanelDevice panel(bus, CreateSystemTextConverter(), sleeper);
    InitializePanel(panel, path, *loader);
    return 0;
}
