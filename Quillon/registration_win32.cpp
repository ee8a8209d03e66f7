#include "Quillon/registration_win32.h"

#include <oleauto.h>

#include <string>

#include "Quillon/ostrel_module_win32.h"
#include "common/win_handles_win32.h"
#include "quillon.h"

namespace zelk {

namespace {

constexpr wchar_t kClassName[] = L"StatusSink Class";
constexpr wchar_t kClsid[] = L"{6B1E5A20-3C7D-4F81-9A52-7E0D4C2B9F13}";
constexpr wchar_t kLibid[] = L"{9C4D2E71-58A3-4B6F-8E10-3F7A2D6C5B84}";
constexpr wchar_t kCategory[] = L"{FCB0C2A3-9747-4c95-9d02-820AFEDEF13F}";
constexpr wchar_t kCategoryName[] = L"Media Status Sink";
constexpr wchar_t kCategoryLocaleValue[] = L"409";
constexpr wchar_t kProgId[] = L"Quillon.StatusSink.1";
constexpr wchar_t kIndependentProgId[] = L"Quillon.StatusSink";

// The x86 and x64 DLLs each own their platform's subkey under the type library's locale key,
// which both views share; the rest of the library's entries (its version key, its interfaces
// in both views) serve both and go only with the last of the two.
constexpr bool kIs64Bit = sizeof(void*) == 8;
constexpr SYSKIND kOwnSysKind = kIs64Bit ? SYS_WIN64 : SYS_WIN32;
const std::wstring kTypeLibLocaleKey = std::wstring(L"TypeLib\\") + kLibid + L"\\1.0\\409";
const std::wstring kOwnPlatformKey = kTypeLibLocaleKey + (kIs64Bit ? L"\\win64" : L"\\win32");
const std::wstring kOtherPlatformKey = kTypeLibLocaleKey + (kIs64Bit ? L"\\win32" : L"\\win64");

// The class keys are split between the 64- and 32-bit views of the registry; the ProgIDs and the
// component category keys are one for both (on every 64-bit Windows this program runs on, and
// under Wine). So while the other build's class is registered, the ProgIDs and the category's
// name serve it too and stay.
constexpr REGSAM kOtherView = kIs64Bit ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;

const std::wstring kCategoryKey = std::wstring(L"Component Categories\\") + kCategory;
const std::wstring kClassKey = std::wstring(L"CLSID\\") + kClsid;

HRESULT FromWin32(LONG error) {
    return HRESULT_FROM_WIN32(static_cast<unsigned long>(error));
}

// Creates `key` (and the keys above it) and sets one string value; a null `name` is the
// key's default value.
HRESULT SetString(const std::wstring& key, const wchar_t* name, const std::wstring& data) {
    UniqueRegistryKey handle;
    LONG error =
        RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, handle.Receive(), nullptr);
    if (error != ERROR_SUCCESS) {
        handle.Release();  // not opened: nothing to close
        return FromWin32(error);
    }
    const auto bytes = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
    error = RegSetValueExW(handle.Get(), name, 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(data.c_str()), bytes);
    return FromWin32(error);
}

HRESULT CreateKey(const std::wstring& key) {
    UniqueRegistryKey handle;
    const LONG error =
        RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_READ, nullptr, handle.Receive(), nullptr);
    if (error != ERROR_SUCCESS) {
        handle.Release();  // not opened: nothing to close
    }
    return FromWin32(error);
}

// Deletes one key without subkeys; a missing key is not an error. A key that still has
// subkeys is not deleted and its error is returned.
HRESULT DeleteKey(const std::wstring& key) {
    const LONG error = RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
    return error == ERROR_FILE_NOT_FOUND ? S_OK : FromWin32(error);
}

HRESULT DeleteTree(const std::wstring& key) {
    const LONG error = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    return error == ERROR_FILE_NOT_FOUND ? S_OK : FromWin32(error);
}

HRESULT DeleteValue(const std::wstring& key, const wchar_t* name) {
    UniqueRegistryKey handle;
    LONG error = RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_SET_VALUE, handle.Receive());
    if (error != ERROR_SUCCESS) {
        handle.Release();  // not opened: nothing to close
        return error == ERROR_FILE_NOT_FOUND ? S_OK : FromWin32(error);
    }
    error = RegDeleteValueW(handle.Get(), name);
    return error == ERROR_FILE_NOT_FOUND ? S_OK : FromWin32(error);
}

bool KeyExists(const std::wstring& key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(handle);
    return true;
}

// Whether the other build's class is registered, in the other view of the class keys. A 32-bit
// build on a 32-bit system has no other view (the flag would open its own).
bool OtherBuildRegistered() {
    if (!kIs64Bit) {
        BOOL wow64 = FALSE;
        if (!IsWow64Process(GetCurrentProcess(), &wow64) || !wow64) {
            return false;
        }
    }
    HKEY handle = nullptr;
    const std::wstring server = kClassKey + L"\\InprocServer32";
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, server.c_str(), 0, KEY_READ | kOtherView, &handle) !=
        ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(handle);
    return true;
}

