#include "service/adapters/volume_monitor_win32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace zelk {
namespace {

constexpr DWORD kSpeakersLineId = 0xFFFF0000;
constexpr DWORD kVolumeId = 7;

// A mixer driver with one speakers line of two channels. It checks the structure sizes the
// way a driver does and remembers what it was asked.
class FakeMixer : public MixerApi {
  public:
    using Written = std::vector<std::pair<DWORD, std::vector<DWORD>>>;  // (control, entries)

    UINT devices = 1;
    bool waveOpens = true;
    bool hasSpeakers = true;
    DWORD volumeFlags = 0;
    std::vector<MIXERCONTROLA> lineControls;
    std::map<DWORD, DWORD> values;  // first-channel value of each readable control

    WAVEFORMATEX format = {};
    HWND openedWith = nullptr;
    DWORD openFlags = 0;
    int closes = 0;
    Written written;
    std::vector<DWORD> readChannels;

    FakeMixer() {
        lineControls.push_back(Control(kVolumeId, MIXERCONTROL_CONTROLTYPE_VOLUME, 0, 0));
    }

    static MIXERCONTROLA Control(DWORD id, DWORD type, DWORD flags, DWORD items) {
        MIXERCONTROLA control = {};
        control.cbStruct = sizeof control;
        control.dwControlID = id;
        control.dwControlType = type;
        control.fdwControl = flags;
        control.cMultipleItems = items;
        return control;
    }

    UINT MixerGetNumDevs() override { return devices; }
    MMRESULT WaveOutOpen(HWAVEOUT* wave, UINT deviceId, const WAVEFORMATEX* f, DWORD_PTR, DWORD_PTR,
                         DWORD flags) override {
        if (!waveOpens || deviceId != WAVE_MAPPER || flags != CALLBACK_NULL) {
            return MMSYSERR_NODRIVER;
        }
        format = *f;
        *wave = reinterpret_cast<HWAVEOUT>(0x1234);
        return MMSYSERR_NOERROR;
    }
    MMRESULT WaveOutClose(HWAVEOUT) override { return MMSYSERR_NOERROR; }
    MMRESULT MixerGetId(HMIXEROBJ object, UINT* id, DWORD flags) override {
        if (object != reinterpret_cast<HMIXEROBJ>(0x1234) || flags != MIXER_OBJECTF_HWAVEOUT) {
            return MMSYSERR_INVALHANDLE;
        }
        *id = 0;
        return MMSYSERR_NOERROR;
    }
    MMRESULT MixerOpen(HMIXER* mixer, UINT, DWORD_PTR callback, DWORD_PTR, DWORD flags) override {
        openedWith = reinterpret_cast<HWND>(callback);
        openFlags = flags;
        *mixer = reinterpret_cast<HMIXER>(0x5678);
        return MMSYSERR_NOERROR;
    }
    MMRESULT MixerClose(HMIXER) override {
        ++closes;
        return MMSYSERR_NOERROR;
    }
    MMRESULT MixerGetLineInfo(HMIXEROBJ object, MIXERLINEA* line, DWORD flags) override {
        if (!Ours(object, flags) || line->cbStruct != sizeof(MIXERLINEA) || !hasSpeakers) {
            return MMSYSERR_INVALPARAM;
        }
        const DWORD query = flags & MIXER_GETLINEINFOF_QUERYMASK;
        if ((query == MIXER_GETLINEINFOF_COMPONENTTYPE &&
             line->dwComponentType != MIXERLINE_COMPONENTTYPE_DST_SPEAKERS) ||
            (query == MIXER_GETLINEINFOF_LINEID && line->dwLineID != kSpeakersLineId)) {
            return MIXERR_INVALLINE;
        }
        line->dwLineID = kSpeakersLineId;
        line->dwComponentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
        line->cChannels = 2;
        line->cControls = static_cast<DWORD>(lineControls.size());
        return MMSYSERR_NOERROR;
    }
    MMRESULT MixerGetLineControls(HMIXEROBJ object, MIXERLINECONTROLSA* request,
                                  DWORD flags) override {
        if (!Ours(object, flags) || request->cbStruct != sizeof(MIXERLINECONTROLSA) ||
            request->cbmxctrl != sizeof(MIXERCONTROLA) || request->dwLineID != kSpeakersLineId) {
            return MMSYSERR_INVALPARAM;
        }
        if ((flags & MIXER_GETLINECONTROLSF_QUERYMASK) == MIXER_GETLINECONTROLSF_ONEBYTYPE) {
            if (request->dwControlType != MIXERCONTROL_CONTROLTYPE_VOLUME) {
                return MIXERR_INVALCONTROL;
            }
            MIXERCONTROLA control =
                Control(kVolumeId, MIXERCONTROL_CONTROLTYPE_VOLUME, volumeFlags, 0);
            control.Bounds.dwMinimum = 0;
            control.Bounds.dwMaximum = 65535;
            control.Metrics.cSteps = 192;
            *request->pamxctrl = control;
            return MMSYSERR_NOERROR;
        }
        if (request->cControls != lineControls.size()) {
            return MMSYSERR_INVALPARAM;
        }
        for (std::size_t i = 0; i < lineControls.size(); ++i) {
            request->pamxctrl[i] = lineControls[i];
        }
        return MMSYSERR_NOERROR;
    }
    MMRESULT MixerGetControlDetails(HMIXEROBJ object, MIXERCONTROLDETAILS* details,
                                    DWORD flags) override {
        if (!Ours(object, flags) || !DetailsValid(*details)) {
            return MMSYSERR_INVALPARAM;
        }
        const auto it = values.find(details->dwControlID);
        if (it == values.end()) {
            return MIXERR_INVALCONTROL;
        }
        readChannels.push_back(details->cChannels);
        auto* entries = static_cast<MIXERCONTROLDETAILS_UNSIGNED*>(details->paDetails);
        for (DWORD i = 0; i < details->cChannels; ++i) {
            entries[i].dwValue = it->second + i * 1000;  // channels differ: first one counts
        }
        return MMSYSERR_NOERROR;
    }
    MMRESULT MixerSetControlDetails(HMIXEROBJ object, MIXERCONTROLDETAILS* details,
                                    DWORD flags) override {
        if (!Ours(object, flags) || !DetailsValid(*details)) {
            return MMSYSERR_INVALPARAM;
        }
        const DWORD count = details->cMultipleItems > 0
                                ? details->cChannels * details->cMultipleItems
                                : details->cChannels;
        const auto* entries = static_cast<const MIXERCONTROLDETAILS_UNSIGNED*>(details->paDetails);
        written.emplace_back(details->dwControlID, std::vector<DWORD>());
        for (DWORD i = 0; i < count; ++i) {
            written.back().second.push_back(entries[i].dwValue);
        }
        return MMSYSERR_NOERROR;
    }

