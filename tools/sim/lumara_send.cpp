// lumara-send: writes one PipeMessage to the front-panel pipe, as the status sink does.
#include <cstdio>
#include <string>
#include <vector>

#include "common/pipe_client.h"
#include "common/pipe_message.h"
#include "common/win_codes.h"
#include "service/core/version.h"
#include "tools/sim/sim_options.h"

int main(int argc, char** argv) {
    using namespace zelk;
    std::string error;
    const auto options = ParseSendOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::fprintf(stderr, "lumara-send: %s\n%s", error.c_str(), SendUsage());
        return 2;
    }
    if (options->help) {
        std::fputs(SendUsage(), stdout);
        return 0;
    }
    if (options->version) {
        std::printf("lumara-send %s\n", ProductVersion());
        return 0;
    }
    const PipeMessage message = MakePipeMessage(options->session, options->tag,
                                                options->text.c_str(), options->text.size());
    const std::uint32_t result = SendPipeRecord(options->pipeName, message);
    if (result == kErrorFileNotFound) {
        std::fprintf(stderr, "lumara-send: nobody listens on the pipe %s\n",
                     options->pipeName.c_str());
        return 1;
    }
    if (result != 0) {
        std::fprintf(stderr,
                     "lumara-send: the record could not be sent to the pipe %s (error %u)\n",
                     options->pipeName.c_str(), static_cast<unsigned>(result));
        return 1;
    }
    return 0;
}
