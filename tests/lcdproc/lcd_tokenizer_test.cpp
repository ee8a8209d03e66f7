#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service/lcdproc/lcd_tokenizer.h"

namespace zelk {
namespace {

using Args = std::vector<std::string>;

Args Tokens(std::string_view line) {
    Args args;
    EXPECT_EQ(TokenizeLine(line, args), TokenizeError::kNone) << line;
    return args;
}

TEST(LcdTokenizer, SplitsQuotesBracesAndEscapes) {
    EXPECT_EQ(Tokens("  widget_set\ts  w 1 1  "), (Args{"widget_set", "s", "w", "1", "1"}));
    EXPECT_EQ(Tokens(R"(a "two words" {three more words})"),
              (Args{"a", "two words", "three more words"}));
    EXPECT_EQ(Tokens(R"("say \"hi\"" "back\\slash" "a\nb\tc")"),
              (Args{"say \"hi\"", "back\\slash", "a\nb\tc"}));
    EXPECT_EQ(Tokens(R"({nested {braces} here} {with "quote"} {esc\}aped})"),
              (Args{"nested {braces} here", "with \"quote\"", "esc}aped"}));
    EXPECT_EQ(Tokens(R"(ab"cd ef"gh "" {})"), (Args{"abcd efgh", "", ""}));
    EXPECT_EQ(Tokens(R"(plain\n back\slash)"), (Args{"plain\\n", "back\\slash"}));
    EXPECT_EQ(Tokens(""), Args{});
}

TEST(LcdTokenizer, MalformedLinesGiveAnError) {
    Args args;
    EXPECT_EQ(TokenizeLine(R"(a "open)", args), TokenizeError::kUnterminatedQuote);
    EXPECT_EQ(TokenizeLine(R"(a "ends in backslash\)", args), TokenizeError::kUnterminatedQuote);
    EXPECT_EQ(TokenizeLine("a {open {inner}", args), TokenizeError::kUnterminatedBrace);
    EXPECT_EQ(TokenizeLine("a b c", args, {2, 10}), TokenizeError::kTooManyArguments);
    EXPECT_EQ(TokenizeLine("a 0123456789x", args, {4, 10}), TokenizeError::kArgumentTooLong);
    EXPECT_EQ(TokenizeLine("a \"0123456789\"", args, {4, 10}), TokenizeError::kNone);
    EXPECT_STREQ(TokenizeErrorText(TokenizeError::kUnterminatedQuote), "Unterminated quote");
}

}  // namespace
}  // namespace zelk
