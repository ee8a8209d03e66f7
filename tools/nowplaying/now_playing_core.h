// Every decision of LumaraNowPlaying that does not need Windows: which sessions exist and under
// which id, what their facts mean for the panel, the track time between the system's timeline
// reports, when the program must wake up next, and how it waits for a pipe that is away.
//
// The glue (now_playing_main_win32.cpp) reads the system's objects and hands the facts here as
// plain values, on its one work thread; nothing here is thread-safe.
//
// Time: the panel shows a playing session's track time in whole seconds. The system reports a
// timeline (Position at LastUpdatedTime) only when the player publishes one, so the position is
// carried forward on the monotonic clock while the session plays, and sent when it enters a new
// second (never more than once a second). A timeline report that moves the position by more
// than kSeekToleranceUs (a seek), or arrives while the session does not play, is sent at once.
// With nothing playing and the pipe in step, NextWakeMs() is empty: the program sleeps until an
// event arrives.
//
// Pipe: a record that nobody takes (the service is away) puts the translator out of step; it
// then holds its state, and Wake() resends everything (Resync) after a back-off of 250 ms,
// doubling to at most kMaxBackoffMs, until a resend goes through.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/now_playing.h"
#include "common/retry_backoff.h"
#include "service/adapters/clock.h"
#include "tools/nowplaying/session_table.h"

namespace zelk {

// The system's GlobalSystemMediaTransportControlsSessionPlaybackStatus values.
enum class SessionStatus : int {
    kClosed = 0,
    kOpened = 1,
    kChanging = 2,
    kStopped = 3,
    kPlaying = 4,
    kPaused = 5,
};
// Windows.Media.MediaPlaybackType and MediaPlaybackAutoRepeatMode values.
inline constexpr int kPlaybackTypeVideo = 2;
inline constexpr int kRepeatTrack = 1;
inline constexpr int kRepeatList = 2;

// GetPlaybackInfo: the status and the optional (IReference) type and repeat mode.
struct PlaybackFacts {
    int status = 0;
    std::optional<int> playbackType;
    std::optional<int> repeatMode;
};

// TryGetMediaPropertiesAsync's result, texts as the player gave them.
struct MediaFacts {
    std::u16string title;
    std::u16string artist;
    std::u16string albumArtist;
    std::optional<int> playbackType;
};

// GetTimelineProperties: TimeSpans in 100 ns ticks; LastUpdatedTime a DateTime (100 ns ticks
// since 1601, UTC; 0 when the player never set it).
struct TimelineFacts {
    std::int64_t startTicks = 0;
    std::int64_t endTicks = 0;
    std::int64_t positionTicks = 0;
    std::int64_t lastUpdatedTicks = 0;
};

// A text the player published, cut to at most `maxUnits` UTF-16 units (never inside a
// surrogate pair) and converted to UTF-8. `cut` tells whether anything was dropped.
std::string CleanPlayerText(std::u16string_view text, std::size_t maxUnits, bool* cut = nullptr);

class NowPlayingCore {
  public:
    static constexpr std::size_t kMaxTextUnits = 256;  // a record holds 255 bytes of text
    static constexpr std::int64_t kSeekToleranceUs = 1500000;

    NowPlayingCore(NowPlayingTranslator::Sender send, Clock& clock);

    // The system's list of sessions (GetSessions). The changes tell the glue which sessions
    // to subscribe to and read (added, rebound) and which to drop (removed, rebound's old).
    SessionTable::Changes SetSessions(const std::vector<SessionKey>& sessions);
    // The session the system calls current (GetCurrentSession; empty: none). A session the
    // list did not name yet is added; its id is returned so that the glue reads it.
    std::optional<std::string> SetCurrent(const std::optional<SessionKey>& current);

    // A session's facts, by the id SetSessions gave it; unknown ids are ignored.
    void OnPlayback(const std::string& id, const PlaybackFacts& facts);
    void OnMedia(const std::string& id, const MediaFacts& facts);
    // `utcNowTicks`: the system time when the timeline was read, in the same unit as
    // LastUpdatedTime.
    void OnTimeline(const std::string& id, const TimelineFacts& facts, std::int64_t utcNowTicks);
    // A call on a session failed (the player went away mid-call, an async call failed): the
    // session keeps what it had.
    void OnSessionError(const std::string& id, const char* call, std::int32_t hresult);

    // When Wake() has work next, on the clock's time; empty when only an event can bring work.
    std::optional<std::uint64_t> NextWakeMs() const;
    // Does what is due: the shown session's track time, a resend to a pipe that was away.
    void Wake();
    // The program ends: every session closed.
    void CloseAll();

    // The track time a session has now (tests, traces); empty for an unknown session.
    std::optional<std::int64_t> PositionUs(const std::string& id) const;

  private:
    struct Session {
        bool open = false;  // its pipe session is open (not Closed by its status)
        bool playing = false;
        std::optional<int> infoType;   // PlaybackInfo's type
        std::optional<int> mediaType;  // MediaProperties' type
        bool video = false;
        std::vector<std::string> artists;
        std::string title;
        // The track time: anchorUs at anchorMs, advancing while playing; 0 endUs: unknown end.
        std::int64_t anchorUs = 0;
        std::uint64_t anchorMs = 0;
        std::int64_t endUs = 0;
        bool timelineKnown = false;
    };

    std::int64_t PositionAt(const Session& s, std::uint64_t nowMs) const;
    void Open(const std::string& id);
    void SendMetadata(const std::string& id, Session& s);
    void SendPosition(const std::string& id, const Session& s, std::uint64_t nowMs);
    // After anything that may have sent records: schedules a resend when the pipe was away.
    void CheckStep();
    // Sets when the shown session's track time is next due.
    void Reschedule(std::uint64_t nowMs);

    Clock& clock_;
    NowPlayingTranslator translator_;
    SessionTable table_;
    std::map<std::string, Session> sessions_;
    std::string current_;
    std::uint64_t lastTickMs_ = 0;
    bool ticked_ = false;
    std::optional<std::uint64_t> nextTickMs_;
    // The delays between resends while the pipe is away: 250 ms doubling to 4 s.
    RetryBackoff backoff_{250, 4000};
    std::optional<std::uint64_t> resendAtMs_;
};

}  // namespace zelk
