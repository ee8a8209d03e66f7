// Turns what media sources report ("now playing": MPRIS players, the system media sessions) into
// the panel pipe's records, as the status sink does for the media center: one session per
// source, and the full media state of the source shown.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zelk {

enum class PlaybackState { kStopped, kPaused, kPlaying };
enum class RepeatMode { kNone, kTrack, kList };

// What a source reported; unset fields did not change. Texts are UTF-8.
// Every field has a default, so that a designated initializer names only what it sets.
struct NowPlayingUpdate {
    std::optional<PlaybackState> playback = std::nullopt;
    std::optional<RepeatMode> repeat = std::nullopt;
    bool hasMetadata = false;  // the fields below replace the old metadata
    std::vector<std::string> artists = {};
    std::string title = {};
    bool video = false;  // video -> streamed video mode, else streamed audio
    std::optional<std::int64_t> positionUs = std::nullopt;
};

class NowPlayingTranslator {
  public:
    // `send(session, tag, pipeText)` writes one record; false when nobody serves the pipe.
    using Sender = std::function<bool(std::int32_t, std::int32_t, const std::string&)>;
    // Which source is shown: the one that most recently started playing (MPRIS), or the one
    // the system names current (Windows media session), set with SetCurrent.
    enum class ShownRule { kLastStartedPlaying, kCurrent };
    explicit NowPlayingTranslator(Sender send, ShownRule rule = ShownRule::kLastStartedPlaying)
        : send_(std::move(send)), rule_(rule) {}

    // `id` names a source for its whole life.
    void Appeared(const std::string& id);
    void Vanished(const std::string& id);
    void Update(const std::string& id, const NowPlayingUpdate& update);
    // A position alone (after a seek, or read while playing).
    void Position(const std::string& id, std::int64_t positionUs);
    // The source the system names current (kCurrent only; "" = none is current). It may name a
    // source that has not appeared yet: it is shown once it does.
    void SetCurrent(const std::string& id);

    // The source shown, when it is playing (its position is read once a second).
    std::optional<std::string> PlayingShown() const;
    // After records were lost because nobody served the pipe: sends every open session and the
    // shown source's state again. Does nothing while in step.
    void Resync();
    bool InStep() const { return inStep_; }
    // Closes every session (the program is ending).
    void CloseAll();

  private:
    struct Source {
        std::int32_t session = 0;
        PlaybackState playback = PlaybackState::kStopped;
        RepeatMode repeat = RepeatMode::kNone;
        std::vector<std::string> artists;
        std::string title;
        bool video = false;
        std::int64_t positionUs = 0;
        std::uint64_t startedAt = 0;  // when it last began playing (0: never)
        std::uint64_t appearedAt = 0;
    };

    void Send(std::int32_t session, std::int32_t tag, const std::string& text);
    // Sends the shown source's fields whose value differs from what was last sent.
    void SendShown(bool everything);
    void ChooseShown();

    Sender send_;
    ShownRule rule_;
    std::map<std::string, Source> sources_;
    std::string shown_;
    std::string current_;                       // kCurrent: what the system names current
    std::map<std::int32_t, std::string> sent_;  // tag -> last text sent for the shown source
    std::int32_t nextSession_ = 1;
    std::uint64_t order_ = 0;
    bool inStep_ = true;
};

}  // namespace zelk
