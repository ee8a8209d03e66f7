#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "service/adapters/text_converter.h"
#include "tests/adapters/wine_detect.h"

namespace zelk {
namespace {

constexpr char kCanary = '\x5A';

struct Result {
    HResult hr;
    std::uint32_t consumed;
    std::string out;
};

// Converts `in` into a buffer of `capacity` bytes followed by canary bytes, and checks that
// nothing past the capacity was touched.
Result ConvertInto(TextConverter& converter, const std::string& in, std::uint32_t capacity) {
    std::string buffer(capacity + 16, kCanary);
    std::uint32_t length = static_cast<std::uint32_t>(in.size());
    std::uint32_t written = capacity;
    const HResult hr = converter.Convert(in.data(), length, buffer.data(), written);
    EXPECT_LE(written, capacity);
    for (std::size_t i = capacity; i < buffer.size(); ++i) {
        EXPECT_EQ(buffer[i], kCanary) << "byte " << i << " past the capacity was written";
    }
    return {hr, length, buffer.substr(0, written)};
}

class TextConverterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        converter_ = CreateSystemTextConverter();
        ASSERT_EQ(converter_->Open(), kSOk);
        ASSERT_EQ(converter_->SetCodePages(kCodePageWindowsLatin1, kCodePageDosLatin1,
                                           kConvertNoBestFitChars),
                  kSOk);
    }

    Result Convert(const std::string& in, std::uint32_t capacity = 128) {
        return ConvertInto(*converter_, in, capacity);
    }

    std::unique_ptr<TextConverter> converter_;
};

TEST_F(TextConverterTest, AccentedLettersTakeTheirDosCodes) {
    const Result r = Convert("\xE9\xE8\xFC\xC4\xA3");  // é è ü Ä £
    EXPECT_EQ(r.hr, kSOk);
    EXPECT_EQ(r.consumed, 5u);
    EXPECT_EQ(r.out, std::string("\x82\x8A\x81\x8E\x9C"));
}

TEST_F(TextConverterTest, AsciiPassesByteForByte) {
    std::string ascii;
    for (int c = 0x20; c < 0x7F; ++c) {
        ascii.push_back(static_cast<char>(c));
    }
    const Result r = Convert(ascii);
    EXPECT_EQ(r.hr, kSOk);
    EXPECT_EQ(r.consumed, ascii.size());
    EXPECT_EQ(r.out, ascii);
}

TEST_F(TextConverterTest, MissingCharacterGetsNoLookAlikeAndTheRestConverts) {
    const Result r = Convert(
        "ab\x93"
        "c\xE9");  // a b “ c é
    ASSERT_EQ(r.out.size(), 5u);
    EXPECT_EQ(r.out.substr(0, 2), "ab");
    EXPECT_EQ(r.out.substr(3), "c\x82");
    EXPECT_EQ(r.consumed, 5u);
#ifndef _WIN32
    EXPECT_EQ(r.out[2], '?');
#endif
    if (testing::RunningUnderWine()) {
        GTEST_SKIP() << "Wine's MLang ignores the no-best-fit flag and writes 0x22 for 0x93";
    }
    EXPECT_NE(r.out[2], '"') << "the left double quotation mark became a plain quotation mark";
}

TEST_F(TextConverterTest, SmallDestinationIsNeverOverrun) {
    const Result r = Convert("h\xE9llo world", 4);
    EXPECT_EQ(r.out, std::string("h\x82ll"));
    EXPECT_NE(r.hr, kSOk);
    EXPECT_EQ(r.consumed, 4u);
    const Result none = Convert("abc", 0);
    EXPECT_EQ(none.out, "");
    EXPECT_NE(none.hr, kSOk);
}

TEST_F(TextConverterTest, EmptyAndNullArguments) {
    const Result empty = Convert("");
    EXPECT_EQ(empty.hr, kSOk);
    EXPECT_EQ(empty.out, "");

    char out[8];
    std::uint32_t length = 3;
    std::uint32_t capacity = sizeof out;
    EXPECT_EQ(converter_->Convert(nullptr, length, out, capacity), kEPointer);
    EXPECT_EQ(capacity, 0u);
    length = 3;
    capacity = sizeof out;
    EXPECT_EQ(converter_->Convert("abc", length, nullptr, capacity), kEPointer);
    EXPECT_EQ(capacity, 0u);
}

TEST_F(TextConverterTest, SecondOpenKeepsTheConverters) {
    EXPECT_EQ(converter_->Open(), kSOk);
    EXPECT_EQ(Convert("\xE9").out, "\x82");
}

TEST(TextConverterUnopened, SetCodePagesWithoutOpenIsRefused) {
    auto converter = CreateSystemTextConverter();
    EXPECT_EQ(
        converter->SetCodePages(kCodePageWindowsLatin1, kCodePageDosLatin1, kConvertNoBestFitChars),
        kEPointer);
    // No converters: the bytes are copied unchanged, as many as fit.
    const Result r = ConvertInto(*converter, "d\xE9j\xE0 vu", 5);
    EXPECT_EQ(r.hr, kSFalse);
    EXPECT_EQ(r.out, std::string("d\xE9j\xE0 "));
    EXPECT_EQ(r.consumed, 5u);
}

TEST(TextConverterUnopened, OpenWithoutCodePagesCopies) {
    auto converter = CreateSystemTextConverter();
    ASSERT_EQ(converter->Open(), kSOk);
    const Result r = ConvertInto(*converter, "caf\xE9", 16);
    EXPECT_EQ(r.hr, kSFalse);
    EXPECT_EQ(r.out, "caf\xE9");
}

}  // namespace
}  // namespace zelk
