// A media player for the tests: serves MPRIS on the session bus and does what its standard
// input says, one command a line, answering "ok" on standard output when done:
//   appear NAME                   take org.mpris.MediaPlayer2.NAME
//   appear-also NAME              a second connection of this process serves the player too
//                                 and takes org.mpris.MediaPlayer2.NAME (as VLC does)
//   meta ARTIST|TITLE|URL          new metadata (changed signal)
//   status Playing|Paused|Stopped  (changed signal)
//   loop None|Track|Playlist       (changed signal)
//   position SECONDS               the position moves on, without a signal (as playing does)
//   seek SECONDS                   a jump: the Seeked signal
//   quit                           leave the bus and end
#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char kPath[] = "/org/mpris/MediaPlayer2";
constexpr char kPlayer[] = "org.mpris.MediaPlayer2.Player";

struct Player {
    sd_bus* bus = nullptr;
    std::vector<sd_bus*> buses;  // every connection that serves the player, `bus` first
    sd_event* event = nullptr;
    std::string status = "Stopped";
    std::string loop = "None";
    std::string artist, title, url;
    std::int64_t positionUs = 0;
    std::string input;
};

Player player;

int GetString(sd_bus*, const char*, const char*, const char* property, sd_bus_message* reply, void*,
              sd_bus_error*) {
    const std::string name = property;
    const std::string& value = name == "PlaybackStatus" ? player.status
                               : name == "LoopStatus"   ? player.loop
                                                        : player.artist;  // Identity: unused
    return sd_bus_message_append(reply, "s", name == "Identity" ? "Test player" : value.c_str());
}

int GetPosition(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*,
                sd_bus_error*) {
    return sd_bus_message_append(reply, "x", player.positionUs);
}

int GetMetadata(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*,
                sd_bus_error*) {
    int r = sd_bus_message_open_container(reply, 'a', "{sv}");
    if (r >= 0) {
        r = sd_bus_message_append(reply, "{sv}{sv}{sv}{sv}", "mpris:trackid", "o",
                                  "/org/test/track/1", "xesam:title", "s", player.title.c_str(),
                                  "xesam:artist", "as", 1, player.artist.c_str(), "xesam:url", "s",
                                  player.url.c_str());
    }
    if (r >= 0) r = sd_bus_message_close_container(reply);
    return r;
}

int GetTrue(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*,
            sd_bus_error*) {
    return sd_bus_message_append(reply, "b", 1);
}

const sd_bus_vtable kRootTable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("Identity", "s", GetString, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_VTABLE_END,
};

const sd_bus_vtable kPlayerTable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("PlaybackStatus", "s", GetString, 0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
    SD_BUS_PROPERTY("LoopStatus", "s", GetString, 0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
    SD_BUS_PROPERTY("Metadata", "a{sv}", GetMetadata, 0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
    SD_BUS_PROPERTY("Position", "x", GetPosition, 0, 0),
    SD_BUS_PROPERTY("CanPlay", "b", GetTrue, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_SIGNAL("Seeked", "x", 0),
    SD_BUS_VTABLE_END,
};

// Serves the player's objects on `bus`.
bool Serve(sd_bus* bus) {
    return sd_bus_attach_event(bus, player.event, 0) >= 0 &&
           sd_bus_add_object_vtable(bus, nullptr, kPath, "org.mpris.MediaPlayer2", kRootTable,
                                    nullptr) >= 0 &&
           sd_bus_add_object_vtable(bus, nullptr, kPath, kPlayer, kPlayerTable, nullptr) >= 0;
}

// Emits on every connection, as a player does from each object it serves.
int Changed(const char* property) {
    int r = 0;
    for (sd_bus* bus : player.buses) {
        if (r >= 0) r = sd_bus_emit_properties_changed(bus, kPath, kPlayer, property, nullptr);
    }
    return r;
}

bool Run(const std::string& line) {
    const std::size_t space = line.find(' ');
    const std::string command = line.substr(0, space);
    const std::string arg = space == std::string::npos ? "" : line.substr(space + 1);
    int r = 0;
    if (command == "appear") {
        r = sd_bus_request_name(player.bus, ("org.mpris.MediaPlayer2." + arg).c_str(), 0);
    } else if (command == "appear-also") {
        sd_bus* second = nullptr;
        r = sd_bus_open_user(&second);
        if (r < 0) return false;
        player.buses.push_back(second);
        if (!Serve(second)) return false;
        r = sd_bus_request_name(second, ("org.mpris.MediaPlayer2." + arg).c_str(), 0);
    } else if (command == "meta") {
        const std::size_t a = arg.find('|');
        const std::size_t b = arg.find('|', a == std::string::npos ? a : a + 1);
        if (a == std::string::npos || b == std::string::npos) return false;
        player.artist = arg.substr(0, a);
        player.title = arg.substr(a + 1, b - a - 1);
        player.url = arg.substr(b + 1);
        r = Changed("Metadata");
    } else if (command == "status") {
        player.status = arg;
        r = Changed("PlaybackStatus");
    } else if (command == "loop") {
        player.loop = arg;
        r = Changed("LoopStatus");
    } else if (command == "position" || command == "seek") {
        player.positionUs = std::atoll(arg.c_str()) * 1000000;
        if (command == "seek") {
            for (sd_bus* bus : player.buses) {
                if (r >= 0)
                    r = sd_bus_emit_signal(bus, kPath, kPlayer, "Seeked", "x", player.positionUs);
            }
        }
    } else if (command == "quit") {
        for (sd_bus* bus : player.buses) sd_bus_flush(bus);
        sd_event_exit(player.event, 0);
    } else {
        return false;
    }
    for (sd_bus* bus : player.buses) {
        if (r >= 0) sd_bus_flush(bus);
    }
    return r >= 0;
}

int OnInput(sd_event_source*, int fd, std::uint32_t, void*) {
    char buffer[512];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) {
        sd_event_exit(player.event, 0);
        return 0;
    }
    player.input.append(buffer, static_cast<std::size_t>(n));
    for (std::size_t end; (end = player.input.find('\n')) != std::string::npos;) {
        const std::string line = player.input.substr(0, end);
        player.input.erase(0, end + 1);
        std::printf("%s %s\n", Run(line) ? "ok" : "failed", line.c_str());
        std::fflush(stdout);
    }
    return 0;
}

}  // namespace

int main() {
    const bool ready = sd_event_default(&player.event) >= 0 && sd_bus_open_user(&player.bus) >= 0;
    if (ready) player.buses.push_back(player.bus);
    if (!ready || !Serve(player.bus) ||
        sd_event_add_io(player.event, nullptr, 0, EPOLLIN, OnInput, nullptr) < 0) {
        std::fprintf(stderr, "mpris_test_player: no session bus\n");
        return 1;
    }
    sd_event_loop(player.event);
    for (sd_bus* bus : player.buses) sd_bus_flush_close_unref(bus);
    return 0;
}
