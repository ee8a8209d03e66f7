// The winmm calls of the Windows volume monitor behind an interface, so that tests can stand
// in for a mixer driver (Wine has none). Windows builds only.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <memory>

#include "service/adapters/volume_monitor.h"

namespace zelk {

inline constexpr char kVolumeWindowClass[] = "Master Output Volume Msg Wnd Class";
inline constexpr char kVolumeWindowName[] = "Master Output Volume Msg Wnd";

// One method per winmm function the monitor calls, with the same arguments.
class MixerApi {
  public:
    virtual ~MixerApi() = default;
    virtual UINT MixerGetNumDevs() = 0;
    virtual MMRESULT WaveOutOpen(HWAVEOUT* wave, UINT deviceId, const WAVEFORMATEX* format,
                                 DWORD_PTR callback, DWORD_PTR instance, DWORD flags) = 0;
    virtual MMRESULT WaveOutClose(HWAVEOUT wave) = 0;
    virtual MMRESULT MixerGetId(HMIXEROBJ object, UINT* mixerId, DWORD flags) = 0;
    virtual MMRESULT MixerOpen(HMIXER* mixer, UINT mixerId, DWORD_PTR callback, DWORD_PTR instance,
                               DWORD flags) = 0;
    virtual MMRESULT MixerClose(HMIXER mixer) = 0;
    virtual MMRESULT MixerGetLineInfo(HMIXEROBJ object, MIXERLINEA* line, DWORD flags) = 0;
    virtual MMRESULT MixerGetLineControls(HMIXEROBJ object, MIXERLINECONTROLSA* controls,
                                          DWORD flags) = 0;
    virtual MMRESULT MixerGetControlDetails(HMIXEROBJ object, MIXERCONTROLDETAILS* details,
                                            DWORD flags) = 0;
    virtual MMRESULT MixerSetControlDetails(HMIXEROBJ object, MIXERCONTROLDETAILS* details,
                                            DWORD flags) = 0;
};

// The system's winmm.
MixerApi& SystemMixerApi();

// The monitor over a given mixer interface, made on the calling thread.
std::unique_ptr<VolumeMonitor> CreateWinmmVolumeMonitor(void* context, MixerApi& api);

}  // namespace zelk
