// Where a line-based network server meets the protocol it serves: the transport reads lines from
// its clients and hands them to a LineHandler; the handler answers through the LineLink.
//
// Threads: the transport calls the handler from its own thread, one call at a time. The handler
// may call the link from any thread (a reply from within OnLine, or a notice sent later because
// something else changed); the link queues the text and the transport's thread sends it.
#pragma once

#include <cstdint>
#include <string_view>

namespace zelk {

// Names one connection for as long as it is open; never reused while the transport runs.
using LineClientId = std::uint64_t;

class LineLink {
  public:
    virtual ~LineLink() = default;
    // Queues `line` and a line end to the client. A client whose queued output passes the
    // transport's bound is disconnected (OnDisconnect follows); sending to a client that has
    // gone does nothing.
    virtual void Send(LineClientId client, std::string_view line) = 0;
    // Closes the client's connection once what was queued before has been sent (or could not
    // be); OnDisconnect follows.
    virtual void Close(LineClientId client) = 0;
};

class LineHandler {
  public:
    virtual ~LineHandler() = default;
    virtual void OnConnect(LineClientId client) = 0;
    // One line as the client sent it, without its line end ("\n" or "\r\n").
    virtual void OnLine(LineClientId client, std::string_view line) = 0;
    // The connection has ended (closed by either side, or cut by a bound). No call for this
    // client follows.
    virtual void OnDisconnect(LineClientId client) = 0;
};

}  // namespace zelk
