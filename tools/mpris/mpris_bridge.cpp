#include "tools/mpris/mpris_bridge.h"

#include <iconv.h>

#include <algorithm>
#include <cctype>

#include "common/media_status_tags.h"
#include "common/pipe_message.h"

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

std::string Join(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& name : names) {
        if (!out.empty()) out += ", ";
        out += name;
    }
    return out;
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

std::string ToPipeText(const std::string& utf8) {
    iconv_t converter = iconv_open("CP1252", "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        return utf8;
    }
    std::string out;
    char buffer[256];
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size();
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t r = iconv(converter, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
            // A character 1252 lacks, or broken UTF-8: one '?' for the whole character.
            out += '?';
            std::size_t skip = 1;
            while (skip < inLeft && (static_cast<unsigned char>(in[skip]) & 0xC0) == 0x80) ++skip;
            in += skip;
            inLeft -= skip;
        }
    }
    iconv_close(converter);
    return out;
}

std::string MprisBridge::TimeText(std::int64_t positionUs) {
    return std::to_string(std::max<std::int64_t>(positionUs, 0) / 1000000);
}

void MprisBridge::Send(std::int32_t session, std::int32_t tag, const std::string& text) {
    if (!inStep_) {
        return;  // the service is away; Resync sends everything when it is back
    }
    if (!send_(session, tag, text)) {
        inStep_ = false;
    }
}

void MprisBridge::Appeared(const std::string& id) {
    if (players_.count(id) != 0) return;
    Player& player = players_[id];
    player.session = nextSession_++;
    player.appearedAt = ++order_;
    Send(player.session, kTagSessionOpened, "");
    if (shown_.empty()) {
        ChooseShown();
    }
}

void MprisBridge::Vanished(const std::string& id) {
    const auto it = players_.find(id);
    if (it == players_.end()) return;
    const std::int32_t session = it->second.session;
    players_.erase(it);
    Send(session, kTagSessionClosed, "");
    if (shown_ == id) {
        shown_.clear();
        ChooseShown();
    }
}

void MprisBridge::ChooseShown() {
    const std::string before = shown_;
    shown_.clear();
    std::uint64_t best = 0;
    // The player that began playing last; else the one that appeared last.
    for (const auto& [id, player] : players_) {
        const std::uint64_t rank =
            player.startedAt != 0 ? (1ull << 62) + player.startedAt : player.appearedAt;
        if (rank > best) {
            best = rank;
            shown_ = id;
        }
    }
    if (!shown_.empty() && shown_ != before) {
        sent_.clear();
        SendShown(true);
    }
}

void MprisBridge::Update(const std::string& id, const PlayerUpdate& update) {
    const auto it = players_.find(id);
    if (it == players_.end()) return;
    Player& player = it->second;
    if (update.playbackStatus) {
        if (*update.playbackStatus == "Playing" && player.status != "Playing") {
            player.startedAt = ++order_;
        }
        player.status = *update.playbackStatus;
    }
    if (update.loopStatus) player.loop = *update.loopStatus;
    if (update.hasMetadata) {
        player.artists = update.artists;
        player.title = update.title;
        player.video = update.video;
    }
    if (update.positionUs) player.positionUs = *update.positionUs;

    if (id != shown_ && player.status == "Playing" && player.startedAt == order_) {
        shown_.clear();
        ChooseShown();  // it just began playing: it is shown now
    } else if (id == shown_) {
        SendShown(false);
    }
}

void MprisBridge::Position(const std::string& id, std::int64_t positionUs) {
    const auto it = players_.find(id);
    if (it == players_.end()) return;
    it->second.positionUs = positionUs;
    if (id == shown_) SendShown(false);
}

std::optional<std::string> MprisBridge::PlayingShown() const {
    const auto it = players_.find(shown_);
    if (it == players_.end() || it->second.status != "Playing") return std::nullopt;
    return shown_;
}

void MprisBridge::SendShown(bool everything) {
    const auto it = players_.find(shown_);
    if (it == players_.end()) return;
    const Player& p = it->second;
    auto field = [&](std::int32_t tag, const std::string& text) {
        const auto last = sent_.find(tag);
        if (everything || last == sent_.end() || last->second != text) {
            sent_[tag] = text;
            Send(p.session, tag, text);
        }
    };
    field(p.video ? MSPROPTAG_StreamingContentVideo : MSPROPTAG_StreamingContentAudio, "True");
    if (p.video) {
        field(MSPROPTAG_MediaName, ToPipeText(p.title));
    } else {
        field(MSPROPTAG_ArtistName, ToPipeText(Join(p.artists)));
        field(MSPROPTAG_TrackName, ToPipeText(p.title));
    }
    field(MSPROPTAG_RepeatSet, p.loop == "Track" || p.loop == "Playlist" ? "True" : "False");
    if (p.status != "Stopped") {
        field(MSPROPTAG_TrackTime, TimeText(p.positionUs));
    }
    // The transport last, as the status host reports a change of track before its play.
    const std::int32_t transport = p.status == "Playing"  ? MSPROPTAG_Play
                                   : p.status == "Paused" ? MSPROPTAG_Pause
                                                          : MSPROPTAG_Stop;
    const auto last = sent_.find(0);
    if (everything || last == sent_.end() || last->second != p.status) {
        sent_[0] = p.status;
        Send(p.session, transport, "True");
        if (transport == MSPROPTAG_Stop) sent_.erase(MSPROPTAG_TrackTime);
    }
}

void MprisBridge::Resync() {
    if (inStep_) return;
    inStep_ = true;
    std::vector<std::pair<std::uint64_t, std::int32_t>> sessions;
    for (const auto& [id, player] : players_)
        sessions.emplace_back(player.appearedAt, player.session);
    std::sort(sessions.begin(), sessions.end());
    for (const auto& [order, session] : sessions) {
        Send(session, kTagSessionOpened, "");
        if (!inStep_) return;
    }
    sent_.clear();
    SendShown(true);
}

void MprisBridge::CloseAll() {
    for (const auto& [id, player] : players_) {
        Send(player.session, kTagSessionClosed, "");
    }
    players_.clear();
    shown_.clear();
}

}  // namespace zelk
