// What MPRIS metadata says beyond artist and title.
#pragma once

#include <string>

namespace zelk {

// Whether a player's metadata marks its track as video: a media type entry (a key ending in
// "mediatype" or "type") naming video, a movie, an episode or a music video, or a URL whose
// file name has a video extension.
bool MetadataMarksVideo(const std::string& key, const std::string& value);

}  // namespace zelk
