// lumara-sim: the service's own Run (run loop, clock, pipe server, volume thread, composition
// and panel commands) in the foreground, with a virtual panel in place of the HID device.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "common/debug_print.h"
#include "common/mutex.h"
#include "common/thread_annotations.h"
#include "service/adapters/clock.h"
#include "service/core/lumara_service.h"
#include "service/core/service_runner.h"
#include "service/core/service_host.h"
#include "service/core/version.h"
#include "service/panel/display_props.h"
#include "service/panel/virtual_panel.h"
#include "tools/sim/sim_clock.h"
#include "tools/sim/sim_commands.h"
#include "tools/sim/sim_options.h"
#include "tools/sim/sim_svg.h"
#include "tools/sim/sim_terminal.h"
#include "tools/sim/sim_view.h"
#include "service/adapters/virtual_volume.h"

namespace zelk {
namespace {

// The volume the virtual mixer starts at: half way.
constexpr std::int32_t kStartVolume = 32768;

// Draws the picture in place on the terminal, at most every 30 ms, on a thread of its own so
// that the panel's writers never wait for the terminal.
class LiveView {
  public:
    LiveView(std::function<std::size_t()> columns, std::function<bool()> unplugged,
             std::function<std::string()> brightness, ScopedDebugCapture& traces)
        : columns_(std::move(columns)),
          unplugged_(std::move(unplugged)),
          brightness_(std::move(brightness)),
          traces_(traces) {
        thread_ = std::thread([this] { Loop(); });
    }
    ~LiveView() { Finish(); }

    void Update(const PanelPicture& picture) {
        {
            MutexLock guard(lock_);
            picture_ = picture;
            dirty_ = true;
        }
        changed_.NotifyAll();
    }

    // Draws the last picture and ends the thread.
    void Finish() {
        {
            MutexLock guard(lock_);
            if (finished_) return;
            finished_ = true;
        }
        changed_.NotifyAll();
        thread_.join();
    }

