#include <windows.h>

#include <string>

#include "common/pipe_client.h"

namespace zelk {

namespace {

HANDLE AsHandle(std::intptr_t h) {
    return reinterpret_cast<HANDLE>(h);
}

}  // namespace

PipeClientConnection::~PipeClientConnection() {
    Close();
}

std::uint32_t PipeClientConnection::Open(const std::string& name, Failure* failure,
                                         std::uint32_t /*refusedRetryMs: sockets only*/) {
    Close();
    Failure failed = Failure::kNone;
    if (failure == nullptr) failure = &failed;
    const std::string path = "\\\\.\\pipe\\" + name;
    for (;;) {
        // Identification only: the server may learn who wrote, never act as the writer.
        HANDLE pipe =
            CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                        SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) {
            DWORD mode = PIPE_READMODE_MESSAGE;
            messageMode_ = SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr) != FALSE;
            handle_ = reinterpret_cast<std::intptr_t>(pipe);
            *failure = Failure::kNone;
            return 0;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_PIPE_BUSY) {
            *failure = Failure::kConnect;
            return error;
        }
        if (!WaitNamedPipeA(path.c_str(), kPipeBusyWaitMs)) {
            *failure = Failure::kBusyWait;
            return GetLastError();
        }
    }
}

std::uint32_t PipeClientConnection::Write(const void* bytes, std::size_t count) {
    if (handle_ == -1) {
        return ERROR_INVALID_HANDLE;
    }
    DWORD written = 0;
    if (!WriteFile(AsHandle(handle_), bytes, static_cast<DWORD>(count), &written, nullptr)) {
        return GetLastError();
    }
    return written == count ? 0 : kErrorWriteFault;
}

void PipeClientConnection::Close() {
    if (handle_ != -1) {
        CloseHandle(AsHandle(handle_));
        handle_ = -1;
    }
    messageMode_ = false;
}

}  // namespace zelk
