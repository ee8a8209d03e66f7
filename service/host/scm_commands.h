// The service program's own SCM commands: installation, removal, and the start, pause,
// continue and stop requests, with the owners of the SCM handles they use.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/win_codes.h"
#include "service/host/event_log_source.h"
#include "service/host/host_ports.h"

namespace zelk {

inline constexpr std::uint32_t kWaitForever = 0xFFFFFFFFu;
inline constexpr std::uint32_t kStatusPollMs = 250;
inline constexpr std::uint32_t kRequestWaitMs = 5000;

// An SCM connection and, once taken, the database lock. Both are released on Close and by the
// destructor: the lock first, then the connection.
class ScmHandle {
  public:
    explicit ScmHandle(ScmApi& api) : api_(api) {}
    ~ScmHandle() { Close(); }
    ScmHandle(const ScmHandle&) = delete;
    ScmHandle& operator=(const ScmHandle&) = delete;

    // Connects with `access`, closing a connection already held. False on failure.
    bool Open(std::uint32_t access);
    bool Lock();
    void Close();
    SystemHandle Get() const { return handle_; }

  private:
    ScmApi& api_;
    SystemHandle handle_ = nullptr;
    SystemHandle lock_ = nullptr;
};

// One service handle; taking a new one closes the one held.
class ServiceHandle {
  public:
    explicit ServiceHandle(ScmApi& api) : api_(api) {}
    ~ServiceHandle() { Close(); }
    ServiceHandle(const ServiceHandle&) = delete;
    ServiceHandle& operator=(const ServiceHandle&) = delete;

    void Reset(SystemHandle handle);
    void Close() { Reset(nullptr); }
    SystemHandle Get() const { return handle_; }

    // Polls the service's state every `pollInterval` ms until it is `state`. The first check
    // comes before any wait. False when a status query fails, or with last error 1460 once more
    // than `timeout` ms have passed (kWaitForever: no limit).
    bool WaitForServiceStatus(std::uint32_t timeout, std::uint32_t state,
                              std::uint32_t pollInterval);
    bool WaitForStop(std::uint32_t timeout);

  private:
    ScmApi& api_;
    SystemHandle handle_ = nullptr;
};

// What installation takes from the service object.
struct ServiceInstallSettings {
    std::string serviceName;
    std::string displayName;
    std::uint32_t serviceType = 0x10;
    std::uint32_t startType = 3;
    std::uint32_t errorControl = 0;
    std::string loadOrderGroup;
    std::string accountName;
    std::string password;
    std::vector<std::string> dependencies;
    std::string description;
    // Filled from the module path at installation when empty.
    std::string eventMessageFile;
};

// What the commands report through: the SCM, the service's event log source, and the service's
// failure text builder (message id, error code, for the event log).
struct ServiceCommandContext {
    ScmApi& scm;
    EventLogSource& events;
    std::function<std::string(std::uint32_t, std::uint32_t, bool)> formatError;
};

// The module path as the service's binary path: quoted when it holds a space.
std::string ServiceBinaryPath(const std::string& modulePath);
// The module path with its extension replaced by "DLL" (added when it has none).
std::string MessageFileFor(const std::string& modulePath);

// The failure actions set at installation: restart after 1000 ms, twice; never reset.
ServiceFailureActions InstallFailureActions();

// The start trigger set at installation: Windows starts the service when a HID interface of the
// panel (USB 1F3C:5A41, the whole device or one of its four collections) arrives.
std::vector<ServiceTrigger> InstallTriggers();

// Creates the service, sets its failure actions, description and start trigger and registers
// its event source. A system that refuses the trigger leaves an installation without it (the
// trace says so). On failure `message` holds the text for the user and `error` the system error.
bool InstallService(ServiceCommandContext& context, ServiceInstallSettings& settings,
                    const std::string& modulePath, std::string& message, std::uint32_t& error);

// Stops the service when it runs (waiting up to `timeout` ms), deletes it and removes its event
// source. A failed stop request that the wait makes good still leaves its code and text in
// `error` and `message` while the result is true.
bool UninstallService(ServiceCommandContext& context, const ServiceInstallSettings& settings,
                      std::string& message, std::uint32_t& error, std::uint32_t timeout);

// Asks the SCM to start (0), pause (1), continue (2) or stop (3) the service and waits up to
// 5 s for the state it leads to. Failures go to the event log; the last error then still holds
// the failed call's code.
bool SetServiceToStatus(ServiceCommandContext& context, const std::string& serviceName,
                        int request);

}  // namespace zelk
