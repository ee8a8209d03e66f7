// A stand-in for the service's end of the panel pipe: serves ZELK_FRONTPANEL_PIPE on a thread
// of its own, one connection at a time, and keeps every record that arrives.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "common/pipe_message.h"

namespace zelk::test {

struct ReceivedRecord {
    std::size_t bytes = 0;  // what the one read of the connection returned
    PipeMessage message{};
};

class PipeRecorder {
  public:
    // `messageType` false serves a byte-type pipe (on which message read mode cannot be set).
    explicit PipeRecorder(bool messageType = true);
    ~PipeRecorder();
    PipeRecorder(const PipeRecorder&) = delete;
    PipeRecorder& operator=(const PipeRecorder&) = delete;

    // Every record of the connections made before this call, in arrival order; they are
    // removed from the recorder. Works by sending a marker record of its own and waiting
    // until the server has read it.
    std::vector<ReceivedRecord> Drain();

    // Opens a client connection and keeps it open (the pipe is then busy for others) until
    // the returned handle is closed.
    static HANDLE Connect();

  private:
    void Serve();
    void SendMarker(std::int32_t serial);

    HANDLE pipe_ = INVALID_HANDLE_VALUE;
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<ReceivedRecord> records_;
    std::int32_t lastMarker_ = 0;
    std::int32_t nextMarker_ = 0;
    HANDLE thread_ = nullptr;
};

// Bytes of a record's text as a string (up to its NUL).
std::string TextOf(const PipeMessage& m);

}  // namespace zelk::test