  private:
    void Loop() {
        for (;;) {
            PanelPicture picture;
            {
                MutexLock guard(lock_);
                while (!dirty_ && !finished_) {
                    changed_.Wait(lock_);
                }
                if (!dirty_) return;  // finished, with the last picture drawn
                picture = picture_;
                dirty_ = false;
            }
            Draw(picture);
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
    }

    void Draw(const PanelPicture& picture) {
        std::vector<std::string> lines = RenderPanel(picture, columns_(), true);
        lines.push_back(unplugged_() ? "panel: UNPLUGGED (writes fail until plug)"
                                     : "panel: plugged in");
        lines.push_back(brightness_());
        // The service's traces are debugger output: the last one is shown under the drawing.
        std::vector<std::string> traces = traces_.Lines();
        traces_.Clear();
        if (!traces.empty()) {
            lastTrace_ = traces.back();
            while (!lastTrace_.empty() && lastTrace_.back() == '\n') lastTrace_.pop_back();
        }
        lines.push_back("trace: " + lastTrace_);
        std::string out;
        if (drawnLines_ > 0) {
            out += "\x1b[";
            out += std::to_string(drawnLines_);
            out += "A";
        }
        for (const std::string& line : lines) {
            out += "\r\x1b[2K" + line + "\n";
        }
        std::fwrite(out.data(), 1, out.size(), stdout);
        std::fflush(stdout);
        drawnLines_ = lines.size();
    }

    std::function<std::size_t()> columns_;
    std::function<bool()> unplugged_;
    std::function<std::string()> brightness_;
    ScopedDebugCapture& traces_;
    std::string lastTrace_;
    Mutex lock_;
    CondVar changed_;
    PanelPicture picture_ GUARDED_BY(lock_);
    bool dirty_ GUARDED_BY(lock_) = false;
    bool finished_ GUARDED_BY(lock_) = false;
    std::size_t drawnLines_ = 0;
    std::thread thread_;
};

// Everything the service and the input thread use. It is never destroyed: the input thread
// may still be blocked reading standard input when the program ends.
struct Simulator {
    // The service's traces go to the debugger on Windows; here they are kept from the
    // terminal (the live view shows the last one).
    ScopedDebugCapture traces;
    SimOptions options;
    std::unique_ptr<XmlLoader> files = CreateSystemXmlLoader();
    std::unique_ptr<SimXmlLoader> loader;
    VirtualPanelBus bus{VirtualDeviceConfig{}};
    SimVolumeSource volume{kStartVolume};
    StandaloneServiceHost host;
    SimClock clock{SystemClock()};
    std::unique_ptr<LumaraService> service;
    // Written by the panel's writers, flushed by the main thread at the end.
    Mutex logLock;
    std::FILE* reportLog GUARDED_BY(logLock) = nullptr;
    std::unique_ptr<LiveView> view;
    // The main thread sleeps until the service's Run returns or a stop is asked for.
    Mutex doneLock;
    CondVar doneChanged;
    bool runDone GUARDED_BY(doneLock) = false;
    bool stopAsked GUARDED_BY(doneLock) = false;
};

Simulator* theSimulator = nullptr;

// "snapshot FILE": the panel as it is now, as an SVG picture.
bool TakeSnapshot(Simulator& sim, const std::string& rest, std::string& error) {
    const std::size_t start = rest.find_first_not_of(" \t");
    if (start == std::string::npos) {
        error = "snapshot needs a file name, for example: snapshot panel.svg";
        return false;
    }
    const std::string path = rest.substr(start);
    const PanelDevice* panel = sim.service->Panel();
    const std::size_t columns = panel != nullptr && panel->Config().displayColumns > 0
                                    ? static_cast<std::size_t>(panel->Config().displayColumns)
                                    : 12;
    if (!WritePanelSvg(sim.bus.Picture(), columns, path,
                       DimReasonName(sim.service->Brightness().reason))) {
        error = "cannot write the snapshot " + path;
        return false;
    }
    return true;
}

// The brightness the service gave the panel and why it is dimmed, with the time moved ahead.
std::string BrightnessLine(Simulator& sim) {
    const BrightnessLevel level = sim.service ? sim.service->Brightness() : BrightnessLevel{};
    char line[160];
    const char* reason = DimReasonName(level.reason);
    std::snprintf(line, sizeof line, "level: 0x%02x%s%s%s  time ahead: %llu s", level.value,
                  *reason != '\0' ? " (" : "", reason, *reason != '\0' ? ")" : "",
                  static_cast<unsigned long long>(sim.clock.OffsetMs() / 1000));
    return line;
}

void ReadCommands(Simulator& sim) {
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string error;
        if (line == "snapshot" || line.rfind("snapshot ", 0) == 0 ||
            line.rfind("snapshot\t", 0) == 0) {
            if (!TakeSnapshot(sim, line.substr(8), error)) {
                std::fprintf(stderr, "lumara-sim: %s\n", error.c_str());
            }
            continue;
        }
        if (!RunSimCommand(line, *sim.service, sim.volume, &sim.bus, error, &sim.clock)) {
            std::fprintf(stderr, "lumara-sim: %s\n", error.c_str());
        }
        if (sim.view) sim.view->Update(sim.bus.Picture());  // shows an unplug or plug at once
    }
    // End of input changes nothing: the simulator runs until stopped.
}

int Main(int argc, char** argv) {
    std::string error;
    const auto options = ParseSimOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::fprintf(stderr, "lumara-sim: %s\n%s", error.c_str(), SimUsage());
        return 2;
    }
    if (options->help) {
        std::fputs(SimUsage(), stdout);
        return 0;
    }
    if (options->version) {
        std::printf("lumara-sim %s\n", ProductVersion());
        return 0;
    }
    theSimulator = new Simulator();
    Simulator& sim = *theSimulator;
    sim.options = *options;
    CallOnStopRequest([&sim] {
        {
            MutexLock guard(sim.doneLock);
            sim.stopAsked = true;
        }
        sim.doneChanged.NotifyAll();
    });

