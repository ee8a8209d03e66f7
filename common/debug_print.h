// The debug trace: a format and its arguments, formatted into at most 512 bytes (cut, never
// overrun) and passed to the debugger output (Windows) or standard error (elsewhere). No line
// end is added; the traces carry their own.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace zelk {

inline constexpr std::size_t kDebugPrintBufferSize = 512;

void DebugPrint(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Sends an already formatted text to the platform's debugger output (or the capture below).
void EmitDebugText(const char* text);

// Traces a capture holds at most; past it the oldest half is dropped.
inline constexpr std::size_t kDebugCaptureLimit = 10000;

// Collects every trace of the process while it lives (tests, the simulator), the newest
// kDebugCaptureLimit at most; traces still reach the platform output only when `passThrough`
// is true.
class ScopedDebugCapture {
  public:
    explicit ScopedDebugCapture(bool passThrough = false);
    ~ScopedDebugCapture();
    ScopedDebugCapture(const ScopedDebugCapture&) = delete;
    ScopedDebugCapture& operator=(const ScopedDebugCapture&) = delete;

    std::vector<std::string> Lines() const;
    bool Contains(const std::string& text) const;
    void Clear();
};

}  // namespace zelk
