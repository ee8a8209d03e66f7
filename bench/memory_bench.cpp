// Memory over a long run: resident memory of the running service on the virtual panel after a
// warm-up, and again after a million records (every record is redrawn or coalesced into a
// redraw, so the panel receives millions of reports).
#include <vector>

#include "bench/bench_rig.h"
#include "common/media_status_tags.h"
#include "tools/sim/sim_terminal.h"

namespace {

void SendMany(zelk::BenchService& bench, long records, long writers) {
    std::vector<std::thread> threads;
    for (long w = 0; w < writers; ++w) {
        threads.emplace_back([&bench, records, writers, w] {
            for (long i = w; i < records; i += writers) {
                const std::string text = std::to_string(i % 3600);
                bench.Send(zelk::MSPROPTAG_TrackTime, text.c_str());
            }
        });
    }
    for (std::thread& t : threads) t.join();
}

}  // namespace

int main(int argc, char** argv) {
    using namespace zelk;
    const long records = OptionValue(argc, argv, "--records", 1000000);
    const long writers = std::max(1L, OptionValue(argc, argv, "--writers", 4));
    BenchService bench;
    bench.Send(kTagSessionOpened, "");
    bench.Send(MSPROPTAG_CD, "True");
    bench.Send(MSPROPTAG_Play, "True");
    SendMany(bench, 20000, writers);  // warm-up: the history fills, the allocator settles
    const ResidentMemory before = ProcessResidentMemory();
    const std::size_t reportsBefore = bench.bus.ReportCount();
    const auto start = std::chrono::steady_clock::now();
    SendMany(bench, records, writers);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const ResidentMemory after = ProcessResidentMemory();
    std::printf(
        "memory: %ld records in %.1f s, %zu panel reports; resident %.2f MB before, %.2f MB "
        "after (%+.2f MB), peak %.2f MB\n",
        records, seconds, bench.bus.ReportCount() - reportsBefore, before.now / 1048576.0,
        after.now / 1048576.0, (static_cast<double>(after.now) - before.now) / 1048576.0,
        after.peak / 1048576.0);
    return 0;
}
