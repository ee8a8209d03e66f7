// The service's string table built into the program, from the list that also makes the Windows
// string resource (service/core/service_strings.def).
#include <cstring>
#include <iterator>

#include "service/core/panel_texts.h"

namespace zelk {
namespace {

constexpr const char* kServiceStrings[] = {
    nullptr,  // no string 0
#define SERVICE_STRING(id, text) text,
#include "service/core/service_strings.def"
#undef SERVICE_STRING
};

// A string's id is its index above, so the list's ids must run from 1 without a gap.
constexpr int kServiceStringIds[] = {
    0,
#define SERVICE_STRING(id, text) id,
#include "service/core/service_strings.def"
#undef SERVICE_STRING
};

constexpr bool IdsAreIndexes() {
    for (int i = 0; i < static_cast<int>(std::size(kServiceStringIds)); ++i) {
        if (kServiceStringIds[i] != i) return false;
    }
    return true;
}
static_assert(IdsAreIndexes(), "service_strings.def: ids must run 1, 2, 3... in order");

}  // namespace

std::size_t LoadServiceString(int id, char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) return 0;
    buffer[0] = '\0';
    constexpr int kCount = static_cast<int>(sizeof kServiceStrings / sizeof kServiceStrings[0]);
    if (id <= 0 || id >= kCount) return 0;
    const char* text = kServiceStrings[id];
    std::size_t length = std::strlen(text);
    if (length > size - 1) length = size - 1;
    std::memcpy(buffer, text, length);
    buffer[length] = '\0';
    return length;
}

}  // namespace zelk
