// Sends one command to the stand-in media session in the program that loaded it and prints the
// answer ("ok <unix ms of the change>"); exit 0 when the stand-in took the command.
//   standin_session_ctl <command words...>
#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) line.push_back(' ');
        line.append(argv[i]);
    }
    line += "\n";
    const char* name = "\\\\.\\pipe\\lumara-standin-media-session";
    HANDLE pipe = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && pipe == INVALID_HANDLE_VALUE; ++attempt) {
        if (!WaitNamedPipeA(name, 100)) {  // not served yet, or busy
            Sleep(50);
            continue;
        }
        pipe =
            CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    if (pipe == INVALID_HANDLE_VALUE) {
        std::printf("no stand-in session (error %lu)\n", GetLastError());
        return 2;
    }
    DWORD done = 0;
    WriteFile(pipe, line.data(), DWORD(line.size()), &done, nullptr);
    char answer[128] = {};
    ReadFile(pipe, answer, sizeof answer - 1, &done, nullptr);
    CloseHandle(pipe);
    std::printf("%s", answer);
    return std::string(answer).rfind("ok ", 0) == 0 ? 0 : 1;
}
