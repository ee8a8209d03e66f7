#include "tests/adapters/wine_detect.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace zelk::test {

bool RunningUnderWine() {
#ifdef _WIN32
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

}  // namespace zelk::test
