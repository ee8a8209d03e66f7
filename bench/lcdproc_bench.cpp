// LCDproc servers under one client load, side by side: widget_set commands per second for a
// client that waits for each `success`, for one client and for eight clients that keep up to
// 1024 commands outstanding, and the time from a `widget_set` until its text is on the display
// (as the server's display output reports it).
//
// Each side is a server this program starts on a free port, with an observer of its display:
// LCDd (Debian's `lcdproc` package) with its `text` driver at 12x2, whose frames are read from
// its standard output; the service on the virtual panel in this process, with its LCDproc
// server on a free port, whose panel reports are watched as the panel receives them (`--ours
// 0` leaves it out); or any running server (--connect HOST:PORT), without an observer. With
// two sides or more the numbers of the others are given as ratios to the first. `--transport
// 1` adds this tree's line server with a handler that only answers, in this process: the
// transport's own ceiling.
//
//   lcdproc_bench [--lcdd PATH|none] [--ours 0|1] [--transport 1] [--connect HOST:PORT]
//                 [--seconds S] [--samples N] [--clients N] [--window N]
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_rig.h"
#include "service/net/line_server.h"

namespace {

using Clock = std::chrono::steady_clock;

// What a display shows, as its server's output tells it; latency probes wait on it.
class DisplayWatch {
  public:
    // Arms the watch for `text`; Shown waits for it.
    void Expect(const std::string& text) {
        std::lock_guard<std::mutex> guard(lock_);
        expected_ = text;
        seen_.reset();
        armed_.store(true);
    }
    // Whether a probe waits for its text (an observer may skip Publish otherwise).
    bool Armed() const { return armed_.load(std::memory_order_relaxed); }
    // One full picture of the display, taken at `at`.
    void Publish(const std::vector<std::string>& lines, Clock::time_point at) {
        std::lock_guard<std::mutex> guard(lock_);
        if (expected_.empty() || seen_) return;
        for (const std::string& line : lines) {
            if (line.find(expected_) != std::string::npos) {
                seen_ = at;
                armed_.store(false);
                changed_.notify_all();
                return;
            }
        }
    }
    std::optional<Clock::time_point> Shown(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> guard(lock_);
        changed_.wait_for(guard, timeout, [&] { return seen_.has_value(); });
        return seen_;
    }

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::string expected_;
    std::optional<Clock::time_point> seen_;
    std::atomic<bool> armed_{false};
};

// One server under test.
class Side {
  public:
    virtual ~Side() = default;
    virtual std::string Name() const = 0;
    // Starts the server; true once it takes connections.
    virtual bool Start(std::string& error) = 0;
    virtual std::string Host() const { return "127.0.0.1"; }
    virtual std::uint16_t Port() const = 0;
    // Null when the side's display cannot be watched.
    virtual DisplayWatch* Watch() { return nullptr; }
};

std::uint16_t FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    close(fd);
    return ntohs(a.sin_port);
}

int ConnectTo(const std::string& host, std::uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, host.c_str(), &a.sin_addr);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

bool WaitForListener(const std::string& host, std::uint16_t port) {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
        const int fd = ConnectTo(host, port);
        if (fd >= 0) {
            close(fd);
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// A server program started by the benchmark; every line of its standard output goes to
// `onLine` with the time it was read.
class ChildServer : public Side {
  public:
    ~ChildServer() override {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (reader_.joinable()) reader_.join();
    }
    std::uint16_t Port() const override { return port_; }

  protected:
    bool Spawn(const std::vector<std::string>& argv, std::string& error) {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) return false;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], 1);
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 2);
            std::vector<char*> args;
            for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            execvp(args[0], args.data());
            _exit(127);
        }
        close(out[1]);
        if (pid_ < 0) {
            close(out[0]);
            error = "fork failed";
            return false;
        }
        reader_ = std::thread([this, fd = out[0]] {
            std::string pending;
            char chunk[4096];
            ssize_t n;
            while ((n = read(fd, chunk, sizeof chunk)) > 0) {
                const Clock::time_point at = Clock::now();
                pending.append(chunk, static_cast<std::size_t>(n));
                std::size_t end;
                while ((end = pending.find('\n')) != std::string::npos) {
                    OnLine(pending.substr(0, end), at);
                    pending.erase(0, end + 1);
                }
            }
            close(fd);
        });
        if (!WaitForListener(Host(), port_)) {
            error = "the server does not listen on port " + std::to_string(port_);
            return false;
        }
        return true;
    }
    virtual void OnLine(const std::string& line, Clock::time_point at) = 0;

    std::uint16_t port_ = FreePort();
    pid_t pid_ = -1;
    std::thread reader_;
};

