// lumara-mpris: follows the MPRIS media players on the session bus and writes their state to
// the panel's pipe, one session per player. Runs in the foreground (a systemd --user unit).
#include <signal.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-daemon.h>
#include <systemd/sd-event.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/long_options.h"
#include "common/now_playing.h"
#include "common/pipe_client.h"
#include "common/pipe_message.h"
#include "common/retry_backoff.h"
#include "service/core/version.h"
#include "tools/mpris/mpris_metadata.h"

namespace zelk {
namespace {

constexpr char kPlayerPrefix[] = "org.mpris.MediaPlayer2.";
constexpr char kObjectPath[] = "/org/mpris/MediaPlayer2";
constexpr char kPlayerInterface[] = "org.mpris.MediaPlayer2.Player";
constexpr char kProperties[] = "org.freedesktop.DBus.Properties";
constexpr std::uint64_t kTickUs = 1000000;  // the position of a playing player, once a second
// Tries whether the service is back: a second after it went away, then each wait twice as long,
// at most five seconds apart.
constexpr std::uint64_t kAwayFirstRetryMs = 1000;
constexpr std::uint64_t kAwayRetryCapMs = 5000;

const char* Usage() {
    return "Usage: lumara-mpris [--pipe NAME]\n"
           "Follows the media players on the session bus (MPRIS) and shows what they play on the\n"
           "front panel, through the panel service's pipe.\n"
           "\n"
           "  --pipe NAME   the pipe's name (default ZELK_FRONTPANEL_PIPE)\n"
           "  --help        show this help and exit\n"
           "  --version     show the version and exit\n";
}

struct Daemon {
    sd_bus* bus = nullptr;
    sd_event* event = nullptr;
    std::string pipe = kPipeName;
    // While the service is away, whether it is back is tried less and less often, and each
    // try is one connect (no waiting out a refusal).
    RetryBackoff away{kAwayFirstRetryMs, kAwayRetryCapMs};
    bool probing = false;
    NowPlayingTranslator bridge{
        [this](std::int32_t session, std::int32_t tag, const std::string& text) {
            const PipeMessage m = MakePipeMessage(session, tag, text.c_str(), text.size());
            const std::uint32_t refusedRetryMs = probing ? 0 : kPipeRefusedRetryMs;
            probing = false;
            return SendPipeRecord(pipe, m, refusedRetryMs) != kErrorFileNotFound;
        }};
    // Each connection that owns MPRIS names: the names, and the player it belongs to. A player
    // is a process, whatever number of names or connections it owns (VLC owns two names on two
    // connections), so that it has one session.
    struct Connection {
        std::string player;
        std::set<std::string> names;
    };
    std::map<std::string, Connection> connections;  // by unique name