  private:
    static bool Ours(HMIXEROBJ object, DWORD flags) {
        return object == reinterpret_cast<HMIXEROBJ>(0x5678) &&
               (flags & 0xF0000000u) == MIXER_OBJECTF_HMIXER;
    }
    static bool DetailsValid(const MIXERCONTROLDETAILS& details) {
        return details.cbStruct == sizeof(MIXERCONTROLDETAILS) &&
               details.cbDetails == sizeof(MIXERCONTROLDETAILS_UNSIGNED) &&
               details.paDetails != nullptr && details.cChannels > 0;
    }
};

using Call = std::tuple<std::int32_t, std::int32_t>;

void Record(std::int32_t value, std::int32_t data, void* context) {
    static_cast<std::vector<Call>*>(context)->emplace_back(value, data);
}

HWND FindMonitorWindow() {
    return FindWindowA(kVolumeWindowClass, kVolumeWindowName);
}

TEST(WinmmVolumeMonitor, MissingMixerWaveMapperOrSpeakersLeaveAnInertMonitor) {
    for (int missing = 0; missing < 3; ++missing) {
        SCOPED_TRACE(missing);
        FakeMixer mixer;
        mixer.devices = missing == 0 ? 0 : 1;
        mixer.waveOpens = missing != 1;
        mixer.hasSpeakers = missing != 2;
        mixer.values[kVolumeId] = 30000;
        std::vector<Call> calls;
        auto monitor = CreateWinmmVolumeMonitor(&calls, mixer);
        EXPECT_EQ(mixer.closes, missing == 2 ? 1 : 0);  // an opened mixer is closed again
        EXPECT_FALSE(monitor->IsVolumeAvailable());
        EXPECT_EQ(monitor->GetVolume(), -1);
        EXPECT_EQ(monitor->GetVolumeMaximum(), -1);
        EXPECT_EQ(FindMonitorWindow(), nullptr);
        monitor->Unmute();
        EXPECT_TRUE(mixer.written.empty());
        monitor->Quit();
        monitor->RunNotificationLoop();
        EXPECT_TRUE(calls.empty());
    }
}

TEST(WinmmVolumeMonitor, OpensTheWaveMappersMixerWithAHiddenWindow) {
    FakeMixer mixer;
    mixer.values[kVolumeId] = 30000;
    auto monitor = CreateWinmmVolumeMonitor(nullptr, mixer);
    EXPECT_EQ(mixer.format.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(mixer.format.nChannels, 1);
    EXPECT_EQ(mixer.format.nSamplesPerSec, 22050u);
    EXPECT_EQ(mixer.format.nAvgBytesPerSec, 44100u);
    EXPECT_EQ(mixer.format.nBlockAlign, 2);
    EXPECT_EQ(mixer.format.wBitsPerSample, 16);

    const HWND window = FindMonitorWindow();
    ASSERT_NE(window, nullptr) << "the window class or window was not made";
    EXPECT_EQ(mixer.openedWith, window);
    EXPECT_EQ(mixer.openFlags & CALLBACK_TYPEMASK, static_cast<DWORD>(CALLBACK_WINDOW));
    EXPECT_FALSE(IsWindowVisible(window));

    EXPECT_TRUE(monitor->IsVolumeAvailable());
    EXPECT_EQ(monitor->GetVolumeMinimum(), 0);
    EXPECT_EQ(monitor->GetVolumeMaximum(), 65535);
    EXPECT_EQ(monitor->GetVolumeSteps(), 192);
    EXPECT_EQ(monitor->GetVolume(), 30000);
    EXPECT_EQ(mixer.readChannels, (std::vector<DWORD>{2}));

    monitor.reset();
    EXPECT_EQ(mixer.closes, 1);
    EXPECT_EQ(FindMonitorWindow(), nullptr);
}

// Each switch is written with as many entries as its size says: one channel when uniform, each
// channel once per item when it has several.
TEST(WinmmVolumeMonitor, VolumeAndOutputSwitchesAreWrittenBySizeAndType) {
    FakeMixer mixer;
    mixer.lineControls.push_back(FakeMixer::Control(11, MIXERCONTROL_CONTROLTYPE_MUTE, 0, 0));
    mixer.lineControls.push_back(
        FakeMixer::Control(12, MIXERCONTROL_CONTROLTYPE_MUX,
                           MIXERCONTROL_CONTROLF_UNIFORM | MIXERCONTROL_CONTROLF_MULTIPLE, 3));
    mixer.lineControls.push_back(
        FakeMixer::Control(13, MIXERCONTROL_CONTROLTYPE_MIXER, MIXERCONTROL_CONTROLF_MULTIPLE, 2));
    mixer.lineControls.push_back(
        FakeMixer::Control(14, MIXERCONTROL_CONTROLTYPE_BASS, 0, 0));  // not a switch
    auto monitor = CreateWinmmVolumeMonitor(nullptr, mixer);
    using Writes = FakeMixer::Written;
    const auto taken = [&] { return std::exchange(mixer.written, {}); };

    monitor->SetVolume(40000);
    monitor->SetVolume(65536);
    EXPECT_EQ(taken(), (Writes{{kVolumeId, {40000, 40000}}}));
    monitor->Unmute();
    EXPECT_EQ(taken(), (Writes{{11, {0, 0}}, {12, {1, 1, 1}}, {13, {1, 1, 1, 1}}}));
    monitor->Mute();
    EXPECT_EQ(taken(), (Writes{{11, {1, 1}}, {12, {0, 0, 0}}, {13, {0, 0, 0, 0}}}));
}

TEST(WinmmVolumeMonitor, DisabledVolumeControlStillFindsTheLine) {
    FakeMixer mixer;
    mixer.volumeFlags = MIXERCONTROL_CONTROLF_DISABLED;
    mixer.values[kVolumeId] = 30000;
    mixer.lineControls.push_back(FakeMixer::Control(11, MIXERCONTROL_CONTROLTYPE_MUTE, 0, 0));
    auto monitor = CreateWinmmVolumeMonitor(nullptr, mixer);
    EXPECT_FALSE(monitor->IsVolumeAvailable());
    EXPECT_EQ(monitor->GetVolume(), -1);
    EXPECT_EQ(monitor->GetVolumeSteps(), -1);
    EXPECT_NE(FindMonitorWindow(), nullptr);
    monitor->Unmute();
    ASSERT_EQ(mixer.written.size(), 1u);
    EXPECT_EQ(mixer.written[0].first, 11u);
}

// The mixer driver announces changes as MM_MIXM_CONTROL_CHANGE at the monitor's window; here
// the test posts them, and the monitor's own loop delivers them. An unreadable mute control or
// an unknown control makes no callback.
TEST(WinmmVolumeMonitor, ChangeMessagesReachTheCallbackThroughTheLoop) {
    for (const bool muteReadable : {true, false}) {
        SCOPED_TRACE(muteReadable);
        FakeMixer mixer;
        mixer.values[kVolumeId] = 12345;
        if (muteReadable) {
            mixer.values[1] = 1;
        }
        std::vector<Call> calls;
        auto monitor = CreateWinmmVolumeMonitor(&calls, mixer);
        monitor->SetCallback(&Record, 77);
        const HWND window = FindMonitorWindow();
        ASSERT_NE(window, nullptr);
        PostMessageA(window, MM_MIXM_CONTROL_CHANGE, 0x5678, kVolumeId);
        PostMessageA(window, MM_MIXM_CONTROL_CHANGE, 0x5678, 1);
        PostMessageA(window, MM_MIXM_CONTROL_CHANGE, 0x5678, 99);
        monitor->Quit();
        monitor->RunNotificationLoop();
        std::vector<Call> expected = {{12345, 77}};
        if (muteReadable) {
            expected.emplace_back(-1, 1);
        }
        EXPECT_EQ(calls, expected);
    }
}

}  // namespace
}  // namespace zelk
