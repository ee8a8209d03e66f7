#include "service/core/lumara_service.h"

#include <system_error>
#include <utility>

#include "common/debug_print.h"
#include "service/core/display_composition.h"

namespace zelk {

LumaraService::LumaraService(ServiceHost& host, ServiceEnvironment environment)
    : host_(host), env_(std::move(environment)) {
    if (env_.panelSleeper == nullptr) {
        env_.panelSleeper = env_.sleeper;
    }
}

LumaraService::~LumaraService() {
    EndWorkers();
}

std::uint64_t LumaraService::ClockTicks() const {
    return clock_ ? clock_->Ticks() : 0;
}

void LumaraService::Run(int, char**) {
    host_.ReportStatus(kServiceStartPending, 1, kStartWaitHintMs, kKeepStatusValue);
    host_.LogEvent(kEventTypeInformation, kEventIdServiceStarted, kServiceDisplayName);

    shared_.wake.Reset();

    panel_ = std::make_unique<PanelDevice>(*env_.bus, env_.makeConverter(), *env_.panelSleeper);

    // One reading of the volume at start; the volume thread keeps its own monitor.
    {
        std::unique_ptr<VolumeMonitor> monitor =
            env_.makeVolumeMonitor ? env_.makeVolumeMonitor(this) : nullptr;
        const std::int32_t volume = monitor ? monitor->GetVolume() : -1;
        MutexLock guard(shared_.stateLock);  // no other thread yet; the lock keeps the rule
        shared_.state.volume = static_cast<std::uint16_t>(volume);
    }

    if (!env_.initializeCom()) {
        comFailed_.store(true);
    } else {
        const std::uint32_t result = InitializePanel(*panel_, env_.propsPath, *env_.xmlLoader);
        if (result == kErrorFileNotFound || result == kErrorDeviceNotConnected) {
            startupError_.store(result);
            host_.LogEvent(
                kEventTypeError,
                result == kErrorFileNotFound ? kEventIdPropertiesNotLoaded : kEventIdPanelNotFound,
                kServiceDisplayName);
            host_.MessageBeep(kBeepExclamation);
        } else {
            // The rest of the opening reports: the brightness went with the start-up.
            panel_->BeginFrame().ClearPanel(kClearAll, 0);
            {
                MutexLock guard(brightnessLock_);
                brightness_ = std::make_unique<BrightnessPolicy>(panel_->Config().dimming,
                                                                 *env_.clock, panel_->Brightness());
                sentLevel_ = {panel_->Brightness(), DimReason::kNone};
            }
            LoopDeadlines deadlines{env_.clock, {}};
            if (panel_->Config().dimming.Any()) {
                deadlines.sources.push_back(BrightnessDeadline());
            }
            OpenLcdServer();
            if (lcd_) {
                deadlines.sources.push_back(
                    lcd_->Deadline([this] { return shared_.standby.load() != 0; }));
            }
            recovery_ =
                std::make_unique<PanelRecovery>(*env_.bus, *panel_, [this] { PanelBack(); });
            published_.store(panel_.get());
            if (StartWorkers()) {
                host_.ReportStatus(kServiceRunning, 0, kKeepStatusValue, kKeepStatusValue);
                redraws_.store(0);
                RunLoop(
                    shared_, [this](const MediaState& copy) { Redraw(copy); }, deadlines);

                HaltWorkers();
                // After a shutdown notice its screen stays up to the end.
                if (!shuttingDown_.load()) {
                    ShowStoppingScreen(*panel_);
                }
            }
            EndWorkers();
        }
    }

    host_.ReportStatus(kServiceStopPending, 1, kStopWaitHintMs, kKeepStatusValue);
    env_.uninitializeCom();
    host_.LogEvent(kEventTypeInformation, kEventIdServiceStopped, kServiceDisplayName);
}

void LumaraService::Redraw(const MediaState& copy) {
    PanelFrame frame = panel_->BeginFrame();
    // A standby or shutdown screen shown since the loop decided to redraw stays.
    if (shared_.standby.load() != 0 || shuttingDown_.load()) {
        return;
    }
    const LcdDraw client = lcd_ ? lcd_->Draw(*panel_, frame, copy) : LcdDraw{};
    if (!client.client) {
        ShowMediaState(frame, copy);
    }
    {
        MutexLock guard(brightnessLock_);
        brightness_->Observe(copy);
        brightness_->SetClientDark(client.backlightOff);
        if (client.changed) brightness_->NoteActivity();
    }
    ApplyBrightness(frame);
    redraws_.fetch_add(1);
}

BrightnessLevel LumaraService::Brightness() {
    MutexLock guard(brightnessLock_);
    return sentLevel_;
}

void LumaraService::ApplyBrightness(PanelFrame& frame) {
    MutexLock guard(brightnessLock_);
    if (!brightness_) return;
    const BrightnessLevel level = brightness_->Level();
    if (level.value != sentLevel_.value) {
        SendBrightness(frame, level);
    }
    sentLevel_.reason = level.reason;
}

void LumaraService::SendBrightness(PanelFrame& frame, BrightnessLevel level) {
    frame.SetBrightness(level.value);
    sentLevel_ = level;
}

DeadlineSource LumaraService::BrightnessDeadline() {
    return {[this]() -> std::optional<std::uint64_t> {
                MutexLock guard(brightnessLock_);
                return brightness_ ? brightness_->NextChangeMs() : std::nullopt;
            },
            [this] {
                PanelFrame frame = panel_->BeginFrame();
                ApplyBrightness(frame);
            }};
}

void LumaraService::OpenLcdServer() {
    if (!env_.lcdServer.enabled) return;
    auto lcd =
        std::make_unique<LcdScreens>(env_.lcdServer, *env_.clock, [this] { shared_.wake.Set(); });
    const bool listening = lcd->Open();
    const std::string failures = lcd->FailureText();
    if (!failures.empty()) {
        // Said once, at start; without any address the service runs on without the server.
        DebugPrint("LcdServer: %s\n", failures.c_str());
        host_.LogEvent(kEventTypeWarning, kEventIdLcdServerNotListening, failures.c_str());
    }
    if (listening) {
        lcdPort_.store(lcd->Port());
        lcd_ = std::move(lcd);
    }
}

bool LumaraService::StartWorkers() {
    try {
        endpoint_ = env_.makePipeEndpoint();
        pipeServer_ = std::make_unique<PipeServer>(
            *endpoint_, env_.pipeName,
            [this](const PipeMessage& message) {
                shared_.Write([&message](MediaState& state) { state.ApplyPipeMessage(message); });
            },
            &pipeGate_, &pipeServing_);
        clock_ = std::make_unique<ClockThread>(shared_, *env_.clock, *env_.sleeper, clockGate_);
        volume_ = std::make_unique<VolumeThread>(env_.makeVolumeMonitor, this,
                                                 &LumaraService::OnVolumeChange);
        std::vector<Worker*> workers{pipeServer_.get(), clock_.get(), volume_.get(),
                                     recovery_.get()};
        if (lcd_) workers.push_back(&lcd_->Server());
        for (Worker* worker : workers) {
            worker->Start();
            started_.push_back(worker);
        }
    } catch (const std::system_error&) {
        // A thread the system would not start: the ones already running are ended and Run
        // takes the ordinary way out.
        return false;
    }
    return true;
}

void LumaraService::HaltWorkers() {
    pipeGate_.Halt();
    clockGate_.Halt();
    volumeHalted_.store(true);
}

void LumaraService::EndWorkers() {
    if (started_.empty()) {
        return;
    }
    HaltWorkers();
    for (auto worker = started_.rbegin(); worker != started_.rend(); ++worker) {
        (*worker)->Stop();
    }
    started_.clear();
}

void LumaraService::PanelBack() {
    // In standby the standby screen comes back; otherwise the run loop redraws the whole
    // picture.
    if (lcd_) lcd_->Forget();
    if (shared_.standby.load() != 0) {
        ShowStandbyScreen(*panel_);
    }
    reopens_.fetch_add(1);
    shared_.wake.Set();
}

void LumaraService::OnVolumeChange(std::int32_t value, std::int32_t flag, void* context) {
    auto* service = static_cast<LumaraService*>(context);
    if (service == nullptr || service->volumeHalted_.load()) {
        return;
    }
    service->shared_.Write([value, flag](MediaState& state) {
        if (value == -1) {
            state.mute = flag != 0;
        } else {
            state.volume = static_cast<std::uint16_t>(value);
        }
    });
}

void LumaraService::OnStop() {
    host_.SetCurrentState(kServiceStopPending, [this] { shared_.stop.store(1); });
    // Wakes the loop now rather than at the next clock tick (which may never come after a
    // shutdown notice has halted the clock).
    shared_.wake.Set();
}

void LumaraService::OnPause() {
    host_.SetCurrentState(kServicePausePending, {});
}

void LumaraService::OnContinue() {
    host_.SetCurrentState(kServiceContinuePending, {});
}

void LumaraService::OnUserDefinedRequest(std::uint32_t control) {
    PanelDevice* panel = published_.load();
    if (panel == nullptr) {
        return;
    }
    std::uint8_t value = 0;
    if (control == kControlBrightnessLow) {
        value = kBrightnessLow;
    } else if (control == kControlBrightnessHigh) {
        value = kBrightnessHigh;
    }
    // The control's level is the new normal one; the report goes out as always, lowered by
    // the dimming rules that still apply.
    PanelFrame frame = panel->BeginFrame();
    MutexLock guard(brightnessLock_);
    brightness_->SetNormal(value);
    SendBrightness(frame, brightness_->Level());
}

void LumaraService::OnShutdown() {
    pipeGate_.Halt();
    clockGate_.Halt();
    PanelDevice* panel = published_.load();
    if (panel == nullptr) {
        return;
    }
    // The loop draws nothing more, the screen stays, and the service stops at once so that the
    // system need not wait out its shutdown timeout for it.
    shuttingDown_.store(true);
    host_.SetCurrentState(kServiceStopPending, [this] { shared_.stop.store(1); });
    ShowShutdownScreen(*panel);
    shared_.wake.Set();
}

std::uint32_t LumaraService::OnPowerEvent(std::uint32_t eventType, void*) {
    if (eventType == kPowerSuspend) {
        pipeGate_.Halt();
        clockGate_.Halt();
        shared_.standby.store(1);
        if (PanelDevice* panel = published_.load()) {
            ShowStandbyScreen(*panel);
            PanelFrame frame = panel->BeginFrame();
            {
                MutexLock guard(brightnessLock_);
                brightness_->SetStandby(true);
            }
            ApplyBrightness(frame);
        }
    } else if (eventType == kPowerResumeSuspend || eventType == kPowerResumeAutomatic) {
        // A wake-up is announced as 18 and, when a user is present, 7 as well: only the first
        // of the pair finds the standby flag set and resumes.
        std::int32_t expected = 1;
        if (shared_.standby.compare_exchange_strong(expected, 0)) {
            if (PanelDevice* panel = published_.load()) {
                if (lcd_) lcd_->Forget();
                ShowStartupScreen(*panel);
            }
            env_.sleeper->SleepMs(kResumeDelayMs);
            // A panel that lost power in standby gets its brightness again, and from the
            // redraw that follows the whole picture.
            if (PanelDevice* panel = published_.load()) {
                PanelFrame frame = panel->BeginFrame();
                MutexLock guard(brightnessLock_);
                brightness_->SetStandby(false);
                brightness_->NoteActivity();
                // The opening reports with the level that applies now.
                SendBrightness(frame, brightness_->Level());
            }
            pipeGate_.Open();
            clockGate_.Open();
            shared_.wake.Set();
        }
    }
    return 0;
}

}  // namespace zelk
