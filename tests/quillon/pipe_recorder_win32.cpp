#include "tests/quillon/pipe_recorder_win32.h"

#include <chrono>
#include <cstring>
#include <stdexcept>

namespace zelk::test {

namespace {

// Marker records use a session number the sink never gives.
constexpr std::int32_t kMarkerSession = -7777;
constexpr std::int32_t kStopMarker = -1;

std::wstring PipePath() {
    std::wstring p = L"\\\\.\\pipe\\";
    for (const char* c = kPipeName; *c != '\0'; ++c) {
        p += static_cast<wchar_t>(*c);
    }
    return p;
}

}  // namespace

std::string TextOf(const PipeMessage& m) {
    return std::string(m.text, strnlen(m.text, sizeof m.text));
}

PipeRecorder::PipeRecorder(bool messageType) {
    const DWORD type = messageType ? PIPE_TYPE_MESSAGE : PIPE_TYPE_BYTE;
    pipe_ = CreateNamedPipeW(PipePath().c_str(), PIPE_ACCESS_DUPLEX,
                             type | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
    if (pipe_ == INVALID_HANDLE_VALUE) {
        throw std::runtime_error("CreateNamedPipeW failed: " + std::to_string(GetLastError()));
    }
    thread_ = CreateThread(
        nullptr, 0,
        [](void* self) WINAPI -> DWORD {
            static_cast<PipeRecorder*>(self)->Serve();
            return 0;
        },
        this, 0, nullptr);
    if (thread_ == nullptr) {
        CloseHandle(pipe_);
        throw std::runtime_error("CreateThread failed");
    }
}

PipeRecorder::~PipeRecorder() {
    try {
        SendMarker(kStopMarker);
    } catch (const std::exception&) {
        // The server is stuck (its pipe is gone): wake it from its wait.
        CancelSynchronousIo(thread_);
    }
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    CloseHandle(pipe_);
}

HANDLE PipeRecorder::Connect() {
    const std::wstring name = PipePath();
    for (int attempt = 0; attempt < 20; ++attempt) {
        HANDLE h = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            return h;
        }
        if (GetLastError() != ERROR_PIPE_BUSY || !WaitNamedPipeW(name.c_str(), 2000)) {
            break;
        }
    }
    throw std::runtime_error("cannot connect to the test pipe: " + std::to_string(GetLastError()));
}

void PipeRecorder::SendMarker(std::int32_t serial) {
    HANDLE h = Connect();
    const PipeMessage m = MakePipeMessage(kMarkerSession, serial, "", 0);
    DWORD written = 0;
    WriteFile(h, &m, sizeof m, &written, nullptr);
    CloseHandle(h);
}

std::vector<ReceivedRecord> PipeRecorder::Drain() {
    std::int32_t serial = 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        serial = ++nextMarker_;
    }
    SendMarker(serial);
    std::unique_lock<std::mutex> guard(lock_);
    if (!changed_.wait_for(guard, std::chrono::seconds(10),
                           [&] { return lastMarker_ >= serial; })) {
        throw std::runtime_error("the test pipe's server did not read its marker");
    }
    std::vector<ReceivedRecord> out;
    out.swap(records_);
    return out;
}

void PipeRecorder::Serve() {
    for (;;) {
        if (!ConnectNamedPipe(pipe_, nullptr)) {
            // A client that came (and maybe left) before this call still has its record read.
            const DWORD error = GetLastError();
            if (error == ERROR_INVALID_HANDLE || error == ERROR_OPERATION_ABORTED) {
                return;  // the pipe was closed under the server, or the server is stopped
            }
            if (error != ERROR_PIPE_CONNECTED && error != ERROR_NO_DATA) {
                DisconnectNamedPipe(pipe_);
                continue;
            }
        }
        unsigned char buffer[4096];
        DWORD read = 0;
        const BOOL ok = ReadFile(pipe_, buffer, sizeof buffer, &read, nullptr);
        DisconnectNamedPipe(pipe_);
        if (!ok && GetLastError() != ERROR_MORE_DATA) {
            continue;  // a client that wrote nothing (a held connection being closed)
        }
        ReceivedRecord r;
        r.bytes = read;
        if (!ReadPipeRecord(buffer, read, r.message)) {
            continue;
        }
        std::lock_guard<std::mutex> guard(lock_);
        if (r.message.sessionNumber == kMarkerSession) {
            if (r.message.tag == kStopMarker) {
                return;
            }
            lastMarker_ = r.message.tag;
            changed_.notify_all();
            continue;
        }
        records_.push_back(r);
    }
}

}  // namespace zelk::test
