// The service's work: Run (start-up, the worker threads, the run loop, the stop) and the control
// handlers, over a host (the SCM framework, the simulator or a test) and an environment that
// supplies the panel's bus, the XML loader, the pipe, the volume source and time.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/pipe_message.h"
#include "service/adapters/clock.h"
#include "service/adapters/text_converter.h"
#include "service/adapters/volume_monitor.h"
#include "service/core/brightness_policy.h"
#include "service/core/event_ids.h"
#include "service/core/lcd_screens.h"
#include "service/core/clock_thread.h"
#include "service/core/run_loop.h"
#include "service/core/volume_thread.h"
#include "service/core/service_environment.h"
#include "service/core/service_host.h"
#include "service/panel/display_props.h"
#include "service/panel/hid_bus.h"
#include "service/panel/panel_device.h"
#include "service/panel/panel_recovery.h"
#include "service/panel/panel_startup.h"
#include "service/pipe/pipe_endpoint.h"
#include "service/pipe/pipe_server.h"

namespace zelk {

inline constexpr char kServiceName[] = "LUMARA";
inline constexpr char kServiceDisplayName[] = "Tarsel Front Panel Manager Service";

// Power broadcast types.
inline constexpr std::uint32_t kPowerSuspend = 4;           // PBT_APMSUSPEND
inline constexpr std::uint32_t kPowerResumeSuspend = 7;     // PBT_APMRESUMESUSPEND
inline constexpr std::uint32_t kPowerResumeAutomatic = 18;  // PBT_APMRESUMEAUTOMATIC

// Custom control codes and the brightness each sets.
inline constexpr std::uint32_t kControlBrightnessLow = 201;
inline constexpr std::uint32_t kControlBrightnessHigh = 204;
inline constexpr std::uint8_t kBrightnessLow = 0xA4;
inline constexpr std::uint8_t kBrightnessHigh = 0xAF;

// How long the pipe server and clock stay halted after the start-up screen on resume.
inline constexpr std::uint32_t kResumeDelayMs = 1500;

// Start-up progress reported to the host.
inline constexpr std::uint32_t kStartWaitHintMs = 1100;
inline constexpr std::uint32_t kStopWaitHintMs = 1100;

class LumaraService {
  public:
    LumaraService(ServiceHost& host, ServiceEnvironment environment);
    // Ends the worker threads if Run has not (Run ends them itself after the stopping screen).
    ~LumaraService();
    LumaraService(const LumaraService&) = delete;
    LumaraService& operator=(const LumaraService&) = delete;

    // Start-up, run loop until stopped, stopping screen. The arguments are not used.
    void Run(int argc = 0, char** argv = nullptr);

    // Control handlers, called on the host's control thread.
    void OnStop();
    void OnPause();
    void OnContinue();
    void OnShutdown();
    std::uint32_t OnPowerEvent(std::uint32_t eventType, void* eventData);
    void OnUserDefinedRequest(std::uint32_t control);

    // The volume source's callback; `context` is the service the monitor was made for.
    static void OnVolumeChange(std::int32_t value, std::int32_t flag, void* context);

    // What InitializePanel answered (0 before it ran), and the failure Run stopped on: 2, 1167
    // or 0 (also when COM could not be initialised: then ComFailed() is true).
    std::uint32_t StartupError() const { return startupError_.load(); }
    bool ComFailed() const { return comFailed_.load(); }
    // The panel once Run has published it (after its reset), else null.
    PanelDevice* Panel() const { return published_.load(); }
    // The shared state, for tests and the simulator's display.
    ServiceShared& Shared() { return shared_; }
    std::uint64_t Redraws() const { return redraws_.load(); }
    // Times the panel was opened again after it had gone.
    std::uint64_t PanelReopens() const { return reopens_.load(); }
    std::uint64_t ClockTicks() const;
    // The brightness the panel was last given and why it is below the normal level.
    BrightnessLevel Brightness();
    // Wakes the run loop so that it looks at the time again (after the clock has been moved).
    void Nudge() { shared_.wake.Set(); }
    // Waits up to `timeoutMs` (real time) until the pipe server has created its pipe; false
    // when it could not, or Run has not got that far in time.
    bool WaitUntilPipeServed(std::uint32_t timeoutMs) { return pipeServing_.Wait(timeoutMs); }
    // The port the LCDproc server listens on; 0 when it does not.
    std::uint16_t LcdPort() const { return lcdPort_.load(); }
    bool PipeHalted() const { return pipeGate_.IsHalted(); }
    bool ClockHalted() const { return clockGate_.IsHalted(); }
    // Whether the pipe server and the clock thread are held at their gates right now.
    bool PipeHeld() const { return pipeGate_.Waiting() > 0; }
    bool ClockHeld() const { return clockGate_.Waiting() > 0; }

  private:
    // Starts the pipe server, clock, volume and panel watch threads in that order; false (with
    // the started ones still to be ended by EndWorkers) when the system cannot start one.
    bool StartWorkers();
    void HaltWorkers();
    // Makes the LCDproc server when the environment asks for one and it can listen; says once
    // why an address could not be listened on.
    void OpenLcdServer();
    // Stops the started workers, the last started first.
    void EndWorkers();
    // The panel watch's news that the panel is back (after its opening reports).
    void PanelBack();
    void Redraw(const MediaState& copy);
    // Sends the level the dimming rules give now when it differs from the one last sent.
    void ApplyBrightness(PanelFrame& frame) EXCLUDES(brightnessLock_);
    // Sends `level` and keeps it as the one last sent (the caller holds brightnessLock_).
    void SendBrightness(PanelFrame& frame, BrightnessLevel level) REQUIRES(brightnessLock_);
    // The run loop's wait ends when the dimming rules change the level next.
    DeadlineSource BrightnessDeadline();

    ServiceHost& host_;
    ServiceEnvironment env_;
    ServiceShared shared_;
    HaltGate pipeGate_;
    PipeServing pipeServing_;
    HaltGate clockGate_;
    std::atomic<bool> volumeHalted_{false};

    std::unique_ptr<PanelDevice> panel_;
    std::atomic<PanelDevice*> published_{nullptr};
    std::atomic<std::uint32_t> startupError_{0};
    std::atomic<bool> comFailed_{false};
    std::atomic<bool> shuttingDown_{false};
    std::atomic<std::uint64_t> redraws_{0};

    std::unique_ptr<PipeEndpoint> endpoint_;
    std::unique_ptr<PipeServer> pipeServer_;
    std::unique_ptr<ClockThread> clock_;
    std::unique_ptr<VolumeThread> volume_;
    // Finds the panel again when it has gone; made with the panel and ends before it.
    std::unique_ptr<PanelRecovery> recovery_;
    std::atomic<std::uint64_t> reopens_{0};
    // The dimming rules and the level last sent; taken inside a panel frame, never around one.
    Mutex brightnessLock_;
    std::unique_ptr<BrightnessPolicy> brightness_ GUARDED_BY(brightnessLock_);
    BrightnessLevel sentLevel_ GUARDED_BY(brightnessLock_);
    // The LCDproc clients' screens and their server; null when the server is off or could not
    // listen.
    std::unique_ptr<LcdScreens> lcd_;
    std::atomic<std::uint16_t> lcdPort_{0};
    // The workers started so far, in the order they started (Run's thread only).
    std::vector<Worker*> started_;
};

}  // namespace zelk
