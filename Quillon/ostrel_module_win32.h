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

// The IDispatch half of a dual interface, served from the type library's description of
// `Interface` (whose IID the object passes in). The sink's objects derive from it.
template <typename Interface>
class TypeLibDispatch : public Interface {
  public:
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) {
            return E_POINTER;
        }
        *count = 1;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
        return typeInfo_.GetTypeInfo(index, info);
    }
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                               DISPID* ids) override {
        return typeInfo_.GetIDsOfNames(riid, names, count, ids);
    }
    STDMETHODIMP Invoke(DISPID member, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override {
        return typeInfo_.Invoke(static_cast<Interface*>(this), member, riid, flags, params, result,
                                exception, argumentError);
    }

  protected:
    explicit TypeLibDispatch(const IID& iid) : typeInfo_(iid) {}
    ~TypeLibDispatch() = default;

  private:
    TypeInfoCache typeInfo_;
};

}  // namespace zelk
