// Records per second through the pipe server into the virtual panel, one connection per
// record, from one or more writers.
#include <vector>

#include "bench/bench_rig.h"
#include "common/debug_print.h"

int main(int argc, char** argv) {
    using namespace zelk;
    const long records = OptionValue(argc, argv, "--records", 5000);
    const long writers = std::max(1L, OptionValue(argc, argv, "--writers", 1));
    ScopedDebugCapture quiet;  // one session trace per record
    BenchService bench;

    const PipeMessage open = MakePipeMessage(1, kTagSessionOpened, "", 0);
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    std::atomic<long> failures{0};
    for (long w = 0; w < writers; ++w) {
        threads.emplace_back([&, w] {
            for (long i = w; i < records; i += writers) {
                if (SendPipeRecord(bench.PipeName(), open) != 0) ++failures;
            }
        });
    }
    for (auto& t : threads) t.join();
    // Applied means counted in the state.
    while (bench.service->Shared().Snapshot().sessionCount < records - failures.load()) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf(
        "pipe throughput: %ld records, %ld writer(s), %.3f s, %.0f records/s, "
        "%ld failed, %llu redraws\n",
        records, writers, seconds, records / seconds, failures.load(),
        static_cast<unsigned long long>(bench.service->Redraws()));
    return failures.load() == 0 ? 0 : 1;
}
