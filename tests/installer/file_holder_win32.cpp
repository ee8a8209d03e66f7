// Test helper: holds a file open for reading without sharing write or delete access, as a
// program using it would, so that it can be neither replaced, renamed nor deleted. Creates the
// ready file once the file is held, then holds it until the test ends the process.
//   file_holder <file> <ready file>
#include <windows.h>

#include <cstdio>

#include "common/win_handles_win32.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: file_holder <file> <ready file>\n");
        return 2;
    }
    zelk::UniqueFileHandle held(
        CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!held) {
        std::fprintf(stderr, "cannot open %s: error %lu\n", argv[1], GetLastError());
        return 1;
    }
    zelk::UniqueFileHandle ready(CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!ready) return 3;
    ready.Reset();
    WaitForSingleObject(GetCurrentProcess(), INFINITE);
    return 0;
}
