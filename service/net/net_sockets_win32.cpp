// TCP sockets with Winsock's WSAPoll. The wait is woken through a UDP socket connected to
// itself on the IPv4 loopback: Wake sends it one byte, which makes it readable.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/win_handles_win32.h"
#include "service/net/net_sockets.h"

namespace zelk {

namespace {

struct SocketTraits {
    using Handle = SOCKET;
    static SOCKET Invalid() { return INVALID_SOCKET; }
    static void Close(SOCKET s) { closesocket(s); }
};
using UniqueSocket = UniqueWinHandle<SocketTraits>;

constexpr int kListenBacklog = 64;
constexpr int kSendBufferBytes = 64 * 1024;

std::string SystemText(int code) {
    char text[256] = {};
    const DWORD n =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
    std::string s(text, n);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == '.')) s.pop_back();
    return s.empty() ? "error " + std::to_string(code) : s;
}

NetListenFailure FailureOf(int code) {
    NetListenFailure f;
    f.systemCode = code;
    f.text = SystemText(code);
    switch (code) {
        case WSAEADDRINUSE:
            f.error = NetListenError::kAddressInUse;
            break;
        case WSAEADDRNOTAVAIL:
        case WSAEAFNOSUPPORT:
            f.error = NetListenError::kAddressNotLocal;
            break;
        case WSAEACCES:
            f.error = NetListenError::kAccessDenied;
            break;
        default:
            f.error = NetListenError::kFailed;
            break;
    }
    return f;
}

// A new socket that child processes do not inherit, in non-blocking mode.
UniqueSocket NewSocket(int family, int type, int protocol) {
    UniqueSocket s(socket(family, type, protocol));
    if (!s) return s;
    SetHandleInformation(reinterpret_cast<HANDLE>(s.Get()), HANDLE_FLAG_INHERIT, 0);
    u_long on = 1;
    if (ioctlsocket(s.Get(), FIONBIO, &on) != 0) s.Reset();
    return s;
}

bool WouldBlock() {
    return WSAGetLastError() == WSAEWOULDBLOCK;
}

