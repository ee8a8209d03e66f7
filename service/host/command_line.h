// The service program's command line: which command to run, the uninstall wait and whether
// failure texts are shown.
#pragma once

#include <cstdint>

namespace zelk {

// The commands of the service program.
enum ServiceAction : int {
    kActionRunAsService = 0,
    kActionStart = 1,
    kActionPause = 2,
    kActionContinue = 3,
    kActionStop = 4,
    kActionInstall = 5,
    kActionUninstall = 6,
    kActionDebug = 7,
    kActionHelp = 8,
};

inline constexpr std::uint32_t kDefaultUninstallTimeoutMs = 5000;

class ServiceCommandLine {
  public:
    virtual ~ServiceCommandLine() = default;

    // One argument of the command line. `text` is the argument without its leading "-" or "/"
    // when `isOption` is true; arguments that are not options are ignored. Options are
    // compared without regard to case; a later action replaces an earlier one.
    virtual void ParseOption(const char* text, bool isOption, bool isLast);

    int action = kActionRunAsService;
    std::uint32_t timeout = kDefaultUninstallTimeoutMs;
    bool silent = false;
};

// Feeds every argument after the program path (argv[0]) to `ParseOption`, in order. An argument
// that begins with "-" or "/" loses that character and counts as an option. Null entries are
// skipped.
void ParseArguments(ServiceCommandLine& commandLine, int argc, const char* const* argv);

// The number after "T:" as a signed decimal: leading blanks skipped, an optional sign, digits
// up to the first non-digit (none give 0). Values beyond the 32-bit range are held at its ends.
std::int32_t ParseTimeoutNumber(const char* text);

}  // namespace zelk
