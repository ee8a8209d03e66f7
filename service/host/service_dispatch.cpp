#include "service/host/service_dispatch.h"

namespace zelk {

namespace {

bool IsDashDebug(const char* argument) {
    static constexpr char kWord[] = "-debug";
    for (std::size_t i = 0; i < sizeof(kWord); ++i) {
        char c = argument[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != kWord[i]) return false;
        if (c == '\0') break;
    }
    return true;
}

}  // namespace

std::vector<std::string> DebugRunArguments(int argc, const char* const* argv) {
    std::vector<std::string> arguments;
    if (argv == nullptr) return arguments;
    for (int i = 0; i < argc; ++i) {
        if (argv[i] == nullptr || IsDashDebug(argv[i])) continue;
        arguments.emplace_back(argv[i]);
    }
    return arguments;
}

}  // namespace zelk
