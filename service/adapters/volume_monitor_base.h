// What the platform volume monitors share: the getters over the found volume control, the
// range check of SetVolume, the callback, and the rules that turn a changed control into
// callbacks. The platform classes open the mixer, fill the fields and read and write controls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "common/mutex.h"
#include "common/thread_annotations.h"
#include "service/adapters/volume_monitor.h"

namespace zelk {

// The control that is taken as the mute control without being looked up.
inline constexpr std::uint32_t kMuteControlId = 1;

// How an output switch of the speakers line is set to let sound through or stop it.
enum class OutputSwitchKind {
    kNone,    // not an output switch: left alone
    kMute,    // 0 lets sound through, 1 mutes
    kEnable,  // 1 lets sound through (selectors, mixers, a playback switch), 0 stops it
};

// The value an output switch takes for `on`; nothing for kNone.
std::optional<std::int32_t> OutputSwitchValue(OutputSwitchKind kind, bool on);

// Entries in a control's details: one channel when the control is uniform, else the line's
// channels; each channel has `multipleItems` entries when the control has several items.
std::size_t ControlDetailEntries(bool uniform, bool multiple, std::uint32_t lineChannels,
                                 std::uint32_t multipleItems);

// Maps a raw mixer value in [minimum, maximum] to 0..65535 and back, rounding to nearest and
// clamping values outside the range. An empty range maps everything to its minimum.
std::int32_t ScaleToFullRange(std::int64_t raw, std::int64_t minimum, std::int64_t maximum);
std::int64_t ScaleFromFullRange(std::uint32_t value, std::int64_t minimum, std::int64_t maximum);

class VolumeMonitorBase : public VolumeMonitor {
  public:
    explicit VolumeMonitorBase(void* context) : context_(context) {}

    bool IsVolumeAvailable() override { return volumeUsable_; }
    void Unmute() override { ApplyOutputSwitches(true); }
    void Mute() override { ApplyOutputSwitches(false); }
    std::int32_t GetVolumeSteps() override { return volumeUsable_ ? volumeSteps_ : -1; }
    std::int32_t GetVolumeMinimum() override { return volumeUsable_ ? volumeMinimum_ : -1; }
    std::int32_t GetVolumeMaximum() override { return volumeUsable_ ? volumeMaximum_ : -1; }
    std::int32_t GetVolume() override { return GetControlValue(volumeControlId_); }
    void SetVolume(std::uint32_t value) override;
    void SetCallback(VolumeCallback callback, std::int32_t data) override;

    // A control of the line changed: the volume control reports the new volume, control 1
    // reports the mute state. A control that cannot be read reports nothing.
    void OnControlChange(std::uint32_t controlId);

  protected:
    // Sets the output switches of the line so that sound goes through (true) or not.
    virtual void ApplyOutputSwitches(bool on) = 0;
    // Sets every channel of the volume control; the value is already within its bounds.
    virtual void WriteVolume(std::uint32_t value) = 0;

    bool volumeUsable_ = false;
    std::uint32_t volumeControlId_ = 0;
    std::int32_t volumeMinimum_ = -1;
    std::int32_t volumeMaximum_ = -1;
    std::int32_t volumeSteps_ = 0;

  private:
    void* const context_;
    Mutex callbackLock_;
    VolumeCallback callback_ GUARDED_BY(callbackLock_) = nullptr;
    std::int32_t callbackData_ GUARDED_BY(callbackLock_) = 0;
};

}  // namespace zelk
