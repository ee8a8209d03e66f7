#include "service/adapters/volume_monitor_base.h"

namespace zelk {

std::optional<std::int32_t> OutputSwitchValue(OutputSwitchKind kind, bool on) {
    switch (kind) {
        case OutputSwitchKind::kMute:
            return on ? 0 : 1;
        case OutputSwitchKind::kEnable:
            return on ? 1 : 0;
        case OutputSwitchKind::kNone:
            break;
    }
    return std::nullopt;
}

std::size_t ControlDetailEntries(bool uniform, bool multiple, std::uint32_t lineChannels,
                                 std::uint32_t multipleItems) {
    const std::size_t channels = uniform ? 1 : lineChannels;
    return multiple ? channels * multipleItems : channels;
}

std::int32_t ScaleToFullRange(std::int64_t raw, std::int64_t minimum, std::int64_t maximum) {
    if (maximum <= minimum || raw <= minimum) {
        return 0;
    }
    if (raw >= maximum) {
        return 65535;
    }
    const std::int64_t span = maximum - minimum;
    return static_cast<std::int32_t>(((raw - minimum) * 65535 + span / 2) / span);
}

std::int64_t ScaleFromFullRange(std::uint32_t value, std::int64_t minimum, std::int64_t maximum) {
    if (maximum <= minimum) {
        return minimum;
    }
    if (value >= 65535) {
        return maximum;
    }
    const std::int64_t span = maximum - minimum;
    return minimum + (static_cast<std::int64_t>(value) * span + 32767) / 65535;
}

void VolumeMonitorBase::SetVolume(std::uint32_t value) {
    if (!volumeUsable_) {
        return;
    }
    // Compared unsigned, as the mixer's bounds are.
    if (value < static_cast<std::uint32_t>(volumeMinimum_) ||
        value > static_cast<std::uint32_t>(volumeMaximum_)) {
        return;
    }
    WriteVolume(value);
}

void VolumeMonitorBase::SetCallback(VolumeCallback callback, std::int32_t data) {
    MutexLock guard(callbackLock_);
    callback_ = callback;
    callbackData_ = data;
}

void VolumeMonitorBase::OnControlChange(std::uint32_t controlId) {
    VolumeCallback callback;
    std::int32_t data;
    {
        MutexLock guard(callbackLock_);
        callback = callback_;
        data = callbackData_;
    }
    if (controlId == volumeControlId_) {
        const std::int32_t volume = GetVolume();
        if (volume != -1 && callback != nullptr) {
            callback(volume, data, context_);
        }
    }
    if (controlId == kMuteControlId) {
        const std::int32_t muted = GetControlValue(kMuteControlId);
        if (muted != -1 && callback != nullptr) {
            callback(-1, muted != 0 ? 1 : 0, context_);
        }
    }
}

}  // namespace zelk
