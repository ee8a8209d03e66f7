// The pipe as an abstract-namespace Unix socket of type SOCK_SEQPACKET: the name is a NUL
// followed by the pipe name, each connection carries one record, and one connection is served
// at a time (others wait in the listen queue, as clients of a busy pipe wait for it).
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "service/pipe/peer_credentials_posix.h"
#include "service/pipe/pipe_endpoint.h"
#include "common/socket_address_posix.h"

namespace zelk {

namespace {

constexpr int kListenBacklog = 16;

class SocketPipeEndpoint : public PipeEndpoint {
  public:
    SocketPipeEndpoint() : wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

    ~SocketPipeEndpoint() override {
        CloseFd(connection_);
        CloseFd(listener_);
        CloseFd(wakeFd_);
    }

    PipeCreateResult Create(const std::string& name) override {
        sockaddr_un address{};
        socklen_t length = 0;
        if (wakeFd_ < 0 || !MakeAbstractAddress(name, address, length)) {
            return PipeCreateResult::kCreateFailed;
        }
        const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return PipeCreateResult::kCreateFailed;
        }
        // A name already bound by another server fails here, like a second first instance.
        if (bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
            listen(fd, kListenBacklog) != 0) {
            close(fd);
            return PipeCreateResult::kCreateFailed;
        }
        listener_ = fd;
        return PipeCreateResult::kCreated;
    }

    PipeWaitResult WaitForClient() override {
        if (listener_ < 0) {
            return PipeWaitResult::kFailed;
        }
        CloseFd(connection_);
        for (;;) {
            const int ready = WaitReadable(listener_, -1);
            if (ready == kWoken) {
                return PipeWaitResult::kClosed;
            }
            if (ready == kError) {
                return PipeWaitResult::kFailed;
            }
            const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0 && !CheckPipePeer(fd)) {
                close(fd);
                continue;
            }
            if (fd >= 0) {
                connection_ = fd;
                return PipeWaitResult::kConnected;
            }
            // The client gave up between poll and accept, or a signal came: wait again.
            if (errno != EAGAIN && errno != EINTR && errno != ECONNABORTED) {
                return PipeWaitResult::kFailed;
            }
        }
    }

    PipeReadResult Read(void* buffer, std::size_t size, std::size_t& count,
                        std::uint32_t timeoutMs) override {
        count = 0;
        if (connection_ < 0) {
            return PipeReadResult::kFailed;
        }
        const int ready = WaitReadable(connection_, static_cast<int>(timeoutMs));
        if (ready == kWoken) {
            return PipeReadResult::kClosed;
        }
        if (ready != kReadable) {
            return PipeReadResult::kFailed;  // nothing written in time
        }
        ssize_t n;
        do {
            n = recv(connection_, buffer, size, MSG_DONTWAIT);
        } while (n < 0 && errno == EINTR);
        if (n <= 0) {
            return PipeReadResult::kFailed;  // closed without writing
        }
        count = static_cast<std::size_t>(n);
        return PipeReadResult::kRead;
    }

    bool Disconnect() override {
        if (connection_ < 0) {
            return false;
        }
        const bool ok = close(connection_) == 0;
        connection_ = -1;
        return ok;
    }

    void Release() override {
        CloseFd(connection_);
        CloseFd(listener_);
    }

    void Close() override {
        const std::uint64_t one = 1;
        if (wakeFd_ >= 0) {
            [[maybe_unused]] const ssize_t n = write(wakeFd_, &one, sizeof one);
        }
    }

  private:
    static constexpr int kReadable = 0;
    static constexpr int kWoken = 1;
    static constexpr int kTimedOut = 2;
    static constexpr int kError = 3;

    // Waits until `fd` is readable, Close() was called, or `timeoutMs` passed (-1: no limit).
    int WaitReadable(int fd, int timeoutMs) {
        pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {fd, POLLIN, 0}};
        for (;;) {
            const int r = poll(fds, 2, timeoutMs);
            if (r < 0 && errno == EINTR) {
                continue;  // a signal: the limit restarts, which only lengthens the wait a little
            }
            if (r < 0) {
                return kError;
            }
            if (r == 0) {
                return kTimedOut;
            }
            if (fds[0].revents != 0) {
                return kWoken;
            }
            if ((fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                return kReadable;
            }
            return kError;
        }
    }

    static void CloseFd(int& fd) {
        if (fd >= 0) {
            close(fd);
            fd = -1;
        }
    }

    int wakeFd_ = -1;
    int listener_ = -1;
    int connection_ = -1;
};

}  // namespace

std::unique_ptr<PipeEndpoint> CreateSystemPipeEndpoint() {
    return std::make_unique<SocketPipeEndpoint>();
}

}  // namespace zelk
