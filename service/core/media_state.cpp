#include "service/core/media_state.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>

#include "common/debug_print.h"
#include "common/media_status_tags.h"
#include "common/value_readers.h"

namespace zelk {

namespace {

// The longest text a field holds, leaving room for its NUL.
constexpr std::size_t kMaxTextLength = kStateTextSize - 1;

// The message's text as it arrived, at most 255 bytes: a record whose text area carries no NUL
// ends at the area's last byte but one.
std::string_view MessageText(const PipeMessage& message) {
    const std::size_t limit = std::min(kMaxTextLength, sizeof message.text);
    const void* nul = std::memchr(message.text, '\0', limit);
    const std::size_t length =
        nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - message.text)
                       : limit;
    return {message.text, length};
}

// A field's text, ending at its NUL or, should a writer have left none, at its last byte but one.
std::string_view FieldText(const char (&field)[kStateTextSize]) {
    const void* nul = std::memchr(field, '\0', kMaxTextLength);
    return {field, nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - field)
                                  : kMaxTextLength};
}

// Stores `text` in a field, cut at 255 bytes, NUL-terminated, the rest of the field cleared.
void SetText(char (&field)[kStateTextSize], std::string_view text) {
    const std::size_t length = std::min(text.size(), kMaxTextLength);
    if (length > 0) std::memmove(field, text.data(), length);
    std::memset(field + length, 0, kStateTextSize - length);
}

// "VCD" in any case of its letters; bytes other than ASCII letters must match exactly.
bool IsVcd(std::string_view name) {
    constexpr std::string_view kVcd = "VCD";
    if (name.size() != kVcd.size()) return false;
    for (std::size_t i = 0; i < kVcd.size(); ++i) {
        char c = name[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != kVcd[i]) return false;
    }
    return true;
}

// Adds `delta` to a counter without leaving the 32-bit range.
std::int32_t SaturatingAdd(std::int32_t value, std::int32_t delta) {
    const std::int64_t sum = std::int64_t{value} + delta;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        sum, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

// Whole seconds as "hh:mm:ss" (with hours) or "mm:ss" (minutes may run past 99).
void FormatTrackTime(char (&field)[kStateTextSize], std::int32_t seconds, bool withHours) {
    char buffer[kStateTextSize];
    if (withHours) {
        std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", seconds / 3600,
                      (seconds % 3600) / 60, seconds % 60);
    } else {
        std::snprintf(buffer, sizeof buffer, "%02d:%02d", seconds / 60, seconds % 60);
    }
    SetText(field, buffer);
}

// Hertz as megahertz for the panel: six decimal places, the first five characters kept, " MHz"
// appended. The fixed-point text of a finite double is at most 317 characters, so it is printed
// whole into a buffer that always holds it, and only then cut.
void FormatRadioFrequency(char (&field)[kStateTextSize], double hertz) {
    double megahertz = hertz * 0.000001;
    if (megahertz == 0.0) megahertz = 0.0;  // no "-0.00"
    char buffer[512];
    auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, megahertz, std::chars_format::fixed, 6);
    if (error != std::errc{}) {
        // Not reachable with a finite value; a defined text rather than garbage all the same.
        constexpr std::string_view kZero = "0.000000";
        end = std::copy(kZero.begin(), kZero.end(), buffer);
    }
    const std::size_t kept = std::min<std::size_t>(static_cast<std::size_t>(end - buffer), 5);
    char text[16];
    std::memcpy(text, buffer, kept);
    std::memcpy(text + kept, " MHz", 5);
    SetText(field, text);
}

}  // namespace

void MediaState::ClearMediaTexts() {
    SetText(trackTimeText, {});
    SetText(trackName, {});
    SetText(mediaName, {});
    SetText(artistName, {});
    trackNumber = 0;
    totalTracks = 0;
}

