// A stand-in for logind on the bus that DBUS_SYSTEM_BUS_ADDRESS names, for the tests. It owns
// org.freedesktop.login1, hands out delay locks (Inhibit) and does what its standard input
// says, answering each line on standard output:
//   sleep 1|0      PrepareForSleep(true|false)
//   shutdown 1|0   PrepareForShutdown(true|false)
//   locks          "locks N": how many handed-out locks are still held
//   asked          "asked N": how many locks were asked for
// With --refuse-locks it refuses every lock the way logind does without polkit.
#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr char kPath[] = "/org/freedesktop/login1";
constexpr char kManager[] = "org.freedesktop.login1.Manager";

sd_bus* bus = nullptr;
sd_event* event = nullptr;
std::vector<int> lockEnds;  // our read ends; a lock is held while its write end is open
std::string input;
bool refuseLocks = false;
int asked = 0;

int Inhibit(sd_bus_message* call, void*, sd_bus_error* error) {
    const char *what, *who, *why, *mode;
    int r = sd_bus_message_read(call, "ssss", &what, &who, &why, &mode);
    if (r < 0) return r;
    ++asked;
    if (refuseLocks) return sd_bus_error_set(error, SD_BUS_ERROR_ACCESS_DENIED, "Access denied");
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return -errno;
    lockEnds.push_back(ends[0]);
    r = sd_bus_reply_method_return(call, "h", ends[1]);
    close(ends[1]);
    return r;
}

int HeldLocks() {
    int held = 0;
    for (int fd : lockEnds) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 0) == 0) ++held;  // no hang-up: the holder still has it
    }
    return held;
}

const sd_bus_vtable kTable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Inhibit", "ssss", "h", Inhibit, 0),
    SD_BUS_SIGNAL("PrepareForSleep", "b", 0),
    SD_BUS_SIGNAL("PrepareForShutdown", "b", 0),
    SD_BUS_VTABLE_END,
};

std::string Run(const std::string& line) {
    if (line == "locks") return "locks " + std::to_string(HeldLocks());
    if (line == "asked") return "asked " + std::to_string(asked);
    const bool sleep = line.rfind("sleep ", 0) == 0;
    if (sleep || line.rfind("shutdown ", 0) == 0) {
        const int start = line.back() == '1' ? 1 : 0;
        const int r = sd_bus_emit_signal(
            bus, kPath, kManager, sleep ? "PrepareForSleep" : "PrepareForShutdown", "b", start);
        sd_bus_flush(bus);
        return r >= 0 ? "ok " + line : "failed " + line;
    }
    return "failed " + line;
}

int OnInput(sd_event_source*, int fd, std::uint32_t, void*) {
    char buffer[256];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) {
        sd_event_exit(event, 0);
        return 0;
    }
    input.append(buffer, static_cast<std::size_t>(n));
    for (std::size_t end; (end = input.find('\n')) != std::string::npos;) {
        const std::string line = input.substr(0, end);
        input.erase(0, end + 1);
        std::printf("%s\n", Run(line).c_str());
        std::fflush(stdout);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    refuseLocks = argc > 1 && std::string(argv[1]) == "--refuse-locks";
    if (sd_event_default(&event) < 0 || sd_bus_open_system(&bus) < 0 ||
        sd_bus_attach_event(bus, event, 0) < 0 ||
        sd_bus_add_object_vtable(bus, nullptr, kPath, kManager, kTable, nullptr) < 0 ||
        sd_bus_request_name(bus, "org.freedesktop.login1", 0) < 0 ||
        sd_event_add_io(event, nullptr, 0, EPOLLIN, OnInput, nullptr) < 0) {
        std::fprintf(stderr, "logind_test_stub: no bus\n");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    sd_event_loop(event);
    sd_bus_flush_close_unref(bus);
    return 0;
}
