// The service's picture of what the media center is doing, changed by pipe messages, the clock
// and the volume monitor, and turned into panel output by the display composition.
#pragma once

#include <cstdint>
#include <vector>

#include "common/pipe_message.h"

namespace zelk {

inline constexpr std::size_t kStateTextSize = 256;

// Media modes.
enum MediaMode : std::int32_t {
    kModeNone = 0,
    kModeLiveTv = 1,
    kModeDvd = 2,
    kModeStreamedAudio = 4,
    kModeCd = 5,
    kModePhotos = 6,
    kModeStreamedVideo = 7,
    kModeRecordedTv = 8,
    kModeRadio = 9,
};

// Transport states.
enum TransportState : std::int32_t {
    kTransportStopped = 0,
    kTransportPlaying = 1,
    kTransportPaused = 2,
    kTransportFastForward = 3,
    kTransportRewind = 4,
};

struct MediaState {
    char dateText[kStateTextSize] = {};
    char timeText[kStateTextSize] = {};
    std::uint16_t volume = 0;
    char trackTimeText[kStateTextSize] = {};
    std::int32_t totalTracks = 0;
    std::int32_t trackNumber = 0;
    char trackName[kStateTextSize] = {};
    char mediaName[kStateTextSize] = {};
    char savedMediaName[kStateTextSize] = {};
    char artistName[kStateTextSize] = {};
    char radioFrequencyText[kStateTextSize] = {};
    char tvMediaName[kStateTextSize] = {};
    std::int32_t transportState = kTransportStopped;
    std::int32_t sessionCount = 0;
    std::int32_t mediaMode = kModeNone;
    std::int32_t savedMediaMode = kModeNone;
    std::int32_t trackSeconds = 0;
    bool recording = false;
    bool mute = false;
    bool repeat = false;
    // Sessions that reported recording on, in arrival order, each at most once.
    std::vector<std::int32_t> recordingSessions;

    // Applies one received record (the caller holds the state lock).
    void ApplyPipeMessage(const PipeMessage& message);
    // Empties track time, track, media and artist names; track number and total tracks := 0.
    void ClearMediaTexts();
};

}  // namespace zelk
