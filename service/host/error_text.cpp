#include "service/host/error_text.h"

#include <cstdio>

namespace zelk {

std::string FillInsertions(const std::string& format, std::initializer_list<std::string> inserts) {
    std::string result;
    result.reserve(format.size());
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c == '%' && i + 1 < format.size() && format[i + 1] >= '1' && format[i + 1] <= '9') {
            const std::size_t index = static_cast<std::size_t>(format[i + 1] - '1');
            if (index < inserts.size()) result += *(inserts.begin() + index);
            ++i;
            continue;
        }
        result.push_back(c);
    }
    return result;
}

std::string ErrorCodeDecimal(std::uint32_t error) {
    char buffer[16];
    std::snprintf(buffer, sizeof(buffer), "%d", static_cast<std::int32_t>(error));
    return buffer;
}

std::string ComposeErrorText(const std::string& pairFormat, const std::string& messageFormat,
                             std::uint32_t error, const std::string& systemText, bool forEventLog) {
    const std::string pair = FillInsertions(pairFormat, {ErrorCodeDecimal(error), systemText});
    if (forEventLog) return pair;
    return FillInsertions(messageFormat, {pair});
}

}  // namespace zelk
