// A blocking TCP client for the line server's tests, on POSIX sockets or Winsock. Reads wait
// 10 s at most (a failing server ends the test instead of hanging it).
#pragma once

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <cstring>
#include <string>

namespace zelk {

#if defined(_WIN32)
using TestSocket = SOCKET;
inline constexpr TestSocket kNoTestSocket = INVALID_SOCKET;
inline void CloseTestSocket(TestSocket s) {
    closesocket(s);
}
inline int PollTestSocket(pollfd* fd, int timeoutMs) {
    return WSAPoll(fd, 1, timeoutMs);
}
// Winsock for the test program's lifetime.
struct WinsockForTests {
    WinsockForTests() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~WinsockForTests() { WSACleanup(); }
};
inline WinsockForTests winsockForTests;
#else
using TestSocket = int;
inline constexpr TestSocket kNoTestSocket = -1;
inline void CloseTestSocket(TestSocket s) {
    close(s);
}
inline int PollTestSocket(pollfd* fd, int timeoutMs) {
    return poll(fd, 1, timeoutMs);
}
#endif

class TestClient {
  public:
    TestClient() = default;
    ~TestClient() { Disconnect(); }
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    // `receiveBuffer` > 0 makes the client's receive buffer that small (set before connecting).
    bool Connect(std::uint16_t port, const char* address = "127.0.0.1", int receiveBuffer = 0) {
        const bool v6 = std::strchr(address, ':') != nullptr;
        socket_ = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
        if (socket_ == kNoTestSocket) return false;
        if (receiveBuffer > 0) {
            setsockopt(socket_, SOL_SOCKET, SO_RCVBUF,
                       reinterpret_cast<const char*>(&receiveBuffer), sizeof receiveBuffer);
        }
        sockaddr_storage storage{};
        int length = 0;
        if (v6) {
            auto& a = reinterpret_cast<sockaddr_in6&>(storage);
            a.sin6_family = AF_INET6;
            a.sin6_port = htons(port);
            inet_pton(AF_INET6, address, &a.sin6_addr);
            length = sizeof a;
        } else {
            auto& a = reinterpret_cast<sockaddr_in&>(storage);
            a.sin_family = AF_INET;
            a.sin_port = htons(port);
            inet_pton(AF_INET, address, &a.sin_addr);
            length = sizeof a;
        }
        return connect(socket_, reinterpret_cast<const sockaddr*>(&storage), length) == 0;
    }

    bool Write(const std::string& text) {
        std::size_t done = 0;
        while (done < text.size()) {
            const auto n =
                send(socket_, text.data() + done, static_cast<int>(text.size() - done), 0);
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    // The next line without its "\n"; empty with `ok` false when none came.
    std::string ReadLine(bool* ok = nullptr) {
        for (;;) {
            const std::size_t end = buffer_.find('\n');
            if (end != std::string::npos) {
                std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                if (ok != nullptr) *ok = true;
                return line;
            }
            if (!Fill()) {
                if (ok != nullptr) *ok = false;
                return {};
            }
        }
    }

    // True when the server closes the connection (what it sent before is skipped).
    bool WaitClosed() {
        while (Fill()) buffer_.clear();
        return closed_;
    }

    void ShutdownWrite() {
#if defined(_WIN32)
        shutdown(socket_, SD_SEND);
#else
        shutdown(socket_, SHUT_WR);
#endif
    }

    void Disconnect() {
        if (socket_ != kNoTestSocket) CloseTestSocket(socket_);
        socket_ = kNoTestSocket;
    }

  private:
    // Reads once; false at the end of the stream (closed_ set), on an error or after 10 s.
    bool Fill() {
        pollfd fd{};
        fd.fd = socket_;
        fd.events = POLLIN;
        if (PollTestSocket(&fd, 10000) <= 0) return false;
        char chunk[4096];
        const auto n = recv(socket_, chunk, sizeof chunk, 0);
        if (n <= 0) {
            closed_ = true;
            return false;
        }
        buffer_.append(chunk, static_cast<std::size_t>(n));
        return true;
    }

    TestSocket socket_ = kNoTestSocket;
    std::string buffer_;
    bool closed_ = false;
};

}  // namespace zelk
