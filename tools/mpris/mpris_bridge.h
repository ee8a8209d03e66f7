// Turns the state of MPRIS media players into the panel pipe's records, as the status sink
// does for the media center: one session per player, and the full media state of the player
// shown, which is the one that most recently started playing.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zelk {

// What a player reported; unset fields did not change.
struct PlayerUpdate {
    std::optional<std::string> playbackStatus;  // "Playing", "Paused" or "Stopped"
    std::optional<std::string> loopStatus;      // "None", "Track" or "Playlist"
    bool hasMetadata = false;                   // the fields below replace the old metadata
    std::vector<std::string> artists;
    std::string title;
    bool video = false;
    std::optional<std::int64_t> positionUs;
};

// Whether a player's metadata marks its track as video: a media type entry (a key ending in
// "mediatype" or "type") naming video, a movie, an episode or a music video, or a URL whose
// file name has a video extension.
bool MetadataMarksVideo(const std::string& key, const std::string& value);

// UTF-8 to the pipe's ANSI code page (1252); a character it lacks becomes '?'.
std::string ToPipeText(const std::string& utf8);

class MprisBridge {
  public:
    // `send(session, tag, text)` writes one record; false when nobody serves the pipe.
    using Sender = std::function<bool(std::int32_t, std::int32_t, const std::string&)>;
    explicit MprisBridge(Sender send) : send_(std::move(send)) {}

    // `id` names a player for its whole life on the bus (its unique bus name).
    void Appeared(const std::string& id);
    void Vanished(const std::string& id);
    void Update(const std::string& id, const PlayerUpdate& update);
    // A position from the Seeked signal or the Position property.
    void Position(const std::string& id, std::int64_t positionUs);

    // The player shown, when it is playing (its position is read once a second).
    std::optional<std::string> PlayingShown() const;
    // After records were lost because nobody served the pipe: sends every open session and the
    // shown player's state again. Does nothing while in step.
    void Resync();
    bool InStep() const { return inStep_; }
    // Closes every session (the daemon is ending).
    void CloseAll();

  private:
    struct Player {
        std::int32_t session = 0;
        std::string status = "Stopped";
        std::string loop = "None";
        std::vector<std::string> artists;
        std::string title;
        bool video = false;
        std::int64_t positionUs = 0;
        std::uint64_t startedAt = 0;  // when it last began playing (0: never)
        std::uint64_t appearedAt = 0;
    };

    void Send(std::int32_t session, std::int32_t tag, const std::string& text);
    // Sends the shown player's fields whose value differs from what was last sent.
    void SendShown(bool everything);
    void ChooseShown();
    static std::string TimeText(std::int64_t positionUs);

    Sender send_;
    std::map<std::string, Player> players_;
    std::string shown_;
    std::map<std::int32_t, std::string> sent_;  // tag -> last text sent for the shown player
    std::int32_t nextSession_ = 1;
    std::uint64_t order_ = 0;
    bool inStep_ = true;
};

}  // namespace zelk
