#include "Quillon/status_session_win32.h"

#include <cstdarg>
#include <new>
#include <string>
#include <vector>

#include "Quillon/record_text.h"
#include "Quillon/sink_log_win32.h"
#include "common/pipe_client.h"
#include "common/pipe_message.h"

namespace zelk {

namespace {

constexpr int kTraceUnits = 512;

bool IsAnsiLeadByte(unsigned char byte) {
    return IsDBCSLeadByteEx(CP_ACP, byte) != FALSE;
}

// The host's arrays must be one-dimensional, the tags 32-bit and the values VARIANTs.
HRESULT CheckArrays(SAFEARRAY* tags, SAFEARRAY* properties) {
    if (tags == nullptr || properties == nullptr) {
        return E_INVALIDARG;
    }
    if (SafeArrayGetDim(tags) != 1 || SafeArrayGetDim(properties) != 1) {
        return E_INVALIDARG;
    }
    if (SafeArrayGetElemsize(tags) != sizeof(LONG)) {
        return E_INVALIDARG;
    }
    VARTYPE type = VT_EMPTY;
    if (FAILED(SafeArrayGetVartype(properties, &type)) || type != VT_VARIANT ||
        SafeArrayGetElemsize(properties) != sizeof(VARIANT)) {
        return E_INVALIDARG;
    }
    return S_OK;
}

}  // namespace

HRESULT StatusSession::Create(StatusSession** out) {
    *out = new (std::nothrow) StatusSession();
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

StatusSession::StatusSession() : TypeLibDispatch(IID_IMediaStatusSession) {
    ModuleAddLock();
}

StatusSession::~StatusSession() {
    log_.Reset();
    ModuleReleaseLock();
}

HRESULT StatusSession::StartSession(LONG sessionNumber, HANDLE sinkLog) {
    sessionNumber_ = sessionNumber;
    // A handle of its own, so the log stays valid when the session outlives its sink.
    if (sinkLog != INVALID_HANDLE_VALUE && sinkLog != nullptr) {
        HANDLE own = INVALID_HANDLE_VALUE;
        if (DuplicateHandle(GetCurrentProcess(), sinkLog, GetCurrentProcess(), &own, 0, FALSE,
                            DUPLICATE_SAME_ACCESS)) {
            log_.Reset(own);
        }
    }
    WritePipeMessage(kTagSessionOpened, L"", 1);
    return S_OK;
}

void StatusSession::DebugPrint(const wchar_t* format, ...) {
    // wvsprintfW writes up to 1024 units and its terminator; keep what fits the trace's 512.
    wchar_t formatted[1025];
    va_list args;
    va_start(args, format);
    const int n = wvsprintfW(formatted, format, args);
    va_end(args);
    if (n < 0) {
        return;
    }
    formatted[kTraceUnits - 1] = L'\0';
    OutputDebugStringW(formatted);
}

HRESULT StatusSession::WritePipeMessage(LONG tag, const wchar_t* text, int length,
                                        PipeMessage* sent) {
    // Text to the ANSI code page, in a buffer sized by asking for the length first.
    std::vector<char> ansi;
    if (text != nullptr && length > 0) {
        const int needed =
            WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
        if (needed > 0) {
            ansi.assign(static_cast<std::size_t>(needed), '\0');
            const int converted =
                WideCharToMultiByte(CP_ACP, 0, text, length, ansi.data(), needed, nullptr, nullptr);
            ansi.resize(converted > 0 ? static_cast<std::size_t>(converted) : 0);
        }
    }
    const PipeMessage message =
        MakeValueRecord(sessionNumber_, tag, ansi.data(), ansi.size(), &IsAnsiLeadByte);
    if (sent != nullptr) {
        *sent = message;
    }

    PipeClientConnection pipe;  // the same client as lumara-send; closed on every path
    PipeClientConnection::Failure failure = PipeClientConnection::Failure::kNone;
    const std::uint32_t error = pipe.Open(kPipeName, &failure);
    if (error != 0) {
        if (failure == PipeClientConnection::Failure::kBusyWait) {
            DebugPrint(L"Could not open pipe");
        } else {
            DebugPrint(L"Could not open pipe. Error: %d ", static_cast<int>(error));
        }
        return S_OK;
    }
    if (!pipe.MessageMode()) {
        DebugPrint(L"SetNamedPipeHandleState failed");
    } else if (pipe.Write(&message, sizeof message) != 0) {
        DebugPrint(L"WriteFile failed");
    }
    return S_OK;
}

bool StatusSession::SeekLogEnd() {
    if (!log_) {
        return false;
    }
    SetLastError(NO_ERROR);
    const DWORD low = SetFilePointer(log_.Get(), 0, nullptr, FILE_END);
    return !(low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
}

void StatusSession::WriteLog(const char* text, DWORD length) {
    AppendToSinkLog(log_.Get(), text, length);
}

HRESULT StatusSession::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        IsEqualIID(riid, IID_IMediaStatusSession)) {
        *ppv = static_cast<IMediaStatusSession*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG StatusSession::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&refs_));
}

ULONG StatusSession::Release() {
    const LONG refs = InterlockedDecrement(&refs_);
    if (refs == 0) {
        delete this;
    }
    return static_cast<ULONG>(refs);
}

HRESULT StatusSession::MediaStatusChange(SAFEARRAY* tags, SAFEARRAY* properties) {
    const bool logging = SeekLogEnd();

    HRESULT hr = CheckArrays(tags, properties);
    if (FAILED(hr)) {
        return hr;
    }
    void* data = nullptr;
    hr = SafeArrayAccessData(tags, &data);
    if (FAILED(hr)) {
        return hr;
    }
    const auto* tagValues = static_cast<const LONG*>(data);
    const ULONG count = tags->rgsabound[0].cElements;

    for (ULONG i = 0; i < count && SUCCEEDED(hr); ++i) {
        const LONG tag = tagValues[i];
        VARIANT value;
        VariantInit(&value);
        LONG index = static_cast<LONG>(i);
        hr = SafeArrayGetElement(properties, &index, &value);
        if (SUCCEEDED(hr)) {
            hr = VariantChangeType(&value, &value, VARIANT_ALPHABOOL, VT_BSTR);
        }
        if (SUCCEEDED(hr)) {
            const BSTR text = value.bstrVal;
            const int length = static_cast<int>(SysStringLen(text)) + 1;
            PipeMessage sent{};
            WritePipeMessage(tag, text != nullptr ? text : L"", text != nullptr ? length : 1,
                             &sent);
            if (logging) {
                // The log shows the value as the record carries it.
                const std::string line = ChangeLogLine(sessionNumber_, tag, sent.text);
                WriteLog(line.data(), static_cast<DWORD>(line.size()));
            }
        }
        VariantClear(&value);
    }
    SafeArrayUnaccessData(tags);
    return hr;
}

HRESULT StatusSession::Close() {
    if (SeekLogEnd()) {
        const std::string line = CloseLogLine(sessionNumber_);
        WriteLog(line.data(), static_cast<DWORD>(line.size()));
    }
    WritePipeMessage(kTagSessionClosed, L"", 1);
    return S_OK;
}

}  // namespace zelk
