#include "tools/sim/sim_svg.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

#include "tools/sim/sim_view.h"

namespace zelk {

namespace {

// Geometry, in SVG user units.
constexpr int kMargin = 24;
constexpr int kCellWidth = 24;   // six dot columns: five for the glyph, one gap
constexpr int kCellHeight = 36;  // nine dot rows: seven for the glyph, two gap
constexpr int kDotPitch = 4;
constexpr int kIconHeight = 22;
constexpr int kIconGap = 6;
constexpr int kSegmentWidth = 14;
constexpr int kSegmentGap = 3;

constexpr char kLit[] = "#7df0b0";
constexpr char kDark[] = "#1e3b2c";
constexpr char kBody[] = "#07110c";
constexpr char kDim[] = "#4a7d61";  // dark icons' outlines and labels

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// The UTF-8 characters of a text, one string each.
std::vector<std::string> Characters(const std::string& utf8) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < utf8.size();) {
        std::size_t length = 1;
        const unsigned char lead = static_cast<unsigned char>(utf8[i]);
        if (lead >= 0xF0)
            length = 4;
        else if (lead >= 0xE0)
            length = 3;
        else if (lead >= 0xC0)
            length = 2;
        out.push_back(utf8.substr(i, length));
        i += length;
    }
    return out;
}

std::string Number(int value) {
    return std::to_string(value);
}

// A row of labelled icons; returns the x after the last one.
int IconRow(std::string& svg, int x, int y, const IconName* names, std::size_t count,
            std::uint8_t bits) {
    for (std::size_t i = 0; i < count; ++i) {
        const bool lit = (bits & names[i].bit) != 0;
        const std::string label = names[i].name;
        const int width = 12 + static_cast<int>(label.size()) * 8;
        svg += "  <g class=\"icon " + std::string(lit ? "lit" : "dark") + "\">";
        svg += "<rect x=\"" + Number(x) + "\" y=\"" + Number(y) + "\" width=\"" + Number(width) +
               "\" height=\"" + Number(kIconHeight) + "\" rx=\"5\" fill=\"" +
               (lit ? kLit : "none") + "\" stroke=\"" + (lit ? kLit : kDim) + "\"/>";
        svg += "<text x=\"" + Number(x + width / 2) + "\" y=\"" + Number(y + 15) +
               "\" text-anchor=\"middle\" fill=\"" + (lit ? kBody : kDim) + "\">" + Escape(label) +
               "</text></g>\n";
        x += width + kIconGap;
    }
    return x;
}

}  // namespace

