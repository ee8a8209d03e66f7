// The rules of the service's status reports, kept apart from the call that sends them: what is
// stored between reports and what each report tells the service control manager.
#pragma once

#include <cstdint>
#include <mutex>

#include "service/core/service_host.h"
#include "service/host/host_ports.h"

namespace zelk {

inline constexpr std::uint32_t kServiceWin32OwnProcess = 0x10;

// What the service remembers between status reports.
struct ServiceStatusRecord {
    std::uint32_t controlsAccepted = 0;
    std::uint32_t checkPoint = 0;
    std::uint32_t waitHint = 0;
    std::uint32_t currentState = kServiceStopped;
};

// One report as it goes to the service control manager (the fields of SERVICE_STATUS).
struct ServiceStatusReport {
    std::uint32_t serviceType = kServiceWin32OwnProcess;
    std::uint32_t currentState = 0;
    std::uint32_t controlsAccepted = 0;
    std::uint32_t win32ExitCode = 0;
    std::uint32_t serviceSpecificExitCode = 0;
    std::uint32_t checkPoint = 0;
    std::uint32_t waitHint = 0;
};

// Stores a report's values in `record` and builds the report to send. RUNNING, PAUSED and
// STOPPED clear the stored check point and wait hint; pending states keep either when it is
// `kKeepStatusValue`; exit codes are sent only with STOPPED; pending states accept no controls.
ServiceStatusReport ApplyStatusReport(ServiceStatusRecord& record, std::uint32_t state,
                                      std::uint32_t checkPoint, std::uint32_t waitHint,
                                      std::uint32_t controlsAccepted, std::uint32_t win32ExitCode,
                                      std::uint32_t serviceExitCode);

// The service's status as the service control manager is told it: the stored values, the
// status handle and the lock that guards them. A report is stored and sent under the lock, so
// reports reach the manager in the order their values were stored; once STOPPED has been sent
// nothing more is (the status handle is not to be used after it).
class ServiceStatusReporter {
  public:
    ServiceStatusReporter(ScmApi& scm, std::uint32_t controlsAccepted);
    ServiceStatusReporter(const ServiceStatusReporter&) = delete;
    ServiceStatusReporter& operator=(const ServiceStatusReporter&) = delete;

    // Recursive: a control handler that holds it may report a status, which takes it again.
    std::recursive_mutex& Lock() { return lock_; }
    // The stored values; the caller holds Lock().
    ServiceStatusRecord& Record() { return record_; }
    void SetHandle(SystemHandle handle);

    // Stores the values (ApplyStatusReport) and sends the report. False when there is no
    // status handle (the values are stored all the same) or the call fails; false, storing
    // nothing, once STOPPED has been sent.
    bool Report(std::uint32_t state, std::uint32_t checkPoint, std::uint32_t waitHint,
                std::uint32_t controlsAccepted, std::uint32_t win32ExitCode,
                std::uint32_t serviceExitCode);
    // The stored state again, with the stored progress and controls.
    bool ReportCurrent();

  private:
    ScmApi& scm_;
    std::recursive_mutex lock_;
    ServiceStatusRecord record_;     // guarded by lock_
    SystemHandle handle_ = nullptr;  // guarded by lock_
    bool stopped_ = false;           // STOPPED was sent; guarded by lock_
};

// Thrown by value (and caught by reference) to end the service with these exit codes.
class CNTServiceTerminateException {
  public:
    CNTServiceTerminateException(std::uint32_t win32ExitCode, std::uint32_t serviceExitCode)
        : win32ExitCode_(win32ExitCode), serviceExitCode_(serviceExitCode) {}
    std::uint32_t Win32ExitCode() const { return win32ExitCode_; }
    std::uint32_t ServiceExitCode() const { return serviceExitCode_; }

  private:
    std::uint32_t win32ExitCode_;
    std::uint32_t serviceExitCode_;
};

}  // namespace zelk
