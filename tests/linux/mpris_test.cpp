// lumara-mpris under a private session bus (ctest runs this program in dbus-run-session):
// test players that this test drives step by step, lumara-sim serving the pipe, and each
// step's panel picture replayed from lumara-sim's report log.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "common/pipe_message.h"
#include "common/pipe_client.h"
#include "service/panel/virtual_panel.h"
#include "tests/linux/process_rig.h"

namespace zelk {
namespace {

// A test player process; each command waits for its "ok".
class TestPlayer {
  public:
    TestPlayer(const ScratchDir& dir, const std::string& name)
        : out_((dir / (name + ".out")).string()),
          process_({MPRIS_TEST_PLAYER_PATH}, (dir / (name + ".err")).string(), {}, true, out_) {}
    bool Do(const std::string& command) {
        ++commands_;
        if (!process_.WriteLine(command)) return false;
        return WaitUntil([&] { return Answers() >= commands_; }, std::chrono::seconds(10)) &&
               ReadFileText(out_).find("failed") == std::string::npos;
    }
    int Quit() {
        process_.WriteLine("quit");
        return process_.Wait();
    }

  private:
    int Answers() const {
        const std::string text = ReadFileText(out_);
        return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
    }
    std::string out_;
    ChildProcess process_;
    int commands_ = 0;
};

// The panel as lumara-sim's report log leaves it.
PanelPicture Replay(const std::filesystem::path& log) {
    VirtualPanelBus bus{VirtualDeviceConfig{}};
    auto device = bus.Open(bus.EnumerateInterfaces().front());
    std::istringstream lines(ReadFileText(log));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream bytes(line);
        std::vector<std::uint8_t> report;
        unsigned value = 0;
        while (bytes >> std::hex >> value) report.push_back(static_cast<std::uint8_t>(value));
        if (!report.empty()) device->Write(report.data(), report.size());
    }
    return bus.Picture();
}

struct Screen {
    std::string line0, line1;
    std::uint8_t media, status;
};

std::string Describe(const PanelPicture& p) {
    char icons[64];
    std::snprintf(icons, sizeof icons, " media %02x status %02x", p.mediaIcons, p.statusIcons);
    std::string text(1, '[');
    text.append(p.Line(0, 16)).append("][").append(p.Line(1, 16)).append("]").append(icons);
    return text;
}

TEST(LumaraMpris, PlayersStepByStepOnThePanel) {
    ASSERT_NE(std::getenv("DBUS_SESSION_BUS_ADDRESS"), nullptr) << "run under dbus-run-session";
    ScratchDir dir("mpris");
    // Sixteen columns, so that "Artist - Café" is shown whole rather than scrolled.
    std::ofstream(dir / "props.xml")
        << "<DisplayProperties><Display><VID>1F3C</VID><PID>5A41</PID>"
           "<DisplayRows>2</DisplayRows><DisplayColumns>16</DisplayColumns></Display>"
           "</DisplayProperties>\n";
    const std::string pipe = "LUMARA_MPRIS_TEST_" + std::to_string(getpid());
    const std::filesystem::path log = dir / "reports.txt";
    ChildProcess sim({LUMARA_SIM_PATH, "--quiet", "--props", (dir / "props.xml").string(), "--pipe",
                      pipe, "--report-log", log.string()},
                     (dir / "sim.err").string(), {}, true);
    ASSERT_TRUE(WaitUntil([&] {
        const PipeMessage nothing = MakePipeMessage(0, 0, "", 0);
        return SendPipeRecord(pipe, nothing) == 0;
    }));

    auto expect = [&](const char* step, const Screen& s) {
        SCOPED_TRACE(step);
        EXPECT_TRUE(WaitUntil(
            [&] {
                const PanelPicture p = Replay(log);
                return p.Line(0, 16) == s.line0 && p.Line(1, 16) == s.line1 &&
                       p.mediaIcons == s.media && p.statusIcons == s.status;
            },
            std::chrono::seconds(10)))
            << Describe(Replay(log));
    };
    // The clock when nothing plays: hours and minutes on the first line, all icons dark.
    auto expectClock = [&](const char* step) {
        SCOPED_TRACE(step);
        EXPECT_TRUE(WaitUntil([&] {
            const PanelPicture p = Replay(log);
            const std::string line0 = p.Line(0, 16);
            return line0[2] == ':' && std::isdigit(static_cast<unsigned char>(line0[0])) &&
                   p.mediaIcons == 0 && p.statusIcons == 0;
        })) << Describe(Replay(log));
    };

    TestPlayer music(dir, "music");
    ASSERT_TRUE(music.Do("meta Artist|Caf\xC3\xA9|file:///music/cafe.flac"));
    ASSERT_TRUE(music.Do("position 75"));
    ASSERT_TRUE(music.Do("appear music"));
    ChildProcess mpris({LUMARA_MPRIS_PATH, "--pipe", pipe}, (dir / "mpris.err").string());
    expectClock("a stopped player");

    const std::string audioLine = "Artist - Caf\x82   ";  // code page 850 e acute
    ASSERT_TRUE(music.Do("status Playing"));
    expect("plays", {audioLine, "01:15           ", 0x10, 0x01});
    ASSERT_TRUE(music.Do("status Paused"));
    expect("pauses", {audioLine, "01:15           ", 0x10, 0x02});
    ASSERT_TRUE(music.Do("seek 200"));
    expect("seeks while paused", {audioLine, "03:20           ", 0x10, 0x02});
    ASSERT_TRUE(music.Do("loop Playlist"));
    expect("repeats", {audioLine, "03:20           ", 0x10, 0x82});
    ASSERT_TRUE(music.Do("status Playing"));
    ASSERT_TRUE(music.Do("position 201"));
    expect("plays on: the position read once a second",
           {audioLine, "03:21           ", 0x10, 0x81});

    // A second player that starts playing is shown; when it quits, the first comes back.
    TestPlayer film(dir, "film");
    ASSERT_TRUE(film.Do("meta Director|Film|file:///videos/film.mkv"));
    ASSERT_TRUE(film.Do("position 3725"));
    ASSERT_TRUE(film.Do("appear film"));
    ASSERT_TRUE(film.Do("status Paused"));
    expect("a second player paused changes nothing", {audioLine, "03:21           ", 0x10, 0x81});
    ASSERT_TRUE(film.Do("status Playing"));
    expect("the video plays", {"Film            ", "01:02:05        ", 0x00, 0x01});
    // lumara-sim's picture of it.
    const std::filesystem::path svg = dir / "film.svg";
    sim.WriteLine("snapshot " + svg.string());
    EXPECT_TRUE(WaitUntil([&] { return ReadFileText(svg).find("</svg>") != std::string::npos; }));
    const std::string picture = ReadFileText(svg);
    EXPECT_NE(picture.find(">F</tspan>"), std::string::npos);
    EXPECT_NE(picture.find("class=\"icon lit\"><rect"), std::string::npos) << "play is lit";
    EXPECT_EQ(picture.find("class=\"icon lit\"><rect"), picture.rfind("class=\"icon lit\"><rect"))
        << "and nothing else";
    EXPECT_EQ(film.Quit(), 0);
    ASSERT_TRUE(music.Do("position 202"));
    expect("the video player quit", {audioLine, "03:22           ", 0x10, 0x81});

    ASSERT_TRUE(music.Do("status Stopped"));
    expectClock("stops");
    EXPECT_EQ(music.Quit(), 0);

    // One process that owns two names on two connections (as VLC does) is one player: once it
    // stops, nothing of it stays on the panel.
    TestPlayer twice(dir, "twice");
    ASSERT_TRUE(twice.Do("meta Band|Song|file:///music/song.ogg"));
    ASSERT_TRUE(twice.Do("appear twice"));
    ASSERT_TRUE(twice.Do("appear-also twice.instance1"));
    ASSERT_TRUE(twice.Do("status Playing"));
    ASSERT_TRUE(twice.Do("loop Track"));
    expect("a player on two connections", {"Band - Song     ", "00:00           ", 0x10, 0x81});
    ASSERT_TRUE(twice.Do("status Stopped"));
    expectClock("it stops");
    EXPECT_EQ(twice.Quit(), 0);
    mpris.Signal(SIGTERM);
    EXPECT_EQ(mpris.Wait(), 0);
    sim.WriteLine("stop");
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_EQ(ReadFileText(dir / "mpris.err"), "");
}

}  // namespace
}  // namespace zelk
