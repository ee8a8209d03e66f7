#include "tools/sim/sim_options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "common/media_status_tags.h"
#include "common/pipe_message.h"

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

// The value of an option that takes one: "--name VALUE" or "--name=VALUE".
bool TakeValue(const std::vector<std::string>& args, std::size_t& i, const std::string& name,
               std::string& value, std::string& error, bool& matched) {
    const std::string& arg = args[i];
    matched = false;
    if (arg == name) {
        matched = true;
        if (i + 1 >= args.size()) {
            error = name + " needs a value";
            return false;
        }
        value = args[++i];
        return true;
    }
    if (arg.rfind(name + "=", 0) == 0) {
        matched = true;
        value = arg.substr(name.size() + 1);
        return true;
    }
    return true;
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
    for (std::size_t i = 0; i < args.size(); ++i) {
        bool matched = false;
        if (!TakeValue(args, i, "--props", options.propsPath, error, matched)) return std::nullopt;
        if (matched) continue;
        if (!TakeValue(args, i, "--pipe", options.pipeName, error, matched)) return std::nullopt;
        if (matched) continue;
        if (!TakeValue(args, i, "--report-log", options.reportLogPath, error, matched)) {
            return std::nullopt;
        }
        if (matched) continue;
        if (args[i] == "--quiet") {
            options.quiet = true;
            continue;
        }
        error = "unknown argument: " + args[i];
        return std::nullopt;
    }
    if (options.pipeName.empty()) {
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
    for (std::size_t i = 0; i < args.size(); ++i) {
        bool matched = false;
        if (!TakeValue(args, i, "--pipe", options.pipeName, error, matched)) return std::nullopt;
        if (matched) continue;
        std::string session;
        if (!TakeValue(args, i, "--session", session, error, matched)) return std::nullopt;
        if (matched) {
            const auto number = ParseDecimal(session);
            if (!number) {
                error = "--session needs a whole number, not \"" + session + "\"";
                return std::nullopt;
            }
            options.session = *number;
            continue;
        }
        if (args[i].size() > 2 && args[i].rfind("--", 0) == 0) {
            error = "unknown option: " + args[i];
            return std::nullopt;
        }
        positional.push_back(args[i]);
    }
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

const char* SimUsage() {
    return "usage: lumara-sim [--props FILE] [--pipe NAME] [--report-log FILE] [--quiet]\n"
           "commands on standard input, one a line: stop, shutdown, suspend, resume,\n"
           "resume-automatic, control N, volume N, mute 0|1, snapshot FILE (an SVG picture)\n";
}

const char* SendUsage() {
    return "usage: lumara-send [--pipe NAME] [--session N] TAG [TEXT]\n"
           "TAG: a number (decimal or 0x), a MSPROPTAG_ name with or without the prefix,\n"
           "or open / close for the session messages\n";
}

}  // namespace zelk
