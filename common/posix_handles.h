// Small owners of POSIX descriptors and of reference-counted objects of C libraries (sd-bus,
// sd-event): each closes or releases what it holds exactly once, on every path out of the
// scope that opened it. The POSIX sibling of win_handles_win32.h.
#pragma once

#include <unistd.h>

#include <utility>

namespace zelk {

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    explicit operator bool() const { return Valid(); }
    // Gives the descriptor up without closing it.
    int Release() { return std::exchange(fd_, -1); }
    void Reset(int fd = -1) {
        if (Valid()) ::close(fd_);
        fd_ = fd;
    }

  private:
    int fd_ = -1;
};

// One reference to `T`, released by `Unref` (for example UniqueRef<sd_bus, sd_bus_unref>).
template <typename T, T* (*Unref)(T*)>
class UniqueRef {
  public:
    UniqueRef() = default;
    explicit UniqueRef(T* object) : object_(object) {}
    ~UniqueRef() { Reset(); }
    UniqueRef(UniqueRef&& other) noexcept : object_(other.Release()) {}
    UniqueRef& operator=(UniqueRef&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    UniqueRef(const UniqueRef&) = delete;
    UniqueRef& operator=(const UniqueRef&) = delete;

    T* Get() const { return object_; }
    bool Valid() const { return object_ != nullptr; }
    explicit operator bool() const { return Valid(); }
    // For the functions that hand out a new reference through a pointer; releases the one held
    // first.
    T** Receive() {
        Reset();
        return &object_;
    }
    T* Release() { return std::exchange(object_, nullptr); }
    void Reset(T* object = nullptr) {
        if (Valid()) Unref(object_);
        object_ = object;
    }

  private:
    T* object_ = nullptr;
};

}  // namespace zelk
