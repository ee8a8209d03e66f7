#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "service/adapters/text_converter.h"

namespace zelk {
namespace {

// The run loop and the scroll thread convert lines at the same time through one converter.
TEST(TextConverterThreads, ConcurrentConversionsAreEachCorrect) {
    auto converter = CreateSystemTextConverter();
    ASSERT_EQ(converter->Open(), kSOk);
    ASSERT_EQ(
        converter->SetCodePages(kCodePageWindowsLatin1, kCodePageDosLatin1, kConvertNoBestFitChars),
        kSOk);
    const std::pair<std::string, std::string> cases[] = {
        {"Caf\xE9 del Mar", "Caf\x82 del Mar"},
        {"Track 12 - 03:45", "Track 12 - 03:45"},
        {"\xA3\xE8\xE7\xF1\xC4\xD6", "\x9C\x8A\x87\xA4\x8E\x99"}};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 400; ++i) {
                const auto& [in, expected] = cases[(t + i) % 3];
                char out[128];
                std::uint32_t length = static_cast<std::uint32_t>(in.size());
                std::uint32_t capacity = sizeof out;
                if (converter->Convert(in.data(), length, out, capacity) != kSOk ||
                    std::string(out, capacity) != expected) {
                    ++failures;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace zelk
