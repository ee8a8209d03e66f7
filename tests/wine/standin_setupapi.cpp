// Test stand-in for setupapi.dll: lists two present HID interfaces, first one of another product
// (which the service must pass over), then the panel (1F3C:5A41). Their device paths are the
// named pipes that the test's recorder serves (see standin_hid.cpp).
#include <windows.h>

#include <cstddef>
#include <cstring>

extern "C" {

struct StandinInterfaceData {  // SP_DEVICE_INTERFACE_DATA
    DWORD cbSize;
    GUID InterfaceClassGuid;
    DWORD Flags;
    ULONG_PTR Reserved;
};

struct StandinInterfaceDetailA {  // SP_DEVICE_INTERFACE_DETAIL_DATA_A
    DWORD cbSize;
    CHAR DevicePath[1];
};

static const char* const kDevicePaths[] = {"\\\\.\\pipe\\fp_hid_1F3C_5A40",
                                           "\\\\.\\pipe\\fp_hid_1F3C_5A41"};
static int g_set;  // the one device information set; its address is the handle

void* WINAPI SetupDiGetClassDevsA(const GUID*, PCSTR, HWND, DWORD) {
    return &g_set;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(void* set) {
    return set == &g_set;
}

BOOL WINAPI SetupDiEnumDeviceInterfaces(void* set, void*, const GUID* guid, DWORD index,
                                        StandinInterfaceData* data) {
    if (set != &g_set || data == nullptr || data->cbSize != sizeof(StandinInterfaceData)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (index >= sizeof kDevicePaths / sizeof kDevicePaths[0]) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    data->InterfaceClassGuid = *guid;
    data->Flags = 1;  // SPINT_ACTIVE
    data->Reserved = index;
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailA(void* set, StandinInterfaceData* data,
                                             StandinInterfaceDetailA* detail, DWORD size,
                                             DWORD* required, void*) {
    if (set != &g_set || data == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const char* path = kDevicePaths[data->Reserved];
    const DWORD needed =
        static_cast<DWORD>(offsetof(StandinInterfaceDetailA, DevicePath) + std::strlen(path) + 1);
    if (required != nullptr) *required = needed;
    if (detail == nullptr || size < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(detail->DevicePath, path, std::strlen(path) + 1);
    return TRUE;
}

}  // extern "C"
