// The pipe as an abstract-namespace Unix socket of type SOCK_SEQPACKET: the name is a NUL
// followed by the pipe name and each connection carries one record. Up to kPipeMaxConnections
// accepted connections are watched at once with one poll; clients past them wait in the listen
// queue, as clients of a busy pipe wait for it.
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <deque>
#include <vector>

#include "service/pipe/peer_credentials_posix.h"
#include "service/pipe/pipe_endpoint.h"
#include "common/socket_address_posix.h"

namespace zelk {

namespace {

constexpr int kListenBacklog = static_cast<int>(kPipeMaxConnections);
constexpr std::int64_t kAcceptRetryMs = 250;

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class SocketPipeEndpoint : public PipeEndpoint {
  public:
    SocketPipeEndpoint() : wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

    ~SocketPipeEndpoint() override {
        Release();
        CloseFd(wakeFd_);
    }

    PipeCreateResult Create(const std::string& name) override {
        sockaddr_un address{};
        socklen_t length = 0;
        if (wakeFd_ < 0 || !MakeAbstractAddress(name, address, length)) {
            return PipeCreateResult::kCreateFailed;
        }
        const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
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

    PipeReceiveResult Receive(void* buffer, std::size_t size, std::size_t& count,
                              PipeConnectionId& connection) override {
        count = 0;
        if (listener_ < 0) {
            return PipeReceiveResult::kFailed;
        }
        std::vector<pollfd> fds;
        std::vector<PipeConnectionId> polled;
        for (;;) {
            // Connections found readable by the last poll, oldest first: a client's earlier
            // connection was accepted before its later one, so its record comes first.
            while (!ready_.empty()) {
                const PipeConnectionId id = ready_.front();
                ready_.pop_front();
                Connection* c = Find(id);
                if (c == nullptr) continue;
                ssize_t n;
                do {
                    n = recv(c->fd, buffer, size, MSG_DONTWAIT);
                } while (n < 0 && errno == EINTR);
                if (n > 0) {
                    c->held = true;
                    connection = id;
                    count = static_cast<std::size_t>(n);
                    return PipeReceiveResult::kRecord;
                }
                if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) continue;
                Drop(id);  // closed without writing
            }

            // Silent connections past their time are dropped.
            const std::int64_t now = NowMs();
            std::int64_t nearest = -1;
            for (std::size_t i = 0; i < connections_.size();) {
                Connection& c = connections_[i];
                if (!c.held && c.deadlineMs <= now) {
                    close(c.fd);
                    connections_.erase(connections_.begin() + static_cast<std::ptrdiff_t>(i));
                    acceptAgainMs_ = 0;
                    continue;
                }
                if (!c.held && (nearest < 0 || c.deadlineMs < nearest)) nearest = c.deadlineMs;
                ++i;
            }

            if (acceptAgainMs_ > now && (nearest < 0 || acceptAgainMs_ < nearest)) {
                nearest = acceptAgainMs_;
            }

            fds.assign(1, pollfd{wakeFd_, POLLIN, 0});
            polled.clear();
            const bool accepting =
                connections_.size() < kPipeMaxConnections && acceptAgainMs_ <= now;
            if (accepting) fds.push_back(pollfd{listener_, POLLIN, 0});
            for (const Connection& c : connections_) {
                if (c.held) continue;
                fds.push_back(pollfd{c.fd, POLLIN, 0});
                polled.push_back(c.id);
            }
            const int timeout =
                nearest < 0 ? -1 : static_cast<int>(std::max<std::int64_t>(nearest - now, 0));
            const int r = poll(fds.data(), fds.size(), timeout);
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) return PipeReceiveResult::kFailed;
            if (fds[0].revents != 0) return PipeReceiveResult::kClosed;

            const std::size_t first = accepting ? 2 : 1;
            for (std::size_t i = first; i < fds.size(); ++i) {
                if (fds[i].revents != 0) ready_.push_back(polled[i - first]);
            }
            if (accepting && fds[1].revents != 0 && !AcceptPending()) {
                return PipeReceiveResult::kFailed;
            }
        }
    }

    bool Disconnect(PipeConnectionId connection) override {
        Connection* c = Find(connection);
        if (c == nullptr) {
            return false;
        }
        const bool ok = close(c->fd) == 0;
        c->fd = -1;
        Drop(connection);
        return ok;
    }

    void Release() override {
        for (Connection& c : connections_) CloseFd(c.fd);
        connections_.clear();
        ready_.clear();
        CloseFd(listener_);
    }

    void Close() override {
        const std::uint64_t one = 1;
        if (wakeFd_ >= 0) {
            [[maybe_unused]] const ssize_t n = write(wakeFd_, &one, sizeof one);
        }
    }

  private:
    struct Connection {
        PipeConnectionId id;
        int fd;
        std::int64_t deadlineMs;  // dropped unless it has written by then
        bool held;                // given to the server, waiting for Disconnect
    };

    // Takes every client waiting in the listen queue, up to the bound; false when accepting
    // fails for a reason other than a client that gave up meanwhile.
    bool AcceptPending() {
        while (connections_.size() < kPipeMaxConnections) {
            const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd >= 0 && !CheckPipePeer(fd)) {
                close(fd);  // refused: not a local peer of this system
                continue;
            }
            if (fd >= 0) {
                connections_.push_back({nextId_++, fd, NowMs() + kPipeReadTimeoutMs, false});
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
            if (errno == EINTR || errno == ECONNABORTED) continue;
            // Out of descriptors or memory: what is connected is served; new clients wait until
            // a connection ends or a little time has passed.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                acceptAgainMs_ = NowMs() + kAcceptRetryMs;
                return true;
            }
            return false;
        }
        return true;
    }

    Connection* Find(PipeConnectionId id) {
        for (Connection& c : connections_) {
            if (c.id == id) return &c;
        }
        return nullptr;
    }

    void Drop(PipeConnectionId id) {
        acceptAgainMs_ = 0;
        for (auto it = connections_.begin(); it != connections_.end(); ++it) {
            if (it->id == id) {
                CloseFd(it->fd);
                connections_.erase(it);
                return;
            }
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
    std::vector<Connection> connections_;  // in the order they were accepted
    std::deque<PipeConnectionId> ready_;
    PipeConnectionId nextId_ = 1;
    std::int64_t acceptAgainMs_ = 0;  // accepting paused until then (out of descriptors)
};

}  // namespace

std::unique_ptr<PipeEndpoint> CreateSystemPipeEndpoint() {
    return std::make_unique<SocketPipeEndpoint>();
}

}  // namespace zelk
