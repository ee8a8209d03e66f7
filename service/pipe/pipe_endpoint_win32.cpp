#include <windows.h>

#include <cstdio>
#include <cstring>

#include "common/debug_print.h"
#include "common/win_handles_win32.h"
#include "service/pipe/named_pipe_win32.h"
#include "service/pipe/pipe_endpoint.h"

namespace zelk {

CNamedPipe::~CNamedPipe() {
    CloseHandleNow();
}

void CNamedPipe::CloseHandleNow() {
    if (handle_ != INVALID_HANDLE_VALUE) {
        CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }
}

bool CNamedPipe::Create(const char* name, DWORD openMode, DWORD pipeMode, DWORD maxInstances,
                        DWORD outBufferSize, DWORD inBufferSize, DWORD defaultTimeOut,
                        SECURITY_ATTRIBUTES* securityAttributes) {
    char fullName[kPipeNameBufferSize];
    const int n = std::snprintf(fullName, sizeof fullName, "\\\\.\\PIPE\\%s", name);
    if (n < 0 || static_cast<DWORD>(n) >= sizeof fullName) {
        handle_ = INVALID_HANDLE_VALUE;
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    handle_ = CreateNamedPipeA(fullName, openMode, pipeMode, maxInstances, outBufferSize,
                               inBufferSize, defaultTimeOut, securityAttributes);
    return handle_ != INVALID_HANDLE_VALUE;
}

BOOL CNamedPipe::Connect(OVERLAPPED* overlapped) {
    return ConnectNamedPipe(handle_, overlapped);
}

BOOL CNamedPipe::Read(void* buffer, DWORD count, DWORD* read, OVERLAPPED* overlapped) {
    return ReadFile(handle_, buffer, count, read, overlapped);
}

BOOL CNamedPipe::Disconnect() {
    return DisconnectNamedPipe(handle_);
}

PACL BuildRestrictedSD(PSECURITY_DESCRIPTOR descriptor) {
    if (!InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION)) {
        DebugPrint("InitializeSecurityDescriptor() failed with error %d\n",
                   static_cast<int>(GetLastError()));
        return nullptr;
    }
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    UniqueSid sid;  // freed on every path: the ACL holds a copy
    if (!AllocateAndInitializeSid(&ntAuthority, 1, SECURITY_AUTHENTICATED_USER_RID, 0, 0, 0, 0, 0,
                                  0, 0, sid.Receive())) {
        DebugPrint("AllocateAndInitializeSid() failed with error %d\n",
                   static_cast<int>(GetLastError()));
        sid.Release();  // not allocated: nothing to free
        return nullptr;
    }
    // The ACL header and the entry's fixed part come to 16 bytes.
    const DWORD aclSize = GetLengthSid(sid.Get()) + 16;
    UniqueHeapBlock acl(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, aclSize));
    if (!acl) {
        DebugPrint("HeapAlloc() failed with error %d\n", static_cast<int>(GetLastError()));
        return nullptr;
    }
    const PACL list = static_cast<PACL>(acl.Get());
    if (!InitializeAcl(list, aclSize, ACL_REVISION)) {
        DebugPrint("InitializeAcl() failed with error %d\n", static_cast<int>(GetLastError()));
        return nullptr;
    }
    if (!AddAccessAllowedAce(list, ACL_REVISION, GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE,
                             sid.Get())) {
        DebugPrint("AddAccessAllowedAce() failed with error %d\n",
                   static_cast<int>(GetLastError()));
        return nullptr;
    }
    if (!SetSecurityDescriptorDacl(descriptor, TRUE, list, FALSE)) {
        DebugPrint("SetSecurityDescriptorDacl() failed with error %d\n",
                   static_cast<int>(GetLastError()));
        return nullptr;
    }
    return static_cast<PACL>(acl.Release());  // the descriptor's, freed by its owner
}

namespace {

// The pipe is opened for overlapped I/O so that a read can be bounded and a wait ended.
class NamedPipeEndpoint : public PipeEndpoint {
  public:
    NamedPipeEndpoint()
        : ioEvent_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
          closeEvent_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

    ~NamedPipeEndpoint() override {
        if (acl_ != nullptr) {
            HeapFree(GetProcessHeap(), 0, acl_);
        }
    }

