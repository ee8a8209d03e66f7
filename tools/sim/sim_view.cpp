#include "tools/sim/sim_view.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace zelk {

namespace {

// The upper half of code page 850.
const char* const kCp850High[128] = {
    "Ç", "ü", "é", "â", "ä", "à", "å", "ç", "ê", "ë", "è", "ï", "î", "ì", "Ä", "Å", "É", "æ", "Æ",
    "ô", "ö", "ò", "û", "ù", "ÿ", "Ö", "Ü", "ø", "£", "Ø", "×", "ƒ", "á", "í", "ó", "ú", "ñ", "Ñ",
    "ª", "º", "¿", "®", "¬", "½", "¼", "¡", "«", "»", "░", "▒", "▓", "│", "┤", "Á", "Â", "À", "©",
    "╣", "║", "╗", "╝", "¢", "¥", "┐", "└", "┴", "┬", "├", "─", "┼", "ã", "Ã", "╚", "╔", "╩", "╦",
    "╠", "═", "╬", "¤", "ð", "Ð", "Ê", "Ë", "È", "ı", "Í", "Î", "Ï", "┘", "┌", "█", "▄", "¦", "Ì",
    "▀", "Ó", "ß", "Ô", "Ò", "õ", "Õ", "µ", "þ", "Þ", "Ú", "Û", "Ù", "ý", "Ý", "¯", "´", "-", "±",
    "‗", "¾", "¶", "§", "÷", "¸", "°", "¨", "·", "¹", "³", "²", "■", " ",
};

constexpr const char* kBold = "\x1b[1m";
constexpr const char* kDim = "\x1b[2m";
constexpr const char* kPlain = "\x1b[0m";

template <std::size_t N>
std::string IconRow(const char* label, const std::array<IconName, N>& names, std::uint8_t bits,
                    bool styled) {
    std::string row = label;
    for (const IconName& icon : names) {
        const bool lit = (bits & icon.bit) != 0;
        row += ' ';
        if (styled) {
            row += lit ? kBold : kDim;
            row += icon.name;
            row += kPlain;
        } else if (lit) {
            std::string upper = icon.name;
            for (char& c : upper)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            row.push_back('[');
            row.append(upper);
            row.push_back(']');
        } else {
            row += icon.name;
        }
    }
    return row;
}

}  // namespace

std::string Cp850ToUtf8(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte >= 0x80) {
            out += kCp850High[byte - 0x80];
        } else if (byte < 0x20 || byte == 0x7F) {
            out += '.';
        } else {
            out += ch;
        }
    }
    return out;
}

std::vector<std::string> RenderPanel(const PanelPicture& picture, std::size_t columns,
                                     bool styled) {
    columns = std::clamp<std::size_t>(columns, 1, kVirtualPanelColumns);
    std::vector<std::string> out;
    std::string frame(columns + 2, '-');
    frame.front() = '+';
    frame.back() = '+';
    out.push_back(frame);
    for (int row = 0; row < 2; ++row) {
        std::string line(1, '|');
        line.append(Cp850ToUtf8(picture.Line(row, columns)));
        line.push_back('|');
        out.push_back(line);
    }
    out.push_back(frame);
    out.push_back(IconRow("status:", kStatusIconNames, picture.statusIcons, styled));
    out.push_back(IconRow("media: ", kMediaIconNames, picture.mediaIcons, styled));

    std::string bar = "volume: [";
    for (int segment = 0; segment < 16; ++segment) {
        bar += (picture.volumeMask & (1u << segment)) != 0 ? '#' : '.';
    }
    char tail[96];
    std::snprintf(tail, sizeof tail, "]  brightness 0x%02x  display control 0x%02x",
                  picture.brightness, picture.displayControl);
    out.push_back(bar + tail);
    return out;
}

std::string HexReport(const std::vector<std::uint8_t>& report) {
    std::string out;
    char byte[4];
    for (std::size_t i = 0; i < report.size(); ++i) {
        std::snprintf(byte, sizeof byte, i == 0 ? "%02x" : " %02x", report[i]);
        out += byte;
    }
    return out;
}

}  // namespace zelk
