// StatusSink: the creatable class the media center's status host loads. It owns the diagnostic
// log and numbers the sessions it opens, 1 for the first.
#pragma once

#include <windows.h>

#include "Quillon/ostrel_module_win32.h"
#include "common/win_handles_win32.h"
#include "quillon.h"

namespace zelk {

class StatusSink final : public TypeLibDispatch<IMediaStatusSink> {
  public:
    // The class factory's CreateInstance. With an outer unknown only IID_IUnknown may be asked
    // for (the inner unknown is returned).
    static HRESULT Create(IUnknown* outer, REFIID riid, void** ppv);

    // IUnknown: delegates to the controlling unknown (the outer one when aggregated).
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IDispatch comes from TypeLibDispatch, through IMediaStatusSink (QueryInterface refuses
    // IID_IDispatch).

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
};

}  // namespace zelk