class WinsockNetSockets : public NetSockets {
  public:
    WinsockNetSockets() {
        WSADATA data;
        started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
        if (!started_) return;
        UniqueSocket wake = NewSocket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof address;
        if (wake && bind(wake.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            getsockname(wake.Get(), reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
            connect(wake.Get(), reinterpret_cast<sockaddr*>(&address), length) == 0) {
            wake_ = std::move(wake);
        }
    }
    ~WinsockNetSockets() override {
        sockets_.clear();
        wake_.Reset();
        if (started_) WSACleanup();
    }

    bool Usable() const override { return started_ && wake_.Valid(); }

    bool Listen(const std::string& address, std::uint16_t port, NetHandle& listener,
                std::uint16_t& boundPort, NetListenFailure& failure) override {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_protocol = IPPROTO_TCP;
        hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
        addrinfo* found = nullptr;
        const std::string service = std::to_string(port);
        const int rc = getaddrinfo(address.c_str(), service.c_str(), &hints, &found);
        if (rc != 0 || found == nullptr) {
            failure.error = NetListenError::kBadAddress;
            failure.systemCode = rc;
            failure.text = rc != 0 ? SystemText(rc) : "no address";
            return false;
        }
        UniqueSocket s = NewSocket(found->ai_family, SOCK_STREAM, IPPROTO_TCP);
        bool ok = s.Valid();
        if (ok) {
            const BOOL on = TRUE;
            // No other socket may take the same address and port while this one listens.
            setsockopt(s.Get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
                       sizeof on);
            if (found->ai_family == AF_INET6) {
                const DWORD only = 1;
                setsockopt(s.Get(), IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&only),
                           sizeof only);
            }
            ok = bind(s.Get(), found->ai_addr, static_cast<int>(found->ai_addrlen)) == 0 &&
                 listen(s.Get(), kListenBacklog) == 0;
        }
        freeaddrinfo(found);
        sockaddr_storage bound{};
        int length = sizeof bound;
        if (ok) ok = getsockname(s.Get(), reinterpret_cast<sockaddr*>(&bound), &length) == 0;
        if (!ok) {
            failure = FailureOf(WSAGetLastError());
            return false;
        }
        boundPort = ntohs(bound.ss_family == AF_INET6
                              ? reinterpret_cast<const sockaddr_in6&>(bound).sin6_port
                              : reinterpret_cast<const sockaddr_in&>(bound).sin_port);
        listener = Keep(std::move(s));
        return true;
    }

    NetIo Accept(NetHandle listener, NetHandle& connection) override {
        const SOCKET l = Find(listener);
        if (l == INVALID_SOCKET) return NetIo::kClosed;
        for (;;) {
            UniqueSocket c(accept(l, nullptr, nullptr));
            if (c) {
                SetHandleInformation(reinterpret_cast<HANDLE>(c.Get()), HANDLE_FLAG_INHERIT, 0);
                u_long on = 1;
                ioctlsocket(c.Get(), FIONBIO, &on);
                const BOOL noDelay = TRUE;
                setsockopt(c.Get(), IPPROTO_TCP, TCP_NODELAY,
                           reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
                setsockopt(c.Get(), SOL_SOCKET, SO_SNDBUF,
                           reinterpret_cast<const char*>(&kSendBufferBytes),
                           sizeof kSendBufferBytes);
                connection = Keep(std::move(c));
                return NetIo::kDone;
            }
            const int error = WSAGetLastError();
            if (error == WSAECONNRESET || error == WSAEINTR) continue;
            // Out of sockets or memory counts as nothing waiting; the next pass tries again.
            return error == WSAEWOULDBLOCK || error == WSAEMFILE || error == WSAENOBUFS
                       ? NetIo::kWouldBlock
                       : NetIo::kClosed;
        }
    }

    NetIo Read(NetHandle connection, char* buffer, std::size_t size, std::size_t& count) override {
        count = 0;
        const SOCKET s = Find(connection);
        if (s == INVALID_SOCKET) return NetIo::kClosed;
        const int n = recv(s, buffer, static_cast<int>(std::min<std::size_t>(size, 1 << 30)), 0);
        if (n > 0) {
            count = static_cast<std::size_t>(n);
            return NetIo::kDone;
        }
        if (n == 0) return NetIo::kClosed;
        return WouldBlock() ? NetIo::kWouldBlock : NetIo::kClosed;
    }

    NetIo Write(NetHandle connection, const char* data, std::size_t size,
                std::size_t& count) override {
        count = 0;
        const SOCKET s = Find(connection);
        if (s == INVALID_SOCKET) return NetIo::kClosed;
        const int n = send(s, data, static_cast<int>(std::min<std::size_t>(size, 1 << 30)), 0);
        if (n >= 0) {
            count = static_cast<std::size_t>(n);
            return NetIo::kDone;
        }
        return WouldBlock() ? NetIo::kWouldBlock : NetIo::kClosed;
    }

    void Close(NetHandle socket) override { sockets_.erase(socket); }

    bool Wait(std::vector<NetWatch>& watches, bool block, bool& woken) override {
        fds_.assign(1, WSAPOLLFD{wake_.Get(), POLLRDNORM, 0});
        for (const NetWatch& w : watches) {
            const SHORT events =
                static_cast<SHORT>((w.read ? POLLRDNORM : 0) | (w.write ? POLLWRNORM : 0));
            fds_.push_back(WSAPOLLFD{Find(w.handle), events, 0});
        }
        if (WSAPoll(fds_.data(), static_cast<ULONG>(fds_.size()), block ? -1 : 0) == SOCKET_ERROR) {
            return false;
        }
        woken = fds_[0].revents != 0;
        if (woken) {
            char drain[64];
            while (recv(wake_.Get(), drain, sizeof drain, 0) > 0) {
            }
        }
        for (std::size_t i = 0; i < watches.size(); ++i) {
            const SHORT got = fds_[i + 1].revents;
            watches[i].readable = (got & (POLLRDNORM | POLLHUP | POLLERR | POLLNVAL)) != 0;
            watches[i].writable = (got & (POLLWRNORM | POLLERR | POLLHUP)) != 0;
        }
        return true;
    }

    void Wake() override {
        const char one = 1;
        // A full buffer means a wake-up is pending anyway.
        send(wake_.Get(), &one, 1, 0);
    }

  private:
    NetHandle Keep(UniqueSocket s) {
        const NetHandle handle = next_++;
        sockets_.emplace(handle, std::move(s));
        return handle;
    }
    SOCKET Find(NetHandle handle) const {
        const auto it = sockets_.find(handle);
        return it == sockets_.end() ? INVALID_SOCKET : it->second.Get();
    }

    bool started_ = false;
    UniqueSocket wake_;
    std::unordered_map<NetHandle, UniqueSocket> sockets_;
    NetHandle next_ = 1;
    std::vector<WSAPOLLFD> fds_;
};

}  // namespace

std::unique_ptr<NetSockets> CreateSystemNetSockets() {
    return std::make_unique<WinsockNetSockets>();
}

}  // namespace zelk
