#include "tests/service/service_test_support.h"

#include <random>

#include "service/pipe/pipe_client.h"

namespace zelk {

XmlNode DisplayPropsTree(const std::string& vid, const std::string& pid, int columns,
                         int brightness) {
    auto element = [](const std::string& name, const std::string& text) {
        XmlNode node;
        node.isElement = true;
        node.tagName = name;
        node.text = text;
        return node;
    };
    XmlNode display = element("Display", "");
    display.children = {element("VID", vid), element("PID", pid), element("DisplayRows", "2"),
                        element("DisplayColumns", std::to_string(columns)),
                        element("Brightness", std::to_string(brightness))};
    XmlNode root = element("DisplayProperties", "");
    root.children.push_back(display);
    return root;
}

std::string UniquePipeName() {
    static std::atomic<int> counter{0};
    std::random_device random;
    return "ZELK_SERVICE_TEST_" + std::to_string(random()) + "_" + std::to_string(counter++);
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

ServiceRig::ServiceRig() {
    loader.tree = DisplayPropsTree("1F3C", "5A41", 12, 0x33);
}

ServiceRig::~ServiceRig() {
    sleeper.ReleaseAll();
    if (runner_.joinable()) {
        if (!runReturned_.load() && service) service->OnStop();
        runner_.join();
    }
}

void ServiceRig::Start(bool expectRunning) {
    ServiceEnvironment env;
    env.bus = &bus;
    env.xmlLoader = &loader;
    env.propsPath = "DisplayProps.xml";
    env.pipeName = pipeName;
    env.clock = &clock;
    env.sleeper = &sleeper;
    env.panelSleeper = &panelSleeper;
    env.makeVolumeMonitor = [this](void* context) { return volume.MakeMonitor(context); };
    env.initializeCom = [this] {
        ++comInits;
        return comWorks;
    };
    env.uninitializeCom = [this] { ++comUninits; };
    service = std::make_unique<LumaraService>(host, env);
    runner_ = std::thread([this] {
        service->Run();
        runReturned_.store(true);
    });
    if (expectRunning) {
        host.WaitForReport(kServiceRunning, 10000);
        WaitUntil([this] { return service->Redraws() >= 1 && volume.Listening() >= 1; });
    }
}

bool ServiceRig::WaitForRunToReturn(std::chrono::milliseconds limit) {
    return WaitUntil([this] { return runReturned_.load(); }, limit);
}

bool ServiceRig::Stop(std::chrono::milliseconds limit) {
    service->OnStop();
    // The stopping screen is the last thing the loop's end shows; then the worker threads are
    // ended, the clock among them, whose sleep only the test's time can end.
    const bool stopped = WaitUntil(
        [this] {
            const PanelPicture p = bus.Picture();
            return runReturned_.load() ||
                   (p.Line(1, 12) == "stopping... " && p.displayControl == 2);
        },
        limit);
    sleeper.ReleaseAll();
    if (!stopped || !WaitForRunToReturn(limit)) return false;
    runner_.join();
    return true;
}

std::uint32_t ServiceRig::Send(std::int32_t tag, const std::string& text, std::int32_t session) {
    const PipeMessage m = MakePipeMessage(session, tag, text.c_str(), text.size());
    std::uint32_t r = kErrorFileNotFound;
    for (int i = 0; i < 1000 && r == kErrorFileNotFound; ++i) {
        r = SendPipeRecord(pipeName, m);
        if (r == kErrorFileNotFound) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return r;
}

bool ServiceRig::WaitForRedraws(std::uint64_t redraws) {
    return WaitUntil([&] { return service->Redraws() >= redraws; });
}

std::string ServiceRig::Line(int row) {
    return bus.Picture().Line(row, 12);
}

Report R(std::initializer_list<int> bytes) {
    Report r(8, 0);
    std::size_t i = 0;
    for (int b : bytes) r[i++] = static_cast<std::uint8_t>(b);
    return r;
}

std::vector<Report> LineReports(std::uint8_t lineCode, const std::string& text,
                                std::size_t columns) {
    std::vector<Report> out;
    for (std::size_t c = 0; c < columns; ++c) {
        const int ch = c < text.size() ? static_cast<unsigned char>(text[c]) : 0x20;
        out.push_back(R({1, lineCode | static_cast<int>(c), ch}));
    }
    return out;
}

}  // namespace zelk
