#include "service/lcdproc/lcd_widgets.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace zelk {
namespace {

// A frame's inner area is kept to this size, whatever a client asks for.
constexpr int kMaxInnerWidth = 80;
constexpr int kMaxInnerHeight = 32;
// Frames hold frames at most this deep.
constexpr int kMaxFrameDepth = 8;
// Spaces between the end of a marquee's text and its start coming round again.
constexpr int kMarqueeGap = 3;
// A title too long for its line swings at this speed (ticks per step).
constexpr int kTitleSpeed = 4;

// Bar cells: a full cell and the part of one.
constexpr char kHbarFull = '=';
constexpr char kHbarPart = '-';
constexpr char kVbarFull = '#';
constexpr char kVbarLow = '_';   // 1-3 of the cell's 8 pixels
constexpr char kVbarHigh = '=';  // 4-7
constexpr char kPbarFilled = '=';
constexpr char kPbarEmpty = '-';
constexpr char kTitleFill = '#';

struct IconName {
    const char* name;
    char glyph;
};
// Windows-1252 characters that look most like each icon.
constexpr std::array<IconName, 22> kIcons{{
    {"BLOCK_FILLED", '#'},
    {"HEART_OPEN", 'o'},
    {"HEART_FILLED", '*'},
    {"ARROW_UP", '^'},
    {"ARROW_DOWN", 'v'},
    {"ARROW_LEFT", '<'},
    {"ARROW_RIGHT", '>'},
    {"CHECKBOX_OFF", 'o'},
    {"CHECKBOX_ON", 'x'},
    {"CHECKBOX_GRAY", '+'},
    {"SELECTOR_AT_LEFT", '>'},
    {"SELECTOR_AT_RIGHT", '<'},
    {"ELLIPSIS", '\x85'},
    {"STOP", '\xA4'},
    {"PAUSE", '\xA6'},
    {"PLAY", '>'},
    {"PLAYR", '<'},
    {"FF", '\xBB'},
    {"FR", '\xAB'},
    {"NEXT", '>'},
    {"PREV", '<'},
    {"REC", '\xB0'},
}};

// Big digits two cells high and three wide, drawn like seven segments: the top row holds the
// upper bars and the top stroke ('\xAF' alone, '_' the middle bar alone, '=' both), the bottom
// row the lower bars and the bottom stroke.
constexpr std::array<const char*, 10> kDigitTop{"|\xAF|", "  |", " =|",    " =|", "|_|",
                                                "|= ",    "|= ", " \xAF|", "|=|", "|=|"};
constexpr std::array<const char*, 10> kDigitBottom{"|_|", "  |", "|_ ", " _|", "  |",
                                                   " _|", "|_|", "  |", "|_|", " _|"};
constexpr char kColon = '\xB7';

void NoteStep(std::optional<std::uint64_t>* next, std::uint64_t at) {
    if (next && (!*next || at < **next)) *next = at;
}

// Steps taken at `speed` after `elapsedMs`, noting when the next one is due.
std::uint64_t Steps(int speed, std::uint64_t elapsedMs, std::optional<std::uint64_t>* next) {
    if (speed == 0) return 0;
    const std::uint64_t tick = elapsedMs / kLcdTickMs;
    if (speed > 0) {
        const std::uint64_t per = static_cast<std::uint64_t>(speed);
        const std::uint64_t steps = tick / per;
        NoteStep(next, (steps + 1) * per * kLcdTickMs);
        return steps;
    }
    NoteStep(next, (tick + 1) * kLcdTickMs);
    return tick * static_cast<std::uint64_t>(-static_cast<std::int64_t>(speed));
}

// Offset of a window swinging back and forth over `range` extra positions.
int Swing(std::uint64_t steps, int range) {
    const std::uint64_t cycle = 2 * static_cast<std::uint64_t>(range);
    const int k = static_cast<int>(steps % cycle);
    return k <= range ? k : 2 * range - k;
}

// Whether a region (0-based corner, size) reaches into the canvas at all: what lies wholly
// outside is not drawn and does not wake anyone for its steps.
bool Reaches(const LcdCanvas& canvas, int left, int top, int width, int height) {
    return width > 0 && height > 0 && left < canvas.width && top < canvas.height &&
           left + width > 0 && top + height > 0;
}

void PutText(LcdCanvas& canvas, int x, int y, std::string_view text, int maxCells) {
    const int cells = std::min<int>(maxCells, static_cast<int>(text.size()));
    for (int i = 0; i < cells; ++i) canvas.Put(x + i, y, text[static_cast<std::size_t>(i)]);
}

void DrawTitle(const LcdWidget& w, std::uint64_t elapsed, LcdCanvas& canvas,
               std::optional<std::uint64_t>* next) {
    const int width = canvas.width;
    const int length = static_cast<int>(w.text.size());
    if (length + 4 <= width) {
        std::string line = std::string(1, kTitleFill) + " " + w.text + " ";
        line.append(static_cast<std::size_t>(width) - line.size(), kTitleFill);
        PutText(canvas, 0, 0, line, width);
        return;
    }
    const int range = length - width;
    const int offset = range > 0 ? Swing(Steps(kTitleSpeed, elapsed, next), range) : 0;
    PutText(canvas, 0, 0, std::string_view(w.text).substr(static_cast<std::size_t>(offset)), width);
}

void DrawHbar(const LcdWidget& w, LcdCanvas& canvas) {
    if (w.length <= 0) return;
    const int full = w.length / kLcdCellWidth;
    const int x0 = w.x - 1, y = w.y - 1;
    const int last = std::min(full, canvas.width - x0);
    for (int i = 0; i < last; ++i) canvas.Put(x0 + i, y, kHbarFull);
    if (w.length % kLcdCellWidth != 0) canvas.Put(x0 + full, y, kHbarPart);
}

void DrawVbar(const LcdWidget& w, LcdCanvas& canvas) {
    if (w.length <= 0) return;
    const int full = w.length / kLcdCellHeight;
    const int part = w.length % kLcdCellHeight;
    const int x = w.x - 1, y0 = w.y - 1;
    const int last = std::min(full, y0 + 1);
    for (int i = 0; i < last; ++i) canvas.Put(x, y0 - i, kVbarFull);
    if (part != 0) canvas.Put(x, y0 - full, part < 4 ? kVbarLow : kVbarHigh);
}

void DrawPbar(const LcdWidget& w, LcdCanvas& canvas) {
    const int x0 = w.x - 1, y = w.y - 1;
    const int width = std::max(0, w.length);
    const int begin = std::min<int>(width, static_cast<int>(w.beginLabel.size()));
    PutText(canvas, x0, y, w.beginLabel, begin);
    const int end = std::min<int>(width - begin, static_cast<int>(w.endLabel.size()));
    const int bar = width - begin - end;
    const int promille = std::clamp(w.promille, 0, 1000);
    const int filled = (promille * bar + 500) / 1000;
    for (int i = 0; i < bar && x0 + begin + i < canvas.width; ++i) {
        canvas.Put(x0 + begin + i, y, i < filled ? kPbarFilled : kPbarEmpty);
    }
    PutText(canvas, x0 + begin + bar, y, w.endLabel, end);
}

void DrawNum(const LcdWidget& w, LcdCanvas& canvas) {
    const int x0 = w.x - 1;
    if (w.digit == 10) {
        canvas.Put(x0, 0, kColon);
        canvas.Put(x0, 1, kColon);
        return;
    }
    const auto d = static_cast<std::size_t>(std::clamp(w.digit, 0, 9));
    PutText(canvas, x0, 0, kDigitTop[d], 3);
    PutText(canvas, x0, 1, kDigitBottom[d], 3);
}

void DrawScroller(const LcdWidget& w, std::uint64_t elapsed, LcdCanvas& canvas,
                  std::optional<std::uint64_t>* next) {
    const int left = w.x - 1, top = w.y - 1;
    const int width = w.right - w.x + 1, height = w.bottom - w.y + 1;
    if (!Reaches(canvas, left, top, width, height)) return;
    const std::string_view text = w.text;
    const int length = static_cast<int>(text.size());
    if (w.direction == 'v') {
        const int lines = (length + width - 1) / width;
        int first = 0;
        if (lines > height) {
            const auto cycle = static_cast<std::uint64_t>(lines - height + 1);
            first = static_cast<int>(Steps(w.speed, elapsed, next) % cycle);
        }
        for (int row = 0; row < height && first + row < lines; ++row) {
            const auto from = static_cast<std::size_t>((first + row) * width);
            PutText(canvas, left, top + row, text.substr(from), width);
        }
        return;
    }
    if (length <= width) {
        PutText(canvas, left, top, text, width);
        return;
    }
    if (w.direction == 'm') {
        const int cycle = length + kMarqueeGap;
        const auto start =
            static_cast<int>(Steps(w.speed, elapsed, next) % static_cast<std::uint64_t>(cycle));
        for (int i = 0; i < width; ++i) {
            const int k = (start + i) % cycle;
            canvas.Put(left + i, top, k < length ? text[static_cast<std::size_t>(k)] : ' ');
        }
        return;
    }
    const int offset = Swing(Steps(w.speed, elapsed, next), length - width);
    PutText(canvas, left, top, text.substr(static_cast<std::size_t>(offset)), width);
}

void DrawContainer(const std::vector<LcdWidget>& widgets, const std::string& container,
                   std::uint64_t elapsed, LcdCanvas& canvas, std::optional<std::uint64_t>* next,
                   int depth);

void DrawFrame(const std::vector<LcdWidget>& widgets, const LcdWidget& w, std::uint64_t elapsed,
               LcdCanvas& canvas, std::optional<std::uint64_t>* next, int depth) {
    const int left = w.x - 1, top = w.y - 1;
    const int width = w.right - w.x + 1, height = w.bottom - w.y + 1;
    if (!Reaches(canvas, left, top, width, height) || depth >= kMaxFrameDepth) return;
    LcdCanvas inner(std::clamp(w.innerWidth, 1, kMaxInnerWidth),
                    std::clamp(w.innerHeight, 1, kMaxInnerHeight));
    DrawContainer(widgets, w.id, elapsed, inner, next, depth + 1);
    int dx = 0, dy = 0;
    if (w.direction == 'h' && inner.width > width) {
        const auto cycle = static_cast<std::uint64_t>(inner.width - width + 1);
        dx = static_cast<int>(Steps(w.speed, elapsed, next) % cycle);
    } else if (w.direction != 'h' && inner.height > height) {
        const auto cycle = static_cast<std::uint64_t>(inner.height - height + 1);
        dy = static_cast<int>(Steps(w.speed, elapsed, next) % cycle);
    }
    for (int row = 0; row < height && dy + row < inner.height; ++row) {
        for (int col = 0; col < width && dx + col < inner.width; ++col) {
            canvas.Put(left + col, top + row,
                       inner.cells[static_cast<std::size_t>((dy + row) * inner.width + dx + col)]);
        }
    }
}

void DrawContainer(const std::vector<LcdWidget>& widgets, const std::string& container,
                   std::uint64_t elapsed, LcdCanvas& canvas, std::optional<std::uint64_t>* next,
                   int depth) {
    for (const LcdWidget& w : widgets) {
        if (w.frame != container || !w.set) continue;
        switch (w.type) {
            case LcdWidgetType::kString:
                PutText(canvas, w.x - 1, w.y - 1, w.text, canvas.width);
                break;
            case LcdWidgetType::kTitle:
                DrawTitle(w, elapsed, canvas, next);
                break;
            case LcdWidgetType::kHbar:
                DrawHbar(w, canvas);
                break;
            case LcdWidgetType::kVbar:
                DrawVbar(w, canvas);
                break;
            case LcdWidgetType::kPbar:
                DrawPbar(w, canvas);
                break;
            case LcdWidgetType::kIcon:
                canvas.Put(w.x - 1, w.y - 1, w.glyph);
                break;
            case LcdWidgetType::kScroller:
                DrawScroller(w, elapsed, canvas, next);
                break;
            case LcdWidgetType::kFrame:
                DrawFrame(widgets, w, elapsed, canvas, next, depth);
                break;
            case LcdWidgetType::kNum:
                DrawNum(w, canvas);
                break;
        }
    }
}

}  // namespace

std::optional<char> LcdIconGlyph(std::string_view name) {
    for (const IconName& icon : kIcons) {
        const std::string_view known = icon.name;
        if (known.size() == name.size() &&
            std::equal(known.begin(), known.end(), name.begin(), [](char a, char b) {
                return a == std::toupper(static_cast<unsigned char>(b));
            })) {
            return icon.glyph;
        }
    }
    return std::nullopt;
}

LcdCanvas::LcdCanvas(int w, int h)
    : width(w), height(h), cells(static_cast<std::size_t>(w * h), ' ') {}

void LcdCanvas::Put(int x, int y, char c) {
    if (x < 0 || y < 0 || x >= width || y >= height) return;
    const auto byte = static_cast<unsigned char>(c);
    cells[static_cast<std::size_t>(y * width + x)] = (byte < 0x20 || byte == 0x7F) ? ' ' : c;
}

void DrawLcdWidgets(const std::vector<LcdWidget>& widgets, std::uint64_t elapsedMs,
                    LcdCanvas& canvas, std::optional<std::uint64_t>* nextStepMs) {
    DrawContainer(widgets, std::string(), elapsedMs, canvas, nextStepMs, 0);
}

}  // namespace zelk
