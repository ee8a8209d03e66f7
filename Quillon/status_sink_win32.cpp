#include "Quillon/status_sink_win32.h"

#include <new>

#include "Quillon/status_session_win32.h"

namespace zelk {

namespace {

constexpr wchar_t kLogFileName[] = L"zelkmsas.txt";

}  // namespace

HRESULT StatusSink::Create(IUnknown* outer, REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (outer != nullptr && !IsEqualIID(riid, IID_IUnknown)) {
        return CLASS_E_NOAGGREGATION;
    }
    auto* sink = new (std::nothrow) StatusSink(outer);
    if (sink == nullptr) {
        return E_OUTOFMEMORY;
    }
    sink->OpenLog();
    // The inner unknown's count starts at 0: a failed query destroys the object here.
    sink->inner_.AddRef();
    const HRESULT hr = sink->inner_.QueryInterface(riid, ppv);
    sink->inner_.Release();
    return hr;
}

StatusSink::StatusSink(IUnknown* outer)
    : TypeLibDispatch(IID_IMediaStatusSink),
      inner_(this),
      controlling_(outer != nullptr ? outer : &inner_) {
    ModuleAddLock();
}

StatusSink::~StatusSink() {
    log_.Reset();
    ModuleReleaseLock();
}

void StatusSink::OpenLog() {
    // Forwarding does not depend on the log: whatever fails here leaves the sink without one.
    wchar_t path[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, path);
    constexpr DWORD kNameUnits = sizeof kLogFileName / sizeof kLogFileName[0];  // with its NUL
    if (length == 0 || length + kNameUnits > MAX_PATH) {
        return;
    }
    for (DWORD i = 0; i < kNameUnits; ++i) {
        path[length + i] = kLogFileName[i];
    }
    log_.Reset(CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
}

HRESULT StatusSink::InnerUnknown::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    if (IsEqualIID(riid, IID_IUnknown)) {
        *ppv = static_cast<IUnknown*>(this);
    } else if (IsEqualIID(riid, IID_IMediaStatusSink)) {
        *ppv = static_cast<IMediaStatusSink*>(owner_);
    } else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    static_cast<IUnknown*>(*ppv)->AddRef();
    return S_OK;
}

ULONG StatusSink::InnerUnknown::AddRef() {
    return ++owner_->refs_;
}

ULONG StatusSink::InnerUnknown::Release() {
    const ULONG refs = --owner_->refs_;
    if (refs == 0) {
        delete owner_;
    }
    return refs;
}

HRESULT StatusSink::QueryInterface(REFIID riid, void** ppv) {
    return controlling_->QueryInterface(riid, ppv);
}

ULONG StatusSink::AddRef() {
    return controlling_->AddRef();
}

ULONG StatusSink::Release() {
    return controlling_->Release();
}

HRESULT StatusSink::Initialize() {
    return S_OK;
}

HRESULT StatusSink::CreateSession(IMediaStatusSession** session) {
    if (session == nullptr) {
        return E_POINTER;
    }
    *session = nullptr;
    StatusSession* created = nullptr;
    HRESULT hr = StatusSession::Create(&created);
    if (FAILED(hr)) {
        return hr;
    }
    // `created` carries one reference for the time of the setup.
    const LONG number = ++sessionCounter_;
    hr = created->StartSession(number, log_.Get());
    if (SUCCEEDED(hr)) {
        hr = created->QueryInterface(IID_IMediaStatusSession, reinterpret_cast<void**>(session));
    }
    created->Release();
    if (FAILED(hr)) {
        *session = nullptr;
    }
    return hr;
}

}  // namespace zelk
