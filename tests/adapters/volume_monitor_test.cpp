#include <gtest/gtest.h>

#include <map>
#include <tuple>
#include <vector>

#include "service/adapters/volume_monitor.h"
#include "service/adapters/volume_monitor_base.h"

namespace zelk {
namespace {

using Call = std::tuple<std::int32_t, std::int32_t>;  // (value, data)

struct Recorder {
    std::vector<Call> calls;
    std::vector<void*> contexts;
};

void Record(std::int32_t value, std::int32_t data, void* context) {
    auto* recorder = static_cast<Recorder*>(context);
    recorder->calls.emplace_back(value, data);
    recorder->contexts.push_back(context);
}

// The shared rules over a mixer whose controls read as the test sets them.
class ScriptedMonitor : public VolumeMonitorBase {
  public:
    ScriptedMonitor(Recorder* recorder, bool usable, std::uint32_t volumeId)
        : VolumeMonitorBase(recorder) {
        volumeUsable_ = usable;
        volumeControlId_ = volumeId;
        volumeMinimum_ = 100;
        volumeMaximum_ = 60000;
        volumeSteps_ = 64;
    }

    std::int32_t GetControlValue(std::uint32_t controlId) override {
        if (!volumeUsable_) {
            return -1;
        }
        const auto it = values.find(controlId);
        return it == values.end() ? -1 : it->second;
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

TEST(VolumeMonitorRules, VolumeChangeReportsTheValueAndTheCallbackData) {
    Recorder recorder;
    ScriptedMonitor monitor(&recorder, true, 7);
    monitor.SetCallback(&Record, 42);
    monitor.values[7] = 30000;
    monitor.OnControlChange(7);
    monitor.OnControlChange(9);  // some other control: nothing
    ASSERT_EQ(recorder.calls, (std::vector<Call>{{30000, 42}}));
    EXPECT_EQ(recorder.contexts[0], &recorder);
}

TEST(VolumeMonitorRules, ControlOneReportsMuteState) {
    Recorder recorder;
    ScriptedMonitor monitor(&recorder, true, 7);
    monitor.SetCallback(&Record, 42);
    monitor.values[1] = 1;
    monitor.OnControlChange(1);
    monitor.values[1] = 0;
    monitor.OnControlChange(1);
    monitor.values[1] = 5;  // any non-zero value is muted
    monitor.OnControlChange(1);
    EXPECT_EQ(recorder.calls, (std::vector<Call>{{-1, 1}, {-1, 0}, {-1, 1}}));
}

TEST(VolumeMonitorRules, UnreadableControlsReportNothing) {
    Recorder recorder;
    ScriptedMonitor monitor(&recorder, true, 7);
    monitor.SetCallback(&Record, 42);
    monitor.OnControlChange(1);  // control 1 cannot be read: not taken as "muted"
    monitor.OnControlChange(7);  // nor the volume
    EXPECT_TRUE(recorder.calls.empty());
}

TEST(VolumeMonitorRules, VolumeControlWithIdOneGivesVolumeThenMute) {
    Recorder recorder;
    ScriptedMonitor monitor(&recorder, true, 1);
    monitor.SetCallback(&Record, 3);
    monitor.values[1] = 20000;
    monitor.OnControlChange(1);
    EXPECT_EQ(recorder.calls, (std::vector<Call>{{20000, 3}, {-1, 1}}));
}

TEST(VolumeMonitorRules, GettersAndSetVolumeBounds) {
    Recorder recorder;
    ScriptedMonitor monitor(&recorder, true, 7);
    EXPECT_TRUE(monitor.IsVolumeAvailable());
    EXPECT_EQ(monitor.GetVolumeMinimum(), 100);
    EXPECT_EQ(monitor.GetVolumeMaximum(), 60000);
    EXPECT_EQ(monitor.GetVolumeSteps(), 64);
    monitor.SetVolume(100);
    monitor.SetVolume(60000);
    monitor.SetVolume(60001);       // above the maximum
    monitor.SetVolume(99);          // below the minimum
    monitor.SetVolume(0xFFFFFFFF);  // compared unsigned
    EXPECT_EQ(monitor.writes, (std::vector<std::uint32_t>{100, 60000}));
    monitor.Unmute();
    monitor.Mute();
    EXPECT_EQ(monitor.switches, (std::vector<bool>{true, false}));
}

TEST(VolumeMonitorRules, UnusableVolumeGivesMinusOneAndWritesNothing) {
    Recorder recorder;
    ScriptedMonitor monitor(&recorder, false, 7);
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
    EXPECT_TRUE(recorder.calls.empty());
}

TEST(VolumeMonitorRules, ScalingToAndFromTheFullRange) {
    EXPECT_EQ(ScaleToFullRange(0, 0, 87), 0);
    EXPECT_EQ(ScaleToFullRange(87, 0, 87), 65535);
    EXPECT_EQ(ScaleToFullRange(-5, 0, 87), 0);
    EXPECT_EQ(ScaleToFullRange(200, 0, 87), 65535);
    EXPECT_EQ(ScaleToFullRange(0, -100, 100), 32768);  // 32767.5 rounds up
    EXPECT_EQ(ScaleToFullRange(5, 5, 5), 0);           // empty range
    EXPECT_EQ(ScaleFromFullRange(0, -6400, 0), -6400);
    EXPECT_EQ(ScaleFromFullRange(65535, -6400, 0), 0);
    EXPECT_EQ(ScaleFromFullRange(70000, 0, 87), 87);
    EXPECT_EQ(ScaleFromFullRange(1234, 7, 7), 7);
    // Every raw step survives the round trip.
    for (std::int64_t raw = 0; raw <= 87; ++raw) {
        EXPECT_EQ(
            ScaleFromFullRange(static_cast<std::uint32_t>(ScaleToFullRange(raw, 0, 87)), 0, 87),
            raw);
    }
}

// No sound card natively on the test machines and no mixer under Wine: the system monitor is
// inert there.
TEST(SystemVolumeMonitor, WithoutMixerEveryGetterIsMinusOneAndQuitEndsTheLoop) {
    Recorder recorder;
    auto monitor = CreateSystemVolumeMonitor(&recorder);
    if (monitor->IsVolumeAvailable()) {
        GTEST_SKIP() << "this machine has a mixer with a master volume";
    }
    monitor->SetCallback(&Record, 1);
    EXPECT_EQ(monitor->GetVolume(), -1);
    EXPECT_EQ(monitor->GetVolumeSteps(), -1);
    EXPECT_EQ(monitor->GetVolumeMinimum(), -1);
    EXPECT_EQ(monitor->GetVolumeMaximum(), -1);
    EXPECT_EQ(monitor->GetControlValue(1), -1);
    monitor->SetVolume(100);
    monitor->Unmute();
    monitor->Mute();
    monitor->Quit();
    monitor->RunNotificationLoop();  // returns: Quit came first
    monitor->RunNotificationLoop();  // and stays quit
    EXPECT_TRUE(recorder.calls.empty());
}

}  // namespace
}  // namespace zelk
