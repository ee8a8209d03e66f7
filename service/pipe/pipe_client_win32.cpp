#include <windows.h>

#include <string>

#include "service/pipe/pipe_client.h"

namespace zelk {

std::uint32_t SendPipeBytes(const std::string& name, const void* bytes, std::size_t count) {
    const std::string path = "\\\\.\\pipe\\" + name;
    HANDLE pipe = INVALID_HANDLE_VALUE;
    for (;;) {
        // Identification only: the server may learn who wrote, never act as the writer.
        pipe = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) {
            break;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_PIPE_BUSY) {
            return error;
        }
        if (!WaitNamedPipeA(path.c_str(), kPipeBusyWaitMs)) {
            return GetLastError();
        }
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
    std::uint32_t result = 0;
    if (count > 0) {
        DWORD written = 0;
        if (!WriteFile(pipe, bytes, static_cast<DWORD>(count), &written, nullptr)) {
            result = GetLastError();
        } else if (written != count) {
            result = kPipeErrorWriteFault;
        }
    }
    CloseHandle(pipe);
    return result;
}

std::uint32_t SendPipeRecord(const std::string& name, const PipeMessage& message) {
    return SendPipeBytes(name, &message, sizeof message);
}

}  // namespace zelk
