#include "common/now_playing.h"

#include <algorithm>

#include "common/media_status_tags.h"
#include "common/pipe_message.h"
#include "common/pipe_text.h"

namespace zelk {

namespace {

std::string Join(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& name : names) {
        if (!out.empty()) out += ", ";
        out += name;
    }
    return out;
}

std::string TimeText(std::int64_t positionUs) {
    return std::to_string(std::max<std::int64_t>(positionUs, 0) / 1000000);
}

}  // namespace

void NowPlayingTranslator::Send(std::int32_t session, std::int32_t tag, const std::string& text) {
    if (!inStep_) {
        return;  // the service is away; Resync sends everything when it is back
    }
    if (!send_(session, tag, text)) {
        inStep_ = false;
    }
}

void NowPlayingTranslator::Appeared(const std::string& id) {
    if (sources_.count(id) != 0) return;
    Source& source = sources_[id];
    source.session = nextSession_++;
    source.appearedAt = ++order_;
    Send(source.session, kTagSessionOpened, "");
    if (shown_.empty()) {
        ChooseShown();
    }
}

void NowPlayingTranslator::Vanished(const std::string& id) {
    const auto it = sources_.find(id);
    if (it == sources_.end()) return;
    const std::int32_t session = it->second.session;
    sources_.erase(it);
    Send(session, kTagSessionClosed, "");
    if (shown_ == id) {
        shown_.clear();
        ChooseShown();
    }
}

void NowPlayingTranslator::SetCurrent(const std::string& id) {
    if (rule_ != ShownRule::kCurrent || id == current_) return;
    current_ = id;
    ChooseShown();
}

void NowPlayingTranslator::ChooseShown() {
    const std::string before = shown_;
    shown_.clear();
    if (rule_ == ShownRule::kCurrent) {
        if (sources_.count(current_) != 0) shown_ = current_;
    } else {
        // The source that began playing last; else the one that appeared last.
        std::uint64_t best = 0;
        for (const auto& [id, source] : sources_) {
            const std::uint64_t rank =
                source.startedAt != 0 ? (1ull << 62) + source.startedAt : source.appearedAt;
            if (rank > best) {
                best = rank;
                shown_ = id;
            }
        }
    }
    if (!shown_.empty() && shown_ != before) {
        sent_.clear();
        SendShown(true);
    }
}

void NowPlayingTranslator::Update(const std::string& id, const NowPlayingUpdate& update) {
    const auto it = sources_.find(id);
    if (it == sources_.end()) return;
    Source& source = it->second;
    if (update.playback) {
        if (*update.playback == PlaybackState::kPlaying &&
            source.playback != PlaybackState::kPlaying) {
            source.startedAt = ++order_;
        }
        source.playback = *update.playback;
    }
    if (update.repeat) source.repeat = *update.repeat;
    if (update.hasMetadata) {
        source.artists = update.artists;
        source.title = update.title;
        source.video = update.video;
    }
    if (update.positionUs) source.positionUs = *update.positionUs;

    if (rule_ == ShownRule::kLastStartedPlaying && id != shown_ &&
        source.playback == PlaybackState::kPlaying && source.startedAt == order_) {
        shown_.clear();
        ChooseShown();  // it just began playing: it is shown now
    } else if (id == shown_) {
        SendShown(false);
    }
}

void NowPlayingTranslator::Position(const std::string& id, std::int64_t positionUs) {
    const auto it = sources_.find(id);
    if (it == sources_.end()) return;
    it->second.positionUs = positionUs;
    if (id == shown_) SendShown(false);
}

std::optional<std::string> NowPlayingTranslator::PlayingShown() const {
    const auto it = sources_.find(shown_);
    if (it == sources_.end() || it->second.playback != PlaybackState::kPlaying) {
        return std::nullopt;
    }
    return shown_;
}

void NowPlayingTranslator::SendShown(bool everything) {
    const auto it = sources_.find(shown_);
    if (it == sources_.end()) return;
    const Source& s = it->second;
    auto field = [&](std::int32_t tag, const std::string& text) {
        const auto last = sent_.find(tag);
        if (everything || last == sent_.end() || last->second != text) {
            sent_[tag] = text;
            Send(s.session, tag, text);
        }
    };
    field(s.video ? MSPROPTAG_StreamingContentVideo : MSPROPTAG_StreamingContentAudio, "True");
    if (s.video) {
        field(MSPROPTAG_MediaName, ToPipeText(s.title));
    } else {
        field(MSPROPTAG_ArtistName, ToPipeText(Join(s.artists)));
        field(MSPROPTAG_TrackName, ToPipeText(s.title));
    }
    field(MSPROPTAG_RepeatSet, s.repeat != RepeatMode::kNone ? "True" : "False");
    if (s.playback != PlaybackState::kStopped) {
        field(MSPROPTAG_TrackTime, TimeText(s.positionUs));
    }
    // The transport last, as the status host reports a change of track before its play.
    const std::int32_t transport = s.playback == PlaybackState::kPlaying  ? MSPROPTAG_Play
                                   : s.playback == PlaybackState::kPaused ? MSPROPTAG_Pause
                                                                          : MSPROPTAG_Stop;
    const std::string state = std::to_string(transport);
    const auto last = sent_.find(0);
    if (everything || last == sent_.end() || last->second != state) {
        sent_[0] = state;
        Send(s.session, transport, "True");
        if (transport == MSPROPTAG_Stop) sent_.erase(MSPROPTAG_TrackTime);
    }
}

void NowPlayingTranslator::Resync() {
    if (inStep_) return;
    inStep_ = true;
    std::vector<std::pair<std::uint64_t, std::int32_t>> sessions;
    for (const auto& [id, source] : sources_)
        sessions.emplace_back(source.appearedAt, source.session);
    std::sort(sessions.begin(), sessions.end());
    for (const auto& [order, session] : sessions) {
        Send(session, kTagSessionOpened, "");
        if (!inStep_) return;
    }
    sent_.clear();
    SendShown(true);
}

void NowPlayingTranslator::CloseAll() {
    for (const auto& [id, source] : sources_) {
        Send(source.session, kTagSessionClosed, "");
    }
    sources_.clear();
    shown_.clear();
}

}  // namespace zelk
