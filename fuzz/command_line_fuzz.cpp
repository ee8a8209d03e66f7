// The service program's command line: arguments separated by NUL bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "service/host/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> pieces = zelk::fuzz::Pieces(data, size, '\0');
    std::vector<const char*> argv{"Lumara.exe"};
    for (const std::string& piece : pieces) argv.push_back(piece.c_str());
    zelk::ServiceCommandLine commandLine;
    zelk::ParseArguments(commandLine, static_cast<int>(argv.size()), argv.data());
    zelk::ParseTimeoutNumber(pieces.front().c_str());
    return 0;
}
