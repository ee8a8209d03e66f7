// The transport's thread and the service's loop at once: commands and pictures interleave
// without tearing, and every change of the shown screen is announced.
#include <atomic>
#include <string>
#include <thread>

#include "tests/lcdproc/lcd_test_fixture.h"

namespace zelk::test {
namespace {

class LcdThreads : public LcdFixture {};

TEST_F(LcdThreads, CommandsAndPicturesFromTwoThreads) {
    Session(1, {"screen_add s", "widget_add s w string", "widget_add s m scroller",
                "widget_set s m 1 2 12 2 m -1 {a marquee that moves every tick}"});
    changes = 0;
    std::atomic<bool> done{false};
    std::thread transport([&] {
        for (int i = 0; i < 1000; ++i) {
            lcd.OnLine(1, "widget_set s w 1 1 {" + std::to_string(100000 + i) + "}");
        }
        done = true;
    });
    int views = 0;
    while (!done || views == 0) {
        clock.Advance(125);
        const LcdView view = lcd.View();
        ASSERT_EQ(view.source, LcdSource::kClient);
        ASSERT_EQ(view.lines[0].size(), 12u);
        ASSERT_EQ(view.lines[1].size(), 12u);
        ++views;
    }
    transport.join();
    EXPECT_EQ(Drawn()[0], "100999      ");
    EXPECT_EQ(changes, 1000);
}

}  // namespace
}  // namespace zelk::test
