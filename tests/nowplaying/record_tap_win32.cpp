// Serves a panel pipe and passes every record, byte for byte, to each pipe named after it, so
// that the service and lumara-sim receive the same records in the same order.
//   record_tap <pipe to serve> <pipe to feed>...
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/pipe_client.h"
#include "common/pipe_message.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: record_tap SERVE FEED...\n");
        return 2;
    }
    const std::string served = std::string("\\\\.\\pipe\\") + argv[1];
    const std::vector<std::string> feeds(argv + 2, argv + argc);
    // Unlimited instances, and the next one made before a connection is served: a writer never
    // finds the pipe missing between two records.
    auto create = [&] {
        return CreateNamedPipeA(served.c_str(), PIPE_ACCESS_DUPLEX,
                                PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                PIPE_UNLIMITED_INSTANCES, 0, 4096, 0, nullptr);
    };
    HANDLE next = create();
    while (next != INVALID_HANDLE_VALUE) {
        HANDLE pipe = next;
        // A writer may have written its record and gone before this instance's turn (232,
        // ERROR_NO_DATA): its record is still there to read.
        const bool connected = ConnectNamedPipe(pipe, nullptr) ||
                               GetLastError() == ERROR_PIPE_CONNECTED ||
                               GetLastError() == ERROR_NO_DATA;
        next = create();
        char record[4096];
        DWORD got = 0;
        if (connected && ReadFile(pipe, record, sizeof record, &got, nullptr) && got > 0) {
            // A server between two connections has no pipe for a moment (2): try again then,
            // for up to two seconds, so that no record is lost on the way.
            for (const std::string& feed : feeds) {
                for (int attempt = 0; attempt < 200; ++attempt) {
                    if (zelk::SendPipeBytes(feed, record, got) != 2) break;
                    Sleep(10);
                }
            }
        }
        DisconnectNamedPipe(pipe);
        CloseHandle(pipe);
    }
    return 1;
}