std::string PanelSvg(const PanelPicture& picture, std::size_t columns,
                     const std::string& dimReason) {
    columns = std::clamp<std::size_t>(columns, 1, kVirtualPanelColumns);
    const int linesWidth = static_cast<int>(columns) * kCellWidth;
    const int barWidth = 16 * kSegmentWidth + 15 * kSegmentGap;
    const int width = kMargin * 2 + std::max({linesWidth, barWidth, 560});
    const int linesTop = kMargin;
    const int iconsTop = linesTop + 2 * kCellHeight + 18;
    const int barTop = iconsTop + 2 * (kIconHeight + kIconGap) + 10;
    const int footerTop = barTop + 40;
    const int height = footerTop + 14 + kMargin;

    std::string svg;
    svg += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Number(width) + "\" height=\"" +
           Number(height) + "\" viewBox=\"0 0 " + Number(width) + " " + Number(height) +
           "\" font-family=\"DejaVu Sans Mono, Menlo, Consolas, monospace\" font-size=\"12\">\n";
    svg += "  <defs><pattern id=\"dots\" width=\"" + Number(kDotPitch) + "\" height=\"" +
           Number(kDotPitch) + "\" patternUnits=\"userSpaceOnUse\"><circle cx=\"2\" cy=\"2\" " +
           "r=\"1.3\" fill=\"" + kDark + "\"/></pattern>\n";
    // The glyphs are drawn through a dot mask, so they look made of the same dots.
    svg += "  <pattern id=\"litdots\" width=\"" + Number(kDotPitch) + "\" height=\"" +
           Number(kDotPitch) + "\" patternUnits=\"userSpaceOnUse\"><circle cx=\"2\" cy=\"2\" " +
           "r=\"1.6\" fill=\"white\"/></pattern>\n";
    svg +=
        "  <mask id=\"dotmask\"><rect width=\"100%\" height=\"100%\" fill=\"url(#litdots)\"/>"
        "</mask></defs>\n";
    svg +=
        "  <rect width=\"100%\" height=\"100%\" rx=\"14\" fill=\"" + std::string(kBody) + "\"/>\n";
    if (!dimReason.empty()) {
        svg += "  <g class=\"dimmed\" opacity=\"0.4\">\n";
    }

    for (int row = 0; row < 2; ++row) {
        const std::vector<std::string> chars = Characters(Cp850ToUtf8(picture.Line(row, columns)));
        const int top = linesTop + row * kCellHeight;
        svg += "  <g class=\"line\" id=\"line" + Number(row) + "\">\n";
        for (std::size_t col = 0; col < columns; ++col) {
            const int x = kMargin + static_cast<int>(col) * kCellWidth;
            svg += "    <rect x=\"" + Number(x) + "\" y=\"" + Number(top) + "\" width=\"" +
                   Number(kCellWidth - kDotPitch) + "\" height=\"" +
                   Number(kCellHeight - 2 * kDotPitch) + "\" fill=\"url(#dots)\"/>\n";
        }
        svg += "    <text mask=\"url(#dotmask)\" fill=\"" + std::string(kLit) +
               "\" font-size=\"34\" font-weight=\"bold\">";
        for (std::size_t col = 0; col < columns && col < chars.size(); ++col) {
            if (chars[col] == " ") continue;
            const int x =
                kMargin + static_cast<int>(col) * kCellWidth + (kCellWidth - kDotPitch) / 2;
            svg += "<tspan x=\"" + Number(x) + "\" y=\"" + Number(top + kCellHeight - 12) +
                   "\" text-anchor=\"middle\">" + Escape(chars[col]) + "</tspan>";
        }
        svg += "</text>\n  </g>\n";
    }

    IconRow(svg, kMargin, iconsTop, kStatusIconNames.data(), kStatusIconNames.size(),
            picture.statusIcons);
    IconRow(svg, kMargin, iconsTop + kIconHeight + kIconGap, kMediaIconNames.data(),
            kMediaIconNames.size(), picture.mediaIcons);

    svg += "  <text x=\"" + Number(kMargin) + "\" y=\"" + Number(barTop - 4) + "\" fill=\"" + kDim +
           "\">volume</text>\n";
    for (int segment = 0; segment < 16; ++segment) {
        const bool lit = (picture.volumeMask >> segment & 1) != 0;
        const int x = kMargin + segment * (kSegmentWidth + kSegmentGap);
        const int segmentHeight = 8 + segment;
        svg += "  <rect class=\"segment " + std::string(lit ? "lit" : "dark") + "\" x=\"" +
               Number(x) + "\" y=\"" + Number(barTop + 24 - segmentHeight) + "\" width=\"" +
               Number(kSegmentWidth) + "\" height=\"" + Number(segmentHeight) + "\" fill=\"" +
               (lit ? kLit : kDark) + "\"/>\n";
    }

    if (!dimReason.empty()) {
        svg += "  </g>\n";
    }
    char footer[160];
    std::snprintf(footer, sizeof footer, "brightness %u (0x%02X)%s%s · display control %u",
                  picture.brightness, picture.brightness,
                  dimReason.empty() ? "" : ", dimmed: ", Escape(dimReason).c_str(),
                  picture.displayControl);
    svg += "  <text x=\"" + Number(kMargin) + "\" y=\"" + Number(footerTop + 10) + "\" fill=\"" +
           kLit + "\">" + footer + "</text>\n";
    svg += "</svg>\n";
    return svg;
}

bool WritePanelSvg(const PanelPicture& picture, std::size_t columns, const std::string& path,
                   const std::string& dimReason) {
    const std::string svg = PanelSvg(picture, columns, dimReason);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(svg.data(), static_cast<std::streamsize>(svg.size()));
    out.close();
    return static_cast<bool>(out);
}

}  // namespace zelk
