#include "common/debug_print.h"

#include <algorithm>
#include <cstdarg>
#include <mutex>

namespace zelk {

// Platform output, one file per platform.
void PlatformDebugOutput(const char* text);
// Formats into `buffer` (size kDebugPrintBufferSize), always NUL-terminated.
void PlatformFormat(char* buffer, const char* format, va_list args);

namespace {

struct Capture {
    std::mutex lock;
    int depth = 0;
    bool passThrough = false;
    std::vector<std::string> lines;
};

Capture& TheCapture() {
    static Capture c;
    return c;
}

}  // namespace

void EmitDebugText(const char* text) {
    Capture& c = TheCapture();
    bool pass = true;
    {
        std::lock_guard<std::mutex> guard(c.lock);
        if (c.depth > 0) {
            // A capture that nobody empties (a long-running simulator) keeps the newest half.
            if (c.lines.size() >= kDebugCaptureLimit) {
                c.lines.erase(c.lines.begin(), c.lines.begin() + static_cast<std::ptrdiff_t>(
                                                                     kDebugCaptureLimit / 2));
            }
            c.lines.emplace_back(text);
            pass = c.passThrough;
        }
    }
    if (pass) {
        PlatformDebugOutput(text);
    }
}

void DebugPrint(const char* format, ...) {
    char buffer[kDebugPrintBufferSize];
    va_list args;
    va_start(args, format);
    PlatformFormat(buffer, format, args);
    va_end(args);
    EmitDebugText(buffer);
}

ScopedDebugCapture::ScopedDebugCapture(bool passThrough) {
    Capture& c = TheCapture();
    std::lock_guard<std::mutex> guard(c.lock);
    ++c.depth;
    c.passThrough = passThrough;
    c.lines.clear();
}

ScopedDebugCapture::~ScopedDebugCapture() {
    Capture& c = TheCapture();
    std::lock_guard<std::mutex> guard(c.lock);
    --c.depth;
    c.lines.clear();
}

std::vector<std::string> ScopedDebugCapture::Lines() const {
    Capture& c = TheCapture();
    std::lock_guard<std::mutex> guard(c.lock);
    return c.lines;
}

bool ScopedDebugCapture::Contains(const std::string& text) const {
    const auto lines = Lines();
    return std::find(lines.begin(), lines.end(), text) != lines.end();
}

void ScopedDebugCapture::Clear() {
    Capture& c = TheCapture();
    std::lock_guard<std::mutex> guard(c.lock);
    c.lines.clear();
}

}  // namespace zelk
