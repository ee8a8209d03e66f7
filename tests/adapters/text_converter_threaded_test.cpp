#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
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

    struct Case {
        std::string in;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"Caf\xE9 del Mar", "Caf\x82 del Mar"},
        {"\xC4rger \xFC"
         "ber \xD6l",
         "\x8Erger \x81"
         "ber \x99l"},
        {"Track 12 - 03:45", "Track 12 - 03:45"},
        {"\xA3\xE8\xE7\xF1", "\x9C\x8A\x87\xA4"},
    };
    constexpr int kThreads = 4;
    constexpr int kRounds = 400;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                const Case& c = cases[(t + i) % cases.size()];
                char out[128];
                std::uint32_t length = static_cast<std::uint32_t>(c.in.size());
                std::uint32_t capacity = sizeof out;
                const HResult hr = converter->Convert(c.in.data(), length, out, capacity);
                if (hr != kSOk || std::string(out, capacity) != c.expected) {
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
