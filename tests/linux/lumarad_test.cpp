// lumarad as a program: on a prepared hidraw tree whose node is a FIFO, with a notify socket
// like systemd's. The program under test is the build's, or $LUMARAD_PROGRAM (the packaged
// one).
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "common/media_status_tags.h"
#include "common/pipe_message.h"
#include "common/pipe_client.h"
#include "service/core/version.h"
#include "tests/linux/hidraw_tree.h"
#include "tests/linux/process_rig.h"
#include "tests/net/test_client.h"

namespace zelk {
namespace {

std::string Program() {
    const char* override = std::getenv("LUMARAD_PROGRAM");
    return override != nullptr && *override != '\0' ? override : LUMARAD_PATH;
}

// The service manager's end of sd_notify: a datagram socket at a path.
class NotifySocket {
  public:
    explicit NotifySocket(const std::filesystem::path& path) : path_(path.string()) {
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
        bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }
    ~NotifySocket() { close(fd_); }
    std::string Env() const { return "NOTIFY_SOCKET=" + path_; }
    // Every notification received within `limit`, until one contains `wanted`.
    bool WaitFor(const std::string& wanted, std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            if (received_.find(wanted) != std::string::npos) return true;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            pollfd fd{fd_, POLLIN, 0};
            if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) continue;
            char buffer[512];
            const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
            if (n > 0) received_ += std::string(buffer, static_cast<std::size_t>(n)) + "\n";
        }
    }
    const std::string& Received() const { return received_; }
    void Forget() { received_.clear(); }
    std::size_t Count(const std::string& text) const {
        std::size_t count = 0;
        for (std::size_t at = 0; (at = received_.find(text, at)) != std::string::npos; ++at) {
            ++count;
        }
        return count;
    }

  private:
    std::string path_;
    int fd_ = -1;
    std::string received_;
};

void WriteProps(const std::filesystem::path& path) {
    std::ofstream(path) << "<DisplayProperties><Display><VID>1F3C</VID><PID>5A41</PID>"
                           "<DisplayRows>2</DisplayRows><DisplayColumns>12</DisplayColumns>"
                           "</Display></DisplayProperties>\n";
}

std::vector<std::string> DaemonArgs(const ScratchDir& dir, const HidrawTree& tree,
                                    const std::string& pipe) {
    return {Program(),       "--props",   (dir / "props.xml").string(),
            "--pipe",        pipe,        "--hidraw-class",
            tree.ClassDir(), "--dev-dir", tree.DevDir(),
            "--no-lcdproc"};
}

// A loopback port that was free a moment ago.
std::uint16_t FreePort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
    close(s);
    return ntohs(a.sin_port);
}

std::string UniquePipe(const char* what) {
    return std::string("LUMARAD_TEST_") + what + "_" + std::to_string(getpid());
}

std::uint32_t Send(const std::string& pipe, std::int32_t tag, const char* text) {
    return SendPipeRecord(pipe, MakePipeMessage(1, tag, text, std::strlen(text)));
}