    std::string propsPath = sim.options.propsPath;
    bool builtIn = false;
    if (propsPath.empty()) {
        propsPath = DefaultDisplayPropsPath();
        std::error_code ignored;
        if (propsPath.empty() || !std::filesystem::exists(propsPath, ignored)) {
            propsPath = "(built-in panel description)";
            builtIn = true;
        }
    }
    sim.loader = std::make_unique<SimXmlLoader>(*sim.files, builtIn);

    if (!sim.options.reportLogPath.empty()) {
        MutexLock guard(sim.logLock);  // no writer yet; the lock keeps the rule
        sim.reportLog = std::fopen(sim.options.reportLogPath.c_str(), "wb");
        if (sim.reportLog == nullptr) {
            std::fprintf(stderr, "lumara-sim: cannot write the report log %s\n",
                         sim.options.reportLogPath.c_str());
            return 1;
        }
    }

    if (!sim.options.quiet && StdoutIsTerminal()) {
        PrepareTerminal();
        sim.view = std::make_unique<LiveView>(
            [&sim]() -> std::size_t {
                const PanelDevice* panel = sim.service ? sim.service->Panel() : nullptr;
                return panel != nullptr && panel->Config().displayColumns > 0
                           ? static_cast<std::size_t>(panel->Config().displayColumns)
                           : 12;
            },
            [&sim] { return sim.bus.IsUnplugged(); }, [&sim] { return BrightnessLine(sim); },
            sim.traces);
    }
    sim.bus.SetObserver(
        [&sim](std::size_t, const std::vector<std::uint8_t>& report, const PanelPicture& picture) {
            {
                MutexLock guard(sim.logLock);
                if (sim.reportLog != nullptr) {
                    const std::string line = HexReport(report) + "\n";
                    std::fwrite(line.data(), 1, line.size(), sim.reportLog);
                    std::fflush(sim.reportLog);
                }
            }
            if (sim.view) sim.view->Update(picture);
        });

    VirtualEnvironmentOptions virtualParts;
    virtualParts.bus = &sim.bus;
    virtualParts.volume = &sim.volume;
    virtualParts.xmlLoader = sim.loader.get();
    virtualParts.propsPath = propsPath;
    virtualParts.pipeName = sim.options.pipeName;
    sim.clock.Advance(sim.options.advanceMs);
    virtualParts.clock = &sim.clock;
    virtualParts.lcdServer = sim.options.lcdServer;
    sim.service = std::make_unique<LumaraService>(sim.host, MakeVirtualEnvironment(virtualParts));

    ServiceRunner runner(*sim.service, [&sim] {
        {
            MutexLock guard(sim.doneLock);
            sim.runDone = true;
        }
        sim.doneChanged.NotifyAll();
    });
    runner.Start();
    std::thread(ReadCommands, std::ref(sim)).detach();

    for (;;) {
        {
            MutexLock guard(sim.doneLock);
            while (!sim.runDone && !sim.stopAsked) {
                sim.doneChanged.Wait(sim.doneLock);
            }
            if (sim.runDone) break;
            sim.stopAsked = false;
        }
        runner.RequestStop();
    }
    runner.Wait();
    if (sim.view) sim.view->Finish();

    switch (sim.service->StartupError()) {
        case kErrorFileNotFound:
            std::fprintf(stderr,
                         "lumara-sim: cannot load the display properties %s: the file is missing "
                         "or not well-formed (error 2)\n",
                         propsPath.c_str());
            return 1;
        case kErrorDeviceNotConnected:
            std::fprintf(stderr,
                         "lumara-sim: no panel matches the vendor and product id of %s; the "
                         "virtual panel is 1F3C/5A41 (error 1167)\n",
                         propsPath.c_str());
            return 1;
        default:
            break;
    }
    if (sim.service->ComFailed()) {
        std::fprintf(stderr, "lumara-sim: COM could not be initialised\n");
        return 1;
    }
    MutexLock guard(sim.logLock);
    if (sim.reportLog != nullptr) std::fflush(sim.reportLog);
    return 0;
}

}  // namespace
}  // namespace zelk

int main(int argc, char** argv) {
    return zelk::Main(argc, argv);
}
