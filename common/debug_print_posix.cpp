#include <cstdarg>
#include <cstdio>

#include "common/debug_print.h"

namespace zelk {

void PlatformDebugOutput(const char* text) {
    std::fputs(text, stderr);
}

void PlatformFormat(char* buffer, const char* format, va_list args) {
    std::vsnprintf(buffer, kDebugPrintBufferSize, format, args);
}

}  // namespace zelk
