#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "service/adapters/volume_monitor.h"

namespace zelk {
namespace {

// The volume thread pumps notices until the service, on another thread, tells it to stop.
TEST(SystemVolumeMonitorThreads, QuitFromAnotherThreadEndsTheLoop) {
    std::promise<VolumeMonitor*> made;
    std::atomic<bool> ended{false};
    std::unique_ptr<VolumeMonitor> monitor;
    std::thread volumeThread([&] {
        monitor = CreateSystemVolumeMonitor(nullptr);
        made.set_value(monitor.get());
        monitor->RunNotificationLoop();
        ended = true;
        monitor.reset();
    });
    VolumeMonitor* m = made.get_future().get();
    m->Quit();
    // Bounded wait for the join: a loop that ignores Quit fails here instead of hanging.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!ended && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    ASSERT_TRUE(ended) << "RunNotificationLoop did not return after Quit";
    volumeThread.join();
}

}  // namespace
}  // namespace zelk
