// Text for the pipe from Unicode sources (UTF-8 from D-Bus, UTF-16 from WinRT). The pipe carries
// Windows-1252; the conversion is a table of its own, the same on every platform.
#pragma once

#include <string>
#include <string_view>

namespace zelk {

// UTF-8 to the pipe's code page (Windows-1252). What 1252 lacks is transliterated: Latin letters
// with other accents lose them or take the nearest 1252 letter ("Łódź" -> "Lódz"), Cyrillic and
// Greek become Latin, typographic quotes and dashes become their ASCII forms; a character with no
// transliteration becomes one '?', as does each broken UTF-8 sequence. Control and format
// characters are removed (tab, CR and LF become a space). The result fits a pipe record's text
// (at most 255 bytes).
std::string ToPipeText(std::string_view utf8);

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);

}  // namespace zelk
