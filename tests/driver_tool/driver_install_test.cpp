#include "tools/installer/driver_install.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace zelk {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

constexpr std::uint32_t kNoSuchDevice = 0xE000020B;  // ERROR_NO_SUCH_DEVINST

const std::string kCol01 = "HID\\Vid_1F3C&Pid_5A41&Col01";
const std::string kCol02 = "HID\\Vid_1F3C&Pid_5A41&Col02";
const std::string kCol03 = "HID\\Vid_1F3C&Pid_5A41&Col03";
const std::string kCol04 = "HID\\Vid_1F3C&Pid_5A41&Col04";
const std::string kDir = "C:\\Drivers\\Panel";
const std::string kPanelInf = kDir + "\\FRONTPANEL.INF";
const std::string kKbrdInf = kDir + "\\FRONTPANELKBRD.INF";

// A machine with a current directory, the INF files in it and a connected panel. Every call is
// recorded in `calls`, in order.
class FakeSystem : public DriverInstallSystem {
  public:
    std::optional<std::string> cwd = kDir;
    std::set<std::string> files = {kPanelInf, kKbrdInf};
    std::set<std::string> devices = {kCol01, kCol02, kCol03, kCol04};
    // A result other than TRUE for a hardware id, with the last error it leaves.
    std::map<std::string, std::pair<int, std::uint32_t>> forced;
    std::set<std::string> copied;
    std::vector<std::string> calls;

    void SetDirectory(const std::string& dir) {
        cwd = dir;
        const std::string sep = dir.ends_with('\\') ? "" : "\\";
        files = {dir + sep + "FRONTPANEL.INF", dir + sep + "FRONTPANELKBRD.INF"};
    }

    std::optional<std::string> CurrentDirectory(std::size_t room) override {
        calls.push_back("cwd " + std::to_string(room));
        if (cwd && cwd->size() + 1 > room) return std::nullopt;
        return cwd;
    }
    bool CopyInf(const std::string& inf_path, const std::string& source_dir) override {
        calls.push_back("copy " + inf_path + " from " + source_dir);
        if (!files.contains(inf_path)) return (last_error_ = 2, false);
        copied.insert(inf_path);
        return true;
    }
    int UpdateDriver(const char* id, const std::string& inf_path, std::uint32_t flags) override {
        calls.push_back("update " + std::string(id) + " " + inf_path + " " + std::to_string(flags));
        if (auto it = forced.find(id); it != forced.end()) {
            last_error_ = it->second.second;
            return it->second.first;
        }
        const bool ok = devices.contains(id) && copied.contains(inf_path);
        last_error_ = ok ? 0 : kNoSuchDevice;
        return ok ? 1 : 0;
    }
    std::uint32_t LastError() override { return last_error_; }

  private:
    std::uint32_t last_error_ = 0;
};

std::string Copy(const std::string& inf) {
    return "copy " + inf + " from " + kDir;
}
std::string Update(const std::string& id) {
    return "update " + id + " " + (id == kCol02 ? kKbrdInf + " 0" : kPanelInf + " 1");
}

TEST(InstallPanelDrivers, StepsRunInOrderAndStopAtTheFirstFailure) {
    const std::vector<std::string> all = {"cwd 259",      Copy(kPanelInf), Update(kCol01),
                                          Update(kCol03), Update(kCol04),  Copy(kKbrdInf),
                                          Update(kCol02)};
    const auto firstN = [&](std::size_t n) {
        return std::vector<std::string>(all.begin(), all.begin() + n);
    };
    const struct {
        const char* name;
        std::function<void(FakeSystem&)> arrange;
        bool installed;
        std::vector<std::string> calls;
    } cases[] = {
        {"everything present", [](FakeSystem&) {}, true, all},
        {"no FRONTPANEL.INF", [](FakeSystem& s) { s.files.erase(kPanelInf); }, false, firstN(2)},
        // Collections 1, 3 and 4 stay updated.
        {"no FRONTPANELKBRD.INF", [](FakeSystem& s) { s.files.erase(kKbrdInf); }, false, firstN(6)},
        {"panel absent", [](FakeSystem& s) { s.devices.clear(); }, false, firstN(3)},
        {"FALSE without a reason counts as done",
         [](FakeSystem& s) {
             s.forced = {{kCol03, {0, 0}}, {kCol02, {0, 0}}};
         },
         true, all},
        {"FALSE with a reason",
         [](FakeSystem& s) {
             s.forced[kCol04] = {0, 5};
         },
         false, firstN(5)},
        {"not TRUE on the last collection",
         [](FakeSystem& s) {
             s.forced[kCol02] = {2, 87};
         },
         false, all},
        {"directory unreadable", [](FakeSystem& s) { s.cwd.reset(); }, false, firstN(1)},
        {"directory empty", [](FakeSystem& s) { s.cwd = ""; }, false, firstN(1)},
        {"directory beyond the read's room",
         [](FakeSystem& s) { s.SetDirectory("C:\\" + std::string(300, 'x')); }, false, firstN(1)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeSystem sys;
        c.arrange(sys);
        EXPECT_EQ(InstallPanelDrivers(sys), c.installed);
        EXPECT_THAT(sys.calls, ElementsAreArray(c.calls));
    }
    EXPECT_EQ(InstallerExitCode(true), 0);
    EXPECT_EQ(InstallerExitCode(false), 1);
}

TEST(InstallPanelDrivers, InfPathsMustFitThePathBuffer) {
    // 240 characters plus "\FRONTPANELKBRD.INF" and the NUL fill the 260 bytes exactly.
    const std::string fits = "C:\\" + std::string(237, 'd');
    FakeSystem at_limit;
    at_limit.SetDirectory(fits);
    EXPECT_TRUE(InstallPanelDrivers(at_limit));
    EXPECT_EQ(at_limit.calls.back(), "update " + kCol02 + " " + fits + "\\FRONTPANELKBRD.INF 0");

    // One more character: the second path would not fit, so nothing is copied at all.
    FakeSystem too_long;
    too_long.SetDirectory(fits + "e");
    EXPECT_FALSE(InstallPanelDrivers(too_long));
    EXPECT_THAT(too_long.calls, ElementsAre("cwd 259"));

    // At a drive's root the backslash is not doubled.
    FakeSystem root;
    root.SetDirectory("D:\\");
    EXPECT_TRUE(InstallPanelDrivers(root));
    EXPECT_EQ(root.calls[1], "copy D:\\FRONTPANEL.INF from D:\\");
    EXPECT_EQ(root.calls.back(), "update " + kCol02 + " D:\\FRONTPANELKBRD.INF 0");
}

}  // namespace
}  // namespace zelk
