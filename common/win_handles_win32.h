// Small owners of Windows handles: each closes (or frees) its handle exactly once, on every
// path out of the scope that opened it. Windows only.
#pragma once

#include <windows.h>

#include <utility>

namespace zelk {

template <typename Traits>
class UniqueWinHandle {
  public:
    using Handle = typename Traits::Handle;

    UniqueWinHandle() = default;
    explicit UniqueWinHandle(Handle handle) : handle_(handle) {}
    ~UniqueWinHandle() { Reset(); }
    UniqueWinHandle(UniqueWinHandle&& other) noexcept : handle_(other.Release()) {}
    UniqueWinHandle& operator=(UniqueWinHandle&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    UniqueWinHandle(const UniqueWinHandle&) = delete;
    UniqueWinHandle& operator=(const UniqueWinHandle&) = delete;

    Handle Get() const { return handle_; }
    bool Valid() const { return handle_ != Traits::Invalid(); }
    explicit operator bool() const { return Valid(); }
    // For the functions that return a handle through a pointer; closes the one held first.
    Handle* Receive() {
        Reset();
        return &handle_;
    }
    // Gives the handle up without closing it.
    Handle Release() { return std::exchange(handle_, Traits::Invalid()); }
    void Reset(Handle handle = Traits::Invalid()) {
        if (Valid()) Traits::Close(handle_);
        handle_ = handle;
    }

  private:
    Handle handle_ = Traits::Invalid();
};

struct RegistryKeyTraits {
    using Handle = HKEY;
    static HKEY Invalid() { return nullptr; }
    static void Close(HKEY key) { RegCloseKey(key); }
};
struct FileHandleTraits {  // files, pipes: INVALID_HANDLE_VALUE when none
    using Handle = HANDLE;
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE handle) { CloseHandle(handle); }
};
struct KernelObjectTraits {  // events, mutexes, processes, threads: null when none
    using Handle = HANDLE;
    static HANDLE Invalid() { return nullptr; }
    static void Close(HANDLE handle) { CloseHandle(handle); }
};
struct SidTraits {  // from AllocateAndInitializeSid
    using Handle = PSID;
    static PSID Invalid() { return nullptr; }
    static void Close(PSID sid) { FreeSid(sid); }
};
struct ProcessHeapTraits {  // HeapAlloc on the process heap
    using Handle = void*;
    static void* Invalid() { return nullptr; }
    static void Close(void* block) { HeapFree(GetProcessHeap(), 0, block); }
};

using UniqueRegistryKey = UniqueWinHandle<RegistryKeyTraits>;
using UniqueFileHandle = UniqueWinHandle<FileHandleTraits>;
using UniqueKernelHandle = UniqueWinHandle<KernelObjectTraits>;
using UniqueSid = UniqueWinHandle<SidTraits>;
using UniqueHeapBlock = UniqueWinHandle<ProcessHeapTraits>;

}  // namespace zelk
