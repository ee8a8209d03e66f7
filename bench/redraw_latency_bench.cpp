// Time from a record written to the pipe to the last report of the redraw it causes.
#include <algorithm>
#include <mutex>
#include <vector>

#include "bench/bench_rig.h"
#include "common/media_status_tags.h"

int main(int argc, char** argv) {
    using namespace zelk;
    using Clock = std::chrono::steady_clock;
    const long samples = OptionValue(argc, argv, "--samples", 1000);
    BenchService bench;

    std::atomic<std::int64_t> lastReportNs{0};
    bench.bus.SetObserver([&](std::size_t, const std::vector<std::uint8_t>&, const PanelPicture&) {
        lastReportNs.store(Clock::now().time_since_epoch().count());
    });
    bench.Send(kTagSessionOpened, "");
    bench.Send(MSPROPTAG_CD, "True");
    bench.Send(MSPROPTAG_Play, "True");
    bench.Send(MSPROPTAG_TrackName, "Blue in Green");

    std::vector<double> latencies;
    for (long i = 0; i < samples; ++i) {
        // Let the previous redraw end.
        std::uint64_t redraws = bench.service->Redraws();
        for (;;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            const std::uint64_t now = bench.service->Redraws();
            if (now == redraws) break;
            redraws = now;
        }
        const std::string text = std::to_string(i + 1);
        const auto sent = Clock::now();
        bench.Send(MSPROPTAG_TrackTime, text.c_str());
        // The redraw that shows it has ended when the count has gone up and the time shows.
        char expected[48];
        std::snprintf(expected, sizeof expected, "%02ld:%02ld", (i + 1) / 60, (i + 1) % 60);
        while (bench.service->Redraws() <= redraws ||
               bench.bus.Picture().Line(1, 12).rfind(expected, 0) != 0) {
            std::this_thread::yield();
        }
        const double ms = (lastReportNs.load() - sent.time_since_epoch().count()) / 1e6;
        latencies.push_back(ms);
    }
    std::sort(latencies.begin(), latencies.end());
    const auto at = [&](double q) {
        return latencies[std::min(latencies.size() - 1,
                                  static_cast<std::size_t>(q * latencies.size()))];
    };
    std::printf(
        "record to last report of its redraw: %ld samples, median %.3f ms, p99 %.3f ms, "
        "max %.3f ms\n",
        samples, at(0.5), at(0.99), latencies.back());
    return 0;
}