TEST(Lumarad, DrawsRecordsThenStopsOnSigtermWithTheStoppingScreen) {
    ScratchDir dir("lumarad");
    WriteProps(dir / "props.xml");
    HidrawTree tree(dir.Path(), true);
    NotifySocket notify(dir / "notify");
    const std::string pipe = UniquePipe("draw");
    // The LCDproc server on a free port of 127.0.0.1.
    std::vector<std::string> args = DaemonArgs(dir, tree, pipe);
    args.pop_back();
    const std::uint16_t port = FreePort();
    for (const char* arg : {"--lcdproc-port", "", "--lcdproc-address", "127.0.0.1"}) {
        args.push_back(*arg != '\0' ? arg : std::to_string(port));
    }
    // The unit asks for a watchdog ping every 0.4 seconds.
    ChildProcess daemon(args, (dir / "stderr").string(), {notify.Env(), "WATCHDOG_USEC=400000"});
    ASSERT_TRUE(daemon.Started());

    ASSERT_TRUE(notify.WaitFor("READY=1", std::chrono::seconds(30))) << notify.Received();
    EXPECT_TRUE(notify.WaitFor("WATCHDOG=1", std::chrono::seconds(5)));
    // READY means the pipe is served: the first record is taken at once.
    ASSERT_EQ(Send(pipe, kTagSessionOpened, ""), 0u);
    for (const auto& [tag, text] :
         std::vector<std::pair<std::int32_t, const char*>>{{MSPROPTAG_CD, "True"},
                                                           {MSPROPTAG_TrackName, "Blue Train"},
                                                           {MSPROPTAG_Play, "True"},
                                                           {MSPROPTAG_TrackTime, "75"}}) {
        ASSERT_EQ(Send(pipe, tag, text), 0u);
    }
    EXPECT_TRUE(WaitUntil([&] {
        const PanelPicture p = tree.Picture();
        return p.Line(0, 12) == "Blue Train  " && p.Line(1, 12) == "01:15       " &&
               p.mediaIcons == 0x08 && (p.statusIcons & 0x0F) == 0x01;
    })) << tree.Picture().Line(0, 12)
        << "|" << tree.Picture().Line(1, 12);

    // An LCDproc client's alert screen takes the panel from the media screen.
    TestClient client;
    ASSERT_TRUE(client.Connect(port));
    for (const char* command : {"hello", "screen_add s", "screen_set s -priority alert",
                                "widget_add s w string", "widget_set s w 1 1 {from a client}"}) {
        client.Write(std::string(command) + "\n");
        std::string reply = client.ReadLine();
        while (reply.rfind("listen ", 0) == 0) reply = client.ReadLine();
        EXPECT_TRUE(reply == "success" || reply.rfind("connect LCDproc ", 0) == 0) << reply;
    }
    EXPECT_TRUE(WaitUntil([&] { return tree.Picture().Line(0, 12) == "from a clien"; },
                          std::chrono::seconds(20)))
        << tree.Picture().Line(0, 12);
    client.Disconnect();

    daemon.Signal(SIGTERM);
    EXPECT_EQ(daemon.Wait(), 0);
    EXPECT_TRUE(notify.WaitFor("STOPPING=1", std::chrono::seconds(1)));
    const PanelPicture last = tree.Picture();
    EXPECT_EQ(last.Line(0, 12), "Service     ");
    EXPECT_EQ(last.Line(1, 12), "stopping... ");
    EXPECT_EQ(last.displayControl, 2);
    const std::string log = ReadFileText(dir / "stderr");
    EXPECT_NE(log.find("lumarad: Tarsel Front Panel Manager Service started. (event 0x40000001)"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("lumarad: Tarsel Front Panel Manager Service stopped. (event 0x40000004)"),
              std::string::npos);
    EXPECT_NE(log.find("Pipe client: pid " + std::to_string(getpid()) + ", uid "),
              std::string::npos);
    EXPECT_NE(log.find("suspend, resume and shutdown are not followed"), std::string::npos);
}

// The logind stand-in on the test's private bus, one answer line per command.
class LogindStub {
  public:
    explicit LogindStub(const ScratchDir& dir, const std::vector<std::string>& options = {})
        : out_((dir / "logind.out").string()),
          process_(Argv(options), (dir / "logind.err").string(), {}, true, out_) {}
    bool Ready() {
        return WaitUntil([&] { return ReadFileText(out_).rfind("ready\n", 0) == 0; });
    }
    // The command's answer.
    std::string Do(const std::string& command) {
        process_.WriteLine(command);
        ++answers_;
        std::string last;
        WaitUntil([&] {
            const std::string text = ReadFileText(out_);
            if (std::count(text.begin(), text.end(), '\n') < answers_ + 1) return false;
            const std::size_t end = text.rfind('\n', text.size() - 2);
            last = text.substr(end + 1, text.size() - end - 2);
            return true;
        });
        return last;
    }

  private:
    static std::vector<std::string> Argv(const std::vector<std::string>& options) {
        std::vector<std::string> argv = {LOGIND_STUB_PATH};
        argv.insert(argv.end(), options.begin(), options.end());
        return argv;
    }
    std::string out_;
    ChildProcess process_;
    int answers_ = 0;
};

TEST(Lumarad, FollowsLogindSleepResumeAndShutdownHoldingADelayLock) {
    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (bus == nullptr) GTEST_SKIP() << "needs a private bus: run under dbus-run-session";
    ScratchDir dir("lumarad-logind");
    WriteProps(dir / "props.xml");
    HidrawTree tree(dir.Path(), true);
    NotifySocket notify(dir / "notify");
    // The test's bus stands in for the system bus, with a stub in logind's place.
    const std::string systemBus = std::string("DBUS_SYSTEM_BUS_ADDRESS=") + bus;
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", bus, 1);
    LogindStub logind(dir);
    ASSERT_TRUE(logind.Ready());
    const std::string pipe = UniquePipe("logind");
    ChildProcess daemon(DaemonArgs(dir, tree, pipe), (dir / "stderr").string(),
                        {notify.Env(), systemBus, "WATCHDOG_USEC=400000"});
    ASSERT_TRUE(notify.WaitFor("READY=1", std::chrono::seconds(30))) << notify.Received();
    EXPECT_TRUE(WaitUntil([&] { return logind.Do("locks") == "locks 1"; }));
    for (const auto& [tag, text] :
         std::vector<std::pair<std::int32_t, const char*>>{{kTagSessionOpened, ""},
                                                           {MSPROPTAG_CD, "True"},
                                                           {MSPROPTAG_TrackName, "Blue Train"},
                                                           {MSPROPTAG_Play, "True"},
                                                           {MSPROPTAG_TrackTime, "75"}}) {
        ASSERT_EQ(Send(pipe, tag, text), 0u);
    }
    // A null first line is not looked at.
    auto shows = [&](const char* line0, const char* line1, int control) {
        return WaitUntil([&] {
            const PanelPicture p = tree.Picture();
            return (line0 == nullptr || p.Line(0, 12) == line0) && p.Line(1, 12) == line1 &&
                   (control < 0 || p.displayControl == control);
        });
    };
    EXPECT_TRUE(shows("Blue Train  ", "01:15       ", -1));

    // Before sleep: the standby screen, then the lock is let go so the machine may sleep.
    EXPECT_EQ(logind.Do("sleep 1"), "ok sleep 1");
    EXPECT_TRUE(shows("Preparing   ", "to standby..", 2)) << tree.Picture().Line(1, 12);
    EXPECT_TRUE(WaitUntil([&] { return logind.Do("locks") == "locks 0"; }));
    // In standby nothing wakes the run loop, which is no reason for a restart.
    notify.WaitFor("(none)", std::chrono::milliseconds(500));
    notify.Forget();
    EXPECT_TRUE(notify.WaitFor("WATCHDOG=1", std::chrono::seconds(2)));
    // After it: the start-up screen, the lock taken again, and the media screen once resumed.
    EXPECT_EQ(logind.Do("sleep 0"), "ok sleep 0");
    // (The start-up screen writes only the second line; it shows for 1.5 seconds.)
    EXPECT_TRUE(shows(nullptr, "Starting Up ", 0));
    EXPECT_TRUE(WaitUntil([&] { return logind.Do("locks") == "locks 1"; }));
    EXPECT_TRUE(shows("Blue Train  ", "01:15       ", -1));

    EXPECT_EQ(logind.Do("shutdown 1"), "ok shutdown 1");
    EXPECT_TRUE(shows("Preparing   ", "shutdown... ", 5));
    EXPECT_TRUE(WaitUntil([&] { return logind.Do("locks") == "locks 0"; }));

    // Stopped as the machine goes down: the shutdown screen stays.
    daemon.Signal(SIGTERM);
    EXPECT_EQ(daemon.Wait(), 0);
    EXPECT_TRUE(notify.WaitFor("STOPPING=1", std::chrono::seconds(1)));
    EXPECT_EQ(tree.Picture().Line(1, 12), "shutdown... ");
    EXPECT_EQ(tree.Picture().displayControl, 5);
    const std::string log = ReadFileText(dir / "stderr");
    EXPECT_NE(log.find("(event 0x40000004)"), std::string::npos) << log;
    EXPECT_EQ(log.find("not followed"), std::string::npos) << log;
    EXPECT_EQ(log.find("delay lock"), std::string::npos) << log;
}

TEST(Lumarad, SaysOnceWhatARefusedDelayLockMeans) {
    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (bus == nullptr) GTEST_SKIP() << "needs a private bus: run under dbus-run-session";
    ScratchDir dir("lumarad-nolock");
    WriteProps(dir / "props.xml");
    HidrawTree tree(dir.Path(), true);
    NotifySocket notify(dir / "notify");
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", bus, 1);
    // As logind does without polkit.
    LogindStub logind(dir, {"--refuse-locks"});
    ASSERT_TRUE(logind.Ready());
    ChildProcess daemon(DaemonArgs(dir, tree, UniquePipe("nolock")), (dir / "stderr").string(),
                        {notify.Env(), std::string("DBUS_SYSTEM_BUS_ADDRESS=") + bus});
    ASSERT_TRUE(notify.WaitFor("READY=1", std::chrono::seconds(30))) << notify.Received();
    // The notices are still followed; after the resume the lock is asked for again, and
    // refused again.
    EXPECT_EQ(logind.Do("sleep 1"), "ok sleep 1");
    EXPECT_TRUE(WaitUntil([&] { return tree.Picture().Line(1, 12) == "to standby.."; }));
    EXPECT_EQ(logind.Do("sleep 0"), "ok sleep 0");
    EXPECT_TRUE(WaitUntil([&] { return logind.Do("asked") == "asked 2"; }));
    daemon.Signal(SIGTERM);
    EXPECT_EQ(daemon.Wait(), 0);
    const std::string log = ReadFileText(dir / "stderr");
    const std::string said =
        "lumarad: logind refused the sleep delay lock (Access denied; is polkit installed?): the "
        "panel will not show the standby screen before sleep\n";
    const std::size_t first = log.find(said);
    EXPECT_NE(first, std::string::npos) << log;
    EXPECT_EQ(log.find(said, first + 1), std::string::npos) << log;
}

// The watchdog is fed while the run loop goes round: held in a redraw (the panel's node full and
// no longer read), the loop is not, and systemd, which the pings stop reaching, restarts it.
TEST(Lumarad, PingsTheWatchdogOnlyWhileTheRunLoopGoesRound) {
    ScratchDir dir("lumarad-watchdog");
    WriteProps(dir / "props.xml");
    HidrawTree tree(dir.Path(), true);
    NotifySocket notify(dir / "notify");
    const std::string pipe = UniquePipe("watchdog");
    // A ping every 0.2 seconds.
    ChildProcess daemon(DaemonArgs(dir, tree, pipe), (dir / "stderr").string(),
                        {notify.Env(), "WATCHDOG_USEC=400000"});
    ASSERT_TRUE(notify.WaitFor("READY=1", std::chrono::seconds(30))) << notify.Received();
    ASSERT_TRUE(notify.WaitFor("WATCHDOG=1", std::chrono::seconds(5)));

    tree.Hold(true);
    ASSERT_EQ(Send(pipe, kTagSessionOpened, ""), 0u);
    int track = 0;
    ASSERT_TRUE(WaitUntil([&] {
        Send(pipe, MSPROPTAG_TrackName, ("Track " + std::to_string(++track)).c_str());
        return tree.Full();
    }));
    // The redraw this one causes cannot finish.
    ASSERT_EQ(Send(pipe, MSPROPTAG_TrackName, "Held"), 0u);
    // Pings sent before the loop stuck may still arrive within a period or two.
    notify.WaitFor("(none)", std::chrono::milliseconds(600));
    notify.Forget();
    EXPECT_FALSE(notify.WaitFor("WATCHDOG=1", std::chrono::milliseconds(1500)))
        << notify.Received();

    tree.Hold(false);
    EXPECT_TRUE(notify.WaitFor("WATCHDOG=1", std::chrono::seconds(5)));
    daemon.Signal(SIGTERM);
    EXPECT_EQ(daemon.Wait(), 0);
    notify.WaitFor("(none)", std::chrono::milliseconds(100));
    EXPECT_EQ(notify.Count("STOPPING=1"), 1u) << notify.Received();
}

TEST(Lumarad, AStartWithoutPanelOrPropertiesLogsItsEventAndFails) {
    struct Case {
        bool panel;
        bool props;
        const char* event;
    };
    for (const Case& c : {Case{false, true, "connected; the service stops. (event 0xC0000013)"},
                          Case{true, false,
                               "could not be read; the service stops. (event "
                               "0xC0000012)"}}) {
        SCOPED_TRACE(c.event);
        ScratchDir dir("lumarad-fail");
        if (c.props) WriteProps(dir / "props.xml");
        HidrawTree tree(dir.Path(), c.panel);
        NotifySocket notify(dir / "notify");
        ChildProcess daemon(DaemonArgs(dir, tree, UniquePipe("fail")), (dir / "stderr").string(),
                            {notify.Env()});
        EXPECT_EQ(daemon.Wait(), 1);
        const std::string log = ReadFileText(dir / "stderr");
        EXPECT_NE(log.find(c.event), std::string::npos) << log;
        EXPECT_FALSE(notify.WaitFor("READY=1", std::chrono::milliseconds(0)));
        EXPECT_EQ(tree.Reports(), 0u) << "the panel was written";
    }
}

TEST(Lumarad, CommandLine) {
    ScratchDir dir("lumarad-options");
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
        const char* err;
    };
    for (const Case& c :
         {Case{{"--version"}, 0, std::string("lumarad ") + ProductVersion() + "\n", ""},
          Case{{"--bogus"}, 2, "", "lumarad: unknown option: --bogus (see lumarad --help)\n"},
          Case{{"--props"},
               2,
               "",
               "lumarad: --props needs a value (see lumarad "
               "--help)\n"}}) {
        std::vector<std::string> argv = {Program()};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        ChildProcess p(argv, (dir / "err").string(), {}, false, (dir / "out").string());
        EXPECT_EQ(p.Wait(), c.status) << c.args[0];
        EXPECT_EQ(ReadFileText(dir / "out"), c.out);
        EXPECT_EQ(ReadFileText(dir / "err"), c.err);
    }
    ChildProcess help({Program(), "--help"}, (dir / "err").string(), {}, false,
                      (dir / "out").string());
    EXPECT_EQ(help.Wait(), 0);
    EXPECT_EQ(ReadFileText(dir / "out").rfind("Usage: lumarad [OPTION]...\n", 0), 0u);
}

}  // namespace
}  // namespace zelk
