#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "common/debug_print.h"
#include "service/adapters/text_converter.h"

namespace zelk {
namespace {

// A thread already in the multithreaded apartment cannot enter a single-threaded one, so
// CoInitialize fails there: Open reports it and the converter stays unusable but safe. A
// successful Open traces nothing.
TEST(MLangTextConverter, FailedComStartIsTracedAndLeavesACopyingConverter) {
    ScopedDebugCapture capture;
    HResult results[3] = {};
    std::string converted;
    std::thread worker([&] {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        auto converter = CreateSystemTextConverter();
        results[0] = converter->Open();
        results[1] = converter->SetCodePages(kCodePageWindowsLatin1, kCodePageDosLatin1,
                                             kConvertNoBestFitChars);
        char out[8];
        std::uint32_t length = 3;
        std::uint32_t capacity = sizeof out;
        results[2] = converter->Convert("\xE9t\xE9", length, out, capacity);
        converted.assign(out, capacity);
        converter.reset();
        CoUninitialize();
    });
    worker.join();
    EXPECT_EQ(results[0], static_cast<HResult>(RPC_E_CHANGED_MODE));
    EXPECT_EQ(results[1], kEPointer);
    EXPECT_EQ(results[2], kSFalse);
    EXPECT_EQ(converted, "\xE9t\xE9");

    auto converter = CreateSystemTextConverter();
    EXPECT_EQ(converter->Open(), kSOk);
    EXPECT_EQ(
        converter->SetCodePages(kCodePageWindowsLatin1, kCodePageDosLatin1, kConvertNoBestFitChars),
        kSOk);
    const auto lines = capture.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("Error initializing COM (0x", 0), 0u) << lines[0];
    EXPECT_EQ(lines[0].back(), '\n');
}

}  // namespace
}  // namespace zelk
