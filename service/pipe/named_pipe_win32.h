// The Windows side of the pipe: the thin named-pipe wrapper and the security descriptor that
// admits authenticated users only.
#pragma once

#include <windows.h>

namespace zelk {

// Full pipe names are built in a buffer of this size.
inline constexpr DWORD kPipeNameBufferSize = 260;

class CNamedPipe {
  public:
    CNamedPipe() = default;
    ~CNamedPipe();  // closes the handle when one is held
    CNamedPipe(const CNamedPipe&) = delete;
    CNamedPipe& operator=(const CNamedPipe&) = delete;

    // CreateNamedPipeA on "\\.\PIPE\" + `name`; the handle is stored either way. False when no
    // handle was obtained (also when the full name does not fit its buffer).
    bool Create(const char* name, DWORD openMode, DWORD pipeMode, DWORD maxInstances,
                DWORD outBufferSize, DWORD inBufferSize, DWORD defaultTimeOut,
                SECURITY_ATTRIBUTES* securityAttributes);
    BOOL Connect(OVERLAPPED* overlapped = nullptr);
    BOOL Read(void* buffer, DWORD count, DWORD* read, OVERLAPPED* overlapped = nullptr);
    BOOL Disconnect();
    void CloseHandleNow();
    HANDLE Handle() const { return handle_; }

  private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// Fills `descriptor`: no owner, group or system ACL; a discretionary ACL with one entry
// allowing GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE to S-1-5-11 (authenticated users).
// Returns the ACL (allocated from the process heap, to be kept while the descriptor is in use)
// or null after tracing the failing step.
PACL BuildRestrictedSD(PSECURITY_DESCRIPTOR descriptor);

}  // namespace zelk
