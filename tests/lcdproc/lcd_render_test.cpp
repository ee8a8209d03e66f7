// The picture each kind of widget draws on the two 12-cell lines, moving ones over time.
#include <optional>
#include <string>

#include "tests/lcdproc/lcd_test_fixture.h"

namespace zelk::test {
namespace {

class LcdRender : public LcdFixture {
  protected:
    void SetUp() override { Session(1, {"screen_add s"}); }
    // Adds widget `id` of `type` and sets it with `values`.
    void Widget(const std::string& id, const std::string& type, const std::string& values,
                const std::string& in = {}) {
        Run(1, {"widget_add s " + id + " " + type + (in.empty() ? "" : " -in " + in)});
        Run(1, {"widget_set s " + id + " " + values});
    }
    Picture At(std::uint64_t ms) {
        clock.SetNowMs(ms);
        return Drawn();
    }
    std::optional<std::uint64_t> Next() { return lcd.View().nextChangeMs; }
};

TEST_F(LcdRender, StringsClipAndStayStill) {
    Widget("a", "string", "10 1 Hello");
    Widget("b", "string",
           R"(1 2 "tab\there \"q\" caf)"
           "\xE9\"");
    Widget("off", "string", "1 3 {below the lines}");
    EXPECT_EQ(Drawn(), (Picture{"         Hel", "tab here \"q\""}));
    Run(1, {"widget_set s b 0 2 {caf\xE9 ok}"});
    EXPECT_EQ(Drawn(), (Picture{"         Hel", "af\xE9 ok      "}));
    EXPECT_EQ(Next(), std::nullopt);  // nothing moves: no wake-up
}

TEST_F(LcdRender, TitleDecoratedOrSwingingWhenLong) {
    Widget("t", "title", "Hi");
    EXPECT_EQ(Drawn(), (Picture{"# Hi #######", "            "}));
    Run(1, {"widget_set s t {A long title!}"});
    EXPECT_EQ(At(0), (Picture{"A long title", "            "}));
    EXPECT_EQ(Next(), 500u);
    EXPECT_EQ(At(500), (Picture{" long title!", "            "}));
    EXPECT_EQ(At(1000), (Picture{"A long title", "            "}));
}

TEST_F(LcdRender, BarsIconsAndBigNumbers) {
    Widget("h", "hbar", "1 2 23");
    Widget("h2", "hbar", "10 1 100");
    Widget("v", "vbar", "3 2 12");
    Widget("v2", "vbar", "4 2 3");
    EXPECT_EQ(Drawn(), (Picture{"  =      ===", "==#_-       "}));
    Run(1, {"widget_del s h", "widget_del s h2", "widget_del s v", "widget_del s v2"});
    Widget("p", "pbar", "1 1 12 500 [ ]");
    Widget("p2", "pbar", "1 2 6 1000");
    Widget("i", "icon", "8 2 PLAY");
    Widget("j", "icon", "9 2 ellipsis");
    EXPECT_EQ(Drawn(), (Picture{"[=====-----]", "====== >\x85   "}));
    Run(1, {"widget_del s p", "widget_del s p2", "widget_del s i", "widget_del s j"});
    Widget("n1", "num", "1 2");
    Widget("c", "num", "4 10");
    Widget("n2", "num", "5 7");
    Widget("n3", "num", "9 0");
    EXPECT_EQ(Drawn(), (Picture{" =|\xB7 \xAF| |\xAF| ", "|_ \xB7  | |_| "}));
}

TEST_F(LcdRender, ScrollersMoveAtTheirSpeed) {
    Widget("h", "scroller", "1 1 12 1 h 1 ABCDEFGHIJKLMN");
    EXPECT_EQ(At(0)[0], "ABCDEFGHIJKL");
    EXPECT_EQ(Next(), 125u);
    EXPECT_EQ(At(125)[0], "BCDEFGHIJKLM");
    EXPECT_EQ(At(250)[0], "CDEFGHIJKLMN");
    EXPECT_EQ(At(375)[0], "BCDEFGHIJKLM");  // and back
    EXPECT_EQ(Next(), 500u);

    Widget("m", "scroller", "1 2 12 2 m 2 ABCDEFGHIJKLM");
    EXPECT_EQ(At(375)[1], "BCDEFGHIJKLM");  // one step every two ticks, counted from 0
    EXPECT_EQ(At(500)[1], "CDEFGHIJKLM ");
    EXPECT_EQ(At(13 * 250)[1], "   ABCDEFGHI");
    EXPECT_EQ(At(16 * 250)[1], "ABCDEFGHIJKL");
    Run(1, {"widget_set s m 1 2 12 2 m -3 ABCDEFGHIJKLM"});  // three steps a tick
    EXPECT_EQ(At(16 * 250 + 125)[1], "DEFGHIJKLM  ");

    // Still when the text fits, the speed is 0 or it lies off the lines: no wake-up at all.
    Run(1, {"widget_set s h 1 1 12 1 h 1 {fits}", "widget_set s m 1 2 12 2 m 0 ABCDEFGHIJKLM",
            "widget_add s off scroller", "widget_set s off 1 3 12 3 m 1 ABCDEFGHIJKLMNOP"});
    EXPECT_EQ(Drawn(), (Picture{"fits        ", "ABCDEFGHIJKL"}));
    EXPECT_EQ(Next(), std::nullopt);

    Run(1, {"widget_del s m", "widget_set s h 1 1 12 2 v 8 0123456789ABCDEFGHIJKLMNOPQRST"});
    EXPECT_EQ(At(8000), (Picture{"0123456789AB", "CDEFGHIJKLMN"}));
    EXPECT_EQ(Next(), 9000u);
    EXPECT_EQ(At(9000), (Picture{"CDEFGHIJKLMN", "OPQRST      "}));
    EXPECT_EQ(At(10000), (Picture{"0123456789AB", "CDEFGHIJKLMN"}));
}

TEST_F(LcdRender, FramesClipAndScrollTheirContent) {
    Widget("f", "frame", "3 1 12 2 10 4 v 8");
    Widget("r1", "string", "1 1 one", "f");
    Widget("r2", "string", "1 2 two", "f");
    Widget("r3", "string", "1 3 three", "f");
    Widget("r4", "string", "8 4 four!", "f");
    Widget("x", "string", "1 1 >");
    EXPECT_EQ(At(0), (Picture{"> one       ", "  two       "}));
    EXPECT_EQ(Next(), 1000u);
    EXPECT_EQ(At(1000), (Picture{"> two       ", "  three     "}));
    EXPECT_EQ(At(2000), (Picture{"> three     ", "         fou"}));
    EXPECT_EQ(At(3000), (Picture{"> one       ", "  two       "}));
    // Deleting the frame takes its content with it.
    Run(1, {"widget_del s f"});
    EXPECT_EQ(Reply(1, "widget_set s r4 1 1 x"), "huh? Unknown widget id");
    EXPECT_EQ(Drawn(), (Picture{">           ", "            "}));
}

TEST_F(LcdRender, BacklightAndOutputOfTheShownScreen) {
    EXPECT_TRUE(lcd.View().backlightOn);
    Run(1, {"backlight off", "output 5"});
    EXPECT_FALSE(lcd.View().backlightOn);
    EXPECT_EQ(lcd.View().output, 5u);
    Run(1, {"screen_set s -backlight on"});
    EXPECT_TRUE(lcd.View().backlightOn);
    Run(1, {"screen_set s -backlight toggle"});
    EXPECT_FALSE(lcd.View().backlightOn);
    Run(1, {"screen_set s -backlight open", "backlight toggle"});
    EXPECT_TRUE(lcd.View().backlightOn);
    // The service's own screens show with the backlight on and no output.
    Run(1, {"screen_set s -priority hidden"});
    const LcdView clockView = lcd.View();
    EXPECT_EQ(clockView.source, LcdSource::kClock);
    EXPECT_TRUE(clockView.backlightOn);
    EXPECT_EQ(clockView.output, 0u);
}

}  // namespace
}  // namespace zelk::test