void MediaState::ApplyPipeMessage(const PipeMessage& message) {
    const std::string_view textView = MessageText(message);
    // The readers take a NUL-terminated text.
    char text[kStateTextSize];
    SetText(text, textView);
    const bool truth = ReadTruth(text);

    switch (message.tag) {
        case kTagSessionOpened:
            sessionCount = SaturatingAdd(sessionCount, 1);
            DebugPrint("Number of active sessions: %d\n", sessionCount);
            break;

        case kTagSessionClosed:
            sessionCount = SaturatingAdd(sessionCount, -1);
            DebugPrint("Number of active sessions: %d\n", sessionCount);
            if (sessionCount <= 1) {
                transportState = kTransportStopped;
            }
            if (mediaMode == kModePhotos) {
                mediaMode = savedMediaMode;
                transportState = kTransportPlaying;
                SetText(mediaName, FieldText(savedMediaName));
            }
            std::erase(recordingSessions, message.sessionNumber);
            if (recordingSessions.empty()) {
                recording = false;
            }
            break;

        case MSPROPTAG_Play:
            if (truth) transportState = kTransportPlaying;
            break;

        case MSPROPTAG_Pause:
            if (truth) transportState = kTransportPaused;
            break;

        case MSPROPTAG_Stop:
            if (truth && sessionCount <= 2 && !recording) {
                transportState = kTransportStopped;
                SetText(trackTimeText, "00:00");
            }
            break;

        case MSPROPTAG_RepeatSet:
            repeat = truth;
            break;

        case MSPROPTAG_Recording:
            if (truth) {
                // One entry per session: a repeated report changes nothing it would not already.
                if (std::find(recordingSessions.begin(), recordingSessions.end(),
                              message.sessionNumber) == recordingSessions.end()) {
                    recordingSessions.push_back(message.sessionNumber);
                }
                recording = true;
            }
            break;

        case MSPROPTAG_Rewind1:
        case MSPROPTAG_Rewind2:
        case MSPROPTAG_Rewind3:
            if (truth) transportState = kTransportRewind;
            break;

        case MSPROPTAG_FF1:
        case MSPROPTAG_FF2:
        case MSPROPTAG_FF3:
            if (truth) transportState = kTransportFastForward;
            break;

        case MSPROPTAG_Next:
        case MSPROPTAG_Prev:
            if (mediaMode == kModeDvd) transportState = kTransportPlaying;
            break;

        case MSPROPTAG_Ejecting:
            if (transportState == kTransportPlaying && sessionCount < 2) {
                transportState = kTransportStopped;
            }
            break;

        case MSPROPTAG_DVD:
            mediaMode = kModeDvd;
            break;

        case MSPROPTAG_CD:
            if (truth) mediaMode = kModeCd;
            break;

        case MSPROPTAG_PVR:
            if (truth) mediaMode = kModeRecordedTv;
            break;

        case MSPROPTAG_StreamingContentAudio:
            if (truth) mediaMode = kModeStreamedAudio;
            break;

        case MSPROPTAG_StreamingContentVideo:
            mediaMode = kModeStreamedVideo;
            break;

        case MSPROPTAG_TVTuner:
            if (truth) mediaMode = kModeLiveTv;
            break;

        case MSPROPTAG_TrackNumber:
            trackNumber = ReadInteger(text);
            break;

        case MSPROPTAG_TotalTracks:
            totalTracks = ReadInteger(text);
            break;

        case MSPROPTAG_TrackTime:
            trackSeconds = ReadInteger(text);
            FormatTrackTime(trackTimeText, trackSeconds,
                            mediaMode == kModeDvd || mediaMode == kModeStreamedVideo ||
                                mediaMode == kModeRecordedTv);
            break;

        case MSPROPTAG_FS_Home:
            if (sessionCount == 1) mediaMode = kModeNone;
            break;

        case MSPROPTAG_MediaName:
            SetText(mediaName, textView);
            if (mediaMode == kModeLiveTv || mediaMode == kModeRecordedTv) {
                SetText(tvMediaName, textView);
            }
            if (IsVcd(textView)) {
                trackNumber = 1;
                totalTracks = 1;
            }
            break;

        case MSPROPTAG_ArtistName:
            SetText(artistName, textView);
            break;

        case MSPROPTAG_TrackName:
            SetText(trackName, textView);
            break;

        case MSPROPTAG_Photos:
            savedMediaMode = mediaMode;
            SetText(savedMediaName, FieldText(mediaName));
            mediaMode = kModePhotos;
            break;

        case MSPROPTAG_CurrentPicture:
            SetText(mediaName, textView);
            transportState = kTransportPlaying;
            break;

        case MSPROPTAG_Radio:
            if (truth) mediaMode = kModeRadio;
            break;

        case MSPROPTAG_RadioFrequency:
            FormatRadioFrequency(radioFrequencyText, ReadReal(text));
            break;

        case MSPROPTAG_MSASPrivateTags:
            ClearMediaTexts();
            break;

        default:
            // Every other tag, including mute and volume (the mixer owns those), is dropped.
            break;
    }
}

}  // namespace zelk
