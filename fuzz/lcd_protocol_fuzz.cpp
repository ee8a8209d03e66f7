// The LCDproc line parser and protocol state: every line of the input goes to a client as the
// transport would hand it over. Lines starting with '@' steer the run instead:
//   @<n> <line>   the line comes from client n (1-4); others come from client 1
//   @+<ms>        the clock moves on      @v   the picture is taken (and checked)
//   @d<n>         client n goes and comes back      @m1 / @m0   media plays / stops
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "service/lcdproc/lcd_protocol.h"
#include "tests/support/fake_clock.h"

namespace {

class DropLink final : public zelk::LineLink {
  public:
    void Send(zelk::LineClientId, std::string_view line) override {
        // A notice or reply is always one line.
        if (line.find('\n') != std::string_view::npos) std::abort();
    }
    void Close(zelk::LineClientId) override {}
};

void Check(const zelk::LcdView& view, std::uint64_t now) {
    if (view.source == zelk::LcdSource::kClient) {
        for (const std::string& line : view.lines) {
            if (line.size() != static_cast<std::size_t>(zelk::kLcdWidth)) std::abort();
        }
    }
    if (view.nextChangeMs && *view.nextChangeMs <= now) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace zelk;
    test::FakeClock clock;
    DropLink link;
    LcdProtocolOptions options;
    options.maxScreensPerClient = 8;
    options.maxWidgetsPerScreen = 16;
    LcdProtocol lcd(
        link, clock, [] {}, options);
    for (LineClientId id = 1; id <= 4; ++id) lcd.OnConnect(id);
    for (const std::string& piece : fuzz::Pieces(data, size, '\n')) {
        std::string_view line = piece;
        LineClientId client = 1;
        if (!line.empty() && line[0] == '@') {
            line.remove_prefix(1);
            const char what = line.empty() ? 'v' : line[0];
            if (what >= '1' && what <= '4') {
                client = static_cast<LineClientId>(what - '0');
                line.remove_prefix(line.size() > 1 ? 2 : 1);
            } else {
                if (what == '+') {
                    clock.Advance(std::strtoull(piece.c_str() + 2, nullptr, 10) % 100000);
                } else if (what == 'd' && line.size() > 1 && line[1] >= '1' && line[1] <= '4') {
                    lcd.OnDisconnect(static_cast<LineClientId>(line[1] - '0'));
                    lcd.OnConnect(static_cast<LineClientId>(line[1] - '0'));
                } else if (what == 'm') {
                    lcd.SetMediaPlaying(line.size() > 1 && line[1] == '1');
                }
                Check(lcd.View(), clock.NowMs());
                continue;
            }
        }
        lcd.OnLine(client, line);
    }
    Check(lcd.View(), clock.NowMs());
    return 0;
}