// LCDd in the foreground with its text driver, 12x2, from a configuration file of its own.
// The driver prints each new frame as a box: "+------------+", "|line 1      |", ... Its
// standard output is made unbuffered (stdbuf), so a frame is read as it is drawn.
class LcddSide : public ChildServer {
  public:
    explicit LcddSide(std::string program) : program_(std::move(program)) {}
    ~LcddSide() override {
        if (!dir_.empty()) {
            std::remove((dir_ + "/LCDd.conf").c_str());
            rmdir(dir_.c_str());
        }
    }
    std::string Name() const override { return "LCDd (text)"; }
    DisplayWatch* Watch() override { return &watch_; }
    bool Start(std::string& error) override {
        char dir[] = "/tmp/lcdproc-bench-XXXXXX";
        if (mkdtemp(dir) == nullptr) return false;
        dir_ = dir;
        const std::string config = dir_ + "/LCDd.conf";
        std::ofstream(config) << "[server]\n"
                                 "DriverPath=/usr/lib/x86_64-linux-gnu/lcdproc/\n"
                                 "Driver=text\n"
                                 "Bind=127.0.0.1\n"
                                 "Port="
                              << port_
                              << "\n"
                                 "ReportToSyslog=no\n"
                                 "Foreground=yes\n"
                                 "ServerScreen=no\n"
                                 "[text]\n"
                                 "Size=12x2\n";
        return Spawn({"stdbuf", "-o0", program_, "-f", "-c", config}, error);
    }

  private:
    void OnLine(const std::string& line, Clock::time_point at) override {
        if (line.empty() || line[0] != '|') {
            rows_.clear();
            return;
        }
        rows_.push_back(line);
        if (rows_.size() == 2) watch_.Publish(rows_, at);
    }

    std::string program_;
    std::string dir_;
    DisplayWatch watch_;
    std::vector<std::string> rows_;
};

// The line server of this tree with a handler that only answers (the connect line to `hello`,
// `success` to anything else): what the transport alone takes. No display.
class TransportSide : public Side, private zelk::LineHandler {
  public:
    TransportSide() : server_(*this, Options()) {}
    std::string Name() const override { return "line server only"; }
    std::uint16_t Port() const override { return server_.Port(); }
    bool Start(std::string& error) override {
        if (!server_.Open()) {
            error = server_.FailureText();
            return false;
        }
        server_.Start();
        return true;
    }

  private:
    static zelk::LineServerOptions Options() {
        zelk::LineServerOptions o;
        o.addresses = {"127.0.0.1"};
        o.port = 0;
        return o;
    }
    void OnConnect(zelk::LineClientId) override {}
    void OnLine(zelk::LineClientId client, std::string_view line) override {
        server_.Send(client, line == "hello" ? "connect LCDproc 0.0 protocol 0.3 lcd wid 12 hgt 2 "
                                               "cellwid 5 cellhgt 8"
                                             : "success");
    }
    void OnDisconnect(zelk::LineClientId) override {}

    zelk::LineServer server_;
};

// The service on the virtual panel in this process, its LCDproc server on a free loopback
// port. The panel's picture after each report it receives is what the display shows: a text
// is on the display once the character report that completes it has arrived.
class ServiceSide : public Side {
  public:
    std::string Name() const override { return "ours (service)"; }
    std::uint16_t Port() const override { return port_; }
    DisplayWatch* Watch() override { return &watch_; }
    bool Start(std::string& error) override {
        zelk::LcdServerConfig config;
        config.enabled = true;
        config.addresses = {"127.0.0.1"};
        config.port = 0;
        rig_ = std::make_unique<zelk::BenchService>(config);
        port_ = rig_->service->LcdPort();
        if (port_ == 0) {
            error = "the service's LCDproc server does not listen";
            return false;
        }
        rig_->bus.SetObserver([this](std::size_t, const std::vector<std::uint8_t>&,
                                     const zelk::PanelPicture& picture) {
            if (!watch_.Armed()) return;
            const Clock::time_point at = Clock::now();
            watch_.Publish({picture.Line(0, 12), picture.Line(1, 12)}, at);
        });
        return true;
    }

  private:
    DisplayWatch watch_;
    std::unique_ptr<zelk::BenchService> rig_;
    std::uint16_t port_ = 0;
};

// A server that is already running; its display is not watched.
class RunningSide : public Side {
  public:
    RunningSide(std::string host, std::uint16_t port) : host_(std::move(host)), port_(port) {}
    std::string Name() const override { return host_ + ":" + std::to_string(port_); }
    std::string Host() const override { return host_; }
    std::uint16_t Port() const override { return port_; }
    bool Start(std::string& error) override {
        if (WaitForListener(host_, port_)) return true;
        error = "nobody listens";
        return false;
    }

