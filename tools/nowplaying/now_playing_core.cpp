#include "tools/nowplaying/now_playing_core.h"

#include <algorithm>

#include "common/debug_print.h"
#include "common/pipe_text.h"

namespace zelk {

namespace {

constexpr std::int64_t kTicksPerUs = 10;
// A LastUpdatedTime older than this is not carried forward (a clock change, a stale report).
constexpr std::int64_t kMaxTimelineAgeTicks = 24LL * 3600 * 1000 * 1000 * kTicksPerUs;

std::optional<PlaybackState> StateOf(int status) {
    switch (static_cast<SessionStatus>(status)) {
        case SessionStatus::kOpened:
        case SessionStatus::kStopped:
            return PlaybackState::kStopped;
        case SessionStatus::kPlaying:
            return PlaybackState::kPlaying;
        case SessionStatus::kPaused:
            return PlaybackState::kPaused;
        default:
            return std::nullopt;  // Changing: the state it changes to follows
    }
}

}  // namespace

std::string CleanPlayerText(std::u16string_view text, std::size_t maxUnits, bool* cut) {
    std::size_t keep = text.size();
    if (keep > maxUnits) {
        keep = maxUnits;
        // Never half a surrogate pair.
        if (keep > 0 && text[keep - 1] >= 0xD800 && text[keep - 1] <= 0xDBFF) --keep;
    }
    if (cut != nullptr) *cut = keep < text.size();
    return Utf16ToUtf8(text.substr(0, keep));
}

NowPlayingCore::NowPlayingCore(NowPlayingTranslator::Sender send, Clock& clock)
    : clock_(clock), translator_(std::move(send), NowPlayingTranslator::ShownRule::kCurrent) {}

std::int64_t NowPlayingCore::PositionAt(const Session& s, std::uint64_t nowMs) const {
    std::int64_t position = s.anchorUs;
    if (s.playing && nowMs > s.anchorMs) {
        position += static_cast<std::int64_t>(nowMs - s.anchorMs) * 1000;
    }
    position = std::max<std::int64_t>(position, 0);
    if (s.endUs > 0) position = std::min(position, s.endUs);
    return position;
}

std::optional<std::int64_t> NowPlayingCore::PositionUs(const std::string& id) const {
    const auto it = sessions_.find(id);
    if (it == sessions_.end()) return std::nullopt;
    return PositionAt(it->second, clock_.NowMs());
}

void NowPlayingCore::Open(const std::string& id) {
    Session& s = sessions_[id];
    s.open = true;
    translator_.Appeared(id);
    if (!s.title.empty() || !s.artists.empty()) SendMetadata(id, s);
}

void NowPlayingCore::SendMetadata(const std::string& id, Session& s) {
    const std::optional<int> type = s.infoType ? s.infoType : s.mediaType;
    s.video = type == kPlaybackTypeVideo;
    if (!s.open) return;
    NowPlayingUpdate update;
    update.hasMetadata = true;
    update.artists = s.artists;
    update.title = s.title;
    update.video = s.video;
    translator_.Update(id, update);
}

void NowPlayingCore::SendPosition(const std::string& id, const Session& s, std::uint64_t nowMs) {
    if (!s.open || !s.timelineKnown) return;
    translator_.Position(id, PositionAt(s, nowMs));
    if (id == current_) {
        lastTickMs_ = nowMs;
        ticked_ = true;
    }
}

SessionTable::Changes NowPlayingCore::SetSessions(const std::vector<SessionKey>& sessions) {
    SessionTable::Changes changes = table_.Reconcile(sessions);
    for (const SessionTable::Entry& e : changes.removed) {
        const auto it = sessions_.find(e.id);
        if (it != sessions_.end() && it->second.open) translator_.Vanished(e.id);
        sessions_.erase(e.id);
        DebugPrint("LumaraNowPlaying: session %s gone\n", e.id.c_str());
    }
    for (const SessionTable::Entry& e : changes.added) {
        DebugPrint("LumaraNowPlaying: session %s appeared\n", e.id.c_str());
        Open(e.id);
    }
    Reschedule(clock_.NowMs());
    CheckStep();
    return changes;
}

std::optional<std::string> NowPlayingCore::SetCurrent(const std::optional<SessionKey>& current) {
    std::optional<std::string> added;
    std::string id;
    if (current) {
        bool isNew = false;
        id = table_.Ensure(*current, &isNew);
        if (isNew) {
            DebugPrint("LumaraNowPlaying: session %s appeared\n", id.c_str());
            Open(id);
            added = id;
        }
    }
    if (id != current_) {
        const std::uint64_t now = clock_.NowMs();
        const auto it = sessions_.find(id);
        // The track time as it is now, before the session is shown.
        if (it != sessions_.end() && it->second.open && it->second.timelineKnown) {
            translator_.Position(id, PositionAt(it->second, now));
        }
        current_ = id;
        ticked_ = false;
        translator_.SetCurrent(id);
        DebugPrint("LumaraNowPlaying: current session %s\n", id.empty() ? "(none)" : id.c_str());
        Reschedule(now);
    }
    CheckStep();
    return added;
}

void NowPlayingCore::OnPlayback(const std::string& id, const PlaybackFacts& facts) {
    const auto it = sessions_.find(id);
    if (it == sessions_.end()) return;
    Session& s = it->second;
    const std::uint64_t now = clock_.NowMs();
    if (facts.status == static_cast<int>(SessionStatus::kClosed)) {
        if (s.open) {
            translator_.Vanished(id);
            s.open = false;
            s.anchorUs = PositionAt(s, now);
            s.anchorMs = now;
            s.playing = false;
        }
    } else {
        if (!s.open) Open(id);
        NowPlayingUpdate update;
        update.playback = StateOf(facts.status);
        if (facts.status < 0 || facts.status > static_cast<int>(SessionStatus::kPaused)) {
            DebugPrint("LumaraNowPlaying: %s: unknown playback status %d skipped\n", id.c_str(),
                       facts.status);
        }
        if (facts.repeatMode) {
            switch (*facts.repeatMode) {
                case 0:
                    update.repeat = RepeatMode::kNone;
                    break;
                case kRepeatTrack:
                    update.repeat = RepeatMode::kTrack;
                    break;
                case kRepeatList:
                    update.repeat = RepeatMode::kList;
                    break;
                default:
                    DebugPrint("LumaraNowPlaying: %s: unknown repeat mode %d skipped\n", id.c_str(),
                               *facts.repeatMode);
            }
        }
        if (update.playback) {
            const bool playing = *update.playback == PlaybackState::kPlaying;
            if (playing != s.playing) {
                s.anchorUs = PositionAt(s, now);
                s.anchorMs = now;
                s.playing = playing;
            }
        }
        const bool wasVideo = s.video;
        s.infoType = facts.playbackType;
        const std::optional<int> type = s.infoType ? s.infoType : s.mediaType;
        if ((type == kPlaybackTypeVideo) != wasVideo) SendMetadata(id, s);
        translator_.Update(id, update);
        if (update.playback == PlaybackState::kPlaying) SendPosition(id, s, now);
    }
    Reschedule(now);
    CheckStep();
}

void NowPlayingCore::OnMedia(const std::string& id, const MediaFacts& facts) {
    const auto it = sessions_.find(id);
    if (it == sessions_.end()) return;
    Session& s = it->second;
    bool cut = false;
    s.title = CleanPlayerText(facts.title, kMaxTextUnits, &cut);
    if (cut) {
        DebugPrint("LumaraNowPlaying: %s: title of %lu characters cut\n", id.c_str(),
                   static_cast<unsigned long>(facts.title.size()));
    }
    const std::u16string& artist = facts.artist.empty() ? facts.albumArtist : facts.artist;
    const std::string artistText = CleanPlayerText(artist, kMaxTextUnits, &cut);
    if (cut) {
        DebugPrint("LumaraNowPlaying: %s: artist of %lu characters cut\n", id.c_str(),
                   static_cast<unsigned long>(artist.size()));
    }
    s.artists.clear();
    if (!artistText.empty()) s.artists.push_back(artistText);
    s.mediaType = facts.playbackType;
    SendMetadata(id, s);
    CheckStep();
}

void NowPlayingCore::OnTimeline(const std::string& id, const TimelineFacts& facts,
                                std::int64_t utcNowTicks) {
    const auto it = sessions_.find(id);
    if (it == sessions_.end()) return;
    Session& s = it->second;
    const std::uint64_t now = clock_.NowMs();
    std::int64_t positionUs =
        std::max<std::int64_t>(facts.positionTicks - facts.startTicks, 0) / kTicksPerUs;
    const std::int64_t endUs =
        facts.endTicks > facts.startTicks ? (facts.endTicks - facts.startTicks) / kTicksPerUs : 0;
    // The position was the player's at LastUpdatedTime; while it plays, it has moved on since.
    if (s.playing && facts.lastUpdatedTicks > 0 && utcNowTicks > facts.lastUpdatedTicks) {
        const std::int64_t age = utcNowTicks - facts.lastUpdatedTicks;
        if (age < kMaxTimelineAgeTicks) positionUs += age / kTicksPerUs;
    }
    if (endUs > 0 && positionUs > endUs) {
        DebugPrint("LumaraNowPlaying: %s: position %lld s past the end (%lld s) cut\n", id.c_str(),
                   static_cast<long long>(positionUs / 1000000),
                   static_cast<long long>(endUs / 1000000));
        positionUs = endUs;
    }
    const bool known = s.timelineKnown;
    const std::int64_t predicted = PositionAt(s, now);
    s.anchorUs = positionUs;
    s.anchorMs = now;
    s.endUs = endUs;
    s.timelineKnown = true;
    const std::int64_t moved =
        positionUs > predicted ? positionUs - predicted : predicted - positionUs;
    if (!known || !s.playing || moved > kSeekToleranceUs) SendPosition(id, s, now);
    Reschedule(now);
    CheckStep();
}

void NowPlayingCore::OnSessionError(const std::string& id, const char* call, std::int32_t hresult) {
    DebugPrint("LumaraNowPlaying: %s: %s failed (0x%08X), skipped\n", id.c_str(), call,
               static_cast<unsigned>(hresult));
}

void NowPlayingCore::Reschedule(std::uint64_t nowMs) {
    nextTickMs_.reset();
    const auto it = sessions_.find(current_);
    if (it == sessions_.end()) return;
    const Session& s = it->second;
    if (!s.open || !s.playing || !s.timelineKnown) return;
    const std::int64_t position = PositionAt(s, nowMs);
    if (s.endUs > 0 && position >= s.endUs) return;  // at the end: nothing changes any more
    const auto intoSecondMs = static_cast<std::uint64_t>((position / 1000) % 1000);
    std::uint64_t due = nowMs + (1000 - intoSecondMs);
    if (ticked_) due = std::max(due, lastTickMs_ + 1000);
    nextTickMs_ = due;
}

void NowPlayingCore::CheckStep() {
    if (translator_.InStep() || resendAtMs_) return;
    backoff_.Failed(clock_.NowMs());
    resendAtMs_ = backoff_.DueAtMs();
    DebugPrint("LumaraNowPlaying: the panel service does not answer; resending in %u ms\n",
               static_cast<unsigned>(backoff_.WaitMs()));
}

std::optional<std::uint64_t> NowPlayingCore::NextWakeMs() const {
    if (nextTickMs_ && resendAtMs_) return std::min(*nextTickMs_, *resendAtMs_);
    return nextTickMs_ ? nextTickMs_ : resendAtMs_;
}

void NowPlayingCore::Wake() {
    const std::uint64_t now = clock_.NowMs();
    if (resendAtMs_ && now >= *resendAtMs_) {
        translator_.Resync();
        if (translator_.InStep()) {
            backoff_.Succeeded();
            resendAtMs_.reset();
            DebugPrint("LumaraNowPlaying: the panel service answers again; state resent\n");
        } else {
            backoff_.Failed(now);
            resendAtMs_ = backoff_.DueAtMs();
        }
    }
    if (nextTickMs_ && now >= *nextTickMs_) {
        const auto it = sessions_.find(current_);
        if (it != sessions_.end()) SendPosition(current_, it->second, now);
        Reschedule(now);
    }
    CheckStep();
}

void NowPlayingCore::CloseAll() {
    translator_.CloseAll();
}

}  // namespace zelk
