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
    std::uint32_t controls_accepted = 0;
    std::uint32_t check_point = 0;
    std::uint32_t wait_hint = 0;
    std::uint32_t current_state = kServiceStopped;
};

// One report as it goes to the service control manager (the fields of SERVICE_STATUS).
struct ServiceStatusReport {
    std::uint32_t service_type = kServiceWin32OwnProcess;
    std::uint32_t current_state = 0;
    std::uint32_t controls_accepted = 0;
    std::uint32_t win32_exit_code = 0;
    std::uint32_t service_specific_exit_code = 0;
    std::uint32_t check_point = 0;
    std::uint32_t wait_hint = 0;
};

// Stores a report's values in `record` and builds the report to send. RUNNING, PAUSED and
// STOPPED clear the stored check point and wait hint; pending states keep either when it is
// `kKeepStatusValue`; exit codes are sent only with STOPPED; pending states accept no controls.
ServiceStatusReport ApplyStatusReport(ServiceStatusRecord& record, std::uint32_t state,
                                      std::uint32_t check_point, std::uint32_t wait_hint,
                                      std::uint32_t controls_accepted,
                                      std::uint32_t win32_exit_code,
                                      std::uint32_t service_exit_code);

// The service's status as the service control manager is told it: the stored values, the
// status handle and the lock that guards them. A report is stored and sent under the lock, so
// reports reach the manager in the order their values were stored; once STOPPED has been sent
// nothing more is (the status handle is not to be used after it).
class ServiceStatusReporter {
  public:
    ServiceStatusReporter(ScmApi& scm, std::uint32_t controls_accepted);
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
    bool Report(std::uint32_t state, std::uint32_t check_point, std::uint32_t wait_hint,
                std::uint32_t controls_accepted, std::uint32_t win32_exit_code,
                std::uint32_t service_exit_code);
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
    CNTServiceTerminateException(std::uint32_t win32_exit_code, std::uint32_t service_exit_code)
        : win32_exit_code_(win32_exit_code), service_exit_code_(service_exit_code) {}
    std::uint32_t Win32ExitCode() const { return win32_exit_code_; }
    std::uint32_t ServiceExitCode() const { return service_exit_code_; }

  private:
    std::uint32_t win32_exit_code_;
    std::uint32_t service_exit_code_;
};

}  // namespace zelk
