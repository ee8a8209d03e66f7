// The host's media status tag vocabulary (69 names in four blocks).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zelk {

enum MEDIASTATUSPROPERTYTAG : std::int32_t {
    MSPROPTAG_Unknown = 0x0000,
    MSPROPTAG_Mute = 0x1000,
    MSPROPTAG_Play = 0x1001,
    MSPROPTAG_Pause = 0x1002,
    MSPROPTAG_Stop = 0x1003,
    MSPROPTAG_Shuffle = 0x1004,
    MSPROPTAG_RepeatSet = 0x1005,
    MSPROPTAG_Recording = 0x1006,
    MSPROPTAG_Rewind1 = 0x1007,
    MSPROPTAG_Rewind2 = 0x1008,
    MSPROPTAG_Rewind3 = 0x1009,
    MSPROPTAG_FF1 = 0x100A,
    MSPROPTAG_FF2 = 0x100B,
    MSPROPTAG_FF3 = 0x100C,
    MSPROPTAG_Next = 0x100D,
    MSPROPTAG_Prev = 0x100E,
    MSPROPTAG_Error = 0x100F,
    MSPROPTAG_Ejecting = 0x1010,
    MSPROPTAG_MediaTypes = 0x2000,
    MSPROPTAG_DVD = 0x2001,
    MSPROPTAG_CD = 0x2002,
    MSPROPTAG_PVR = 0x2003,
    MSPROPTAG_StreamingContentAudio = 0x2004,
    MSPROPTAG_StreamingContentVideo = 0x2005,
    MSPROPTAG_TVTuner = 0x2006,
    MSPROPTAG_MediaTime = 0x2007,
    MSPROPTAG_TrackNumber = 0x2008,
    MSPROPTAG_TotalTracks = 0x2009,
    MSPROPTAG_TrackDuration = 0x200A,
    MSPROPTAG_TrackTime = 0x200B,
    MSPROPTAG_TitleNumber = 0x200C,
    MSPROPTAG_Volume = 0x200D,
    MSPROPTAG_FS_Home = 0x200E,
    MSPROPTAG_FS_TV = 0x200F,
    MSPROPTAG_FS_DVD = 0x2010,
    MSPROPTAG_FS_Guide = 0x2011,
    MSPROPTAG_FS_Music = 0x2012,
    MSPROPTAG_FS_Photos = 0x2013,
    MSPROPTAG_FS_Videos = 0x2014,
    MSPROPTAG_FS_RecordedShows = 0x2015,
    MSPROPTAG_FS_Unknown = 0x2016,
    MSPROPTAG_MediaName = 0x2017,
    MSPROPTAG_ArtistName = 0x2018,
    MSPROPTAG_TrackName = 0x2019,
    MSPROPTAG_Photos = 0x201A,
    MSPROPTAG_CurrentPicture = 0x201B,
    MSPROPTAG_TransitionTime = 0x201C,
    MSPROPTAG_GuideLoaded = 0x201D,
    MSPROPTAG_SlowMotion1 = 0x201E,
    MSPROPTAG_SlowMotion2 = 0x201F,
    MSPROPTAG_SlowMotion3 = 0x2020,
    MSPROPTAG_NextFrame = 0x2021,
    MSPROPTAG_PrevFrame = 0x2022,
    MSPROPTAG_Radio = 0x2023,
    MSPROPTAG_RadioFrequency = 0x2024,
    MSPROPTAG_FS_Radio = 0x2025,
    MSPROPTAG_Visualization = 0x2026,
    MSPROPTAG_PhoneCall = 0x2027,
    MSPROPTAG_CallingPartyNumber = 0x2028,
    MSPROPTAG_CallingPartyName = 0x2029,
    MSPROPTAG_ParentalAdvisoryRating = 0x202A,
    MSPROPTAG_RequestForTuner = 0x202B,
    MSPROPTAG_DiscWriter_Start = 0x202C,
    MSPROPTAG_DiscWriter_SelectedFormat = 0x202D,
    MSPROPTAG_DiscWriter_ProgressTimeChanged = 0x202E,
    MSPROPTAG_DiscWriter_ProgressPercentageChanged = 0x202F,
    MSPROPTAG_DiscWriter_Stop = 0x2030,
    MSPROPTAG_MSASPrivateTags = 0xF000,
    MSPROPTAG_Application = 0xF001,
};

inline constexpr int kMediaStatusTagCount = 69;

// The tag's "MSPROPTAG_" name, or its decimal digits for a value without a name.
std::string TagName(std::int32_t tag);

// The value of a name, with or without the "MSPROPTAG_" prefix (exact case); nothing if unknown.
std::optional<std::int32_t> TagFromName(std::string_view name);

// Every named tag in value order, for tools and the type library's checks.
struct TagEntry {
    const char* name;
    std::int32_t value;
};
const TagEntry* AllTags(int& count);

}  // namespace zelk
