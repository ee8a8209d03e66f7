#include "service/lcdproc/lcd_tokenizer.h"

namespace zelk {
namespace {

char Unescape(char c) {
    switch (c) {
        case 'n':
            return '\n';
        case 't':
            return '\t';
        case 'r':
            return '\r';
        case 'a':
            return '\a';
        case 'b':
            return '\b';
        case 'f':
            return '\f';
        case 'v':
            return '\v';
        default:
            return c;
    }
}

bool IsSeparator(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

TokenizeError TokenizeLine(std::string_view line, std::vector<std::string>& args,
                           const TokenizeLimits& limits) {
    args.clear();
    std::size_t i = 0;
    const std::size_t n = line.size();
    while (true) {
        while (i < n && IsSeparator(line[i])) ++i;
        if (i >= n) return TokenizeError::kNone;
        if (args.size() >= limits.maxArguments) return TokenizeError::kTooManyArguments;
        std::string arg;
        bool quoted = false;
        std::size_t braces = 0;
        for (; i < n; ++i) {
            char c = line[i];
            if (!quoted && braces == 0) {
                if (IsSeparator(c)) break;
                if (c == '"') {
                    quoted = true;
                    continue;
                }
                if (c == '{') {
                    braces = 1;
                    continue;
                }
            } else {
                if (c == '\\' && i + 1 < n) {
                    c = Unescape(line[++i]);
                } else if (quoted && c == '"') {
                    quoted = false;
                    continue;
                } else if (!quoted && c == '{') {
                    ++braces;
                } else if (!quoted && c == '}') {
                    if (--braces == 0) continue;
                }
            }
            if (arg.size() >= limits.maxArgumentBytes) return TokenizeError::kArgumentTooLong;
            arg.push_back(c);
        }
        if (quoted) return TokenizeError::kUnterminatedQuote;
        if (braces != 0) return TokenizeError::kUnterminatedBrace;
        args.push_back(std::move(arg));
    }
}

const char* TokenizeErrorText(TokenizeError error) {
    switch (error) {
        case TokenizeError::kNone:
            return "";
        case TokenizeError::kUnterminatedQuote:
            return "Unterminated quote";
        case TokenizeError::kUnterminatedBrace:
            return "Unterminated brace";
        case TokenizeError::kTooManyArguments:
            return "Too many arguments";
        case TokenizeError::kArgumentTooLong:
            return "Argument too long";
    }
    return "";
}

}  // namespace zelk
