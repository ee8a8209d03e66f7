#include "common/media_status_tags.h"

#include <iterator>

namespace zelk {

namespace {

constexpr TagEntry kTags[] = {
    {"MSPROPTAG_Unknown", MSPROPTAG_Unknown},
    {"MSPROPTAG_Mute", MSPROPTAG_Mute},
    {"MSPROPTAG_Play", MSPROPTAG_Play},
    {"MSPROPTAG_Pause", MSPROPTAG_Pause},
    {"MSPROPTAG_Stop", MSPROPTAG_Stop},
    {"MSPROPTAG_Shuffle", MSPROPTAG_Shuffle},
    {"MSPROPTAG_RepeatSet", MSPROPTAG_RepeatSet},
    {"MSPROPTAG_Recording", MSPROPTAG_Recording},
    {"MSPROPTAG_Rewind1", MSPROPTAG_Rewind1},
    {"MSPROPTAG_Rewind2", MSPROPTAG_Rewind2},
    {"MSPROPTAG_Rewind3", MSPROPTAG_Rewind3},
    {"MSPROPTAG_FF1", MSPROPTAG_FF1},
    {"MSPROPTAG_FF2", MSPROPTAG_FF2},
    {"MSPROPTAG_FF3", MSPROPTAG_FF3},
    {"MSPROPTAG_Next", MSPROPTAG_Next},
    {"MSPROPTAG_Prev", MSPROPTAG_Prev},
    {"MSPROPTAG_Error", MSPROPTAG_Error},
    {"MSPROPTAG_Ejecting", MSPROPTAG_Ejecting},
    {"MSPROPTAG_MediaTypes", MSPROPTAG_MediaTypes},
    {"MSPROPTAG_DVD", MSPROPTAG_DVD},
    {"MSPROPTAG_CD", MSPROPTAG_CD},
    {"MSPROPTAG_PVR", MSPROPTAG_PVR},
    {"MSPROPTAG_StreamingContentAudio", MSPROPTAG_StreamingContentAudio},
    {"MSPROPTAG_StreamingContentVideo", MSPROPTAG_StreamingContentVideo},
    {"MSPROPTAG_TVTuner", MSPROPTAG_TVTuner},
    {"MSPROPTAG_MediaTime", MSPROPTAG_MediaTime},
    {"MSPROPTAG_TrackNumber", MSPROPTAG_TrackNumber},
    {"MSPROPTAG_TotalTracks", MSPROPTAG_TotalTracks},
    {"MSPROPTAG_TrackDuration", MSPROPTAG_TrackDuration},
    {"MSPROPTAG_TrackTime", MSPROPTAG_TrackTime},
    {"MSPROPTAG_TitleNumber", MSPROPTAG_TitleNumber},
    {"MSPROPTAG_Volume", MSPROPTAG_Volume},
    {"MSPROPTAG_FS_Home", MSPROPTAG_FS_Home},
    {"MSPROPTAG_FS_TV", MSPROPTAG_FS_TV},
    {"MSPROPTAG_FS_DVD", MSPROPTAG_FS_DVD},
    {"MSPROPTAG_FS_Guide", MSPROPTAG_FS_Guide},
    {"MSPROPTAG_FS_Music", MSPROPTAG_FS_Music},
    {"MSPROPTAG_FS_Photos", MSPROPTAG_FS_Photos},
    {"MSPROPTAG_FS_Videos", MSPROPTAG_FS_Videos},
    {"MSPROPTAG_FS_RecordedShows", MSPROPTAG_FS_RecordedShows},
    {"MSPROPTAG_FS_Unknown", MSPROPTAG_FS_Unknown},
    {"MSPROPTAG_MediaName", MSPROPTAG_MediaName},
    {"MSPROPTAG_ArtistName", MSPROPTAG_ArtistName},
    {"MSPROPTAG_TrackName", MSPROPTAG_TrackName},
    {"MSPROPTAG_Photos", MSPROPTAG_Photos},
    {"MSPROPTAG_CurrentPicture", MSPROPTAG_CurrentPicture},
    {"MSPROPTAG_TransitionTime", MSPROPTAG_TransitionTime},
    {"MSPROPTAG_GuideLoaded", MSPROPTAG_GuideLoaded},
    {"MSPROPTAG_SlowMotion1", MSPROPTAG_SlowMotion1},
    {"MSPROPTAG_SlowMotion2", MSPROPTAG_SlowMotion2},
    {"MSPROPTAG_SlowMotion3", MSPROPTAG_SlowMotion3},
    {"MSPROPTAG_NextFrame", MSPROPTAG_NextFrame},
    {"MSPROPTAG_PrevFrame", MSPROPTAG_PrevFrame},
    {"MSPROPTAG_Radio", MSPROPTAG_Radio},
    {"MSPROPTAG_RadioFrequency", MSPROPTAG_RadioFrequency},
    {"MSPROPTAG_FS_Radio", MSPROPTAG_FS_Radio},
    {"MSPROPTAG_Visualization", MSPROPTAG_Visualization},
    {"MSPROPTAG_PhoneCall", MSPROPTAG_PhoneCall},
    {"MSPROPTAG_CallingPartyNumber", MSPROPTAG_CallingPartyNumber},
    {"MSPROPTAG_CallingPartyName", MSPROPTAG_CallingPartyName},
    {"MSPROPTAG_ParentalAdvisoryRating", MSPROPTAG_ParentalAdvisoryRating},
    {"MSPROPTAG_RequestForTuner", MSPROPTAG_RequestForTuner},
    {"MSPROPTAG_DiscWriter_Start", MSPROPTAG_DiscWriter_Start},
    {"MSPROPTAG_DiscWriter_SelectedFormat", MSPROPTAG_DiscWriter_SelectedFormat},
    {"MSPROPTAG_DiscWriter_ProgressTimeChanged", MSPROPTAG_DiscWriter_ProgressTimeChanged},
    {"MSPROPTAG_DiscWriter_ProgressPercentageChanged",
     MSPROPTAG_DiscWriter_ProgressPercentageChanged},
    {"MSPROPTAG_DiscWriter_Stop", MSPROPTAG_DiscWriter_Stop},
    {"MSPROPTAG_MSASPrivateTags", MSPROPTAG_MSASPrivateTags},
    {"MSPROPTAG_Application", MSPROPTAG_Application},
};
static_assert(std::size(kTags) == kMediaStatusTagCount);

}  // namespace

std::string TagName(std::int32_t tag) {
    for (const TagEntry& e : kTags) {
        if (e.value == tag) {
            return e.name;
        }
    }
    return std::to_string(tag);
}

std::optional<std::int32_t> TagFromName(std::string_view name) {
    constexpr std::string_view kPrefix = "MSPROPTAG_";
    for (const TagEntry& e : kTags) {
        const std::string_view full = e.name;
        if (name == full || name == full.substr(kPrefix.size())) {
            return e.value;
        }
    }
    return std::nullopt;
}

const TagEntry* AllTags(int& count) {
    count = static_cast<int>(std::size(kTags));
    return kTags;
}

}  // namespace zelk
