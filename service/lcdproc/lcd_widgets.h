// The widgets of an LCDproc screen and how they are drawn on a grid of 8-bit characters.
//
// Coordinates are the protocol's: 1-based, x across, y down. Drawing is a pure function of the
// widgets and the time since the screen came into view, so the same screen at the same moment
// always gives the same picture; what moves (scrollers, long titles, scrolling frames) also
// reports when its next step is due.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelk {

// Width and height of the text area, and the cell size announced to clients (in pixels).
inline constexpr int kLcdWidth = 12;
inline constexpr int kLcdHeight = 2;
inline constexpr int kLcdCellWidth = 5;
inline constexpr int kLcdCellHeight = 8;
// Scrollers and frames move in steps of this many milliseconds (eight a second).
inline constexpr std::uint64_t kLcdTickMs = 125;

enum class LcdWidgetType { kString, kTitle, kHbar, kVbar, kPbar, kIcon, kScroller, kFrame, kNum };

struct LcdWidget {
    std::string id;
    LcdWidgetType type = LcdWidgetType::kString;
    std::string frame;  // the frame this widget is in; empty: the screen itself
    bool set = false;   // drawn once widget_set has given its values
    // string, hbar, vbar, pbar, icon, num: position. scroller, frame: the region.
    int x = 1, y = 1;
    int right = 1, bottom = 1;
    // hbar, vbar: length in pixels. pbar: width in cells. frame: inner width and height.
    int length = 0;
    int promille = 0;
    int innerWidth = 1, innerHeight = 1;
    // scroller 'h', 'v' or 'm'; frame 'h' or 'v'. Speed: positive, ticks per step; negative,
    // steps per tick; zero, still.
    char direction = 'h';
    int speed = 0;
    // string, title, scroller: the text; pbar: its labels. icon: its character. num: 0-9, 10 ':'.
    std::string text, beginLabel, endLabel;
    char glyph = ' ';
    int digit = 0;
};

// The character that stands for an LCDproc icon name (BLOCK_FILLED, HEART_OPEN, ARROW_UP,
// PLAY, ...; any case), or none for a name that is not one.
std::optional<char> LcdIconGlyph(std::string_view name);

struct LcdCanvas {
    LcdCanvas(int width, int height);
    int width, height;
    std::string cells;  // row after row, width bytes each
    std::string Row(int y) const {
        return cells.substr(static_cast<std::size_t>(y * width), width);
    }
    // Writes `c` at 0-based (x, y) if that is inside; control characters become spaces.
    void Put(int x, int y, char c);
};

// Draws `widgets` (in their order, frames with what they hold) on `canvas` as they look
// `elapsedMs` after the screen came into view. `nextStepMs`, when given, is lowered to the
// elapsed time of the next visible step of anything that moves, and left alone when nothing does.
void DrawLcdWidgets(const std::vector<LcdWidget>& widgets, std::uint64_t elapsedMs,
                    LcdCanvas& canvas, std::optional<std::uint64_t>* nextStepMs);

}  // namespace zelk
