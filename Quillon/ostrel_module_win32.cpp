// The DLL's entry points: DllMain, the class object, the unload test and registration.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <new>

#include "Quillon/ostrel_module_win32.h"
#include "Quillon/registration_win32.h"
#include "Quillon/status_sink_win32.h"
#include "quillon.h"

namespace zelk {

namespace {

HINSTANCE g_instance = nullptr;
LONG g_lockCount = 0;
CRITICAL_SECTION g_moduleLock;

// The one class object of StatusSink. The module keeps it from its first request until the DLL
// is unloaded; while any client holds a reference, it holds a module lock.
class ClassFactory final : public IClassFactory {
  public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override {
        const LONG refs = InterlockedIncrement(&refs_);
        if (refs == 1) {
            ModuleAddLock();
        }
        return static_cast<ULONG>(refs);
    }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG refs = InterlockedDecrement(&refs_);
        if (refs == 0) {
            ModuleReleaseLock();
        }
        return static_cast<ULONG>(refs);
    }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        return StatusSink::Create(outer, riid, ppv);
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock) {
            ModuleAddLock();
        } else {
            ModuleReleaseLock();
        }
        return S_OK;
    }

  private:
    LONG refs_ = 0;
};

ClassFactory* g_factory = nullptr;

}  // namespace

HINSTANCE ModuleInstance() {
    return g_instance;
}

void ModuleAddLock() {
    InterlockedIncrement(&g_lockCount);
}

void ModuleReleaseLock() {
    InterlockedDecrement(&g_lockCount);
}

LONG ModuleLockCount() {
    return InterlockedCompareExchange(&g_lockCount, 0, 0);
}

HRESULT LoadOwnTypeLib(ITypeLib** out) {
    *out = nullptr;
    HRESULT hr =
        LoadRegTypeLib(LIBID_QUILLONLib, kTypeLibMajor, kTypeLibMinor, kTypeLibLocale, out);
    if (SUCCEEDED(hr)) {
        return hr;
    }
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(g_instance, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return hr;
    }
    return LoadTypeLibEx(path, REGKIND_NONE, out);
}

TypeInfoCache::~TypeInfoCache() {
    if (info_ != nullptr) {
        info_->Release();
    }
}

HRESULT TypeInfoCache::Get(ITypeInfo** out) {
    *out = nullptr;
    if (info_ == nullptr) {
        ITypeLib* library = nullptr;
        HRESULT hr = LoadOwnTypeLib(&library);
        if (FAILED(hr)) {
            return hr;
        }
        hr = library->GetTypeInfoOfGuid(iid_, &info_);
        library->Release();
        if (FAILED(hr)) {
            info_ = nullptr;
            return hr;
        }
    }
    info_->AddRef();
    *out = info_;
    return S_OK;
}

HRESULT TypeInfoCache::GetTypeInfo(UINT index, ITypeInfo** out) {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    if (index != 0) {
        return DISP_E_BADINDEX;
    }
    return Get(out);
}

HRESULT TypeInfoCache::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, DISPID* ids) {
    if (!IsEqualIID(riid, IID_NULL)) {
        return DISP_E_UNKNOWNINTERFACE;
    }
    ITypeInfo* info = nullptr;
    HRESULT hr = Get(&info);
    if (FAILED(hr)) {
        return hr;
    }
    hr = DispGetIDsOfNames(info, names, count, ids);
    info->Release();
    return hr;
}

HRESULT TypeInfoCache::Invoke(void* self, DISPID member, REFIID riid, WORD flags,
                              DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                              UINT* argumentError) {
    if (!IsEqualIID(riid, IID_NULL)) {
        return DISP_E_UNKNOWNINTERFACE;
    }
    ITypeInfo* info = nullptr;
    HRESULT hr = Get(&info);
    if (FAILED(hr)) {
        return hr;
    }
    hr = DispInvoke(self, info, member, flags, params, result, exception, argumentError);
    info->Release();
    return hr;
}

}  // namespace zelk

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        zelk::g_instance = instance;
        zelk::g_lockCount = 0;
        InitializeCriticalSection(&zelk::g_moduleLock);
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH) {
        delete zelk::g_factory;
        zelk::g_factory = nullptr;
        DeleteCriticalSection(&zelk::g_moduleLock);
    }
    return TRUE;
}

STDAPI DllCanUnloadNow() {
    return zelk::ModuleLockCount() == 0 ? S_OK : S_FALSE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (!IsEqualCLSID(rclsid, CLSID_StatusSink)) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    EnterCriticalSection(&zelk::g_moduleLock);
    if (zelk::g_factory == nullptr) {
        zelk::g_factory = new (std::nothrow) zelk::ClassFactory();
    }
    zelk::ClassFactory* factory = zelk::g_factory;
    LeaveCriticalSection(&zelk::g_moduleLock);
    if (factory == nullptr) {
        return E_OUTOFMEMORY;
    }
    return factory->QueryInterface(riid, ppv);
}

STDAPI DllRegisterServer() {
    return zelk::RegisterServer(zelk::g_instance);
}

STDAPI DllUnregisterServer() {
    return zelk::UnregisterServer(zelk::g_instance);
}
