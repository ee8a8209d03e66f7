#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <limits>
#include <string>

#include "common/value_readers.h"

namespace zelk {
namespace {

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

TEST(ReadTruth, OnlyALeadingTInEitherCaseIsTrue) {
    for (const char* text : {"True", "TRUE", "tomato"}) {
        EXPECT_TRUE(ReadTruth(text)) << text;
    }
    const char* const untrue[] = {"False", "yes", "1", "", " True", nullptr};
    for (const char* text : untrue) {
        EXPECT_FALSE(ReadTruth(text)) << (text ? text : "null");
    }
}

struct IntegerCase {
    const char* text;
    std::int32_t expected;
};

TEST(ReadInteger, DecimalAndHexFollowTheGrammarAndSaturate) {
    const IntegerCase decimal[] = {
        {"  \t\n\v\f\r17", 17},
        {"+8", 8},
        {"-3725", -3725},
        {"12abc", 12},
        {"7.9", 7},
        {"", 0},
        {"-", 0},
        {"+-5", 0},
        {"- 5", 0},
        {"0x1F", 0},
        {"2147483647", kMax},
        {"2147483648", kMax},
        {"-2147483648", kMin},
        {"-2147483649", kMin},
        {"000000000000000000000123", 123},
        {"-99999999999999999999999999999999", kMin},
        {"4294967296", kMax}  // would wrap to 0 if only the low 32 bits were kept
    };
    for (const auto& c : decimal) {
        EXPECT_EQ(ReadInteger(c.text), c.expected) << '"' << c.text << '"';
    }
    EXPECT_EQ(ReadInteger(nullptr), 0);

    const IntegerCase hex[] = {{"0x045E", 0x045E},  {"0X45e", 0x45E},
                               {"  fF", 0xFF},      {"-0x10", -16},
                               {"+1a", 0x1A},       {"0x", 0},
                               {"0xg", 0},          {"", 0},
                               {"7FFFFFFF", kMax},  {"80000000", kMax},
                               {"-80000000", kMin}, {"FFFFFFFFFFFFFFFFFFFF", kMax}};
    for (const auto& c : hex) {
        EXPECT_EQ(ReadHexInteger(c.text), c.expected) << '"' << c.text << '"';
    }
    EXPECT_EQ(ReadHexInteger(nullptr), 0);
}

struct RealCase {
    const char* text;
    double expected;
};

// An exponent without (signed) digits, a second point, a comma, hexadecimal floats, infinities
// and NaNs all end the number where they start.
TEST(ReadReal, ReadsAsFarAsTheTextFormsANumberAndSaturates) {
    constexpr double kLargest = std::numeric_limits<double>::max();
    const RealCase cases[] = {
        {"  -2.5", -2.5},
        {"+.5", 0.5},
        {"5.", 5.0},
        {"1E+3", 1000.0},
        {"25e-1", 2.5},
        {"1.5e", 1.5},
        {"1.5e+", 1.5},
        {"3.1.4", 3.1},
        {"101,1", 101.0},
        {"0.1", 0.1},
        {".", 0.0},
        {".e5", 0.0},
        {"-infinity", 0.0},
        {"NAN(123)", 0.0},
        {"0x1p3", 0.0},
        {"0e999999999999999999", 0.0},
        {"1e-400", 0.0},
        {"10000e-400", 0.0},
        {"123456789012345678901234567890e-20", 1234567890.1234567890123456789},
        {"0.000000000000000000000000000001e30", 1.0}};
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(ReadReal(c.text), c.expected) << '"' << c.text << '"';
    }
    EXPECT_EQ(ReadReal(nullptr), 0.0);
    // Overflow stops at the largest finite value, exactly (not one step further, at infinity).
    const std::string nines = "9" + std::string(400, '9');
    const RealCase huge[] = {{"1e400", kLargest},
                             {"-1e400", -kLargest},
                             {"1e99999999999999999999", kLargest},
                             {"0.0001e400", kLargest},  // tiny mantissa, huge exponent
                             {nines.c_str(), kLargest}};
    for (const auto& c : huge) {
        EXPECT_EQ(ReadReal(c.text), c.expected) << '"' << c.text << '"';
    }
    EXPECT_DOUBLE_EQ(ReadReal(("1" + std::string(400, '0') + "e-400").c_str()), 1.0);
}

TEST(ReadReal, IgnoresTheCLocalesDecimalSeparator) {
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    bool switched = false;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "German_Germany.1252"}) {
        if (std::setlocale(LC_NUMERIC, name) != nullptr) {
            switched = true;
            break;
        }
    }
    const double dotted = ReadReal("88.5");
    const double commaed = ReadReal("88,5");
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_DOUBLE_EQ(dotted, 88.5);
    EXPECT_DOUBLE_EQ(commaed, 88.0);
    if (!switched) {
        GTEST_SKIP() << "no locale with a decimal comma on this system";
    }
}

}  // namespace
}  // namespace zelk
