#include "service/host/service_status.h"

namespace zelk {

ServiceStatusReport ApplyStatusReport(ServiceStatusRecord& record, std::uint32_t state,
                                      std::uint32_t check_point, std::uint32_t wait_hint,
                                      std::uint32_t controls_accepted,
                                      std::uint32_t win32_exit_code,
                                      std::uint32_t service_exit_code) {
    ServiceStatusReport report;
    record.current_state = state;
    switch (state) {
        case kServiceStopped:
            record.check_point = 0;
            record.wait_hint = 0;
            report.win32_exit_code = win32_exit_code;
            report.service_specific_exit_code = service_exit_code;
            break;
        case kServiceRunning:
        case kServicePaused:
            record.check_point = 0;
            record.wait_hint = 0;
            break;
        default:
            if (check_point != kKeepStatusValue) record.check_point = check_point;
            if (wait_hint != kKeepStatusValue) record.wait_hint = wait_hint;
            break;
    }
    if (controls_accepted != kKeepStatusValue) record.controls_accepted = controls_accepted;

    const bool pending = state == kServiceStartPending || state == kServiceStopPending ||
                         state == kServiceContinuePending || state == kServicePausePending;
    report.current_state = state;
    report.controls_accepted = pending ? 0 : record.controls_accepted;
    report.check_point = record.check_point;
    report.wait_hint = record.wait_hint;
    return report;
}

}  // namespace zelk
