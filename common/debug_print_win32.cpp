#include <windows.h>

#include <cstdarg>
#include <cstring>

#include "common/debug_print.h"

namespace zelk {

void PlatformDebugOutput(const char* text) {
    OutputDebugStringA(text);
}

void PlatformFormat(char* buffer, const char* format, va_list args) {
    // wvsprintfA writes at most 1024 characters and its terminator; format into a buffer of
    // that size and keep what fits in the trace's 512 bytes.
    char wide[1025];
    const int n = wvsprintfA(wide, format, args);
    if (n < 0) {
        buffer[0] = '\0';
        return;
    }
    wide[sizeof wide - 1] = '\0';
    std::strncpy(buffer, wide, kDebugPrintBufferSize - 1);
    buffer[kDebugPrintBufferSize - 1] = '\0';
}

}  // namespace zelk
