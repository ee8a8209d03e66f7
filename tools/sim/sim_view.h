// Drawing the virtual panel's picture as text: both lines as the panel shows them, the icons by
// name (lit or dark), the 16-segment bar, brightness and the display control value.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "service/panel/virtual_panel.h"

namespace zelk {

// A code page 850 text as UTF-8 (control characters become '.').
std::string Cp850ToUtf8(const std::string& text);

// The picture as lines of text, `columns` characters of each panel line (at least 1, at most
// 64). With `styled`, lit icons are bold and dark ones dim (ANSI); without, lit icons are
// upper case in brackets and dark ones lower case.
std::vector<std::string> RenderPanel(const PanelPicture& picture, std::size_t columns, bool styled);

// One report as the report log writes it: its bytes in two-digit lowercase hexadecimal,
// separated by single blanks.
std::string HexReport(const std::vector<std::uint8_t>& report);

}  // namespace zelk
