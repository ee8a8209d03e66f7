// The master volume monitor over the winmm mixer of the wave mapper's output device. Mixer
// change notices arrive as MM_MIXM_CONTROL_CHANGE messages at a hidden window of the thread
// that made the monitor.
#include "service/adapters/volume_monitor_win32.h"

#include <atomic>
#include <vector>

#include "service/adapters/volume_monitor_base.h"

namespace zelk {
namespace {

class SystemWinmm final : public MixerApi {
  public:
    UINT MixerGetNumDevs() override { return mixerGetNumDevs(); }
    MMRESULT WaveOutOpen(HWAVEOUT* wave, UINT deviceId, const WAVEFORMATEX* format,
                         DWORD_PTR callback, DWORD_PTR instance, DWORD flags) override {
        return waveOutOpen(wave, deviceId, format, callback, instance, flags);
    }
    MMRESULT WaveOutClose(HWAVEOUT wave) override { return waveOutClose(wave); }
    MMRESULT MixerGetId(HMIXEROBJ object, UINT* mixerId, DWORD flags) override {
        return mixerGetID(object, mixerId, flags);
    }
    MMRESULT MixerOpen(HMIXER* mixer, UINT mixerId, DWORD_PTR callback, DWORD_PTR instance,
                       DWORD flags) override {
        return mixerOpen(mixer, mixerId, callback, instance, flags);
    }
    MMRESULT MixerClose(HMIXER mixer) override { return mixerClose(mixer); }
    MMRESULT MixerGetLineInfo(HMIXEROBJ object, MIXERLINEA* line, DWORD flags) override {
        return mixerGetLineInfoA(object, line, flags);
    }
    MMRESULT MixerGetLineControls(HMIXEROBJ object, MIXERLINECONTROLSA* controls,
                                  DWORD flags) override {
        return mixerGetLineControlsA(object, controls, flags);
    }
    MMRESULT MixerGetControlDetails(HMIXEROBJ object, MIXERCONTROLDETAILS* details,
                                    DWORD flags) override {
        return mixerGetControlDetailsA(object, details, flags);
    }
    MMRESULT MixerSetControlDetails(HMIXEROBJ object, MIXERCONTROLDETAILS* details,
                                    DWORD flags) override {
        return mixerSetControlDetails(object, details, flags);
    }
};

OutputSwitchKind SwitchKindOf(DWORD controlType) {
    switch (controlType) {
        case MIXERCONTROL_CONTROLTYPE_MUTE:
            return OutputSwitchKind::kMute;
        case MIXERCONTROL_CONTROLTYPE_SINGLESELECT:
        case MIXERCONTROL_CONTROLTYPE_MUX:
        case MIXERCONTROL_CONTROLTYPE_MULTIPLESELECT:
        case MIXERCONTROL_CONTROLTYPE_MIXER:
            return OutputSwitchKind::kEnable;
        default:
            return OutputSwitchKind::kNone;
    }
}

class WinmmVolumeMonitor;

// The monitor that receives the windows' notifications: the last one made with an open mixer.
std::atomic<WinmmVolumeMonitor*> g_notifiedMonitor{nullptr};

class WinmmVolumeMonitor final : public VolumeMonitorBase {
  public:
    WinmmVolumeMonitor(void* context, MixerApi& api)
        : VolumeMonitorBase(context), api_(api), threadId_(GetCurrentThreadId()) {
        // Give the thread its message queue now, so that Quit can reach it even when the
        // monitor has no window.
        MSG message;
        PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);

        mixerReady_ = OpenMixer();
        if (!mixerReady_) {
            return;
        }
        g_notifiedMonitor.store(this);
        if (!FindVolumeControl()) {
            CloseMixerAndWindow();
            lineFound_ = false;
            mixerReady_ = false;
            ReleaseNotifications();
        }
    }

    ~WinmmVolumeMonitor() override {
        ReleaseNotifications();
        CloseMixerAndWindow();
    }

    WinmmVolumeMonitor(const WinmmVolumeMonitor&) = delete;
    WinmmVolumeMonitor& operator=(const WinmmVolumeMonitor&) = delete;

    std::int32_t GetControlValue(std::uint32_t controlId) override {
        if (!volumeUsable_) {
            return -1;
        }
        std::vector<MIXERCONTROLDETAILS_UNSIGNED> values(channels_ > 0 ? channels_ : 1);
        MIXERCONTROLDETAILS details = {};
        details.cbStruct = sizeof details;
        details.dwControlID = controlId;
        details.cChannels = static_cast<DWORD>(values.size());
        details.cbDetails = sizeof(MIXERCONTROLDETAILS_UNSIGNED);
        details.paDetails = values.data();
        if (api_.MixerGetControlDetails(MixerObject(), &details,
                                        MIXER_OBJECTF_HMIXER | MIXER_GETCONTROLDETAILSF_VALUE) !=
            MMSYSERR_NOERROR) {
            return -1;
        }
        return static_cast<std::int32_t>(values[0].dwValue);
    }

