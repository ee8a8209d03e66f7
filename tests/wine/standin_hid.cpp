// Test stand-in for hid.dll: the HID class driver's answers for the stand-in interfaces listed by
// the stand-in setupapi.dll. Each interface's device is a named pipe "fp_hid_VVVV_PPPP" served
// by the test's recorder; its ids are read back from the pipe's name. Every output report is 8
// bytes long.
#include <windows.h>

#include <cstdio>
#include <cwchar>

extern "C" {

struct StandinAttributes {  // HIDD_ATTRIBUTES
    ULONG Size;
    USHORT VendorID;
    USHORT ProductID;
    USHORT VersionNumber;
};

struct StandinCaps {  // HIDP_CAPS
    USHORT Usage;
    USHORT UsagePage;
    USHORT InputReportByteLength;
    USHORT OutputReportByteLength;
    USHORT FeatureReportByteLength;
    USHORT Reserved[17];
    USHORT NumberLinkCollectionNodes;
    USHORT NumberInputButtonCaps;
    USHORT NumberInputValueCaps;
    USHORT NumberInputDataIndices;
    USHORT NumberOutputButtonCaps;
    USHORT NumberOutputValueCaps;
    USHORT NumberOutputDataIndices;
    USHORT NumberFeatureButtonCaps;
    USHORT NumberFeatureValueCaps;
    USHORT NumberFeatureDataIndices;
};

// {4D1E55B2-F16F-11CF-88CB-001111000030}, the HID interface class.
void WINAPI HidD_GetHidGuid(GUID* guid) {
    *guid = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
}

BOOLEAN WINAPI HidD_GetAttributes(HANDLE device, StandinAttributes* attributes) {
    struct {
        DWORD length;
        WCHAR name[MAX_PATH];
    } info = {};
    if (!GetFileInformationByHandleEx(device, FileNameInfo, &info, sizeof info)) return FALSE;
    info.name[info.length / sizeof(WCHAR) < MAX_PATH ? info.length / sizeof(WCHAR) : 0] = L'\0';
    unsigned vendor = 0, product = 0;
    if (std::swscanf(info.name, L"\\fp_hid_%4x_%4x", &vendor, &product) != 2) return FALSE;
    attributes->VendorID = static_cast<USHORT>(vendor);
    attributes->ProductID = static_cast<USHORT>(product);
    attributes->VersionNumber = 1;
    return TRUE;
}

// The preparsed data is a token: only HidP_GetCaps reads it.
static char g_preparsed;

BOOLEAN WINAPI HidD_GetPreparsedData(HANDLE, void** preparsed) {
    *preparsed = &g_preparsed;
    return TRUE;
}

BOOLEAN WINAPI HidD_FreePreparsedData(void*) {
    return TRUE;
}

LONG WINAPI HidP_GetCaps(void* preparsed, StandinCaps* caps) {
    if (preparsed != &g_preparsed) return static_cast<LONG>(0xC0110001);  // invalid data
    *caps = {};
    caps->OutputReportByteLength = 8;
    return 0x00110000;  // HIDP_STATUS_SUCCESS
}

}  // extern "C"