    PipeCreateResult Create(const std::string& name) override {
        acl_ = BuildRestrictedSD(&descriptor_);
        if (acl_ == nullptr) {
            return PipeCreateResult::kDescriptorFailed;
        }
        if (!ioEvent_ || !closeEvent_) {
            return PipeCreateResult::kCreateFailed;
        }
        SECURITY_ATTRIBUTES attributes{};
        attributes.nLength = sizeof attributes;
        attributes.lpSecurityDescriptor = &descriptor_;
        attributes.bInheritHandle = FALSE;
        const DWORD openMode =
            PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_OVERLAPPED;
        const DWORD pipeMode =
            PIPE_TYPE_MESSAGE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS;
        return pipe_.Create(name.c_str(), openMode, pipeMode, 1, kPipeReceiveBufferSize,
                            kPipeReceiveBufferSize, 1, &attributes)
                   ? PipeCreateResult::kCreated
                   : PipeCreateResult::kCreateFailed;
    }

    PipeWaitResult WaitForClient() override {
        if (pipe_.Handle() == INVALID_HANDLE_VALUE) {
            return PipeWaitResult::kFailed;
        }
        OVERLAPPED overlapped{};
        overlapped.hEvent = ioEvent_.Get();
        ResetEvent(ioEvent_.Get());
        if (pipe_.Connect(&overlapped)) {
            return PipeWaitResult::kConnected;
        }
        DWORD error = GetLastError();
        if (error == ERROR_IO_PENDING) {
            const Wait wait = WaitForIo(INFINITE);
            if (wait == Wait::kClosed) {
                Abandon(overlapped);
                return PipeWaitResult::kClosed;
            }
            DWORD ignored = 0;
            if (GetOverlappedResult(pipe_.Handle(), &overlapped, &ignored, FALSE)) {
                return PipeWaitResult::kConnected;
            }
            error = GetLastError();
        }
        // Connected before the call (535), or connected and already closed again (232): both
        // are a client to serve.
        if (error == ERROR_PIPE_CONNECTED || error == ERROR_NO_DATA) {
            return PipeWaitResult::kConnected;
        }
        return PipeWaitResult::kFailed;
    }

    PipeReadResult Read(void* buffer, std::size_t size, std::size_t& count,
                        std::uint32_t timeoutMs) override {
        count = 0;
        OVERLAPPED overlapped{};
        overlapped.hEvent = ioEvent_.Get();
        ResetEvent(ioEvent_.Get());
        DWORD read = 0;
        BOOL ok = pipe_.Read(buffer, static_cast<DWORD>(size), &read, &overlapped);
        DWORD error = ok ? ERROR_SUCCESS : GetLastError();
        if (!ok && error == ERROR_IO_PENDING) {
            const Wait wait = WaitForIo(timeoutMs);
            if (wait != Wait::kDone) {
                // Nothing in time (or closing): cancel and collect what the read ended with.
                CancelIo(pipe_.Handle());
            }
            ok = GetOverlappedResult(pipe_.Handle(), &overlapped, &read, TRUE);
            error = ok ? ERROR_SUCCESS : GetLastError();
            if (wait == Wait::kClosed) {
                return PipeReadResult::kClosed;
            }
        } else if (ok || error == ERROR_MORE_DATA) {
            ok = GetOverlappedResult(pipe_.Handle(), &overlapped, &read, TRUE);
            error = ok ? ERROR_SUCCESS : GetLastError();
        }
        // A record longer than the buffer still gives its first bytes.
        if ((ok || error == ERROR_MORE_DATA) && read > 0) {
            count = read;
            return PipeReadResult::kRead;
        }
        return PipeReadResult::kFailed;
    }

    bool Disconnect() override { return pipe_.Disconnect() != FALSE; }

    void Release() override { pipe_.CloseHandleNow(); }

    void Close() override {
        if (closeEvent_) {
            SetEvent(closeEvent_.Get());
        }
    }

  private:
    enum class Wait { kDone, kTimedOut, kClosed };

    Wait WaitForIo(DWORD timeoutMs) {
        HANDLE handles[2] = {closeEvent_.Get(), ioEvent_.Get()};
        const DWORD r = WaitForMultipleObjects(2, handles, FALSE, timeoutMs);
        if (r == WAIT_OBJECT_0) return Wait::kClosed;
        if (r == WAIT_OBJECT_0 + 1) return Wait::kDone;
        return Wait::kTimedOut;
    }

    void Abandon(OVERLAPPED& overlapped) {
        CancelIo(pipe_.Handle());
        DWORD ignored = 0;
        GetOverlappedResult(pipe_.Handle(), &overlapped, &ignored, TRUE);
    }

    CNamedPipe pipe_;
    SECURITY_DESCRIPTOR descriptor_{};
    PACL acl_ = nullptr;
    const UniqueKernelHandle ioEvent_;
    const UniqueKernelHandle closeEvent_;
};

}  // namespace

std::unique_ptr<PipeEndpoint> CreateSystemPipeEndpoint() {
    return std::make_unique<NamedPipeEndpoint>();
}

}  // namespace zelk
