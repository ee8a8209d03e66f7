#include "service/adapters/clock_format.h"

namespace zelk {
namespace {

std::string ExpandShorthands(std::string_view format) {
    std::string out;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size()) {
            const char next = format[i + 1];
            if (next == 'T') {
                out += "%H:%M:%S";
                ++i;
                continue;
            }
            if (next == 'r') {
                out += "%I:%M:%S %p";
                ++i;
                continue;
            }
            out += format[i];
            out += next;
            ++i;
            continue;
        }
        out += format[i];
    }
    return out;
}

}  // namespace

std::string TimeFormatWithoutSeconds(std::string_view format) {
    const std::string expanded = ExpandShorthands(format);
    std::string out;
    // Where the literal text after the last conversion starts in `out`.
    std::size_t literalStart = 0;
    for (std::size_t i = 0; i < expanded.size(); ++i) {
        if (expanded[i] != '%' || i + 1 >= expanded.size()) {
            out += expanded[i];
            continue;
        }
        std::size_t end = i + 1;
        if ((expanded[end] == 'E' || expanded[end] == 'O') && end + 1 < expanded.size()) {
            ++end;
        }
        const char conversion = expanded[end];
        if (conversion == 'S') {
            // Drop the separator before the seconds, unless the seconds lead the format;
            // then drop the separator after them.
            if (literalStart > 0) {
                out.erase(literalStart);
            } else {
                while (end + 1 < expanded.size() && expanded[end + 1] != '%') {
                    ++end;
                }
            }
        } else {
            out.append(expanded, i, end - i + 1);
            literalStart = out.size();
        }
        i = end;
    }
    return out;
}

}  // namespace zelk
