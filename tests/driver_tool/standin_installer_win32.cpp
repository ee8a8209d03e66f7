// Test helper standing in for the installer: writes its current directory and command line to
// "standin-record.txt" beside its own executable, then fails with exit code 1.
#include <windows.h>

#include <cstdio>
#include <cstring>

int main() {
    char own[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, own, sizeof(own));
    if (length == 0 || length >= sizeof(own)) return 3;
    char* cut = std::strrchr(own, '\\');
    if (cut == nullptr) return 3;
    std::strcpy(cut + 1, "standin-record.txt");

    char cwd[MAX_PATH] = {};
    if (GetCurrentDirectoryA(sizeof(cwd), cwd) == 0) return 3;

    std::FILE* record = std::fopen(own, "w");
    if (record == nullptr) return 3;
    std::fprintf(record, "cwd=%s\ncmdline=%s\n", cwd, GetCommandLineA());
    std::fclose(record);
    return 1;
}
