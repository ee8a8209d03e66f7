// Registration of StatusSink: its class, ProgIDs and category value under HKEY_CLASSES_ROOT,
// and the type library from the DLL's own resources.
#pragma once

#include <windows.h>

namespace zelk {

HRESULT RegisterServer(HINSTANCE module);
HRESULT UnregisterServer(HINSTANCE module);

}  // namespace zelk
