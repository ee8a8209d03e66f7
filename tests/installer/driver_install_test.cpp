#include "tools/installer/driver_install.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace zelk {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr std::uint32_t kNoSuchDevice = 0xE000020B;  // ERROR_NO_SUCH_DEVINST
constexpr std::uint32_t kFileNotFound = 2;

constexpr char kCol01[] = "HID\\Vid_1F3C&Pid_5A41&Col01";
constexpr char kCol02[] = "HID\\Vid_1F3C&Pid_5A41&Col02";
constexpr char kCol03[] = "HID\\Vid_1F3C&Pid_5A41&Col03";
constexpr char kCol04[] = "HID\\Vid_1F3C&Pid_5A41&Col04";

struct Update {
    std::string hardware_id;
    std::string inf_path;
    std::uint32_t flags;
    bool operator==(const Update&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Update& u) {
    return os << u.hardware_id << " <- " << u.inf_path << " flags " << u.flags;
}

// A machine with a current directory, some INF files in it and a panel with some collections.
class FakeSystem : public DriverInstallSystem {
  public:
    std::optional<std::string> cwd = std::string("C:\\Drivers\\Panel");
    std::set<std::string> files = {"C:\\Drivers\\Panel\\FRONTPANEL.INF",
                                   "C:\\Drivers\\Panel\\FRONTPANELKBRD.INF"};
    std::set<std::string> devices = {kCol01, kCol02, kCol03, kCol04};
    // A result other than TRUE for a hardware id, with the last error it leaves.
    std::map<std::string, std::pair<int, std::uint32_t>> forced;

    std::vector<std::size_t> cwd_rooms;
    std::vector<std::pair<std::string, std::string>> copies;  // (INF path, source folder)
    std::vector<Update> updates;                              // updates that took effect
    std::vector<Update> attempts;                             // every update asked for
    std::vector<std::string> calls;                           // call order across services

    std::optional<std::string> CurrentDirectory(std::size_t room) override {
        cwd_rooms.push_back(room);
        calls.push_back("cwd");
        if (cwd && cwd->size() + 1 > room) return std::nullopt;
        return cwd;
    }
    bool CopyInf(const std::string& inf_path, const std::string& source_dir) override {
        calls.push_back("copy " + inf_path);
        if (!files.contains(inf_path)) {
            last_error_ = kFileNotFound;
            return false;
        }
        copies.emplace_back(inf_path, source_dir);
        return true;
    }
    int UpdateDriver(const char* hardware_id, const std::string& inf_path,
                     std::uint32_t flags) override {
        calls.push_back(std::string("update ") + hardware_id);
        Update u{hardware_id, inf_path, flags};
        attempts.push_back(u);
        if (auto it = forced.find(hardware_id); it != forced.end()) {
            last_error_ = it->second.second;
            return it->second.first;
        }
        bool copied = false;
        for (const auto& c : copies) copied = copied || c.first == inf_path;
        if (!devices.contains(hardware_id) || !copied) {
            last_error_ = kNoSuchDevice;
            return 0;
        }
        updates.push_back(u);
        last_error_ = 0;
        return 1;
    }
    std::uint32_t LastError() override {
        calls.push_back("lasterror");
        return last_error_;
    }

