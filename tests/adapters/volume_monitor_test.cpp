#include <gtest/gtest.h>

#include <map>
#include <tuple>
#include <vector>

#include "service/adapters/volume_monitor.h"
#include "service/adapters/volume_monitor_base.h"

namespace zelk {
namespace {

using Call = std::tuple<std::int32_t, std::int32_t, void*>;  // (value, data, context)

void Record(std::int32_t value, std::int32_t data, void* context) {
    static_cast<std::vector<Call>*>(context)->emplace_back(value, data, context);
}

// The shared rules over a mixer whose controls read as the test sets them.
class ScriptedMonitor : public VolumeMonitorBase {
  public:
    ScriptedMonitor(std::vector<Call>* calls, bool usable, std::uint32_t volumeId)
        : VolumeMonitorBase(calls) {
        volumeUsable_ = usable;
        volumeControlId_ = volumeId;
        volumeMinimum_ = 100;
        volumeMaximum_ = 60000;
        volumeSteps_ = 64;
    }
    std::int32_t GetControlValue(std::uint32_t controlId) override {
        const auto it = values.find(controlId);
        return !volumeUsable_ || it == values.end() ? -1 : it->second;
    }
    void RunNotificationLoop() override {}
    void Quit() override {}

    std::map<std::uint32_t, std::int32_t> values;
    std::vector<bool> switches;
    std::vector<std::uint32_t> writes;

  protected:
    void ApplyOutputSwitches(bool on) override { switches.push_back(on); }
    void WriteVolume(std::uint32_t value) override { writes.push_back(value); }
};

TEST(VolumeMonitorRules, ControlChangesReportVolumeAndMute) {
    struct Case {
        std::uint32_t volumeId;
        std::map<std::uint32_t, std::int32_t> values;
        std::uint32_t changed;
        std::vector<std::pair<std::int32_t, std::int32_t>> expected;
    };
    const Case cases[] = {
        {7, {{7, 30000}}, 7, {{30000, 42}}},
        {7, {{7, 30000}}, 9, {}},  // some other control
        {7, {{1, 1}}, 1, {{-1, 1}}},
        {7, {{1, 0}}, 1, {{-1, 0}}},
        {7, {{1, 5}}, 1, {{-1, 1}}},  // any non-zero value is muted
        {7, {}, 1, {}},               // unreadable: not taken as "muted"
        {7, {}, 7, {}},
        {1, {{1, 20000}}, 1, {{20000, 42}, {-1, 1}}}  // volume control with id 1
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "volume id " << c.volumeId << ", changed " << c.changed);
        std::vector<Call> calls;
        ScriptedMonitor monitor(&calls, true, c.volumeId);
        monitor.SetCallback(&Record, 42);
        monitor.values = c.values;
        monitor.OnControlChange(c.changed);
        std::vector<Call> expected;
        for (const auto& [value, data] : c.expected) {
            expected.emplace_back(value, data, &calls);
        }
        EXPECT_EQ(calls, expected);
    }
}

TEST(VolumeMonitorRules, GettersAndSetVolumeBounds) {
    ScriptedMonitor monitor(nullptr, true, 7);
    EXPECT_TRUE(monitor.IsVolumeAvailable());
    EXPECT_EQ(monitor.GetVolumeMinimum(), 100);
    EXPECT_EQ(monitor.GetVolumeMaximum(), 60000);
    EXPECT_EQ(monitor.GetVolumeSteps(), 64);
    for (std::uint32_t value : {100u, 60000u, 60001u, 99u, 0xFFFFFFFFu}) {
        monitor.SetVolume(value);
    }
    EXPECT_EQ(monitor.writes, (std::vector<std::uint32_t>{100, 60000}));
    monitor.Unmute();
    monitor.Mute();
    EXPECT_EQ(monitor.switches, (std::vector<bool>{true, false}));
}

TEST(VolumeMonitorRules, UnusableVolumeGivesMinusOneAndWritesNothing) {
    std::vector<Call> calls;
    ScriptedMonitor monitor(&calls, false, 7);
    monitor.SetCallback(&Record, 1);
    monitor.values[7] = 500;
    EXPECT_FALSE(monitor.IsVolumeAvailable());
    EXPECT_EQ(monitor.GetVolume(), -1);
    EXPECT_EQ(monitor.GetVolumeSteps(), -1);
    EXPECT_EQ(monitor.GetVolumeMinimum(), -1);
    EXPECT_EQ(monitor.GetVolumeMaximum(), -1);
    monitor.SetVolume(500);
    EXPECT_TRUE(monitor.writes.empty());
    monitor.Unmute();  // the switches do not depend on the volume control
    EXPECT_EQ(monitor.switches, (std::vector<bool>{true}));
    monitor.OnControlChange(7);
    EXPECT_TRUE(calls.empty());
}

TEST(VolumeMonitorRules, ScalingToAndFromTheFullRange) {
    EXPECT_EQ(ScaleToFullRange(87, 0, 87), 65535);
    EXPECT_EQ(ScaleToFullRange(-5, 0, 87), 0);
    EXPECT_EQ(ScaleToFullRange(200, 0, 87), 65535);
    EXPECT_EQ(ScaleToFullRange(0, -100, 100), 32768);  // 32767.5 rounds up
    EXPECT_EQ(ScaleToFullRange(5, 5, 5), 0);           // empty range
    EXPECT_EQ(ScaleFromFullRange(0, -6400, 0), -6400);
    EXPECT_EQ(ScaleFromFullRange(70000, 0, 87), 87);
    EXPECT_EQ(ScaleFromFullRange(1234, 7, 7), 7);
    // Every raw step survives the round trip.
    for (std::int64_t raw = 0; raw <= 87; ++raw) {
        const auto full = static_cast<std::uint32_t>(ScaleToFullRange(raw, 0, 87));
        EXPECT_EQ(ScaleFromFullRange(full, 0, 87), raw);
    }
}

// No sound card natively on the test machines and no mixer under Wine: the system monitor is
// inert there.
TEST(SystemVolumeMonitor, WithoutMixerEveryGetterIsMinusOneAndQuitEndsTheLoop) {
    std::vector<Call> calls;
    auto monitor = CreateSystemVolumeMonitor(&calls);
    if (monitor->IsVolumeAvailable()) {
        GTEST_SKIP() << "this machine has a mixer with a master volume";
    }
    monitor->SetCallback(&Record, 1);
    EXPECT_EQ(monitor->GetVolume(), -1);
    EXPECT_EQ(monitor->GetVolumeSteps(), -1);
    EXPECT_EQ(monitor->GetVolumeMaximum(), -1);
    EXPECT_EQ(monitor->GetControlValue(1), -1);
    monitor->SetVolume(100);
    monitor->Unmute();
    monitor->Mute();
    monitor->Quit();
    monitor->RunNotificationLoop();  // returns: Quit came first
    monitor->RunNotificationLoop();  // and stays quit
    EXPECT_TRUE(calls.empty());
}

}  // namespace
}  // namespace zelk
