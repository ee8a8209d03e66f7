// Module-wide state of the sink's DLL: its instance handle, the lock count that decides when
// it may be unloaded, and the type information that serves the objects' IDispatch methods.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace zelk {

HINSTANCE ModuleInstance();
void ModuleAddLock();
void ModuleReleaseLock();
LONG ModuleLockCount();

// The library's identity.
inline constexpr WORD kTypeLibMajor = 1;
inline constexpr WORD kTypeLibMinor = 0;
inline constexpr LCID kTypeLibLocale = 0x409;

// Loads the type library: the registered one first, else the one in this DLL's resources.
HRESULT LoadOwnTypeLib(ITypeLib** out);

// One interface's type information, loaded on first use and released with its owner.
class TypeInfoCache {
  public:
    explicit TypeInfoCache(const IID& iid) : iid_(iid) {}
    ~TypeInfoCache();
    TypeInfoCache(const TypeInfoCache&) = delete;
    TypeInfoCache& operator=(const TypeInfoCache&) = delete;

    // The type information with a reference of its own for the caller.
    HRESULT Get(ITypeInfo** out);

    // The IDispatch methods of a dual interface whose vtable starts at `self`.
    HRESULT GetTypeInfo(UINT index, ITypeInfo** out);
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, DISPID* ids);
    HRESULT Invoke(void* self, DISPID member, REFIID riid, WORD flags, DISPPARAMS* params,
                   VARIANT* result, EXCEPINFO* exception, UINT* argumentError);

  private:
    const IID& iid_;
    ITypeInfo* info_ = nullptr;
};

}  // namespace zelk
