// Sends one control code to an installed service (Wine's sc has no "control" verb).
//   service_control <service name> <code>    exit 0 when the service took it, else the error
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: service_control NAME CODE\n");
        return 2;
    }
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) return static_cast<int>(GetLastError());
    SC_HANDLE service = OpenServiceA(manager, argv[1], SERVICE_USER_DEFINED_CONTROL);
    DWORD error = service == nullptr ? GetLastError() : 0;
    if (service != nullptr) {
        SERVICE_STATUS status = {};
        if (!ControlService(service, static_cast<DWORD>(std::atoi(argv[2])), &status)) {
            error = GetLastError();
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return static_cast<int>(error);
}