// Removes this build's type library entries: only its own platform subkey while the other
// build is registered, otherwise the whole library through the system.
HRESULT UnregisterTypeLibrary() {
    if (KeyExists(kOtherPlatformKey)) {
        return DeleteKey(kOwnPlatformKey);
    }
    return UnRegisterTypeLib(LIBID_QUILLONLib, kTypeLibMajor, kTypeLibMinor, kTypeLibLocale,
                             kOwnSysKind);
}

// The DLL's full path; a path that fills the whole buffer is refused.
HRESULT ModulePath(HINSTANCE module, std::wstring& path) {
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameW(module, buffer, MAX_PATH);
    if (length == 0) {
        const DWORD error = GetLastError();
        return error != 0 ? HRESULT_FROM_WIN32(error) : E_FAIL;
    }
    if (length >= MAX_PATH) {
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    }
    path.assign(buffer, length);
    return S_OK;
}

HRESULT RegisterTypeLibrary(const std::wstring& modulePath) {
    std::wstring libraryPath = modulePath;
    ITypeLib* library = nullptr;
    HRESULT hr = LoadTypeLibEx(libraryPath.c_str(), REGKIND_NONE, &library);
    if (FAILED(hr)) {
        const std::size_t dot = libraryPath.find_last_of(L'.');
        const std::size_t slash = libraryPath.find_last_of(L"\\/");
        if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash)) {
            libraryPath.erase(dot);
        }
        libraryPath += L".tlb";
        hr = LoadTypeLibEx(libraryPath.c_str(), REGKIND_NONE, &library);
        if (FAILED(hr)) {
            return hr;
        }
    }
    std::wstring folder = modulePath;
    const std::size_t slash = folder.find_last_of(L"\\/");
    folder.erase(slash == std::wstring::npos ? 0 : slash);
    std::wstring pathArgument = libraryPath;
    hr = RegisterTypeLib(library, pathArgument.data(), folder.empty() ? nullptr : folder.data());
    library->Release();
    return hr;
}

}  // namespace

HRESULT RegisterServer(HINSTANCE module) {
    std::wstring path;
    HRESULT hr = ModulePath(module, path);
    if (FAILED(hr)) {
        return hr;
    }
    hr = DeleteTree(kClassKey);
    const std::wstring progIdClsid = std::wstring(kProgId) + L"\\CLSID";
    const std::wstring independentClsid = std::wstring(kIndependentProgId) + L"\\CLSID";
    const std::wstring independentCurVer = std::wstring(kIndependentProgId) + L"\\CurVer";
    const std::wstring implemented = kClassKey + L"\\Implemented Categories\\" + kCategory;
    const std::wstring server = kClassKey + L"\\InprocServer32";
    if (SUCCEEDED(hr)) hr = SetString(kCategoryKey, kCategoryLocaleValue, kCategoryName);
    if (SUCCEEDED(hr)) hr = SetString(kProgId, nullptr, kClassName);
    if (SUCCEEDED(hr)) hr = SetString(progIdClsid, nullptr, kClsid);
    if (SUCCEEDED(hr)) hr = SetString(kIndependentProgId, nullptr, kClassName);
    if (SUCCEEDED(hr)) hr = SetString(independentClsid, nullptr, kClsid);
    if (SUCCEEDED(hr)) hr = SetString(independentCurVer, nullptr, kProgId);
    if (SUCCEEDED(hr)) hr = CreateKey(L"CLSID");
    if (SUCCEEDED(hr)) hr = SetString(kClassKey, nullptr, kClassName);
    if (SUCCEEDED(hr)) hr = SetString(kClassKey + L"\\ProgID", nullptr, kProgId);
    if (SUCCEEDED(hr)) {
        hr = SetString(kClassKey + L"\\VersionIndependentProgID", nullptr, kIndependentProgId);
    }
    if (SUCCEEDED(hr)) hr = SetString(implemented, nullptr, kCategoryName);
    if (SUCCEEDED(hr)) hr = SetString(server, nullptr, path);
    if (SUCCEEDED(hr)) hr = SetString(server, L"ThreadingModel", L"Apartment");
    if (SUCCEEDED(hr)) hr = SetString(kClassKey + L"\\TypeLib", nullptr, kLibid);
    if (SUCCEEDED(hr)) hr = RegisterTypeLibrary(path);
    return hr;
}

HRESULT UnregisterServer(HINSTANCE module) {
    std::wstring path;
    HRESULT hr = ModulePath(module, path);
    if (FAILED(hr)) {
        return hr;
    }
    // Every step runs; the first failure is the result. The category key and CLSID stay, and
    // so do the ProgIDs and the category's name while the other build uses them.
    const bool shared = OtherBuildRegistered();
    const HRESULT steps[] = {
        shared ? S_OK : DeleteValue(kCategoryKey, kCategoryLocaleValue),
        shared ? S_OK : DeleteKey(std::wstring(kProgId) + L"\\CLSID"),
        shared ? S_OK : DeleteKey(kProgId),
        shared ? S_OK : DeleteKey(std::wstring(kIndependentProgId) + L"\\CLSID"),
        shared ? S_OK : DeleteKey(std::wstring(kIndependentProgId) + L"\\CurVer"),
        shared ? S_OK : DeleteKey(kIndependentProgId),
        DeleteTree(kClassKey),
        UnregisterTypeLibrary(),
    };
    for (const HRESULT step : steps) {
        if (FAILED(step)) {
            return step;
        }
    }
    return S_OK;
}

}  // namespace zelk
