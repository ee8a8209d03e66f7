#include "tools/sim/sim_options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "common/long_options.h"
#include "common/media_status_tags.h"
#include "common/pipe_message.h"
#include "tools/sim/sim_clock.h"

namespace zelk {

namespace {

std::optional<std::int64_t> ParseWhole(const std::string& text, int base) {
    if (text.empty() || text.find_first_of(" \t\r\n") != std::string::npos) {
        return std::nullopt;
    }
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, base);
    if (errno != 0 || end == nullptr || *end != '\0' || end == text.c_str()) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<std::int32_t> ParseDecimal(const std::string& text) {
    const auto value = ParseWhole(text, 10);
    if (!value || *value < INT32_MIN || *value > INT32_MAX) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(*value);
}

std::optional<std::int32_t> ParseTag(const std::string& text) {
    if (text == "open") {
        return kTagSessionOpened;
    }
    if (text == "close") {
        return kTagSessionClosed;
    }
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        const auto value = ParseWhole(text.substr(2), 16);
        if (!value || text[2] == '-' || text[2] == '+' || *value > 0xFFFFFFFFLL) {
            return std::nullopt;
        }
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(*value));
    }
    if (const auto number = ParseDecimal(text)) {
        return number;
    }
    return TagFromName(text);
}

std::optional<SimOptions> ParseSimOptions(const std::vector<std::string>& args,
                                          std::string& error) {
    SimOptions options;
    options.pipeName = kPipeName;
    LongOptions parser;
    parser.Value("--props", options.propsPath, true)
        .Value("--pipe", options.pipeName, true)
        .Value("--report-log", options.reportLogPath, true)
        .Value("--advance",
               [&options](const std::string& span) {
                   const auto ms = ParseTimeSpanMs(span);
                   if (!ms)
                       return "--advance needs a time such as 300, 5m or 8h, not \"" + span + "\"";
                   options.advanceMs = *ms;
                   return std::string();
               })
        .Flag("--quiet", options.quiet);
    AddLcdServerOptions(parser, options.lcdServer);
    const LongOptions::Outcome outcome = parser.Parse(args, error);
    if (outcome == LongOptions::Outcome::kError) return std::nullopt;
    options.help = outcome == LongOptions::Outcome::kHelp;
    options.version = outcome == LongOptions::Outcome::kVersion;
    if (options.pipeName.empty() && outcome == LongOptions::Outcome::kRun) {
        error = "--pipe needs a name";
        return std::nullopt;
    }
    return options;
}

std::optional<SendOptions> ParseSendOptions(const std::vector<std::string>& args,
                                            std::string& error) {
    SendOptions options;
    options.pipeName = kPipeName;
    std::vector<std::string> positional;
    LongOptions parser;
    parser.Value("--pipe", options.pipeName, true)
        .Value("--session",
               [&options](const std::string& session) {
                   const auto number = ParseDecimal(session);
                   if (!number) return "--session needs a whole number, not \"" + session + "\"";
                   options.session = *number;
                   return std::string();
               })
        .Positional(positional);
    const LongOptions::Outcome outcome = parser.Parse(args, error);
    if (outcome == LongOptions::Outcome::kError) return std::nullopt;
    options.help = outcome == LongOptions::Outcome::kHelp;
    options.version = outcome == LongOptions::Outcome::kVersion;
    if (outcome != LongOptions::Outcome::kRun) return options;
    if (positional.empty() || positional.size() > 2) {
        error = positional.empty() ? "a TAG is needed" : "too many arguments";
        return std::nullopt;
    }
    const auto tag = ParseTag(positional[0]);
    if (!tag) {
        error = "unknown tag: " + positional[0];
        return std::nullopt;
    }
    options.tag = *tag;
    if (positional.size() == 2) {
        options.text = positional[1];
    }
    if (options.pipeName.empty()) {
        error = "--pipe needs a name";
        return std::nullopt;
    }
    return options;
}

std::optional<std::uint64_t> ParseTimeSpanMs(const std::string& text) {
    if (text.empty()) return std::nullopt;
    std::uint64_t unitMs = 1000;
    std::string digits = text;
    switch (text.back()) {
        case 's':
            digits.pop_back();
            break;
        case 'm':
            unitMs = 60u * 1000u;
            digits.pop_back();
            break;
        case 'h':
            unitMs = 60u * 60u * 1000u;
            digits.pop_back();
            break;
        default:
            break;
    }
    const auto value = ParseDecimal(digits);
    if (!value || *value < 0 || digits.front() == '+') return std::nullopt;
    const std::uint64_t ms = static_cast<std::uint64_t>(*value) * unitMs;
    if (ms > 366ull * 24u * 60u * 60u * 1000u) return std::nullopt;
    return ms;
}

const char* SimUsage() {
    return "usage: lumara-sim [--props FILE] [--pipe NAME] [--report-log FILE] [--quiet]\n"
           "                  [--advance TIME] [--lcdproc-port N [--lcdproc-address A]...]\n"
           "       lumara-sim --help | --version\n"
           "commands on standard input, one a line: stop, shutdown, suspend, resume,\n"
           "resume-automatic, control N, volume N, mute 0|1, unplug, plug,\n"
           "advance TIME (moves the service's time forward: 300, 90s, 5m, 8h),\n"
           "snapshot FILE (an SVG picture)\n"
           "--lcdproc-port N serves LCDproc clients on port N (0: any free port) of\n"
           "127.0.0.1 and ::1, or of each --lcdproc-address\n";
}

const char* SendUsage() {
    return "usage: lumara-send [--pipe NAME] [--session N] TAG [TEXT]\n"
           "       lumara-send --help | --version\n"
           "TAG: a number (decimal or 0x), a MSPROPTAG_ name with or without the prefix,\n"
           "or open / close for the session messages\n";
}

}  // namespace zelk
