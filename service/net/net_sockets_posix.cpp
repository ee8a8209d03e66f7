// TCP sockets with poll(2); an eventfd wakes the wait.
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <unordered_map>

#include "common/posix_handles.h"
#include "service/net/net_sockets.h"

namespace zelk {

namespace {

constexpr int kListenBacklog = 64;
// Kernel send buffer of a connection: replies are short lines, and a client that does not read
// should reach the server's own bound soon.
constexpr int kSendBufferBytes = 64 * 1024;

NetListenFailure FailureOf(int code) {
    NetListenFailure f;
    f.systemCode = code;
    f.text = std::strerror(code);
    switch (code) {
        case EADDRINUSE:
            f.error = NetListenError::kAddressInUse;
            break;
        case EADDRNOTAVAIL:
        case EAFNOSUPPORT:
            f.error = NetListenError::kAddressNotLocal;
            break;
        case EACCES:
        case EPERM:
            f.error = NetListenError::kAccessDenied;
            break;
        default:
            f.error = NetListenError::kFailed;
            break;
    }
    return f;
}

class PosixNetSockets : public NetSockets {
  public:
    PosixNetSockets() : wake_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

    bool Usable() const override { return wake_.Valid(); }

    bool Listen(const std::string& address, std::uint16_t port, NetHandle& listener,
                std::uint16_t& boundPort, NetListenFailure& failure) override {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
        addrinfo* found = nullptr;
        const std::string service = std::to_string(port);
        const int rc = getaddrinfo(address.c_str(), service.c_str(), &hints, &found);
        if (rc != 0 || found == nullptr) {
            failure.error = NetListenError::kBadAddress;
            failure.systemCode = rc;
            failure.text = rc != 0 ? gai_strerror(rc) : "no address";
            return false;
        }
        UniqueFd fd(socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        bool ok = fd.Valid();
        if (ok) {
            const int on = 1;
            // A restarted server takes its port back while old connections linger.
            setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
            if (found->ai_family == AF_INET6) {
                setsockopt(fd.Get(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
            }
            ok = bind(fd.Get(), found->ai_addr, found->ai_addrlen) == 0 &&
                 listen(fd.Get(), kListenBacklog) == 0;
        }
        freeaddrinfo(found);
        sockaddr_storage bound{};
        socklen_t length = sizeof bound;
        if (ok) {
            ok = getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&bound), &length) == 0;
        }
        if (!ok) {
            failure = FailureOf(errno);
            return false;
        }
        boundPort = ntohs(bound.ss_family == AF_INET6
                              ? reinterpret_cast<const sockaddr_in6&>(bound).sin6_port
                              : reinterpret_cast<const sockaddr_in&>(bound).sin_port);
        listener = Keep(std::move(fd));
        return true;
    }

    NetIo Accept(NetHandle listener, NetHandle& connection) override {
        const int fd = Fd(listener);
        if (fd < 0) return NetIo::kClosed;
        for (;;) {
            UniqueFd c(accept4(fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
            if (c.Valid()) {
                const int on = 1;
                setsockopt(c.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                setsockopt(c.Get(), SOL_SOCKET, SO_SNDBUF, &kSendBufferBytes,
                           sizeof kSendBufferBytes);
                connection = Keep(std::move(c));
                return NetIo::kDone;
            }
            if (errno == EINTR || errno == ECONNABORTED) continue;
            // Out of descriptors or memory counts as nothing waiting: the connection stays
            // queued, and the next pass tries again.
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EMFILE || errno == ENFILE ||
                           errno == ENOBUFS || errno == ENOMEM
                       ? NetIo::kWouldBlock
                       : NetIo::kClosed;
        }
    }

    NetIo Read(NetHandle connection, char* buffer, std::size_t size, std::size_t& count) override {
        count = 0;
        const int fd = Fd(connection);
        if (fd < 0) return NetIo::kClosed;
        for (;;) {
            const ssize_t n = recv(fd, buffer, size, 0);
            if (n > 0) {
                count = static_cast<std::size_t>(n);
                return NetIo::kDone;
            }
            if (n == 0) return NetIo::kClosed;
            if (errno == EINTR) continue;
            return errno == EAGAIN || errno == EWOULDBLOCK ? NetIo::kWouldBlock : NetIo::kClosed;
        }
    }

    NetIo Write(NetHandle connection, const char* data, std::size_t size,
                std::size_t& count) override {
        count = 0;
        const int fd = Fd(connection);
        if (fd < 0) return NetIo::kClosed;
        for (;;) {
            const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
            if (n >= 0) {
                count = static_cast<std::size_t>(n);
                return NetIo::kDone;
            }
            if (errno == EINTR) continue;
            return errno == EAGAIN || errno == EWOULDBLOCK ? NetIo::kWouldBlock : NetIo::kClosed;
        }
    }

    void Close(NetHandle socket) override { sockets_.erase(socket); }

    bool Wait(std::vector<NetWatch>& watches, bool block, bool& woken) override {
        fds_.assign(1, pollfd{wake_.Get(), POLLIN, 0});
        for (const NetWatch& w : watches) {
            const short events =
                static_cast<short>((w.read ? POLLIN : 0) | (w.write ? POLLOUT : 0));
            fds_.push_back(pollfd{Fd(w.handle), events, 0});
        }
        int r;
        do {
            r = poll(fds_.data(), fds_.size(), block ? -1 : 0);
        } while (r < 0 && errno == EINTR);
        if (r < 0) return false;
        woken = fds_[0].revents != 0;
        if (woken) {
            std::uint64_t value;
            while (read(wake_.Get(), &value, sizeof value) < 0 && errno == EINTR) {
            }
        }
        for (std::size_t i = 0; i < watches.size(); ++i) {
            const short got = fds_[i + 1].revents;
            watches[i].readable = (got & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0;
            watches[i].writable = (got & (POLLOUT | POLLERR | POLLHUP)) != 0;
        }
        return true;
    }

    void Wake() override {
        const std::uint64_t one = 1;
        while (write(wake_.Get(), &one, sizeof one) < 0 && errno == EINTR) {
        }
    }

  private:
    NetHandle Keep(UniqueFd fd) {
        const NetHandle handle = next_++;
        sockets_.emplace(handle, std::move(fd));
        return handle;
    }
    int Fd(NetHandle handle) const {
        const auto it = sockets_.find(handle);
        return it == sockets_.end() ? -1 : it->second.Get();
    }

    UniqueFd wake_;
    std::unordered_map<NetHandle, UniqueFd> sockets_;
    NetHandle next_ = 1;
    std::vector<pollfd> fds_;
};

}  // namespace

std::unique_ptr<NetSockets> CreateSystemNetSockets() {
    return std::make_unique<PosixNetSockets>();
}

}  // namespace zelk
