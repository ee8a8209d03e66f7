// Splits one LCDproc command line into its arguments.
//
// Arguments are separated by spaces or tabs. A double-quoted part ("two words") or a braced
// part ({two words}, braces may nest) belongs to the argument it touches, without its quotes or
// outer braces; inside either, a backslash escapes the next character: \n \t \r \a \b \f \v give
// those control characters, any other character (\" \\ \} ...) stands for itself. Outside quotes
// and braces a backslash is an ordinary character. An empty quoted part ("") is an argument.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zelk {

enum class TokenizeError {
    kNone,
    kUnterminatedQuote,
    kUnterminatedBrace,
    kTooManyArguments,
    kArgumentTooLong,
};

struct TokenizeLimits {
    std::size_t maxArguments = 64;
    std::size_t maxArgumentBytes = 512;
};

// Fills `args` (cleared first) with the arguments of `line`. On an error `args` holds what was
// read before it and the error says why the line is not usable.
TokenizeError TokenizeLine(std::string_view line, std::vector<std::string>& args,
                           const TokenizeLimits& limits = {});

// The reason for an error, as the text of a "huh?" reply.
const char* TokenizeErrorText(TokenizeError error);

}  // namespace zelk