    // The player behind a connection, or nothing when it owns no MPRIS name.
    const std::string* PlayerOf(const char* sender) const {
        const auto it = sender != nullptr ? connections.find(sender) : connections.end();
        return it != connections.end() ? &it->second.player : nullptr;
    }
    // A connection of `player`, to ask it for its properties.
    const std::string* ConnectionOf(const std::string& player) const {
        for (const auto& [unique, connection] : connections) {
            if (connection.player == player) return &unique;
        }
        return nullptr;
    }
};

// Reads a{sv} metadata into `update`.
int ReadMetadata(sd_bus_message* m, NowPlayingUpdate& update) {
    update.hasMetadata = true;
    int r = sd_bus_message_enter_container(m, 'a', "{sv}");
    if (r < 0) return r;
    while ((r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
        const char* key = nullptr;
        const char* contents = nullptr;
        if ((r = sd_bus_message_read(m, "s", &key)) < 0) return r;
        if ((r = sd_bus_message_peek_type(m, nullptr, &contents)) < 0) return r;
        if ((r = sd_bus_message_enter_container(m, 'v', contents)) < 0) return r;
        const std::string k = key;
        if (std::strcmp(contents, "s") == 0) {
            const char* value = nullptr;
            if ((r = sd_bus_message_read(m, "s", &value)) < 0) return r;
            if (k == "xesam:title") update.title = value;
            if (MetadataMarksVideo(k, value)) update.video = true;
        } else if (std::strcmp(contents, "as") == 0) {
            char** values = nullptr;
            if ((r = sd_bus_message_read_strv(m, &values)) < 0) return r;
            for (char** v = values; v != nullptr && *v != nullptr; ++v) {
                if (k == "xesam:artist") update.artists.emplace_back(*v);
                free(*v);
            }
            free(values);
        } else if ((r = sd_bus_message_skip(m, contents)) < 0) {
            return r;
        }
        if ((r = sd_bus_message_exit_container(m)) < 0) return r;  // variant
        if ((r = sd_bus_message_exit_container(m)) < 0) return r;  // entry
    }
    if (r < 0) return r;
    return sd_bus_message_exit_container(m);
}

// Reads a{sv} of the player interface's properties.
int ReadProperties(sd_bus_message* m, NowPlayingUpdate& update) {
    int r = sd_bus_message_enter_container(m, 'a', "{sv}");
    if (r < 0) return r;
    while ((r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
        const char* name = nullptr;
        if ((r = sd_bus_message_read(m, "s", &name)) < 0) return r;
        const std::string n = name;
        if (n == "PlaybackStatus" || n == "LoopStatus") {
            const char* value = nullptr;
            if ((r = sd_bus_message_read(m, "v", "s", &value)) < 0) return r;
            const std::string v = value;
            if (n == "PlaybackStatus") {
                update.playback = v == "Playing"  ? PlaybackState::kPlaying
                                  : v == "Paused" ? PlaybackState::kPaused
                                                  : PlaybackState::kStopped;
            } else {
                update.repeat = v == "Track"      ? RepeatMode::kTrack
                                : v == "Playlist" ? RepeatMode::kList
                                                  : RepeatMode::kNone;
            }
        } else if (n == "Position") {
            std::int64_t value = 0;
            if ((r = sd_bus_message_read(m, "v", "x", &value)) < 0) return r;
            update.positionUs = value;
        } else if (n == "Metadata") {
            if ((r = sd_bus_message_enter_container(m, 'v', "a{sv}")) < 0) return r;
            if ((r = ReadMetadata(m, update)) < 0) return r;
            if ((r = sd_bus_message_exit_container(m)) < 0) return r;
        } else if ((r = sd_bus_message_skip(m, "v")) < 0) {
            return r;
        }
        if ((r = sd_bus_message_exit_container(m)) < 0) return r;
    }
    if (r < 0) return r;
    return sd_bus_message_exit_container(m);
}

int OnGetAll(sd_bus_message* reply, void* data, sd_bus_error*) {
    auto* d = static_cast<Daemon*>(data);
    if (sd_bus_message_is_method_error(reply, nullptr)) return 0;
    NowPlayingUpdate update;
    const std::string* player = d->PlayerOf(sd_bus_message_get_sender(reply));
    if (player != nullptr && ReadProperties(reply, update) >= 0) {
        d->bridge.Update(*player, update);
    }
    return 0;
}

void AskAll(Daemon& d, const std::string& owner) {
    sd_bus_call_method_async(d.bus, nullptr, owner.c_str(), kObjectPath, kProperties, "GetAll",
                             OnGetAll, &d, "s", kPlayerInterface);
}

// The process behind a connection names its player; the connection's own name where the bus
// does not say.
std::string PlayerIdOf(Daemon& d, const std::string& owner) {
    sd_bus_message* reply = nullptr;
    std::uint32_t pid = 0;
    int r = sd_bus_call_method(d.bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                               "org.freedesktop.DBus", "GetConnectionUnixProcessID", nullptr,
                               &reply, "s", owner.c_str());
    if (r >= 0) r = sd_bus_message_read(reply, "u", &pid);
    sd_bus_message_unref(reply);
    return r >= 0 && pid != 0 ? "process " + std::to_string(pid) : owner;
}

void NameGained(Daemon& d, const std::string& owner, const std::string& name) {
    const auto [it, added] = d.connections.try_emplace(owner);
    it->second.names.insert(name);
    if (added) {
        it->second.player = PlayerIdOf(d, owner);
        d.bridge.Appeared(it->second.player);  // nothing when the process is a player already
        AskAll(d, owner);
    }
}

void NameLost(Daemon& d, const std::string& owner, const std::string& name) {
    const auto it = d.connections.find(owner);
    if (it == d.connections.end()) return;
    it->second.names.erase(name);
    if (!it->second.names.empty()) return;
    const std::string player = it->second.player;
    d.connections.erase(it);
    if (d.ConnectionOf(player) == nullptr) d.bridge.Vanished(player);
}

int OnNameOwnerChanged(sd_bus_message* m, void* data, sd_bus_error*) {
    auto* d = static_cast<Daemon*>(data);
    const char* name = nullptr;
    const char* oldOwner = nullptr;
    const char* newOwner = nullptr;
    if (sd_bus_message_read(m, "sss", &name, &oldOwner, &newOwner) < 0) return 0;
    if (std::strncmp(name, kPlayerPrefix, std::strlen(kPlayerPrefix)) != 0) return 0;
    if (*oldOwner != '\0') NameLost(*d, oldOwner, name);
    if (*newOwner != '\0') NameGained(*d, newOwner, name);
    return 0;
}

int OnPropertiesChanged(sd_bus_message* m, void* data, sd_bus_error*) {
    auto* d = static_cast<Daemon*>(data);
    const char* interface = nullptr;
    if (sd_bus_message_read(m, "s", &interface) < 0 ||
        std::strcmp(interface, kPlayerInterface) != 0) {
        return 0;
    }
    const std::string* player = d->PlayerOf(sd_bus_message_get_sender(m));
    NowPlayingUpdate update;
    if (player == nullptr || ReadProperties(m, update) < 0) return 0;
    const std::string sender = sd_bus_message_get_sender(m);
    d->bridge.Update(*player, update);
    // Properties named only as invalidated are read again.
    char** invalidated = nullptr;
    if (sd_bus_message_read_strv(m, &invalidated) >= 0 && invalidated != nullptr) {
        if (invalidated[0] != nullptr) AskAll(*d, sender);
        for (char** i = invalidated; *i != nullptr; ++i) free(*i);
        free(invalidated);
    }
    return 0;
}

int OnSeeked(sd_bus_message* m, void* data, sd_bus_error*) {
    auto* d = static_cast<Daemon*>(data);
    std::int64_t position = 0;
    const std::string* player = d->PlayerOf(sd_bus_message_get_sender(m));
    if (player != nullptr && sd_bus_message_read(m, "x", &position) >= 0) {
        d->bridge.Position(*player, position);
    }
    return 0;
}

int OnPosition(sd_bus_message* reply, void* data, sd_bus_error*) {
    auto* d = static_cast<Daemon*>(data);
    std::int64_t position = 0;
    const std::string* player = d->PlayerOf(sd_bus_message_get_sender(reply));
    if (player != nullptr && !sd_bus_message_is_method_error(reply, nullptr) &&
        sd_bus_message_read(reply, "v", "x", &position) >= 0) {
        d->bridge.Position(*player, position);
    }
    return 0;
}

int OnTick(sd_event_source* source, std::uint64_t usec, void* data) {
    auto* d = static_cast<Daemon*>(data);
    const std::uint64_t nowMs = usec / 1000;
    if (!d->bridge.InStep() && d->away.Due(nowMs)) {
        d->probing = true;
        d->bridge.Resync();
        d->probing = false;
        if (d->bridge.InStep()) {
            d->away.Succeeded();
        } else {
            d->away.Failed(nowMs);
        }
    }
    const auto shown = d->bridge.PlayingShown();
    if (const std::string* connection = shown ? d->ConnectionOf(*shown) : nullptr) {
        sd_bus_call_method_async(d->bus, nullptr, connection->c_str(), kObjectPath, kProperties,
                                 "Get", OnPosition, d, "ss", kPlayerInterface, "Position");
    }
    sd_event_source_set_time(source, usec + kTickUs);
    sd_event_source_set_enabled(source, SD_EVENT_ON);  // time sources fire once otherwise
    return 0;
}

int OnStopSignal(sd_event_source*, const signalfd_siginfo*, void* data) {
    auto* d = static_cast<Daemon*>(data);
    sd_notify(0, "STOPPING=1");
    d->bridge.CloseAll();
    sd_event_exit(d->event, 0);
    return 0;
}

int Fail(const char* what, int r) {
    std::fprintf(stderr, "lumara-mpris: %s: %s\n", what, std::strerror(-r));
    return 1;
}

int Main(int argc, char** argv) {
    Daemon d;
    std::string optionError;
    switch (LongOptions().Value("--pipe", d.pipe).Parse({argv + 1, argv + argc}, optionError)) {
        case LongOptions::Outcome::kHelp:
            std::fputs(Usage(), stdout);
            return 0;
        case LongOptions::Outcome::kVersion:
            std::printf("lumara-mpris %s\n", ProductVersion());
            return 0;
        case LongOptions::Outcome::kError:
            std::fprintf(stderr, "lumara-mpris: %s (see lumara-mpris --help)\n",
                         optionError.c_str());
            return 2;
        case LongOptions::Outcome::kRun:
            break;
    }

    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    sigprocmask(SIG_BLOCK, &stop, nullptr);

    int r = sd_event_default(&d.event);
    if (r < 0) return Fail("cannot make an event loop", r);
    if ((r = sd_bus_open_user(&d.bus)) < 0) return Fail("no session bus", r);
    if ((r = sd_bus_attach_event(d.bus, d.event, 0)) < 0) return Fail("session bus", r);

    const char* rules[][2] = {
        {"type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
         "member='NameOwnerChanged',arg0namespace='org.mpris.MediaPlayer2'",
         "names"},
        {"type='signal',interface='org.freedesktop.DBus.Properties',member='PropertiesChanged',"
         "path='/org/mpris/MediaPlayer2',arg0='org.mpris.MediaPlayer2.Player'",
         "properties"},
        {"type='signal',interface='org.mpris.MediaPlayer2.Player',member='Seeked',"
         "path='/org/mpris/MediaPlayer2'",
         "seeks"},
    };
    sd_bus_message_handler_t handlers[] = {OnNameOwnerChanged, OnPropertiesChanged, OnSeeked};
    for (int i = 0; i < 3; ++i) {
        if ((r = sd_bus_add_match(d.bus, nullptr, rules[i][0], handlers[i], &d)) < 0) {
            return Fail("cannot follow the players", r);
        }
    }

    // The players already there.
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    r = sd_bus_call_method(d.bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                           "org.freedesktop.DBus", "ListNames", &error, &reply, "");
    if (r < 0) return Fail("cannot list the bus names", r);
    char** names = nullptr;
    if (sd_bus_message_read_strv(reply, &names) >= 0 && names != nullptr) {
        for (char** n = names; *n != nullptr; ++n) {
            if (std::strncmp(*n, kPlayerPrefix, std::strlen(kPlayerPrefix)) == 0) {
                const char* owner = nullptr;
                sd_bus_message* ownerReply = nullptr;
                if (sd_bus_call_method(d.bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                       "org.freedesktop.DBus", "GetNameOwner", nullptr, &ownerReply,
                                       "s", *n) >= 0 &&
                    sd_bus_message_read(ownerReply, "s", &owner) >= 0) {
                    NameGained(d, owner, *n);
                }
                sd_bus_message_unref(ownerReply);
            }
            free(*n);
        }
        free(names);
    }
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);

    std::uint64_t now = 0;
    sd_event_now(d.event, CLOCK_MONOTONIC, &now);
    sd_event_add_time(d.event, nullptr, CLOCK_MONOTONIC, now + kTickUs, 0, OnTick, &d);
    sd_event_add_signal(d.event, nullptr, SIGTERM, OnStopSignal, &d);
    sd_event_add_signal(d.event, nullptr, SIGINT, OnStopSignal, &d);

    sd_notify(0, "READY=1");
    r = sd_event_loop(d.event);
    sd_bus_flush_close_unref(d.bus);
    sd_event_unref(d.event);
    return r < 0 ? 1 : 0;
}

}  // namespace
}  // namespace zelk

int main(int argc, char** argv) {
    return zelk::Main(argc, argv);
}
