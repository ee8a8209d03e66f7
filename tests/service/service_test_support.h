// A whole service in the test process: the virtual panel, a scripted volume source, the
// system pipe under a name of its own, and time that moves only when the test moves it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/pipe_message.h"
#include "service/adapters/fake_clock.h"
#include "service/core/lumara_service.h"
#include "service/core/service_host.h"
#include "service/panel/display_props.h"
#include "service/panel/virtual_panel.h"
#include "tools/sim/sim_volume.h"

namespace zelk {

// A sleeper whose sleeps end only when the test has granted that much time on the fake clock
// (or has released every sleeper for good, as a test does before it ends).
class GatedSleeper : public Sleeper {
  public:
    explicit GatedSleeper(FakeClock& clock) : clock_(clock) {}

    void SleepMs(std::uint32_t milliseconds) override {
        std::unique_lock<std::mutex> lock(lock_);
        const std::uint64_t until = clock_.NowMs() + milliseconds;
        ++sleeping_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return released_ || granted_ >= until; });
        --sleeping_;
        if (!released_) clock_.SetNowMs(until);
    }

    // Lets the clock move `milliseconds` further.
    void Grant(std::uint64_t milliseconds) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            granted_ = std::max<std::uint64_t>(granted_, clock_.NowMs()) + milliseconds;
        }
        changed_.notify_all();
    }
    void ReleaseAll() {
        {
            std::lock_guard<std::mutex> guard(lock_);
            released_ = true;
        }
        changed_.notify_all();
    }
    // Waits (real time) until at least `count` threads sleep here.
    bool WaitForSleepers(int count, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        std::unique_lock<std::mutex> lock(lock_);
        return changed_.wait_for(lock, limit, [&] { return sleeping_ >= count; });
    }

  private:
    FakeClock& clock_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::uint64_t granted_ = 0;
    int sleeping_ = 0;
    bool released_ = false;
};

// DisplayProps.xml as a parsed tree, without a file.
class TreeXmlLoader : public XmlLoader {
  public:
    XmlLoadStatus status = XmlLoadStatus::kLoaded;
    XmlNode tree;
    XmlLoadStatus Load(const std::string&, XmlNode& root, std::uint32_t& error) override {
        error = 0;
        if (status == XmlLoadStatus::kLoaded) root = tree;
        return status;
    }
};

XmlNode DisplayPropsTree(const std::string& vid, const std::string& pid, int columns,
                         int brightness);

std::string UniquePipeName();

// Polls `condition` (real time) until it holds or `limit` passes.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = std::chrono::seconds(10));

class ServiceRig {
  public:
    ServiceRig();
    ~ServiceRig();

    // Starts Run on its own thread; with `expectRunning`, waits until RUNNING is reported and
    // the clock's first tick has been drawn.
    void Start(bool expectRunning = true);
    // OnStop, then waits for the stopping screen, releases the test's time (so the clock
    // thread's sleep ends) and waits for Run to return; false when either took over `limit`.
    bool Stop(std::chrono::milliseconds limit = std::chrono::seconds(10));
    bool RunReturned() const { return runReturned_.load(); }
    bool WaitForRunToReturn(std::chrono::milliseconds limit);

    // Sends one record through the pipe (waiting for the server to appear).
    std::uint32_t Send(std::int32_t tag, const std::string& text = "", std::int32_t session = 1);
    // Waits until at least `redraws` redraws have been made in all.
    bool WaitForRedraws(std::uint64_t redraws);

    // The panel's first `columns` characters of a line (row 0 or 1).
    std::string Line(int row);
    PanelPicture Picture() { return bus.Picture(); }

    FakeClock clock;
    GatedSleeper sleeper{clock};
    FakeSleeper panelSleeper;
    VirtualPanelBus bus{VirtualDeviceConfig{}};
    TreeXmlLoader loader;
    SimVolumeSource volume{40000};
    StandaloneServiceHost host;
    std::string pipeName = UniquePipeName();
    std::atomic<int> comInits{0};
    std::atomic<int> comUninits{0};
    bool comWorks = true;
    std::unique_ptr<LumaraService> service;

  private:
    std::thread runner_;
    std::atomic<bool> runReturned_{false};
};

// Reports as the panel got them, each 8 bytes.
using Report = std::vector<std::uint8_t>;
Report R(std::initializer_list<int> bytes);
// The 12 character reports of one line.
std::vector<Report> LineReports(std::uint8_t lineCode, const std::string& text,
                                std::size_t columns = 12);

}  // namespace zelk
