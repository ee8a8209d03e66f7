// StatusSession: one session of the host on a StatusSink. Forwards every tag and value pair it
// is given to the service as one record on the panel pipe, one connection per record.
#pragma once

#include <windows.h>

#include "Quillon/ostrel_module_win32.h"
#include "common/win_handles_win32.h"
#include "common/pipe_message.h"
#include "quillon.h"

namespace zelk {

class StatusSession final : public TypeLibDispatch<IMediaStatusSession> {
  public:
    // A new session with one reference for the caller.
    static HRESULT Create(StatusSession** out);

    // Stores the number and a handle of its own to the sink's log (no log when `sinkLog` is
    // INVALID_HANDLE_VALUE or cannot be duplicated), then sends the opening record.
    HRESULT StartSession(LONG sessionNumber, HANDLE sinkLog);

    // Sends one record with this session's number; `length` counts UTF-16 units including the
    // terminator. Pipe failures are traced and the record dropped: always S_OK. The record
    // built goes to `sent` when given.
    HRESULT WritePipeMessage(LONG tag, const wchar_t* text, int length,
                             PipeMessage* sent = nullptr);

    // The sink's trace: formatted with wvsprintfW into 512 units, to OutputDebugStringW.
    static void DebugPrint(const wchar_t* format, ...);

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IMediaStatusSession
    STDMETHODIMP MediaStatusChange(SAFEARRAY* tags, SAFEARRAY* properties) override;
    STDMETHODIMP Close() override;

  private:
    StatusSession();
    ~StatusSession();

    // Moves the log to its end; false when there is no log or the move failed.
    bool SeekLogEnd();
    void WriteLog(const char* text, DWORD length);

    LONG refs_ = 1;
    UniqueFileHandle log_;  // this session's own duplicate
    LONG sessionNumber_ = 0;
};

}  // namespace zelk
