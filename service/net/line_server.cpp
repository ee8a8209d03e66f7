#include "service/net/line_server.h"

#include <algorithm>
#include <utility>

#include "common/debug_print.h"

namespace zelk {

namespace {

// Bytes read from one client per pass.
constexpr std::size_t kReadChunk = 16 * 1024;
// Connections taken from one listener per pass.
constexpr int kAcceptsPerPass = 16;

const char* ErrorName(NetListenError error) {
    switch (error) {
        case NetListenError::kNone:
            return "no error";
        case NetListenError::kBadAddress:
            return "not a numeric address";
        case NetListenError::kAddressInUse:
            return "address in use";
        case NetListenError::kAddressNotLocal:
            return "address not available";
        case NetListenError::kAccessDenied:
            return "access denied";
        case NetListenError::kFailed:
            break;
    }
    return "cannot listen";
}

}  // namespace

LineServer::LineServer(LineHandler& handler, LineServerOptions options)
    : handler_(handler),
      options_(std::move(options)),
      sockets_(CreateSystemNetSockets()),
      thread_([this](StopSignal& stop) { Serve(stop); }, [this] { sockets_->Wake(); }) {}

LineServer::~LineServer() {
    thread_.Stop();
}

bool LineServer::Open() {
    if (opened_) return openResult_;
    opened_ = true;
    std::uint16_t port = options_.port;
    for (const std::string& address : options_.addresses) {
        NetHandle listener = 0;
        std::uint16_t bound = 0;
        NetListenFailure failure;
        if (!sockets_->Usable()) {
            failure.error = NetListenError::kFailed;
            failure.text = "no sockets";
        } else if (sockets_->Listen(address, port, listener, bound, failure)) {
            listeners_.push_back(listener);
            listening_.push_back(address);
            // With port 0 the first address picks the port; the others take the same one.
            port = bound;
            boundPort_ = bound;
            continue;
        }
        failures_.push_back({address, std::move(failure)});
    }
    openResult_ = !listeners_.empty();
    return openResult_;
}

std::string LineServer::FailureText() const {
    std::string text;
    for (const LineServerListenFailure& f : failures_) {
        if (!text.empty()) text += "; ";
        text += f.address + " port " + std::to_string(options_.port) + ": " +
                ErrorName(f.failure.error) + " (" + f.failure.text + ", " +
                std::to_string(f.failure.systemCode) + ")";
    }
    return text;
}

void LineServer::Start() {
    if (Open()) thread_.Start();
}

void LineServer::Send(LineClientId client, std::string_view line) {
    bool wake = false;
    {
        MutexLock guard(lock_);
        const auto it = outboxes_.find(client);
        if (it == outboxes_.end() || it->second.close || it->second.cut) return;
        Outbox& box = it->second;
        if (box.unsent + box.queued.size() + line.size() + 1 > options_.maxQueuedBytes) {
            box.cut = true;
            box.queued.clear();
        } else {
            box.queued.append(line);
            box.queued.push_back('\n');
        }
        // The server's own thread sends before it waits again.
        if (!wakePending_ && !OnServerThread()) {
            wakePending_ = true;
            wake = true;
        }
    }
    if (wake) sockets_->Wake();
}

void LineServer::Close(LineClientId client) {
    bool wake = false;
    {
        MutexLock guard(lock_);
        const auto it = outboxes_.find(client);
        if (it == outboxes_.end() || it->second.close) return;
        it->second.close = true;
        if (!wakePending_ && !OnServerThread()) {
            wakePending_ = true;
            wake = true;
        }
    }
    if (wake) sockets_->Wake();
}

void LineServer::Serve(StopSignal& stop) {
    serverThread_.store(std::this_thread::get_id());
    std::vector<NetWatch> watches;
    std::vector<char> chunk(kReadChunk);
    bool busy = false;
    while (!stop.IsSet()) {
        watches.clear();
        for (const NetHandle listener : listeners_) {
            watches.push_back(NetWatch{listener, true, false});
        }
        for (const Client& c : clients_) {
            const bool read = !c.ended && !c.closing && !c.linesWaiting;
            watches.push_back(NetWatch{c.socket, read, c.outStart < c.out.size()});
        }
        bool woken = false;
        if (!sockets_->Wait(watches, !busy, woken)) {
            DebugPrint("Line server: waiting failed\n");
            break;
        }
        if (stop.IsSet()) break;

        // New clients first, so a client connected before another's flood is served with it.
        for (std::size_t i = 0; i < listeners_.size(); ++i) {
            if (watches[i].readable) AcceptFrom(listeners_[i]);
        }
        const std::size_t watched = watches.size() - listeners_.size();
        for (std::size_t i = 0; i < watched; ++i) {
            Client& c = clients_[i];
            const NetWatch& w = watches[listeners_.size() + i];
            if (w.writable) c.writeBlocked = false;
            if (!w.read || !w.readable) continue;
            std::size_t count = 0;
            switch (sockets_->Read(c.socket, chunk.data(), chunk.size(), count)) {
                case NetIo::kDone:
                    c.in.append(chunk.data(), count);
                    break;
                case NetIo::kClosed:
                    c.ended = true;
                    break;
                case NetIo::kWouldBlock:
                    break;
            }
        }
        busy = false;
        for (Client& c : clients_) {
            HandleLines(c);
            busy = busy || c.linesWaiting;
        }
        TakeOutput();
        for (Client& c : clients_) {
            if (!c.drop) Flush(c);
            if (c.closing && c.outStart == c.out.size()) c.drop = true;
        }
        for (std::size_t i = 0; i < clients_.size();) {
            if (clients_[i].drop) {
                Drop(clients_[i]);
                clients_.erase(clients_.begin() + static_cast<std::ptrdiff_t>(i));
            } else {
                ++i;
            }
        }
    }
    for (Client& c : clients_) Drop(c);
    clients_.clear();
    for (const NetHandle listener : listeners_) sockets_->Close(listener);
    listeners_.clear();
}

void LineServer::AcceptFrom(NetHandle listener) {
    for (int n = 0; n < kAcceptsPerPass; ++n) {
        NetHandle socket = 0;
        if (sockets_->Accept(listener, socket) != NetIo::kDone) return;
        if (clients_.size() >= options_.maxClients) {
            sockets_->Close(socket);
            continue;
        }
        Client c;
        c.id = nextId_++;
        c.socket = socket;
        {
            MutexLock guard(lock_);
            outboxes_.emplace(c.id, Outbox{});
        }
        clients_.push_back(std::move(c));
        handler_.OnConnect(clients_.back().id);
    }
}

void LineServer::HandleLines(Client& c) {
    if (c.drop || c.closing) return;
    std::size_t start = 0;
    std::size_t handled = 0;
    c.linesWaiting = false;
    for (;;) {
        const std::size_t end = c.in.find('\n', start);
        if (end == std::string::npos) break;
        if (handled == options_.linesPerPass) {
            c.linesWaiting = true;
            break;
        }
        std::size_t length = end - start;
        if (length > 0 && c.in[end - 1] == '\r') --length;
        if (length > options_.maxLineBytes) {
            c.drop = true;
            return;
        }
        handler_.OnLine(c.id, std::string_view(c.in).substr(start, length));
        ++handled;
        start = end + 1;
        {
            // A Close from within OnLine ends the lines of this client.
            MutexLock guard(lock_);
            const auto it = outboxes_.find(c.id);
            if (it != outboxes_.end() && (it->second.close || it->second.cut)) break;
        }
    }
    c.in.erase(0, start);
    // A line end may still follow the bytes of a line at its bound ("\r").
    if (!c.linesWaiting && c.in.size() > options_.maxLineBytes + 1) {
        c.drop = true;
        return;
    }
    if (c.ended && !c.linesWaiting) {
        // The last line may come without its line end.
        if (!c.in.empty() && c.in.size() <= options_.maxLineBytes) {
            handler_.OnLine(c.id, c.in);
        }
        c.in.clear();
        c.closing = true;
    }
}

void LineServer::TakeOutput() {
    MutexLock guard(lock_);
    wakePending_ = false;
    for (Client& c : clients_) {
        const auto it = outboxes_.find(c.id);
        if (it == outboxes_.end()) continue;
        Outbox& box = it->second;
        if (box.cut) c.drop = true;
        if (box.close) c.closing = true;
        if (!box.queued.empty()) {
            if (c.outStart == c.out.size()) {
                c.out.clear();
                c.outStart = 0;
                std::swap(c.out, box.queued);
            } else {
                c.out.append(box.queued);
                box.queued.clear();
            }
        }
        box.unsent = c.out.size() - c.outStart;
    }
}

void LineServer::Flush(Client& c) {
    if (c.writeBlocked) return;
    const std::size_t before = c.out.size() - c.outStart;
    while (c.outStart < c.out.size()) {
        std::size_t count = 0;
        const NetIo io =
            sockets_->Write(c.socket, c.out.data() + c.outStart, c.out.size() - c.outStart, count);
        if (io == NetIo::kClosed) {
            c.drop = true;
            return;
        }
        if (io == NetIo::kWouldBlock || count == 0) {
            c.writeBlocked = true;
            break;
        }
        c.outStart += count;
    }
    if (c.outStart == c.out.size()) {
        c.out.clear();
        c.outStart = 0;
    }
    const std::size_t after = c.out.size() - c.outStart;
    if (after != before) {
        MutexLock guard(lock_);
        const auto it = outboxes_.find(c.id);
        if (it != outboxes_.end()) it->second.unsent = after;
    }
}

void LineServer::Drop(Client& c) {
    {
        MutexLock guard(lock_);
        outboxes_.erase(c.id);
    }
    sockets_->Close(c.socket);
    handler_.OnDisconnect(c.id);
}

}  // namespace zelk
