#include <gtest/gtest.h>

#include <string>

#include "service/adapters/text_converter.h"
#include "tests/adapters/wine_detect.h"

namespace zelk {
namespace {

struct Result {
    HResult hr;
    std::uint32_t consumed;
    std::string out;
};

// Converts `in` into a buffer of `capacity` bytes followed by canary bytes, and checks that
// nothing past the capacity was touched.
Result ConvertInto(TextConverter& converter, const std::string& in, std::uint32_t capacity = 128) {
    std::string buffer(capacity + 16, '\x5A');
    std::uint32_t length = static_cast<std::uint32_t>(in.size());
    std::uint32_t written = capacity;
    const HResult hr = converter.Convert(in.data(), length, buffer.data(), written);
    EXPECT_LE(written, capacity);
    EXPECT_EQ(buffer.substr(capacity), std::string(16, '\x5A')) << "written past the capacity";
    return {hr, length, buffer.substr(0, written)};
}

std::unique_ptr<TextConverter> OpenedConverter() {
    auto converter = CreateSystemTextConverter();
    EXPECT_EQ(converter->Open(), kSOk);
    EXPECT_EQ(
        converter->SetCodePages(kCodePageWindowsLatin1, kCodePageDosLatin1, kConvertNoBestFitChars),
        kSOk);
    return converter;
}

TEST(TextConverter, AccentedLettersTakeTheirDosCodesAndAsciiPasses) {
    auto converter = OpenedConverter();
    std::string ascii;
    for (char c = 0x20; c < 0x7F; ++c) {
        ascii.push_back(c);
    }
    const std::pair<std::string, std::string> cases[] = {
        {"\xE9\xE8\xFC\xC4\xA3", "\x82\x8A\x81\x8E\x9C"},  // é è ü Ä £
        {ascii, ascii},
        {"", ""}};
    for (const auto& [in, expected] : cases) {
        const Result r = ConvertInto(*converter, in);
        EXPECT_EQ(r.hr, kSOk) << in;
        EXPECT_EQ(r.consumed, in.size());
        EXPECT_EQ(r.out, expected);
    }
    EXPECT_EQ(converter->Open(), kSOk);  // a second Open keeps the converters
    EXPECT_EQ(ConvertInto(*converter, "\xE9").out, "\x82");
}

TEST(TextConverter, MissingCharacterGetsNoLookAlikeAndTheRestConverts) {
    auto converter = OpenedConverter();
    const Result r = ConvertInto(*converter,
                                 "ab\x93"
                                 "c\xE9");  // a b “ c é
    ASSERT_EQ(r.out.size(), 5u);
    EXPECT_EQ(r.out.substr(0, 2), "ab");
    EXPECT_EQ(r.out.substr(3), "c\x82");
#ifndef _WIN32
    EXPECT_EQ(r.out[2], '?');
#endif
    if (test::RunningUnderWine()) {
        GTEST_SKIP() << "Wine's MLang ignores the no-best-fit flag and writes 0x22 for 0x93";
    }
    EXPECT_NE(r.out[2], '"') << "the left double quotation mark became a plain quotation mark";
}

TEST(TextConverter, SmallDestinationAndNullArguments) {
    auto converter = OpenedConverter();
    const Result r = ConvertInto(*converter, "h\xE9llo world", 4);
    EXPECT_EQ(r.out, "h\x82ll");
    EXPECT_NE(r.hr, kSOk);
    EXPECT_EQ(r.consumed, 4u);
    EXPECT_NE(ConvertInto(*converter, "abc", 0).hr, kSOk);

    char out[8];
    for (const bool nullSource : {true, false}) {
        std::uint32_t length = 3;
        std::uint32_t capacity = sizeof out;
        EXPECT_EQ(converter->Convert(nullSource ? nullptr : "abc", length,
                                     nullSource ? out : nullptr, capacity),
                  kEPointer);
        EXPECT_EQ(capacity, 0u);
    }
}

// Without converters the bytes are copied unchanged, as many as fit.
TEST(TextConverter, WithoutCodePagesBytesAreCopied) {
    auto unopened = CreateSystemTextConverter();
    EXPECT_EQ(
        unopened->SetCodePages(kCodePageWindowsLatin1, kCodePageDosLatin1, kConvertNoBestFitChars),
        kEPointer);
    const Result r = ConvertInto(*unopened, "d\xE9j\xE0 vu", 5);
    EXPECT_EQ(r.hr, kSFalse);
    EXPECT_EQ(r.out, "d\xE9j\xE0 ");
    EXPECT_EQ(r.consumed, 5u);

    auto opened = CreateSystemTextConverter();
    ASSERT_EQ(opened->Open(), kSOk);
    const Result copied = ConvertInto(*opened, "caf\xE9");
    EXPECT_EQ(copied.hr, kSFalse);
    EXPECT_EQ(copied.out, "caf\xE9");
}

}  // namespace
}  // namespace zelk