  private:
    std::string host_;
    std::uint16_t port_;
};

// One protocol client on a blocking socket.
class Client {
  public:
    ~Client() {
        if (fd_ >= 0) close(fd_);
    }
    // Connects, says hello and makes screen `screen` with one string widget `w`.
    bool Open(const Side& side, const std::string& screen, const char* priority) {
        fd_ = ConnectTo(side.Host(), side.Port());
        if (fd_ < 0) return false;
        if (!Send("hello\n") || ReadLine().rfind("connect", 0) != 0) return false;
        for (const std::string& c :
             {"client_set -name " + screen, "screen_add " + screen,
              "screen_set " + screen + " -priority " + priority,
              "screen_set " + screen + " -heartbeat off", "widget_add " + screen + " w string"}) {
            if (!Send(c + "\n") || !Reply()) return false;
        }
        return true;
    }
    bool Send(const std::string& text) {
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = send(fd_, text.data() + done, text.size() - done, MSG_NOSIGNAL);
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }
    // The next reply to a command ("success" or "huh? ..."), passing over the server's own
    // messages (listen, ignore, key...); true for success.
    bool Reply() {
        for (;;) {
            const std::string line = ReadLine();
            if (line == "success") return true;
            if (line.empty() || line.rfind("huh?", 0) == 0) return false;
        }
    }
    std::string ReadLine() {
        for (;;) {
            const std::size_t end = in_.find('\n', start_);
            if (end != std::string::npos) {
                std::string line = in_.substr(start_, end - start_);
                start_ = end + 1;
                return line;
            }
            in_.erase(0, start_);
            start_ = 0;
            char chunk[65536];
            const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0) return {};
            in_.append(chunk, static_cast<std::size_t>(n));
        }
    }

  private:
    int fd_ = -1;
    std::string in_;
    std::size_t start_ = 0;
};

std::string SetCommand(const std::string& screen, long n) {
    return "widget_set " + screen + " w 1 1 \"N" + std::to_string(n % 1000000) + "\"\n";
}

// Commands per second of one client that waits for each reply.
double WaitingRate(const Side& side, double seconds) {
    Client c;
    if (!c.Open(side, "bw", "foreground")) return -1;
    long done = 0;
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        if (!c.Send(SetCommand("bw", done)) || !c.Reply()) return -1;
        ++done;
    }
    return done / std::chrono::duration<double>(Clock::now() - start).count();
}

// Commands per second of `clients` clients that each keep up to `window` commands outstanding.
double PipelinedRate(const Side& side, double seconds, int clients, long window) {
    std::vector<std::unique_ptr<Client>> open;
    for (int i = 0; i < clients; ++i) {
        open.push_back(std::make_unique<Client>());
        if (!open.back()->Open(side, "bp" + std::to_string(i), "foreground")) return -1;
    }
    std::atomic<long> total{0};
    std::atomic<bool> failed{false};
    const long batch = std::max(1L, window / 16);
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i) {
        threads.emplace_back([&, i] {
            Client& c = *open[static_cast<std::size_t>(i)];
            const std::string screen = "bp" + std::to_string(i);
            long outstanding = 0, sent = 0, replies = 0;
            std::string text;
            for (;;) {
                const bool sending = Clock::now() < end;
                if (sending && outstanding + batch <= window) {
                    text.clear();
                    for (long k = 0; k < batch; ++k) text += SetCommand(screen, sent++);
                    if (!c.Send(text)) break;
                    outstanding += batch;
                    continue;
                }
                if (outstanding == 0) break;
                const std::string line = c.ReadLine();
                if (line.empty()) {
                    failed = true;
                    break;
                }
                if (line == "success" || line.rfind("huh?", 0) == 0) {
                    --outstanding;
                    if (line == "success") ++replies;
                }
            }
            total += replies;
        });
    }
    for (auto& t : threads) t.join();
    if (failed) return -1;
    return total.load() / std::chrono::duration<double>(Clock::now() - start).count();
}

// Milliseconds from sending a widget_set to its text on the display, one probe at a time, at
// random moments (so the probes do not lock onto a server's frame loop). Sorted.
std::vector<double> Latencies(Side& side, int samples) {
    std::vector<double> ms;
    DisplayWatch* watch = side.Watch();
    if (watch == nullptr) return ms;
    Client c;
    if (!c.Open(side, "bl", "foreground")) return ms;
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> pause(0, 150);
    for (int i = 0; i < samples; ++i) {
        char text[16];
        std::snprintf(text, sizeof text, "L%05d", i);
        watch->Expect(text);
        const auto sent = Clock::now();
        if (!c.Send("widget_set bl w 1 1 \"" + std::string(text) + "\"\n") || !c.Reply()) break;
        const auto seen = watch->Shown(std::chrono::seconds(5));
        if (!seen) break;
        ms.push_back(std::chrono::duration<double, std::milli>(*seen - sent).count());
        std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
    }
    std::sort(ms.begin(), ms.end());
    return ms;
}

