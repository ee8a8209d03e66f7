// StatusSink: the creatable class the media center's status host loads. It owns the diagnostic
// log and numbers the sessions it opens, 1 for the first.
#pragma once

#include <windows.h>

#include "Quillon/ostrel_module_win32.h"
#include "common/win_handles_win32.h"
#include "quillon.h"

namespace zelk {

class StatusSink final : public IMediaStatusSink {
  public:
    // The class factory's CreateInstance. With an outer unknown only IID_IUnknown may be asked
    // for (the inner unknown is returned).
    static HRESULT Create(IUnknown* outer, REFIID riid, void** ppv);

    // IUnknown: delegates to the controlling unknown (the outer one when aggregated).
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IDispatch, served through IMediaStatusSink (QueryInterface refuses IID_IDispatch).
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale,
                               DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID member, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;

    // IMediaStatusSink
    STDMETHODIMP Initialize() override;
    STDMETHODIMP CreateSession(IMediaStatusSession** session) override;

  private:
    // The object's own unknown: the one the outer object holds when aggregated.
    class InnerUnknown final : public IUnknown {
      public:
        explicit InnerUnknown(StatusSink* owner) : owner_(owner) {}
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
        STDMETHODIMP_(ULONG) AddRef() override;
        STDMETHODIMP_(ULONG) Release() override;

      private:
        StatusSink* owner_;
    };

    explicit StatusSink(IUnknown* outer);
    ~StatusSink();

    // Opens "zelkmsas.txt" in the temporary folder, or leaves the sink without a log.
    void OpenLog();

    InnerUnknown inner_;
    IUnknown* controlling_;
    ULONG refs_ = 0;  // single-threaded apartment: no atomics
    UniqueFileHandle log_;
    LONG sessionCounter_ = 0;
    TypeInfoCache typeInfo_;
};

}  // namespace zelk
