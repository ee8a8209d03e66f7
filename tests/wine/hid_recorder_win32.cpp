// The panel's side of the stand-in HID interfaces: serves the named pipes "fp_hid_1F3C_5A41"
// (the panel) and "fp_hid_1F3C_5A40" (another product) and appends every report written to
// them to panel.log or other.log in the given folder, one report a line in hexadecimal (the
// form panel_replay reads). A client that goes (the service stopped) is waited for again. Runs
// until it is killed.
//   hid_recorder <folder>
#include <windows.h>

#include <cstdio>
#include <string>
#include <thread>

namespace {

void Serve(const std::string& pipe, const std::string& logPath) {
    for (;;) {
        HANDLE server = CreateNamedPipeA(pipe.c_str(), PIPE_ACCESS_DUPLEX,
                                         PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1,
                                         4096, 4096, 0, nullptr);
        if (server == INVALID_HANDLE_VALUE) return;
        if (ConnectNamedPipe(server, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED) {
            unsigned char report[256];
            DWORD read = 0;
            while (ReadFile(server, report, sizeof report, &read, nullptr) ||
                   GetLastError() == ERROR_MORE_DATA) {
                std::string line;
                char hex[4];
                for (DWORD i = 0; i < read; ++i) {
                    std::snprintf(hex, sizeof hex, i == 0 ? "%02x" : " %02x", report[i]);
                    line += hex;
                }
                line += "\n";
                if (std::FILE* log = std::fopen(logPath.c_str(), "ab")) {
                    std::fwrite(line.data(), 1, line.size(), log);
                    std::fclose(log);
                }
            }
        }
        DisconnectNamedPipe(server);
        CloseHandle(server);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: hid_recorder FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    std::thread other(Serve, "\\\\.\\pipe\\fp_hid_1F3C_5A40", folder + "\\other.log");
    std::thread panel(Serve, "\\\\.\\pipe\\fp_hid_1F3C_5A41", folder + "\\panel.log");
    if (std::FILE* ready = std::fopen((folder + "\\recorder.ready").c_str(), "wb")) {
        std::fclose(ready);
    }
    panel.join();
    other.join();
    return 0;
}
