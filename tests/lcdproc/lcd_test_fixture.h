// A protocol on a fake link and a fake clock, with helpers that speak for a client.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <utility>
#include <string>
#include <string_view>
#include <vector>

#include "service/lcdproc/lcd_protocol.h"
#include "tests/lcdproc/fake_line_link.h"
#include "tests/support/fake_clock.h"

namespace zelk::test {

using Picture = std::array<std::string, kLcdHeight>;

class LcdFixture : public ::testing::Test {
  protected:
    explicit LcdFixture(LcdProtocolOptions options = DefaultOptions())
        : lcd(
              link, clock, [this] { ++changes; }, std::move(options)) {}

    static LcdProtocolOptions DefaultOptions() {
        LcdProtocolOptions options;
        options.serverVersion = "1.2.3";
        return options;
    }

    // Sends one line as `client` and returns every line the client got for it.
    std::vector<std::string> Say(LineClientId client, std::string_view line) {
        lcd.OnLine(client, line);
        return link.Take(client);
    }
    // The reply to one command (the first line the client got); the notices that followed it
    // are kept for Notices.
    std::string Reply(LineClientId client, std::string_view line) {
        const auto lines = Say(client, line);
        if (lines.empty()) return "<nothing>";
        auto& kept = notices[client];
        kept.insert(kept.end(), lines.begin() + 1, lines.end());
        return lines.front();
    }
    // The notices (listen, ignore) sent to `client` since the last call.
    std::vector<std::string> Notices(LineClientId client) {
        auto kept = std::exchange(notices[client], {});
        const auto lines = link.Take(client);
        kept.insert(kept.end(), lines.begin(), lines.end());
        return kept;
    }
    // Connects and greets `client`, then runs `lines`, each of which must succeed.
    void Session(LineClientId client, std::initializer_list<std::string_view> lines) {
        lcd.OnConnect(client);
        Say(client, "hello");
        Run(client, lines);
    }
    void Run(LineClientId client, std::initializer_list<std::string_view> lines) {
        for (std::string_view line : lines) {
            ASSERT_EQ(Reply(client, line), "success") << line;
        }
    }
    Picture Drawn() { return lcd.View().lines; }

    FakeClock clock;
    FakeLineLink link;
    int changes = 0;
    std::map<LineClientId, std::vector<std::string>> notices;
    LcdProtocol lcd;
};

}  // namespace zelk::test
