// Follows the master output volume and mute of the system mixer and reports changes.
// Windows: winmm mixer of the wave mapper's device with a hidden notification window.
// Elsewhere: the ALSA mixer's master playback control. Inert (every getter -1, no callback)
// when there is no mixer.
#pragma once

#include <cstdint>
#include <memory>

namespace zelk {

// (value, data, context): value is the new volume (0 to 65535 on the mixer's scale) or -1 for
// a mute notice, where data is 1 (muted) or 0; otherwise data is the callback data.
using VolumeCallback = void (*)(std::int32_t value, std::int32_t data, void* context);

class VolumeMonitor {
  public:
    virtual ~VolumeMonitor() = default;
    virtual bool IsVolumeAvailable() = 0;
    virtual void Unmute() = 0;
    virtual void Mute() = 0;
    virtual std::int32_t GetVolumeSteps() = 0;
    virtual std::int32_t GetVolumeMinimum() = 0;
    virtual std::int32_t GetVolumeMaximum() = 0;
    virtual std::int32_t GetVolume() = 0;
    virtual void SetVolume(std::uint32_t value) = 0;
    virtual void SetCallback(VolumeCallback callback, std::int32_t data) = 0;
    virtual std::int32_t GetControlValue(std::uint32_t controlId) = 0;

    // Delivers change notices to the callback on the calling thread (the thread that made the
    // monitor) until Quit is called from any thread. Returns at once for an inert monitor only
    // after Quit.
    virtual void RunNotificationLoop() = 0;
    virtual void Quit() = 0;
};

// Makes the platform's monitor on the calling thread; `context` is passed to the callback.
std::unique_ptr<VolumeMonitor> CreateSystemVolumeMonitor(void* context);

}  // namespace zelk
