#include "service/host/command_line.h"

#include <cstddef>
#include <cstdint>
#include <limits>

namespace zelk {

namespace {

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsNoCase(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (AsciiLower(*a) != AsciiLower(*b)) return false;
    }
    return *a == *b;
}

struct OptionWord {
    const char* word;
    int action;  // -1: the option sets the silent flag instead
};

constexpr OptionWord kOptionWords[] = {
    {"install", kActionInstall},
    {"silent", -1},
    {"start", kActionStart},
    {"pause", kActionPause},
    {"continue", kActionContinue},
    {"stop", kActionStop},
    {"remove", kActionUninstall},
    {"uninstall", kActionUninstall},
    {"debug", kActionDebug},
    {"help", kActionHelp},
    {"?", kActionHelp},
};

}  // namespace

std::int32_t ParseTimeoutNumber(const char* text) {
    while (*text == ' ' || *text == '\t') ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        ++text;
    }
    // Accumulate as a magnitude and stop growing once past the range, so a long run of digits
    // gives the range's end instead of overflowing.
    constexpr std::int64_t kLimit =
        static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::max()) + 1;
    std::int64_t magnitude = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        if (magnitude <= kLimit) magnitude = magnitude * 10 + (*text - '0');
    }
    if (negative) {
        return magnitude >= kLimit ? std::numeric_limits<std::int32_t>::min()
                                   : static_cast<std::int32_t>(-magnitude);
    }
    return magnitude >= kLimit ? std::numeric_limits<std::int32_t>::max()
                               : static_cast<std::int32_t>(magnitude);
}

void ServiceCommandLine::ParseOption(const char* text, bool isOption, bool /*isLast*/) {
    if (!isOption || text == nullptr) return;
    for (const OptionWord& option : kOptionWords) {
        if (EqualsNoCase(text, option.word)) {
            if (option.action < 0) {
                silent = true;
            } else {
                action = option.action;
            }
            return;
        }
    }
    // "T:<milliseconds>" sets the uninstall wait; "-1" waits without limit.
    if ((text[0] == 't' || text[0] == 'T') && text[1] == ':' && text[2] != '\0') {
        timeout = static_cast<std::uint32_t>(ParseTimeoutNumber(text + 2));
    }
}

void ParseArguments(ServiceCommandLine& commandLine, int argc, const char* const* argv) {
    if (argv == nullptr) return;
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (argument == nullptr) continue;
        const bool isOption = argument[0] == '-' || argument[0] == '/';
        commandLine.ParseOption(isOption ? argument + 1 : argument, isOption, i + 1 == argc);
    }
}

}  // namespace zelk
