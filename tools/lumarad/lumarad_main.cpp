// lumarad: the panel service on Linux. Runs the service's own Run (run loop, clock, pipe
// server, volume thread, composition, panel commands) in the foreground against the hidraw
// panel and the ALSA master volume, as a systemd service of Type=notify.
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "service/adapters/clock.h"
#include "service/core/lumara_service.h"
#include "service/core/version.h"
#include "service/panel/display_props.h"
#include "service/panel/hid_bus_hidraw.h"
#include "tools/lumarad/daemon_host_posix.h"
#include "tools/lumarad/logind_watch_posix.h"
#include "tools/lumarad/lumarad_options.h"

namespace zelk {
namespace {

// How long READY waits for the pipe server to take its name.
constexpr auto kPipeReadyWait = std::chrono::seconds(5);

// Tells when the pipe server has created its pipe (or failed to).
class PipeReadiness {
  public:
    void Set(bool served) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            known_ = true;
            served_ = served;
        }
        changed_.notify_all();
    }
    // False when the pipe could not be created or nothing was heard in time.
    bool Wait() {
        std::unique_lock<std::mutex> lock(lock_);
        changed_.wait_for(lock, kPipeReadyWait, [this] { return known_; });
        return known_ && served_;
    }

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool known_ = false;
    bool served_ = false;
};

// The platform's endpoint, reporting the outcome of Create.
class ReportingEndpoint : public PipeEndpoint {
  public:
    ReportingEndpoint(std::unique_ptr<PipeEndpoint> inner, PipeReadiness& readiness)
        : inner_(std::move(inner)), readiness_(readiness) {}
    PipeCreateResult Create(const std::string& name) override {
        const PipeCreateResult result = inner_->Create(name);
        readiness_.Set(result == PipeCreateResult::kCreated);
        return result;
    }
    PipeReceiveResult Receive(void* buffer, std::size_t size, std::size_t& count,
                              PipeConnectionId& connection) override {
        return inner_->Receive(buffer, size, count, connection);
    }
    bool Disconnect(PipeConnectionId connection) override { return inner_->Disconnect(connection); }
    void Release() override { inner_->Release(); }
    void Close() override { inner_->Close(); }

  private:
    std::unique_ptr<PipeEndpoint> inner_;
    PipeReadiness& readiness_;
};

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

    // SIGTERM and SIGINT are read from a descriptor; every thread started below inherits the
    // mask, so no worker is interrupted by them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    const int signalFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
    const int doneFd = eventfd(0, EFD_CLOEXEC);
    if (signalFd < 0 || doneFd < 0) {
        std::perror("lumarad");
        return 1;
    }

    DaemonLog log;
    PipeReadiness readiness;
    DaemonHost host(log, [&] {
        if (!readiness.Wait()) {
            log.Notice(4, "the pipe " + options->pipeName +
                              " cannot be served (is another server using the name?); the "
                              "panel follows the clock and the volume only");
        }
    });

    SealableBus bus(CreateHidrawBus(options->hidrawClassDir, options->devDir));
    std::unique_ptr<XmlLoader> loader = CreateSystemXmlLoader();
    ServiceEnvironment env;
    env.bus = &bus;
    env.xmlLoader = loader.get();
    env.propsPath = options->propsPath;
    env.pipeName = options->pipeName;
    env.clock = &SystemClock();
    env.sleeper = &SystemSleeper();
    env.makePipeEndpoint = [&readiness] {
        return std::make_unique<ReportingEndpoint>(CreateSystemPipeEndpoint(), readiness);
    };
    LumaraService service(host, env);

    std::thread runner([&] {
        service.Run();
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = write(doneFd, &one, sizeof one);
    });

    LogindWatch logind;
    std::atomic<bool> shuttingDown{false};
    std::string why;
    std::string warning;
    const bool watching = logind.Connect(
        {[&service](bool start) {
             service.OnPowerEvent(start ? kPowerSuspend : kPowerResumeSuspend, nullptr);
         },
         [&service, &log, &shuttingDown](bool start) {
             shuttingDown.store(start);
             if (start) {
                 service.OnShutdown();
             } else {
                 // A cancelled shutdown: back to work the way a resume goes.
                 log.Notice(6, "the shutdown was cancelled");
                 service.OnPowerEvent(kPowerSuspend, nullptr);
                 service.OnPowerEvent(kPowerResumeSuspend, nullptr);
             }
         }},
        why, warning);
    if (!watching) {
        log.Notice(6, why + ": suspend, resume and shutdown are not followed");
    } else if (!warning.empty()) {
        log.Notice(4, warning);
    }

    std::uint64_t watchdogUs = 0;
    const bool watchdog = sd_watchdog_enabled(0, &watchdogUs) > 0 && watchdogUs > 0;
    const int watchdogMs =
        watchdog ? static_cast<int>(std::max<std::uint64_t>(watchdogUs / 2000, 1)) : -1;

    bool stopping = false;
    for (;;) {
        pollfd fds[3] = {{doneFd, POLLIN, 0}, {signalFd, POLLIN, 0}, {-1, 0, 0}};
        if (watching) {
            fds[2] = {logind.Fd(), logind.Events(), 0};
        }
        int timeout = watching ? logind.TimeoutMs() : -1;
        if (watchdog && (timeout < 0 || timeout > watchdogMs)) {
            timeout = watchdogMs;
        }
        const int ready = poll(fds, 3, timeout);
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (fds[0].revents != 0) {
            break;  // Run has returned
        }
        if (fds[1].revents != 0) {
            signalfd_siginfo info{};
            [[maybe_unused]] const ssize_t n = read(signalFd, &info, sizeof info);
            if (!stopping) {
                stopping = true;
                NotifyServiceManager("STOPPING=1");
                if (shuttingDown.load()) {
                    bus.Seal();
                }
                service.OnStop();
            }
        }
        if (watching) {
            logind.Process();
        }
        if (watchdog) {
            NotifyServiceManager("WATCHDOG=1");
        }
    }
    runner.join();

    return service.StartupError() != 0 || service.ComFailed() ? 1 : 0;
}

}  // namespace
}  // namespace zelk

int main(int argc, char** argv) {
    return zelk::Main(argc, argv);
}
