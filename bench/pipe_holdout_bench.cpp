// How long a writer's record takes to reach the panel while other local clients hold the pipe:
// with nobody else, behind silent connections, and behind clients that connect again as soon
// as they are dropped.
#include <algorithm>
#include <vector>

#include "bench/bench_rig.h"
#include "common/media_status_tags.h"
#include "service/pipe/pipe_endpoint.h"

namespace zelk {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Sends track times and waits until each shows on the panel; returns the waits in ms.
std::vector<double> WriterWaits(BenchService& bench, long samples, long& counter,
                                std::chrono::milliseconds spacing) {
    std::vector<double> waits;
    for (long i = 0; i < samples; ++i) {
        const long value = ++counter;
        char expected[48];
        std::snprintf(expected, sizeof expected, "%02ld:%02ld", (value / 60) % 100, value % 60);
        const std::string text = std::to_string(value);
        const auto start = SteadyClock::now();
        bench.Send(MSPROPTAG_TrackTime, text.c_str());
        while (bench.bus.Picture().Line(1, 12).rfind(expected, 0) != 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        waits.push_back(
            std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count());
        std::this_thread::sleep_for(spacing);
    }
    return waits;
}

void Print(const char* what, std::vector<double> waits) {
    std::sort(waits.begin(), waits.end());
    std::printf("%s: %zu records, median %.2f ms, max %.2f ms\n", what, waits.size(),
                waits[waits.size() / 2], waits.back());
    std::fflush(stdout);
}

}  // namespace
}  // namespace zelk

int main(int argc, char** argv) {
    using namespace zelk;
    const long silentCount = OptionValue(argc, argv, "--silent", 50);
    const long reconnecting = OptionValue(argc, argv, "--reconnecting", 20);
    const long seconds = std::max(3L, OptionValue(argc, argv, "--seconds", 10));
    BenchService bench;
    bench.Send(kTagSessionOpened, "");
    bench.Send(MSPROPTAG_CD, "True");
    bench.Send(MSPROPTAG_Play, "True");
    long counter = 0;

    Print("no other client", WriterWaits(bench, 20, counter, std::chrono::milliseconds(20)));

    {
        std::vector<std::unique_ptr<PipeClientConnection>> silent;
        for (long i = 0; i < silentCount; ++i) {
            silent.push_back(std::make_unique<PipeClientConnection>());
            if (silent.back()->Open(bench.PipeName()) != 0) std::printf("silent open failed\n");
        }
        char what[64];
        std::snprintf(what, sizeof what, "behind %ld silent clients", silentCount);
        // Within the silent clients' time, so every one of them holds its connection.
        Print(what, WriterWaits(bench, 20, counter, std::chrono::milliseconds(20)));
    }

    {
        std::atomic<bool> quit{false};
        std::vector<std::thread> clients;
        for (long i = 0; i < reconnecting; ++i) {
            clients.emplace_back([&] {
                while (!quit.load()) {
                    PipeClientConnection connection;
                    if (connection.Open(bench.PipeName()) != 0) continue;
                    // Holds it until the server's cut, then connects again.
                    const auto until =
                        SteadyClock::now() + std::chrono::milliseconds(kPipeReadTimeoutMs);
                    while (!quit.load() && SteadyClock::now() < until) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    }
                }
            });
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        char what[64];
        std::snprintf(what, sizeof what, "behind %ld reconnecting clients", reconnecting);
        Print(what, WriterWaits(bench, seconds * 10, counter, std::chrono::milliseconds(100)));
        quit.store(true);
        for (std::thread& t : clients) t.join();
    }
    return 0;
}
