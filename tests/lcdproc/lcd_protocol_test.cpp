// The documented replies of each command, HTTP request lines and the bounds.
#include <fstream>
#include <string>
#include <vector>

#include "tests/lcdproc/lcd_test_fixture.h"

namespace zelk::test {
namespace {

using Lines = std::vector<std::string>;

class LcdCommands : public LcdFixture {};

TEST_F(LcdCommands, HelloFirstThenConnectLine) {
    lcd.OnConnect(1);
    EXPECT_EQ(Reply(1, "screen_add s"), "huh? Send hello first");
    EXPECT_EQ(Say(1, "hello"),
              Lines{"connect LCDproc 1.2.3 protocol 0.3 lcd wid 12 hgt 2 cellwid 5 cellhgt 8"});
    EXPECT_EQ(Reply(1, "screen_add s"), "success");
    // Empty lines are no command and get no reply.
    EXPECT_EQ(Say(1, "   "), Lines{});
}

TEST_F(LcdCommands, EveryCommandAnswersSuccessOrHuh) {
    Session(1, {});
    struct Case {
        const char* line;
        const char* reply;  // the whole reply, or its start when it ends in "..."
    };
    const Case cases[] = {
        {"client_set -name Kodi", "success"},
        {"client_set -colour red", "huh? Invalid parameter (-colour)"},
        {"client_set -name", "huh? Usage: client_set -name <name>"},
        {"screen_add s1", "success"},
        {"screen_add s1", "huh? Screen already exists"},
        {"screen_add", "huh? Usage: screen_add <screenid>"},
        {"screen_set s1 -name {My screen} -priority foreground -duration 16 -timeout 0 "
         "-heartbeat off -backlight on -cursor off -cursor_x 1 -cursor_y 2 -wid 12 -hgt 2",
         "success"},
        {"screen_set s1 -priority 128", "success"},
        {"screen_set s1 priority info", "success"},
        {"screen_set s1 -priority urgent", "huh? Invalid value for -priority"},
        {"screen_set s1 -duration 0", "huh? Invalid value for -duration"},
        {"screen_set s1 -backlight dim", "huh? Invalid value for -backlight"},
        {"screen_set s1 -heartbeat", "huh? Missing value for -heartbeat"},
        {"screen_set s1 -colour red", "huh? Invalid parameter (-colour)"},
        {"screen_set s9 -name x", "huh? Unknown screen id"},
        {"widget_add s1 w string", "success"},
        {"widget_add s1 w string", "huh? Widget already exists"},
        {"widget_add s1 x blinkenlights", "huh? Invalid widget type"},
        {"widget_add s9 x string", "huh? Unknown screen id"},
        {"widget_add s1 f frame", "success"},
        {"widget_add s1 inner string -in f", "success"},
        {"widget_add s1 lost string -in w", "huh? Unknown frame id"},
        {"widget_set s1 w 1 1 {Hello}", "success"},
        {"widget_set s1 w 1 1", "huh? Wrong number of arguments"},
        {"widget_set s1 w one 1 x", "huh? Invalid coordinates"},
        {"widget_set s1 nope 1 1 x", "huh? Unknown widget id"},
        {"widget_set s1 f 1 1 12 2 12 4 v 8", "success"},
        {"widget_set s1 f 1 1 12 2 12 4 d 8", "huh? Invalid direction"},
        {"widget_add s1 t title", "success"},
        {"widget_set s1 t Title", "success"},
        {"widget_add s1 sc scroller", "success"},
        {"widget_set s1 sc 1 2 12 2 m 2 {long text here}", "success"},
        {"widget_set s1 sc 1 2 12 2 x 2 text", "huh? Invalid direction"},
        {"widget_set s1 sc 1 2 12 2 h fast text", "huh? Invalid speed"},
        {"widget_add s1 hb hbar", "success"},
        {"widget_set s1 hb 1 2 30", "success"},
        {"widget_add s1 pb pbar", "success"},
        {"widget_set s1 pb 1 2 12 500", "success"},
        {"widget_set s1 pb 1 2 12 500 [ ] extra", "huh? Wrong number of arguments"},
        {"widget_add s1 ic icon", "success"},
        {"widget_set s1 ic 1 1 heart_filled", "success"},
        {"widget_set s1 ic 1 1 UNICORN", "huh? Invalid icon name"},
        {"widget_add s1 n num", "success"},
        {"widget_set s1 n 1 10", "success"},
        {"widget_set s1 n 1 11", "huh? Invalid number"},
        {"widget_del s1 f", "success"},
        {"widget_set s1 inner 1 1 x", "huh? Unknown widget id"},
        {"widget_del s1 f", "huh? Unknown widget id"},
        {"backlight on", "success"},
        {"backlight toggle", "success"},
        {"backlight blink", "success"},
        {"backlight off", "success"},
        {"backlight dim", "huh? Invalid backlight state"},
        {"output on", "success"},
        {"output 5", "success"},
        {"output many", "huh? Invalid output value"},
        {"noop", "success"},
        {"sleep 1", "success"},
        {"sleep forever", "huh? Usage: sleep <0-60>"},
        {"client_add_key Enter Escape", "success"},
        {"menu_add_item \"\" ask menu {Quit?}", "success"},
        {"menu_set_item \"\" ask -text {Really?}", "success"},
        {"menu_goto ask", "success"},
        {"menu_set_main \"\"", "success"},
        {"info", "Lumara front panel: 12x2 text"},
        {"widget_set s1 w 1 1 \"unterminated", "huh? Unterminated quote"},
        {"widget_set s1 w 1 1 {unterminated", "huh? Unterminated brace"},
        {"frobnicate\n now", "huh? Invalid command \"frobnicate?\""},
        {"screen_del s1", "success"},
        {"screen_del s1", "huh? Unknown screen id"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Reply(1, c.line), c.reply) << c.line;
    }
    EXPECT_FALSE(link.Closed(1));
    EXPECT_EQ(Say(1, "bye"), Lines{});
    EXPECT_TRUE(link.Closed(1));
}

TEST_F(LcdCommands, HttpRequestAsFirstLineClosesAndShowsNothing) {
    EXPECT_TRUE(LcdProtocol::IsHttpRequestLine("GET / HTTP/1.1"));
    EXPECT_TRUE(LcdProtocol::IsHttpRequestLine("POST /api?x=1 HTTP/1.0\r"));
    EXPECT_TRUE(LcdProtocol::IsHttpRequestLine("OPTIONS * HTTP/2.0"));
    EXPECT_FALSE(LcdProtocol::IsHttpRequestLine("GET / HTTP/1"));
    EXPECT_FALSE(LcdProtocol::IsHttpRequestLine("get / HTTP/1.1"));
    EXPECT_FALSE(LcdProtocol::IsHttpRequestLine("GET  HTTP/1.1"));
    EXPECT_FALSE(LcdProtocol::IsHttpRequestLine("hello"));

    lcd.OnConnect(7);
    EXPECT_EQ(Say(7, "POST / HTTP/1.1"), Lines{});
    EXPECT_TRUE(link.Closed(7));
    // What a web page's body carries is never acted on.
    for (const char* line : {"hello", "screen_add s", "widget_add s w string",
                             "widget_set s w 1 1 pwned", "screen_set s -priority alert"}) {
        EXPECT_EQ(Say(7, line), Lines{}) << line;
    }
    EXPECT_EQ(lcd.View().source, LcdSource::kClock);

    // Only the first line counts: later it is a bad command like any other.
    Session(8, {});
    EXPECT_EQ(Reply(8, "GET / HTTP/1.1"), "huh? Invalid command \"GET\"");
    EXPECT_FALSE(link.Closed(8));
}

TEST_F(LcdCommands, RecordedClientSessionsAllSucceed) {
    LineClientId id = 10;
    for (const char* name : {"lcdproc-cpu-mem-uptime.txt", "lcdexec-menus.txt"}) {
        std::ifstream session(std::string(LCD_SESSIONS_DIR) + "/" + name);
        ASSERT_TRUE(session.is_open()) << name;
        lcd.OnConnect(++id);
        int commands = 0;
        for (std::string line; std::getline(session, line); ++commands) {
            const std::string reply = Reply(id, line);
            EXPECT_TRUE(reply == "success" ||
                        reply.starts_with("connect LCDproc 1.2.3 protocol 0.3"))
                << name << ": " << line << " -> " << reply;
        }
        EXPECT_GT(commands, 10) << name;
    }
    // lcdproc's screens take turns; lcdexec only made menus, which show nothing.
    const LcdView view = lcd.View();
    EXPECT_EQ(view.source, LcdSource::kClient);
    EXPECT_EQ(view.client, 11u);
    EXPECT_TRUE(view.nextChangeMs.has_value());
    lcd.OnDisconnect(11);
    EXPECT_EQ(lcd.View().source, LcdSource::kClock);
}

class LcdBounds : public LcdFixture {
  protected:
    LcdBounds() : LcdFixture(Small()) {}
    static LcdProtocolOptions Small() {
        LcdProtocolOptions options = DefaultOptions();
        options.maxScreensPerClient = 2;
        options.maxWidgetsPerScreen = 2;
        options.maxArgumentBytes = 16;
        options.maxLineBytes = 64;
        options.maxStrikes = 3;
        return options;
    }
};

TEST_F(LcdBounds, PastABoundHuhThenDisconnectOthersUntouched) {
    Session(2, {"screen_add other", "widget_add other w string",
                "widget_set other w 1 1 {still here}"});
    Session(1,
            {"screen_add a", "screen_add b", "widget_add a w1 string", "widget_add a w2 string"});
    EXPECT_EQ(Reply(1, "screen_add c"), "huh? Too many screens");
    EXPECT_EQ(Reply(1, "widget_add a w3 string"), "huh? Too many widgets");
    EXPECT_EQ(Reply(1, "widget_set a w1 1 1 {0123456789abcdefg}"), "huh? Argument too long");
    EXPECT_EQ(Reply(1, "widget_set a w1 1 1 {0123456789abcdef}"), "success");
    EXPECT_FALSE(link.Closed(1));
    EXPECT_EQ(Reply(1, std::string(65, 'x')), "huh? Line too long");
    EXPECT_TRUE(link.Closed(1));
    // Its screens are gone at once; the other client's screen shows, its session goes on.
    EXPECT_EQ(Say(1, "noop"), Lines{});
    const LcdView view = lcd.View();
    EXPECT_EQ(view.client, 2u);
    EXPECT_EQ(view.lines[0], "still here  ");
    EXPECT_EQ(Reply(2, "noop"), "success");
    EXPECT_FALSE(link.Closed(2));
}

}  // namespace
}  // namespace zelk::test
