// Test helper: a running LumaraNowPlaying.exe copy as "LumaraNowPlaying.exe --quit" sees one
// (Wine has no media session, so the program itself ends at once there). It holds the quit event
// open and waits on it; once the event is set it creates the quit file and ends, closing the
// event, which --quit waits for.
//   now_playing_copy <ready file> <quit file>
#include <windows.h>

#include <cstdio>

#include "common/win_handles_win32.h"

namespace {

bool Touch(const char* path) {
    zelk::UniqueFileHandle file(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.Valid();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: now_playing_copy <ready file> <quit file>\n");
        return 2;
    }
    zelk::UniqueKernelHandle quit(
        CreateEventW(nullptr, TRUE, FALSE, L"Global\\LumaraNowPlayingQuit"));
    if (!quit || !Touch(argv[1])) return 1;
    if (WaitForSingleObject(quit.Get(), INFINITE) != WAIT_OBJECT_0) return 1;
    return Touch(argv[2]) ? 0 : 1;
}
