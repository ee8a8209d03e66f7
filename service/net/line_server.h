// A TCP server of line-based clients: it listens on a few addresses, splits what each client
// sends into lines ("\n" or "\r\n") and hands them to a LineHandler one call at a time on its
// own thread; what the handler queues through the LineLink is sent by the same thread.
//
// Every client is bounded: how many are connected at once (more are accepted and closed at
// once), the length of one line and the output queued for it (past either it is disconnected),
// and the lines handled for it per pass of the server's loop (so one flooding client cannot
// starve the others). The loop waits without a time limit: a silent client costs nothing.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "common/line_link.h"
#include "common/mutex.h"
#include "common/thread_annotations.h"
#include "common/worker_thread.h"
#include "service/net/net_sockets.h"

namespace zelk {

struct LineServerOptions {
    // Numeric IPv4 or IPv6 addresses.
    std::vector<std::string> addresses{"127.0.0.1", "::1"};
    // 0: a free port, the same on every address (Port() tells which).
    std::uint16_t port = 13666;
    std::size_t maxClients = 64;
    // Bytes of one line without its line end.
    std::size_t maxLineBytes = 8 * 1024;
    // Output queued for one client and not yet taken by its socket.
    std::size_t maxQueuedBytes = 256 * 1024;
    std::size_t linesPerPass = 32;
};

// An address that could not be listened on.
struct LineServerListenFailure {
    std::string address;
    NetListenFailure failure;
};

class LineServer : public Worker, public LineLink {
  public:
    LineServer(LineHandler& handler, LineServerOptions options);
    ~LineServer() override;
    LineServer(const LineServer&) = delete;
    LineServer& operator=(const LineServer&) = delete;

    // Listens on every address (once; later calls return the first answer). True when at least
    // one address listens; the others that failed are in Failures() either way.
    bool Open();
    const std::vector<LineServerListenFailure>& Failures() const { return failures_; }
    // The failures as one line for a log: "::1 port 13666: address not available (...)"...
    std::string FailureText() const;
    // The port listened on, once Open has succeeded (the port chosen when the option is 0).
    std::uint16_t Port() const { return boundPort_; }
    // The addresses listened on.
    const std::vector<std::string>& Listening() const { return listening_; }

    // Opens (if not yet done) and serves on a thread of its own; does nothing when no
    // address listens. Stop ends the thread: every client is closed, with its OnDisconnect.
    void Start() override;
    void Stop() override { thread_.Stop(); }

    // LineLink, from any thread.
    void Send(LineClientId client, std::string_view line) override EXCLUDES(lock_);
    void Close(LineClientId client) override EXCLUDES(lock_);

  private:
    // What other threads hand the server's thread for one client.
    struct Outbox {
        std::string queued;
        std::size_t unsent = 0;  // bytes the server's thread holds that the socket has not taken
        bool close = false;      // Close was called
        bool cut = false;        // past the output bound
    };
    // The server thread's own view of one client.
    struct Client {
        LineClientId id = 0;
        NetHandle socket = 0;
        std::string in;
        std::string out;
        std::size_t outStart = 0;
        bool linesWaiting = false;  // complete lines left for the next pass
        bool writeBlocked = false;  // the socket took no more: write again once it is writable
        bool ended = false;         // the client sent its end
        bool closing = false;       // close once the output is out
        bool drop = false;          // close now
    };

    void Serve(StopSignal& stop);
    void AcceptFrom(NetHandle listener);
    void HandleLines(Client& c);
    void TakeOutput() EXCLUDES(lock_);
    void Flush(Client& c);
    void Drop(Client& c) EXCLUDES(lock_);
    bool OnServerThread() const { return serverThread_.load() == std::this_thread::get_id(); }

    LineHandler& handler_;
    const LineServerOptions options_;
    const std::unique_ptr<NetSockets> sockets_;
    bool opened_ = false;
    bool openResult_ = false;
    std::vector<NetHandle> listeners_;
    std::vector<std::string> listening_;
    std::vector<LineServerListenFailure> failures_;
    std::uint16_t boundPort_ = 0;

    // The server thread's alone.
    std::vector<Client> clients_;
    LineClientId nextId_ = 1;
    std::atomic<std::thread::id> serverThread_{};

    Mutex lock_;
    std::unordered_map<LineClientId, Outbox> outboxes_ GUARDED_BY(lock_);
    bool wakePending_ GUARDED_BY(lock_) = false;

    // Last: stopped before the fields its thread uses go.
    WorkerThread thread_;
};

}  // namespace zelk
