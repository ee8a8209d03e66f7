// DisplayProps.xml at the size limit: load time and memory of the largest files the loader
// accepts (deeply nested text, one long comment), and of one byte more, which it refuses.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "bench/bench_rig.h"
#include "service/panel/display_props.h"
#include "service/panel/virtual_panel.h"
#include "tools/sim/sim_terminal.h"

namespace {

constexpr const char* kIds = "<VID>1F3C</VID><PID>5A41</PID><DisplayColumns>12</DisplayColumns>";

// A document of exactly `size` bytes: the ids, then `depth` nested elements around filler
// text, or (depth 0) one comment of filler.
std::string Document(std::size_t size, int depth) {
    std::string head = std::string("<FrontPanel><Display>") + kIds + "</Display>";
    std::string open, close;
    for (int i = 0; i < depth; ++i) {
        open += "<n>";
        close = "</n>" + close;
    }
    const std::string tail = "</FrontPanel>";
    const std::size_t fixed =
        head.size() + tail.size() + (depth > 0 ? open.size() + close.size() : 7);
    const std::string filler(size - fixed, 'x');
    return head + (depth > 0 ? open + filler + close : "<!--" + filler + "-->") + tail;
}

}  // namespace

int main() {
    using namespace zelk;
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("DisplayProps_bench_" + std::to_string(std::random_device{}()) + ".xml");
    const struct {
        const char* what;
        std::uint64_t size;
        int depth;
    } cases[] = {{"1 MiB, text under 250 levels", kMaxDisplayPropsBytes, 250},
                 {"1 MiB, one comment", kMaxDisplayPropsBytes, 0},
                 {"1 MiB + 1 byte", kMaxDisplayPropsBytes + 1, 250}};
    for (const auto& c : cases) {
        {
            std::ofstream out(path, std::ios::binary);
            out << Document(static_cast<std::size_t>(c.size), c.depth);
        }
        VirtualPanelBus bus{VirtualDeviceConfig{}};
        PanelDevice panel(bus, CreateSystemTextConverter(), SystemSleeper());
        const ResidentMemory before = ProcessResidentMemory();
        const auto start = std::chrono::steady_clock::now();
        const std::uint32_t result =
            InitializePanel(panel, path.string(), *CreateSystemXmlLoader());
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        const ResidentMemory after = ProcessResidentMemory();
        std::printf("%s (%llu bytes): result %u in %.1f ms, peak resident %.1f MB (was %.1f MB)\n",
                    c.what, static_cast<unsigned long long>(c.size), result, ms,
                    after.peak / 1048576.0, before.peak / 1048576.0);
    }
    std::filesystem::remove(path);
    return 0;
}
