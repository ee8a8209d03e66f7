// The rules of the service's status reports, kept apart from the call that sends them: what is
// stored between reports and what each report tells the service control manager.
#pragma once

#include <cstdint>

#include "service/core/service_host.h"

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