struct Numbers {
    double waiting = -1, one = -1, many = -1, median = -1, p90 = -1;
};

const char* OptionText(int argc, char** argv, const char* name, const char* fallback) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0) return argv[i + 1];
    }
    return fallback;
}

// One figure of every side, then each other side's figure divided by the first's; with a
// target, whether that ratio meets it (`atLeast`: at least the target, else at most).
void Row(const char* label, const std::vector<Numbers>& all, double Numbers::*field,
         const char* unit, double target = 0, bool atLeast = true) {
    std::printf("%-28s", label);
    for (const Numbers& n : all) {
        if (n.*field < 0) {
            std::printf(" %18s", "-");
        } else {
            std::printf(" %12.1f %-5s", n.*field, unit);
        }
    }
    for (std::size_t i = 1; i < all.size(); ++i) {
        const double a = all[0].*field, b = all[i].*field;
        if (a <= 0 || b < 0) continue;
        const double ratio = b / a;
        std::printf("  %.3g", ratio);
        if (target > 0) {
            std::printf(" (target %s%g: %s)", atLeast ? ">=" : "<=", target,
                        (atLeast ? ratio >= target : ratio <= target) ? "met" : "MISSED");
        }
    }
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    const double seconds = std::atof(OptionText(argc, argv, "--seconds", "3"));
    const int samples = std::atoi(OptionText(argc, argv, "--samples", "40"));
    const int clients = std::atoi(OptionText(argc, argv, "--clients", "8"));
    const long window = std::atol(OptionText(argc, argv, "--window", "1024"));

    std::vector<std::unique_ptr<Side>> sides;
    const std::string lcdd = OptionText(argc, argv, "--lcdd", "LCDd");
    if (lcdd != "none") sides.push_back(std::make_unique<LcddSide>(lcdd));
    if (std::strcmp(OptionText(argc, argv, "--ours", "1"), "0") != 0) {
        sides.push_back(std::make_unique<ServiceSide>());
    }
    if (OptionText(argc, argv, "--transport", nullptr) != nullptr) {
        sides.push_back(std::make_unique<TransportSide>());
    }
    const std::string running = OptionText(argc, argv, "--connect", "");
    if (const std::size_t colon = running.rfind(':'); colon != std::string::npos) {
        sides.push_back(std::make_unique<RunningSide>(
            running.substr(0, colon),
            static_cast<std::uint16_t>(std::atoi(running.c_str() + colon + 1))));
    }
    if (sides.empty()) {
        std::fprintf(stderr, "lcdproc_bench: no server to measure\n");
        return 2;
    }

    std::vector<Numbers> all;
    std::printf("%-28s", "");
    for (auto& side : sides) {
        std::string error;
        Numbers n;
        if (!side->Start(error)) {
            std::fprintf(stderr, "lcdproc_bench: %s: %s\n", side->Name().c_str(), error.c_str());
        } else {
            const std::vector<double> ms = Latencies(*side, samples);
            if (!ms.empty()) {
                n.median = ms[ms.size() / 2];
                n.p90 = ms[std::min(ms.size() - 1, ms.size() * 9 / 10)];
            }
            n.waiting = WaitingRate(*side, seconds);
            n.one = PipelinedRate(*side, seconds, 1, window);
            n.many = PipelinedRate(*side, seconds, clients, window);
        }
        all.push_back(n);
        std::printf(" %18s", side->Name().c_str());
    }
    std::printf("%s\n", sides.size() > 1 ? "  (others / first)" : "");
    const std::string many = std::to_string(clients) + " pipelining clients";
    // The targets hold for a second side against LCDd as the first.
    const bool targets = lcdd != "none";
    Row("waiting client", all, &Numbers::waiting, "cmd/s", targets ? 100 : 0);
    Row("1 pipelining client", all, &Numbers::one, "cmd/s", targets ? 1 : 0);
    Row(many.c_str(), all, &Numbers::many, "cmd/s", targets ? 1 : 0);
    Row("latency to display, median", all, &Numbers::median, "ms", targets ? 0.1 : 0, false);
    Row("latency to display, p90", all, &Numbers::p90, "ms");
    std::printf("(%g s per load, window %ld, %d latency samples)\n", seconds, window, samples);
    return 0;
}
