// lumarad: the panel service on Linux. Runs the service's own Run (run loop, clock, pipe
// server, volume thread, composition, panel commands) in the foreground against the hidraw
// panel and the ALSA master volume, as a systemd service of Type=notify. Its main thread is an
// sd-event loop that hands the service what systemd and logind say.
#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <systemd/sd-daemon.h>
#include <systemd/sd-event.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "common/posix_handles.h"
#include "service/core/lumara_service.h"
#include "service/core/service_runner.h"
#include "service/core/version.h"
#include "tools/lumarad/daemon_host_posix.h"
#include "tools/lumarad/logind_watch_posix.h"
#include "tools/lumarad/lumarad_options.h"

namespace zelk {
namespace {

// How long READY waits for the pipe server to take its name.
constexpr std::uint32_t kPipeReadyWaitMs = 5000;

// The hidraw bus, whose writes can be stopped for good: once the machine shuts down, the
// shutdown screen stays on the panel rather than the stopping screen that follows when systemd
// stops the service (on Windows the service is not stopped at shutdown).
class SealableBus : public HidBus {
  public:
    explicit SealableBus(std::unique_ptr<HidBus> inner) : inner_(std::move(inner)) {}
    void Seal() { sealed_->store(true); }
    std::vector<std::string> EnumerateInterfaces() override {
        return inner_->EnumerateInterfaces();
    }
    std::unique_ptr<HidDevice> Open(const std::string& path) override {
        std::unique_ptr<HidDevice> device = inner_->Open(path);
        return device ? std::make_unique<Device>(std::move(device), sealed_) : nullptr;
    }
    bool WaitForArrival(std::uint32_t timeoutMs) override {
        return inner_->WaitForArrival(timeoutMs);
    }
    void CancelArrivalWait() override { inner_->CancelArrivalWait(); }

  private:
    class Device : public HidDevice {
      public:
        Device(std::unique_ptr<HidDevice> inner, std::shared_ptr<std::atomic<bool>> sealed)
            : inner_(std::move(inner)), sealed_(std::move(sealed)) {}
        bool GetAttributes(std::uint16_t& vendorId, std::uint16_t& productId) override {
            return inner_->GetAttributes(vendorId, productId);
        }
        std::uint32_t GetOutputReportLength(std::uint16_t& length) override {
            return inner_->GetOutputReportLength(length);
        }
        std::uint32_t Write(const std::uint8_t* data, std::size_t length) override {
            return sealed_->load() ? 0 : inner_->Write(data, length);
        }

      private:
        std::unique_ptr<HidDevice> inner_;
        std::shared_ptr<std::atomic<bool>> sealed_;
    };
    std::unique_ptr<HidBus> inner_;
    std::shared_ptr<std::atomic<bool>> sealed_ = std::make_shared<std::atomic<bool>>(false);
};

// The daemon: the service's Run on a thread of its own, and the event loop on the main thread.
class Daemon {
  public:
    explicit Daemon(const DaemonOptions& options)
        : options_(options),
          host_(log_, [this] { SayWhenPipeIsNotServed(); }),
          service_(host_, MakeSystemEnvironment(EnvironmentOptions())),
          runner_(service_, [this] {
              const std::uint64_t one = 1;
              [[maybe_unused]] const ssize_t n = write(runDone_.Get(), &one, sizeof one);
          }) {}
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;

    // SIGTERM and SIGINT are taken by the event loop; blocked before any thread starts, so
    // that every thread inherits the mask and no worker is interrupted by them.
    static void BlockStopSignals() {
        sigset_t signals;
        sigemptyset(&signals);
        sigaddset(&signals, SIGTERM);
        sigaddset(&signals, SIGINT);
        pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    }

    bool CreateLoop() {
        runDone_.Reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        return sd_event_new(event_.Receive()) >= 0 && runDone_;
    }

    // Run: start-up, the run loop, the stopping screen; it says when it has returned.
    void StartService() { runner_.Start(); }

    // Suspend, resume and shutdown from logind, with the delay lock that lets the panel show
    // its screen first.
    void FollowLogind() {
        std::string why;
        const bool watching = logind_.Connect(
            event_.Get(),
            [this](LogindWatch::Notice notice, bool start) { OnLogind(notice, start); },
            [this](const std::string& text) { log_.Notice(4, text); }, why);
        if (!watching) {
            log_.Notice(6, why + ": suspend, resume and shutdown are not followed");
        }
    }

    // WATCHDOG=1 when systemd asks for it, and only while the run loop is alive.
    bool FeedWatchdog() {
        std::uint64_t periodUs = 0;
        if (sd_watchdog_enabled(0, &periodUs) <= 0 || periodUs == 0) {
            return true;
        }
        watchdogIntervalUs_ = std::max<std::uint64_t>(periodUs / 2, 1);
        return sd_event_add_time_relative(event_.Get(), nullptr, CLOCK_MONOTONIC,
                                          watchdogIntervalUs_, 0, &Daemon::OnWatchdog, this) >= 0;
    }

