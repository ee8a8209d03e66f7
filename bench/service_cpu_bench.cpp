// CPU time the running service spends while idle (only the clock redraws) and in standby,
// with and without changes coming in.
#include <atomic>
#include <thread>

#include "bench/bench_rig.h"
#include "tools/sim/sim_terminal.h"

int main(int argc, char** argv) {
    using namespace zelk;
    const long seconds = std::max(1L, OptionValue(argc, argv, "--seconds", 60));
    BenchService bench;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    const auto measure = [&](const char* what) {
        const std::uint64_t redraws = bench.service->Redraws();
        const double cpu = ProcessCpuSeconds();
        const auto wall = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        const double used = ProcessCpuSeconds() - cpu;
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
        std::printf("%s: %.1f s, CPU %.3f s (%.3f%% of one core), %llu redraws\n", what, elapsed,
                    used, 100.0 * used / elapsed,
                    static_cast<unsigned long long>(bench.service->Redraws() - redraws));
        std::fflush(stdout);
    };
    measure("idle (clock only)");
    bench.service->OnPowerEvent(kPowerSuspend, nullptr);
    measure("standby");
    // Standby while the mixer keeps changing (a change every 30 ms): each change wakes the
    // loop, which must go back to its poll without drawing or spinning.
    std::atomic<bool> changing{true};
    std::thread changer([&] {
        for (std::int32_t v = 0; changing.load(); v = (v + 997) % 65536) {
            bench.volume.SetVolume(v);
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
    });
    measure("standby, volume changing every 30 ms");
    changing.store(false);
    changer.join();
    bench.service->OnPowerEvent(kPowerResumeSuspend, nullptr);
    return 0;
}
