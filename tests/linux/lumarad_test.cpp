// lumarad as a program: on a prepared hidraw tree whose node is a FIFO, with a notify socket
// like systemd's. The program under test is the build's, or $LUMARAD_PROGRAM (the packaged
// one).
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>
#include <fstream>

#include "common/media_status_tags.h"
#include "common/pipe_message.h"
#include "service/pipe/pipe_client.h"
#include "tests/linux/hidraw_tree.h"
#include "tests/linux/process_rig.h"

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
            tree.ClassDir(), "--dev-dir", tree.DevDir()};
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
    ChildProcess daemon(DaemonArgs(dir, tree, pipe), (dir / "stderr").string(), {notify.Env()});
    ASSERT_TRUE(daemon.Started());

    ASSERT_TRUE(notify.WaitFor("READY=1", std::chrono::seconds(30))) << notify.Received();
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
        const char* out;
        const char* err;
    };
    for (const Case& c :
         {Case{{"--version"}, 0, "lumarad 1.0.0\n", ""},
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
