#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <deque>
#include <vector>

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

// The completion key Close() posts; instance keys are their indexes.
constexpr ULONG_PTR kCloseKey = ~ULONG_PTR{0};

// kPipeMaxConnections instances of the pipe, each with the restricted security descriptor and
// refusing remote clients, opened for overlapped I/O on one completion port. A connect or read
// that finishes later completes as a packet on the port, in the order the system finished
// them; one that finishes as it is started is taken at once (no packet). Every instance always
// has one operation under way (connecting or reading) except while its record waits for the
// server or the server holds it.
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
                CreateIoCompletionPort(instance.pipe.Handle(), port_, i, 0) == nullptr ||
                // An operation that finishes at once is taken at once, not as a packet.
                !SetFileCompletionNotificationModes(instance.pipe.Handle(),
                                                    FILE_SKIP_COMPLETION_PORT_ON_SUCCESS)) {
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
            // Reads that finished as they were started, in the order they were.
            if (!ready_.empty()) {
                const std::size_t index = ready_.front();
                ready_.pop_front();
                return Deliver(index, buffer, size, count, connection);
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
                case State::kConnecting: {
                    // A client that connected and already left (232) may have written first.
                    const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
                    if (ok || error == ERROR_PIPE_CONNECTED || error == ERROR_NO_DATA) {
                        StartRead(key);
                    } else {
                        Recycle(key);
                    }
                    break;
                }
                case State::kReading:
                    // A record longer than the buffer still gives its first bytes.
                    if ((ok || GetLastError() == ERROR_MORE_DATA) && bytes > 0) {
                        instance.count = bytes;
                        return Deliver(key, buffer, size, count, connection);
                    }
                    Recycle(key);  // went away without writing
                    break;
                case State::kCancelling:
                    // A record that came just before the cancel still counts.
                    if (ok && bytes > 0) {
                        instance.count = bytes;
                        return Deliver(key, buffer, size, count, connection);
                    }
                    Recycle(key);
                    break;
                case State::kReady:
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
        ready_.clear();
    }

    void Close() override {
        closed_ = true;
        if (port_ != nullptr) {
            PostQueuedCompletionStatus(port_, 0, kCloseKey, nullptr);
        }
    }

  private:
    enum class State { kIdle, kConnecting, kReading, kCancelling, kReady, kHeld };

    struct Instance {
        CNamedPipe pipe;
        OVERLAPPED overlapped{};
        State state = State::kIdle;
        int pending = 0;  // operations whose completion packet is still to come
        ULONGLONG deadline = 0;
        DWORD count = 0;  // bytes of the finished read
        unsigned char buffer[kPipeReceiveBufferSize];
    };

    // Waits for the instance's next client; a client already there is read at once.
    void StartConnect(std::size_t index) {
        Instance& instance = instances_[index];
        instance.overlapped = OVERLAPPED{};
        instance.state = State::kConnecting;
        if (instance.pipe.Connect(&instance.overlapped)) {
            StartRead(index);  // connected at once: no packet comes
            return;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_IO_PENDING) {
            ++instance.pending;
        } else if (error == ERROR_PIPE_CONNECTED || error == ERROR_NO_DATA) {
            // Connected between create (or disconnect) and now, and perhaps already gone
            // again after writing: no packet comes, the read tells.
            StartRead(index);
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
        DWORD read = 0;
        if (instance.pipe.Read(instance.buffer, sizeof instance.buffer, &read,
                               &instance.overlapped)) {
            if (read == 0) {
                Recycle(index);
                return;
            }
            instance.count = read;  // finished at once: no packet comes
            instance.state = State::kReady;
            ready_.push_back(index);
            return;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_IO_PENDING || error == ERROR_MORE_DATA) {
            ++instance.pending;  // its packet comes when the read ends
            return;
        }
        Recycle(index);  // the client is already gone
    }

    PipeReceiveResult Deliver(std::size_t index, void* buffer, std::size_t size, std::size_t& count,
                              PipeConnectionId& connection) {
        Instance& instance = instances_[index];
        count = std::min<std::size_t>(instance.count, size);
        std::memcpy(buffer, instance.buffer, count);
        connection = static_cast<PipeConnectionId>(index);
        instance.state = State::kHeld;
        return PipeReceiveResult::kRecord;
    }

    void Recycle(std::size_t index) {
        instances_[index].pipe.Disconnect();
        StartConnect(index);
    }

    std::vector<Instance> instances_;
    SECURITY_DESCRIPTOR descriptor_{};
    PACL acl_ = nullptr;
    HANDLE port_ = nullptr;
    std::deque<std::size_t> ready_;  // instances whose read finished at once
    std::atomic<bool> closed_{false};
};

}  // namespace

std::unique_ptr<PipeEndpoint> CreateSystemPipeEndpoint() {
    return std::make_unique<NamedPipeEndpoint>();
}

}  // namespace zelk
