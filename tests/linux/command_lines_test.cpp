// Every native program answers --help (its usage on standard output) and --version, with exit
// status 0, and refuses an unknown option with 2 (lumarad's are in its own test).
#include <gtest/gtest.h>

#include "tests/linux/process_rig.h"

namespace zelk {
namespace {

struct Outcome {
    int status;
    std::string out, err;
};

Outcome RunProgram(const ScratchDir& dir, const std::vector<std::string>& argv) {
    ChildProcess p(argv, (dir / "err").string(), {}, false, (dir / "out").string());
    const int status = p.Wait();
    return {status, ReadFileText(dir / "out"), ReadFileText(dir / "err")};
}

TEST(CommandLines, HelpVersionAndUnknownOptions) {
    ScratchDir dir("command-lines");
    const std::pair<const char*, const char*> programs[] = {
        {"lumara-sim", LUMARA_SIM_PATH},
        {"lumara-send", LUMARA_SEND_PATH},
        {"lumara-mpris", LUMARA_MPRIS_PATH},
    };
    for (const auto& [name, path] : programs) {
        SCOPED_TRACE(name);
        const Outcome help = RunProgram(dir, {path, "--help"});
        EXPECT_EQ(help.status, 0);
        EXPECT_NE(help.out.find(std::string(name) + " ["), std::string::npos) << help.out;
        EXPECT_EQ(help.err, "");
        const Outcome version = RunProgram(dir, {path, "--version"});
        EXPECT_EQ(version.status, 0);
        EXPECT_EQ(version.out, std::string(name) + " " + FP_VERSION "\n");
        const Outcome bogus = RunProgram(dir, {path, "--bogus"});
        EXPECT_EQ(bogus.status, 2);
        EXPECT_EQ(bogus.out, "");
        EXPECT_NE(bogus.err.find("unknown option: --bogus"), std::string::npos) << bogus.err;
    }
}

}  // namespace
}  // namespace zelk
