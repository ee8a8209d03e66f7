#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "common/pipe_client.h"
#include "common/socket_address_posix.h"

namespace zelk {

PipeClientConnection::~PipeClientConnection() {
    Close();
}

std::uint32_t PipeClientConnection::Open(const std::string& name, Failure* failure,
                                         std::uint32_t refusedRetryMs) {
    Close();
    if (failure != nullptr) *failure = Failure::kConnect;
    sockaddr_un address{};
    socklen_t length = 0;
    if (!MakeAbstractAddress(name, address, length)) {
        return kErrorFileNotFound;
    }
    // Under heavy load a connect to a listening server is now and then refused for a moment
    // (seen with eight writers at once): a refusal counts as "nobody serves" only once it has
    // lasted refusedRetryMs.
    const auto giveUp =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(refusedRetryMs);
    for (;;) {
        const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return static_cast<std::uint32_t>(errno);
        }
        // A full listen queue makes connect block: the socket's form of waiting for a busy
        // pipe.
        int r;
        do {
            r = connect(fd, reinterpret_cast<const sockaddr*>(&address), length);
        } while (r != 0 && errno == EINTR);
        if (r == 0) {
            handle_ = fd;
            messageMode_ = true;  // a sequenced-packet socket keeps record boundaries
            if (failure != nullptr) *failure = Failure::kNone;
            return 0;
        }
        const int error = errno;
        close(fd);
        if (error == ECONNREFUSED && std::chrono::steady_clock::now() < giveUp) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        return (error == ECONNREFUSED || error == ENOENT) ? kErrorFileNotFound
                                                          : static_cast<std::uint32_t>(error);
    }
}

std::uint32_t PipeClientConnection::Write(const void* bytes, std::size_t count) {
    if (handle_ < 0) {
        return kErrorInvalidHandle;
    }
    ssize_t sent;
    do {
        sent = send(static_cast<int>(handle_), bytes, count, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        return static_cast<std::uint32_t>(errno);
    }
    return static_cast<std::size_t>(sent) == count ? 0 : kErrorWriteFault;
}

void PipeClientConnection::Close() {
    if (handle_ >= 0) {
        close(static_cast<int>(handle_));
        handle_ = -1;
    }
    messageMode_ = false;
}

}  // namespace zelk
