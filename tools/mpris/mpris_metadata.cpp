#include "tools/mpris/mpris_metadata.h"

#include <algorithm>
#include <cctype>

namespace zelk {

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

bool MetadataMarksVideo(const std::string& key, const std::string& value) {
    const std::string k = Lower(key);
    const std::string v = Lower(value);
    if (EndsWith(k, "mediatype") || EndsWith(k, ":type")) {
        for (const char* kind : {"video", "movie", "episode", "musicvideo", "tvshow"}) {
            if (v == kind) return true;
        }
        return false;
    }
    if (k == "xesam:url") {
        std::string path = v.substr(0, v.find_first_of("?#"));
        for (const char* ext : {".mp4", ".mkv", ".avi", ".webm", ".mov", ".m4v", ".mpg", ".mpeg",
                                ".ts", ".wmv", ".ogv", ".flv", ".vob", ".m2ts"}) {
            if (EndsWith(path, ext)) return true;
        }
    }
    return false;
}

}  // namespace zelk
