// Converts panel text from one code page to another (1252 to the panel's 850).
// Windows: MLang through UTF-16. Elsewhere: iconv. One implementation per platform file.
#pragma once

#include <cstdint>
#include <memory>

#include "common/win_codes.h"

namespace zelk {

inline constexpr std::uint32_t kCodePageUtf16 = 1200;
inline constexpr std::uint32_t kCodePageWindowsLatin1 = 1252;
inline constexpr std::uint32_t kCodePageDosLatin1 = 850;
inline constexpr std::uint32_t kConvertNoBestFitChars = 16;  // MLCONVCHARF_NOBESTFITCHARS
inline constexpr std::uint32_t kConvertAutoDetect = 1;       // MLCONVCHARF_AUTODETECT

class TextConverter {
  public:
    virtual ~TextConverter() = default;

    // Prepares the conversion service on the calling thread; S_OK at once when already open.
    virtual HResult Open() = 0;
    // Makes the converters for one source and destination code page. E_POINTER without Open.
    virtual HResult SetCodePages(std::uint32_t source, std::uint32_t destination,
                                 std::uint32_t flags) = 0;
    // Converts `sourceLength` bytes into at most `destinationCapacity` bytes. On return
    // `sourceLength` holds the bytes consumed and `destinationCapacity` the bytes written; the
    // destination is not terminated. Without converters the bytes are copied unchanged (as many
    // as fit) and S_FALSE is returned. Safe to call from several threads at once.
    virtual HResult Convert(const char* source, std::uint32_t& sourceLength, char* destination,
                            std::uint32_t& destinationCapacity) = 0;
};

// The platform's converter (MLang on Windows, iconv elsewhere), not yet opened.
std::unique_ptr<TextConverter> CreateSystemTextConverter();

// A converter without code pages: every Convert copies the bytes unchanged (as many as fit) and
// returns S_FALSE, as the platform's converter does before SetCodePages. Opening and setting
// code pages succeed and change nothing.
std::unique_ptr<TextConverter> CreateCopyingTextConverter();

}  // namespace zelk
