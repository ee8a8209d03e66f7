#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/debug_print.h"
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
    PSID sid = nullptr;
    PACL acl = nullptr;
    bool ok = false;
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;

    do {
        if (!InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION)) {
            DebugPrint("InitializeSecurityDescriptor() failed with error %d\n",
                       static_cast<int>(GetLastError()));
            break;
        }
        if (!AllocateAndInitializeSid(&ntAuthority, 1, SECURITY_AUTHENTICATED_USER_RID, 0, 0, 0, 0,
                                      0, 0, 0, &sid)) {
            DebugPrint("AllocateAndInitializeSid() failed with error %d\n",
                       static_cast<int>(GetLastError()));
            sid = nullptr;
            break;
        }
        // The ACL header and the entry's fixed part come to 16 bytes.
        const DWORD aclSize = GetLengthSid(sid) + 16;
        acl = static_cast<PACL>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, aclSize));
        if (acl == nullptr) {
            DebugPrint("HeapAlloc() failed with error %d\n", static_cast<int>(GetLastError()));
            break;
        }
        if (!InitializeAcl(acl, aclSize, ACL_REVISION)) {
            DebugPrint("InitializeAcl() failed with error %d\n", static_cast<int>(GetLastError()));
            break;
        }
        if (!AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE,
                                 sid)) {
            DebugPrint("AddAccessAllowedAce() failed with error %d\n",
                       static_cast<int>(GetLastError()));
            break;
        }
        if (!SetSecurityDescriptorDacl(descriptor, TRUE, acl, FALSE)) {
            DebugPrint("SetSecurityDescriptorDacl() failed with error %d\n",
                       static_cast<int>(GetLastError()));
            break;
        }
        ok = true;
    } while (false);

    if (sid != nullptr) {
        FreeSid(sid);
    }
    if (!ok && acl != nullptr) {
        HeapFree(GetProcessHeap(), 0, acl);
        acl = nullptr;
    }
    return acl;
}

namespace {

// The completion key Close() posts; instance keys are their indexes.
constexpr ULONG_PTR kCloseKey = ~ULONG_PTR{0};

// kPipeMaxConnections instances of the pipe, each with the restricted security descriptor and
// refusing remote clients, opened for overlapped I/O on one completion port. A connect, a read
// or the end of a wait completes as a packet on the port, in the order the system finished
// them; every instance always has one operation pending (connecting or reading) except while
// the server holds its record.
class NamedPipeEndpoint : public PipeEndpoint {
  public:
    NamedPipeEndpoint() : instances_(kPipeMaxConnections) {}

    ~NamedPipeEndpoint() override {
        Release();
        if (port_ != nullptr) CloseHandle(port_);
        if (acl_ != nullptr) HeapFree(GetProcessHeap(), 0, acl_);
    }