  private:
    std::uint32_t last_error_ = 0;
};

const std::string kPanelInf = "C:\\Drivers\\Panel\\FRONTPANEL.INF";
const std::string kKbrdInf = "C:\\Drivers\\Panel\\FRONTPANELKBRD.INF";

TEST(InstallPanelDrivers, BothInfFilesAndPanelPresentUpdatesFourCollectionsInOrder) {
    FakeSystem sys;
    EXPECT_TRUE(InstallPanelDrivers(sys));
    EXPECT_EQ(InstallerExitCode(true), 0);
    EXPECT_THAT(sys.cwd_rooms, ElementsAre(259u));
    EXPECT_THAT(sys.copies, ElementsAre(std::pair(kPanelInf, std::string("C:\\Drivers\\Panel")),
                                        std::pair(kKbrdInf, std::string("C:\\Drivers\\Panel"))));
    EXPECT_THAT(sys.updates,
                ElementsAre(Update{kCol01, kPanelInf, 1}, Update{kCol03, kPanelInf, 1},
                            Update{kCol04, kPanelInf, 1}, Update{kCol02, kKbrdInf, 0}));
    // Each INF is copied before the collections that use it.
    EXPECT_THAT(sys.calls,
                ElementsAre("cwd", "copy " + kPanelInf, std::string("update ") + kCol01,
                            std::string("update ") + kCol03, std::string("update ") + kCol04,
                            "copy " + kKbrdInf, std::string("update ") + kCol02));
}

TEST(InstallPanelDrivers, MissingPanelInfUpdatesNothing) {
    FakeSystem sys;
    sys.files.erase(kPanelInf);
    EXPECT_FALSE(InstallPanelDrivers(sys));
    EXPECT_EQ(InstallerExitCode(false), 1);
    EXPECT_THAT(sys.attempts, IsEmpty());
    EXPECT_THAT(sys.copies, IsEmpty());
}

TEST(InstallPanelDrivers, MissingKeyboardInfLeavesFirstThreeCollectionsUpdated) {
    FakeSystem sys;
    sys.files.erase(kKbrdInf);
    EXPECT_FALSE(InstallPanelDrivers(sys));
    EXPECT_THAT(sys.updates, ElementsAre(Update{kCol01, kPanelInf, 1}, Update{kCol03, kPanelInf, 1},
                                         Update{kCol04, kPanelInf, 1}));
    EXPECT_EQ(sys.attempts.size(), 3u);
    EXPECT_EQ(sys.calls.back(), "copy " + kKbrdInf);
}

TEST(InstallPanelDrivers, AbsentPanelFailsAtFirstUpdateAfterFirstCopy) {
    FakeSystem sys;
    sys.devices.clear();
    EXPECT_FALSE(InstallPanelDrivers(sys));
    EXPECT_THAT(sys.copies, ElementsAre(std::pair(kPanelInf, std::string("C:\\Drivers\\Panel"))));
    EXPECT_THAT(sys.attempts, ElementsAre(Update{kCol01, kPanelInf, 1}));
    EXPECT_THAT(sys.updates, IsEmpty());
}

TEST(InstallPanelDrivers, FalseWithLastErrorZeroCountsAsSuccess) {
    FakeSystem sys;
    sys.forced[kCol03] = {0, 0};
    sys.forced[kCol02] = {0, 0};
    EXPECT_TRUE(InstallPanelDrivers(sys));
    EXPECT_EQ(sys.attempts.size(), 4u);
}

TEST(InstallPanelDrivers, FailureWithReasonStopsAtThatCollection) {
    // FALSE with an error on the third collection: the fourth is not tried.
    FakeSystem sys;
    sys.forced[kCol04] = {0, 5};
    EXPECT_FALSE(InstallPanelDrivers(sys));
    EXPECT_THAT(sys.attempts,
                ElementsAre(Update{kCol01, kPanelInf, 1}, Update{kCol03, kPanelInf, 1},
                            Update{kCol04, kPanelInf, 1}));
    EXPECT_EQ(sys.copies.size(), 1u);

    // Any result other than TRUE counts only with a reason; the last collection failing fails
    // the whole installation.
    FakeSystem odd;
    odd.forced[kCol02] = {2, 87};
    EXPECT_FALSE(InstallPanelDrivers(odd));
    EXPECT_EQ(odd.attempts.size(), 4u);
}

TEST(InstallPanelDrivers, UnreadableOrOverlongDirectoryFailsBeforeCopying) {
    FakeSystem unreadable;
    unreadable.cwd.reset();
    EXPECT_FALSE(InstallPanelDrivers(unreadable));
    EXPECT_THAT(unreadable.calls, ElementsAre("cwd"));

    FakeSystem empty;
    empty.cwd = std::string();
    EXPECT_FALSE(InstallPanelDrivers(empty));
    EXPECT_THAT(empty.calls, ElementsAre("cwd"));

    // 240 characters plus "\FRONTPANELKBRD.INF" and the NUL fill the 260-byte buffer exactly.
    const std::string fits = "C:\\" + std::string(237, 'd');
    ASSERT_EQ(fits.size(), 240u);
    FakeSystem at_limit;
    at_limit.cwd = fits;
    at_limit.files = {fits + "\\FRONTPANEL.INF", fits + "\\FRONTPANELKBRD.INF"};
    EXPECT_TRUE(InstallPanelDrivers(at_limit));
    EXPECT_EQ(at_limit.updates.size(), 4u);
    EXPECT_EQ(at_limit.updates.back().inf_path.size() + 1, 260u);

    // One more character: the second INF path would not fit, so nothing is copied at all.
    FakeSystem too_long;
    too_long.cwd = fits + "e";
    too_long.files = {*too_long.cwd + "\\FRONTPANEL.INF", *too_long.cwd + "\\FRONTPANELKBRD.INF"};
    EXPECT_FALSE(InstallPanelDrivers(too_long));
    EXPECT_THAT(too_long.calls, ElementsAre("cwd"));

    // A directory longer than the read's room reads as unreadable.
    FakeSystem beyond_room;
    beyond_room.cwd = "C:\\" + std::string(300, 'x');
    EXPECT_FALSE(InstallPanelDrivers(beyond_room));
    EXPECT_THAT(beyond_room.calls, ElementsAre("cwd"));
}

TEST(InstallPanelDrivers, DriveRootGetsNoDoubledBackslash) {
    FakeSystem sys;
    sys.cwd = std::string("D:\\");
    sys.files = {"D:\\FRONTPANEL.INF", "D:\\FRONTPANELKBRD.INF"};
    EXPECT_TRUE(InstallPanelDrivers(sys));
    EXPECT_EQ(sys.updates.front().inf_path, "D:\\FRONTPANEL.INF");
    EXPECT_EQ(sys.updates.back().inf_path, "D:\\FRONTPANELKBRD.INF");
}

}  // namespace
}  // namespace zelk