    // SIGTERM or SIGINT: STOPPING=1 and the service's stop.
    bool StopOnSignals() {
        return sd_event_add_signal(event_.Get(), nullptr, SIGTERM, &Daemon::OnStopSignal, this) >=
                   0 &&
               sd_event_add_signal(event_.Get(), nullptr, SIGINT, &Daemon::OnStopSignal, this) >= 0;
    }

    // The loop ends when Run has returned.
    bool EndWithRun() {
        return sd_event_add_io(event_.Get(), nullptr, runDone_.Get(), EPOLLIN, &Daemon::OnRunDone,
                               this) >= 0;
    }

    void Loop() {
        if (sd_event_loop(event_.Get()) < 0) {
            runner_.RequestStop();  // Run still ends, and is waited for
        }
    }

    int ExitStatus() { return runner_.Wait(); }

  private:
    // The system's parts, with the hidraw bus inside one that can be sealed.
    SystemEnvironmentOptions EnvironmentOptions() {
        SystemEnvironmentOptions system;
        system.propsPath = options_.propsPath;
        system.pipeName = options_.pipeName;
        system.hidrawClassDir = options_.hidrawClassDir;
        system.devDir = options_.devDir;
        system.lcdServer = options_.lcdServer;
        system.wrapBus = [this](std::unique_ptr<HidBus> hidraw) -> std::unique_ptr<HidBus> {
            auto sealable = std::make_unique<SealableBus>(std::move(hidraw));
            bus_ = sealable.get();
            return sealable;
        };
        return system;
    }

    void SayWhenPipeIsNotServed() {
        if (!service_.WaitUntilPipeServed(kPipeReadyWaitMs)) {
            log_.Notice(4, "the pipe " + options_.pipeName +
                               " cannot be served (is another server using the name?); the "
                               "panel follows the clock and the volume only");
        }
    }

    void OnLogind(LogindWatch::Notice notice, bool start) {
        if (notice == LogindWatch::Notice::kSleep) {
            service_.OnPowerEvent(start ? kPowerSuspend : kPowerResumeSuspend, nullptr);
        } else if (start) {
            shuttingDown_ = true;
            service_.OnShutdown();
        } else {
            // A cancelled shutdown: back to work the way a resume goes.
            shuttingDown_ = false;
            log_.Notice(6, "the shutdown was cancelled");
            service_.OnPowerEvent(kPowerSuspend, nullptr);
            service_.OnPowerEvent(kPowerResumeSuspend, nullptr);
        }
    }

    static int OnWatchdog(sd_event_source* source, std::uint64_t now, void* self) {
        auto* daemon = static_cast<Daemon*>(self);
        if (daemon->beat_.Alive()) {
            NotifyServiceManager("WATCHDOG=1");
        }
        sd_event_source_set_time(source, now + daemon->watchdogIntervalUs_);
        sd_event_source_set_enabled(source, SD_EVENT_ON);  // time sources fire once otherwise
        return 0;
    }

    static int OnStopSignal(sd_event_source*, const signalfd_siginfo*, void* self) {
        auto* daemon = static_cast<Daemon*>(self);
        daemon->host_.NotifyStopping();
        if (daemon->shuttingDown_) {
            daemon->bus_->Seal();  // the shutdown screen stays
        }
        daemon->runner_.RequestStop();
        return 0;
    }

    static int OnRunDone(sd_event_source*, int, std::uint32_t, void* self) {
        return sd_event_exit(static_cast<Daemon*>(self)->event_.Get(), 0);
    }

    const DaemonOptions& options_;
    DaemonLog log_;
    DaemonHost host_;
    SealableBus* bus_ = nullptr;  // the service's environment owns it
    LumaraService service_;
    RunLoopBeat beat_{service_.Shared()};
    UniqueRef<sd_event, sd_event_unref> event_;
    UniqueFd runDone_;
    ServiceRunner runner_;
    LogindWatch logind_;         // after the loop it is attached to, so it goes first
    bool shuttingDown_ = false;  // the event loop's thread only
    std::uint64_t watchdogIntervalUs_ = 0;
};

int Main(int argc, char** argv) {
    std::string error;
    const auto options = ParseDaemonOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::fprintf(stderr, "lumarad: %s (see lumarad --help)\n", error.c_str());
        return 2;
    }
    if (options->help) {
        std::fputs(DaemonUsage(), stdout);
        return 0;
    }
    if (options->version) {
        std::printf("lumarad %s\n", ProductVersion());
        return 0;
    }

    Daemon::BlockStopSignals();
    Daemon daemon(*options);
    if (!daemon.CreateLoop() || !daemon.StopOnSignals() || !daemon.EndWithRun() ||
        !daemon.FeedWatchdog()) {
        std::perror("lumarad: cannot set up the event loop");
        return 1;
    }
    daemon.StartService();
    daemon.FollowLogind();
    daemon.Loop();
    return daemon.ExitStatus();
}

}  // namespace
}  // namespace zelk

int main(int argc, char** argv) {
    return zelk::Main(argc, argv);
}