    PipeCreateResult Create(const std::string& name) override {
        acl_ = BuildRestrictedSD(&descriptor_);
        if (acl_ == nullptr) {
            return PipeCreateResult::kDescriptorFailed;
        }
        port_ = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
        if (port_ == nullptr) {
            return PipeCreateResult::kCreateFailed;
        }
        SECURITY_ATTRIBUTES attributes{};
        attributes.nLength = sizeof attributes;
        attributes.lpSecurityDescriptor = &descriptor_;
        attributes.bInheritHandle = FALSE;
        const DWORD pipeMode =
            PIPE_TYPE_MESSAGE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS;
        for (std::size_t i = 0; i < instances_.size(); ++i) {
            // The first instance claims the name: a pipe of that name served elsewhere fails.
            const DWORD openMode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED |
                                   (i == 0 ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
            Instance& instance = instances_[i];
            if (!instance.pipe.Create(name.c_str(), openMode, pipeMode,
                                      static_cast<DWORD>(instances_.size()), kPipeReceiveBufferSize,
                                      kPipeReceiveBufferSize, 1, &attributes) ||
                CreateIoCompletionPort(instance.pipe.Handle(), port_, i, 0) == nullptr) {
                Release();
                return PipeCreateResult::kCreateFailed;
            }
        }
        for (std::size_t i = 0; i < instances_.size(); ++i) {
            StartConnect(i);
        }
        return PipeCreateResult::kCreated;
    }

    PipeReceiveResult Receive(void* buffer, std::size_t size, std::size_t& count,
                              PipeConnectionId& connection) override {
        count = 0;
        if (port_ == nullptr) {
            return PipeReceiveResult::kFailed;
        }
        for (;;) {
            if (closed_) {
                return PipeReceiveResult::kClosed;
            }
            const ULONGLONG now = GetTickCount64();
            DWORD timeout = INFINITE;
            for (std::size_t i = 0; i < instances_.size(); ++i) {
                Instance& instance = instances_[i];
                if (instance.state != State::kReading) continue;
                if (instance.deadline <= now) {
                    // Silent too long: the read is cancelled and its packet recycles it.
                    instance.state = State::kCancelling;
                    CancelIoEx(instance.pipe.Handle(), &instance.overlapped);
                    continue;
                }
                timeout = static_cast<DWORD>(std::min<ULONGLONG>(timeout, instance.deadline - now));
            }

            DWORD bytes = 0;
            ULONG_PTR key = 0;
            OVERLAPPED* overlapped = nullptr;
            const BOOL ok = GetQueuedCompletionStatus(port_, &bytes, &key, &overlapped, timeout);
            if (overlapped == nullptr) {
                if (key == kCloseKey && ok) {
                    closed_ = true;
                    return PipeReceiveResult::kClosed;
                }
                if (!ok && GetLastError() == WAIT_TIMEOUT) continue;
                return PipeReceiveResult::kFailed;
            }
            if (key >= instances_.size()) continue;
            Instance& instance = instances_[key];
            --instance.pending;
            switch (instance.state) {
                case State::kConnecting:
                    // A client that connected and already left (232) is recycled.
                    if (ok) {
                        StartRead(key);
                    } else {
                        Recycle(key);
                    }
                    break;
                case State::kReading:
                    // A record longer than the buffer still gives its first bytes.
                    if ((ok || GetLastError() == ERROR_MORE_DATA) && bytes > 0) {
                        const std::size_t n = std::min<std::size_t>(bytes, size);
                        std::memcpy(buffer, instance.buffer, n);
                        count = n;
                        connection = static_cast<PipeConnectionId>(key);
                        instance.state = State::kHeld;
                        return PipeReceiveResult::kRecord;
                    }
                    Recycle(key);  // went away without writing
                    break;
                case State::kCancelling:
                    Recycle(key);
                    break;
                case State::kHeld:
                case State::kIdle:
                    break;
            }
        }
    }

    bool Disconnect(PipeConnectionId connection) override {
        if (connection >= instances_.size() || instances_[connection].state != State::kHeld) {
            return false;
        }
        if (!instances_[connection].pipe.Disconnect()) {
            return false;
        }
        StartConnect(connection);
        return true;
    }

    void Release() override {
        // Every pending operation is cancelled and its packet collected before the instances
        // (whose OVERLAPPED records the system still writes) may go away.
        for (Instance& instance : instances_) {
            if (instance.pending > 0) CancelIoEx(instance.pipe.Handle(), nullptr);
        }
        for (;;) {
            std::size_t pending = 0;
            for (const Instance& instance : instances_) pending += instance.pending;
            if (pending == 0 || port_ == nullptr) break;
            DWORD bytes = 0;
            ULONG_PTR key = 0;
            OVERLAPPED* overlapped = nullptr;
            GetQueuedCompletionStatus(port_, &bytes, &key, &overlapped, 1000);
            if (overlapped == nullptr) {
                if (key == kCloseKey) continue;
                break;  // nothing came within a second: give up waiting
            }
            if (key < instances_.size() && instances_[key].pending > 0) --instances_[key].pending;
        }
        for (Instance& instance : instances_) {
            instance.pipe.CloseHandleNow();
            instance.state = State::kIdle;
        }
    }

    void Close() override {
        closed_ = true;
        if (port_ != nullptr) {
            PostQueuedCompletionStatus(port_, 0, kCloseKey, nullptr);
        }
    }

  private:
    enum class State { kIdle, kConnecting, kReading, kCancelling, kHeld };

    struct Instance {
        CNamedPipe pipe;
        OVERLAPPED overlapped{};
        State state = State::kIdle;
        int pending = 0;  // operations whose completion packet is still to come
        ULONGLONG deadline = 0;
        unsigned char buffer[kPipeReceiveBufferSize];
    };

    // Waits for the instance's next client; a client already there is read at once.
    void StartConnect(std::size_t index) {
        Instance& instance = instances_[index];
        instance.overlapped = OVERLAPPED{};
        instance.state = State::kConnecting;
        if (instance.pipe.Connect(&instance.overlapped)) {
            ++instance.pending;  // completed at once: its packet is still queued
            return;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_IO_PENDING) {
            ++instance.pending;
        } else if (error == ERROR_PIPE_CONNECTED) {
            StartRead(index);  // connected between create (or disconnect) and now: no packet
        } else {
            // Connected and gone again (232), or the instance failed: make it ready again
            // once; an instance that keeps failing stays idle.
            instance.state = State::kIdle;
            if (instance.pipe.Disconnect()) {
                instance.overlapped = OVERLAPPED{};
                instance.state = State::kConnecting;
                if (!instance.pipe.Connect(&instance.overlapped) &&
                    GetLastError() == ERROR_IO_PENDING) {
                    ++instance.pending;
                } else {
                    instance.state = State::kIdle;
                }
            }
        }
    }

    // Reads the connected client's record, which must come within kPipeReadTimeoutMs.
    void StartRead(std::size_t index) {
        Instance& instance = instances_[index];
        instance.overlapped = OVERLAPPED{};
        instance.state = State::kReading;
        instance.deadline = GetTickCount64() + kPipeReadTimeoutMs;
        if (instance.pipe.Read(instance.buffer, sizeof instance.buffer, nullptr,
                               &instance.overlapped) ||
            GetLastError() == ERROR_IO_PENDING || GetLastError() == ERROR_MORE_DATA) {
            ++instance.pending;  // a packet comes, whether the read finished now or later
            return;
        }
        Recycle(index);  // the client is already gone
    }

    void Recycle(std::size_t index) {
        instances_[index].pipe.Disconnect();
        StartConnect(index);
    }

    std::vector<Instance> instances_;
    SECURITY_DESCRIPTOR descriptor_{};
    PACL acl_ = nullptr;
    HANDLE port_ = nullptr;
    std::atomic<bool> closed_{false};
};

}  // namespace

std::unique_ptr<PipeEndpoint> CreateSystemPipeEndpoint() {
    return std::make_unique<NamedPipeEndpoint>();
}

}  // namespace zelk