    void RunNotificationLoop() override {
        if (loopEnded_) {
            return;
        }
        MSG message;
        while (GetMessageA(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        loopEnded_ = true;
    }

    void Quit() override {
        if (!quitPosted_.exchange(true)) {
            PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
        }
    }

  protected:
    void ApplyOutputSwitches(bool on) override {
        if (!lineFound_) {
            return;
        }
        MIXERLINEA line = {};
        line.cbStruct = sizeof line;
        line.dwLineID = lineId_;
        if (api_.MixerGetLineInfo(MixerObject(), &line,
                                  MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_LINEID) !=
                MMSYSERR_NOERROR ||
            line.cControls == 0) {
            return;
        }
        std::vector<MIXERCONTROLA> controls(line.cControls);
        MIXERLINECONTROLSA request = {};
        request.cbStruct = sizeof request;
        request.dwLineID = line.dwLineID;
        request.cControls = line.cControls;
        request.cbmxctrl = sizeof(MIXERCONTROLA);
        request.pamxctrl = controls.data();
        if (api_.MixerGetLineControls(MixerObject(), &request,
                                      MIXER_OBJECTF_HMIXER | MIXER_GETLINECONTROLSF_ALL) !=
            MMSYSERR_NOERROR) {
            return;
        }
        for (const MIXERCONTROLA& control : controls) {
            const auto value = OutputSwitchValue(SwitchKindOf(control.dwControlType), on);
            if (!value) {
                continue;
            }
            const bool uniform = (control.fdwControl & MIXERCONTROL_CONTROLF_UNIFORM) != 0;
            const bool multiple = (control.fdwControl & MIXERCONTROL_CONTROLF_MULTIPLE) != 0;
            const DWORD channels = uniform ? 1 : line.cChannels;
            std::vector<MIXERCONTROLDETAILS_UNSIGNED> entries(
                ControlDetailEntries(uniform, multiple, line.cChannels, control.cMultipleItems));
            if (entries.empty()) {
                continue;
            }
            for (auto& entry : entries) {
                entry.dwValue = static_cast<DWORD>(*value);
            }
            MIXERCONTROLDETAILS details = {};
            details.cbStruct = sizeof details;
            details.dwControlID = control.dwControlID;
            details.cChannels = channels;
            details.cMultipleItems = multiple ? control.cMultipleItems : 0;
            details.cbDetails = sizeof(MIXERCONTROLDETAILS_UNSIGNED);
            details.paDetails = entries.data();
            api_.MixerSetControlDetails(MixerObject(), &details,
                                        MIXER_OBJECTF_HMIXER | MIXER_SETCONTROLDETAILSF_VALUE);
        }
    }

    void WriteVolume(std::uint32_t value) override {
        std::vector<MIXERCONTROLDETAILS_UNSIGNED> entries(channels_ > 0 ? channels_ : 1);
        for (auto& entry : entries) {
            entry.dwValue = value;
        }
        MIXERCONTROLDETAILS details = {};
        details.cbStruct = sizeof details;
        details.dwControlID = volumeControlId_;
        details.cChannels = static_cast<DWORD>(entries.size());
        details.cbDetails = sizeof(MIXERCONTROLDETAILS_UNSIGNED);
        details.paDetails = entries.data();
        api_.MixerSetControlDetails(MixerObject(), &details,
                                    MIXER_OBJECTF_HMIXER | MIXER_SETCONTROLDETAILSF_VALUE);
    }

  private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == MM_MIXM_CONTROL_CHANGE) {
            if (WinmmVolumeMonitor* monitor = g_notifiedMonitor.load()) {
                monitor->OnControlChange(static_cast<std::uint32_t>(lParam));
            }
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }

    HMIXEROBJ MixerObject() const { return reinterpret_cast<HMIXEROBJ>(mixer_); }

    bool OpenMixer() {
        if (api_.MixerGetNumDevs() == 0) {
            return false;
        }
        WAVEFORMATEX format = {};
        format.wFormatTag = WAVE_FORMAT_PCM;
        format.nChannels = 1;
        format.nSamplesPerSec = 22050;
        format.nAvgBytesPerSec = 44100;
        format.nBlockAlign = 2;
        format.wBitsPerSample = 16;
        HWAVEOUT wave = nullptr;
        if (api_.WaveOutOpen(&wave, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL) !=
            MMSYSERR_NOERROR) {
            return false;
        }
        UINT mixerId = 0;
        const MMRESULT idResult =
            api_.MixerGetId(reinterpret_cast<HMIXEROBJ>(wave), &mixerId, MIXER_OBJECTF_HWAVEOUT);
        api_.WaveOutClose(wave);
        if (idResult != MMSYSERR_NOERROR) {
            return false;
        }
        mixerId_ = mixerId;

        WNDCLASSEXA windowClass = {};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = &WinmmVolumeMonitor::WindowProc;
        windowClass.lpszClassName = kVolumeWindowClass;
        RegisterClassExA(&windowClass);  // fails harmlessly when the class exists already
        window_ = CreateWindowExA(0, kVolumeWindowClass, kVolumeWindowName, 0, 0, 0, 0, 0, nullptr,
                                  nullptr, nullptr, nullptr);
        if (window_ == nullptr) {
            return false;
        }
        ShowWindow(window_, SW_HIDE);

        HMIXER mixer = nullptr;
        if (api_.MixerOpen(&mixer, mixerId_, reinterpret_cast<DWORD_PTR>(window_), 0,
                           CALLBACK_WINDOW) != MMSYSERR_NOERROR) {
            DestroyWindow(window_);
            window_ = nullptr;
            return false;
        }
        mixer_ = mixer;
        return true;
    }

    bool FindVolumeControl() {
        if (!mixerReady_) {
            return false;
        }
        MIXERLINEA line = {};
        line.cbStruct = sizeof line;
        line.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
        if (api_.MixerGetLineInfo(MixerObject(), &line,
                                  MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_COMPONENTTYPE) !=
            MMSYSERR_NOERROR) {
            return false;
        }
        MIXERCONTROLA control = {};
        MIXERLINECONTROLSA request = {};
        request.cbStruct = sizeof request;
        request.dwLineID = line.dwLineID;
        request.dwControlType = MIXERCONTROL_CONTROLTYPE_VOLUME;
        request.cControls = 1;
        request.cbmxctrl = sizeof control;
        request.pamxctrl = &control;
        if (api_.MixerGetLineControls(MixerObject(), &request,
                                      MIXER_OBJECTF_HMIXER | MIXER_GETLINECONTROLSF_ONEBYTYPE) ==
            MMSYSERR_NOERROR) {
            volumeUsable_ = (control.fdwControl & MIXERCONTROL_CONTROLF_DISABLED) == 0;
        } else {
            control = MIXERCONTROLA{};
        }
        lineId_ = line.dwLineID;
        channels_ = line.cChannels;
        volumeControlId_ = control.dwControlID;
        volumeMinimum_ = static_cast<std::int32_t>(control.Bounds.dwMinimum);
        volumeMaximum_ = static_cast<std::int32_t>(control.Bounds.dwMaximum);
        volumeSteps_ = static_cast<std::int32_t>(control.Metrics.cSteps);
        lineFound_ = true;
        return true;
    }

    void CloseMixerAndWindow() {
        if (mixer_ != nullptr) {
            api_.MixerClose(mixer_);
            mixer_ = nullptr;
        }
        if (window_ != nullptr) {
            // Only the owning thread can destroy the window; elsewhere ask it to close.
            if (GetWindowThreadProcessId(window_, nullptr) == GetCurrentThreadId()) {
                DestroyWindow(window_);
            } else {
                PostMessageA(window_, WM_CLOSE, 0, 0);
            }
            window_ = nullptr;
        }
    }

    void ReleaseNotifications() {
        WinmmVolumeMonitor* self = this;
        g_notifiedMonitor.compare_exchange_strong(self, nullptr);
    }

    MixerApi& api_;
    bool mixerReady_ = false;
    bool lineFound_ = false;
    UINT mixerId_ = 0;
    HMIXER mixer_ = nullptr;
    DWORD lineId_ = 0;
    DWORD channels_ = 0;
    HWND window_ = nullptr;
    const DWORD threadId_;
    std::atomic<bool> quitPosted_{false};
    bool loopEnded_ = false;
};

}  // namespace

MixerApi& SystemMixerApi() {
    static SystemWinmm api;
    return api;
}

std::unique_ptr<VolumeMonitor> CreateWinmmVolumeMonitor(void* context, MixerApi& api) {
    return std::make_unique<WinmmVolumeMonitor>(context, api);
}

std::unique_ptr<VolumeMonitor> CreateSystemVolumeMonitor(void* context) {
    return CreateWinmmVolumeMonitor(context, SystemMixerApi());
}

}  // namespace zelk
