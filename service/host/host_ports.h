// The system services the service host uses: the service control manager, the registry and the
// event log. The host's rules are written against these interfaces; the Windows build supplies
// the real ones and the tests supply fakes. Handles are opaque; null means failure, and every
// failing call leaves its error code for LastError().
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace zelk {

using SystemHandle = void*;

struct ServiceStatusReport;

// The parameters of service creation.
struct ServiceCreateRequest {
    const char* serviceName = nullptr;
    const char* displayName = nullptr;
    std::uint32_t desiredAccess = 0;
    std::uint32_t serviceType = 0;
    std::uint32_t startType = 0;
    std::uint32_t errorControl = 0;
    const char* binaryPath = nullptr;
    const char* loadOrderGroup = nullptr;  // null: none
    const char* dependencies = nullptr;    // NUL-separated list closed by two NULs
    const char* accountName = nullptr;     // null: the local system account
    const char* password = nullptr;
};

// One action the service control manager takes after a failure of the service.
struct ServiceFailureAction {
    std::uint32_t type = 0;  // 1: restart the service
    std::uint32_t delayMs = 0;
};

struct ServiceFailureActions {
    std::uint32_t resetPeriodSeconds = 0;
    std::vector<ServiceFailureAction> actions;
};

// One data item of a service trigger: its type (2: a UTF-16 string) and its bytes.
struct ServiceTriggerData {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> bytes;
};

// An event on which the service control manager acts on the service: the event's type
// (1: a device interface arrives), the action (1: start the service), the subtype (for a
// device interface, its class GUID in its in-memory layout) and the data that narrows it.
struct ServiceTrigger {
    std::uint32_t type = 0;
    std::uint32_t action = 0;
    std::array<std::uint8_t, 16> subtype = {};
    std::vector<ServiceTriggerData> data;
};

class ScmApi {
  public:
    virtual ~ScmApi() = default;
    // The local computer's active service database.
    virtual SystemHandle OpenManager(std::uint32_t access) = 0;
    virtual SystemHandle LockDatabase(SystemHandle manager) = 0;
    virtual void UnlockDatabase(SystemHandle lock) = 0;
    virtual void CloseServiceHandle(SystemHandle handle) = 0;
    virtual SystemHandle OpenServiceByName(SystemHandle manager, const char* name,
                                           std::uint32_t access) = 0;
    virtual SystemHandle CreateNewService(SystemHandle manager,
                                          const ServiceCreateRequest& request) = 0;
    // Both fail with 120 (not implemented) when the system lacks the configuration call.
    virtual bool SetFailureActions(SystemHandle service, const ServiceFailureActions& actions) = 0;
    virtual bool SetDescription(SystemHandle service, const char* description) = 0;
    // Replaces the service's triggers. Fails with 120 when the system lacks the call, and with
    // the system's refusal (124 invalid level on systems without triggers, ...).
    virtual bool SetTriggers(SystemHandle service, const std::vector<ServiceTrigger>& triggers) = 0;
    virtual bool QueryState(SystemHandle service, std::uint32_t& state) = 0;
    virtual bool Control(SystemHandle service, std::uint32_t control) = 0;
    virtual bool Start(SystemHandle service) = 0;
    virtual bool Delete(SystemHandle service) = 0;
    // Tells the service control manager the running service's status (`statusHandle` is what
    // the control handler's registration gave).
    virtual bool SetStatus(SystemHandle statusHandle, const ServiceStatusReport& report) = 0;
    virtual std::uint32_t LastError() = 0;
    virtual void SetLastError(std::uint32_t error) = 0;
    // Milliseconds since an arbitrary start, wrapping at 32 bits, and a wait.
    virtual std::uint32_t TickCount() = 0;
    virtual void Sleep(std::uint32_t milliseconds) = 0;
};

inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;

class RegistryApi {
  public:
    virtual ~RegistryApi() = default;
    // Keys below HKEY_LOCAL_MACHINE. A failing call also sets the thread's last error to the
    // registry's error code.
    virtual SystemHandle OpenMachineKey(const char* path, std::uint32_t access) = 0;
    virtual SystemHandle CreateSubKey(SystemHandle parent, const char* name,
                                      std::uint32_t access) = 0;
    virtual bool SetValue(SystemHandle key, const char* name, std::uint32_t type, const void* data,
                          std::uint32_t size) = 0;
    // The whole value: its type and bytes.
    virtual bool QueryValue(SystemHandle key, const char* name, std::uint32_t& type,
                            std::vector<char>& data) = 0;
    virtual bool DeleteMachineKey(const char* path) = 0;
    virtual void CloseKey(SystemHandle key) = 0;
    // The thread's last error (shared with the other interfaces on one thread).
    virtual std::uint32_t LastError() = 0;
    virtual void SetLastError(std::uint32_t error) = 0;
};

class EventLogApi {
  public:
    virtual ~EventLogApi() = default;
    // `server` empty: the local computer.
    virtual SystemHandle RegisterSource(const std::string& server, const std::string& source) = 0;
    virtual bool Report(SystemHandle source, std::uint16_t type, std::uint16_t category,
                        std::uint32_t eventId, const void* userSid,
                        const std::vector<std::string>& strings, std::uint32_t dataSize,
                        const void* data) = 0;
    virtual void DeregisterSource(SystemHandle source) = 0;
};

}  // namespace zelk
