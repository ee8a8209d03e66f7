#include <gtest/gtest.h>

#include <string>

#include "common/debug_print.h"

namespace zelk {
namespace {

TEST(DebugPrint, FormatsAndCutsLongArgumentsAt511Bytes) {
    ScopedDebugCapture capture;
    DebugPrint("Number of active sessions: %d\n", -2);
    const std::string huge(5000, 'x');
    DebugPrint("%s", huge.c_str());
    const auto lines = capture.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Number of active sessions: -2\n");
    EXPECT_EQ(lines[1], std::string(511, 'x'));
}

}  // namespace
}  // namespace zelk
