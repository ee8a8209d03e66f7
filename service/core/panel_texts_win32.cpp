// The service's string table: string resources of the running executable (lumara_strings.rc).
#include <windows.h>

#include <climits>

#include "service/core/panel_texts.h"

namespace zelk {

std::size_t LoadServiceString(int id, char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) return 0;
    buffer[0] = '\0';
    if (id <= 0 || id > 0xFFFF) return 0;
    const int capacity =
        size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
    const int length =
        LoadStringA(GetModuleHandleA(nullptr), static_cast<UINT>(id), buffer, capacity);
    if (length <= 0) {
        buffer[0] = '\0';
        return 0;
    }
    return static_cast<std::size_t>(length);
}

}  // namespace zelk
