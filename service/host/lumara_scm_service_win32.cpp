#include "service/host/lumara_scm_service.h"

#include <windows.h>

#include "service/core/service_runner.h"
#include "service/host/host_ports_win32.h"
#include "service/host/lcd_server_settings.h"

namespace zelk {

LumaraScmService::LumaraScmService()
    : ServiceFramework(kServiceName, kServiceDisplayName, kLumaraControlsAccepted,
                       kLumaraDescription),
      host_(*this) {
    startType_ = SERVICE_AUTO_START;
    errorControl_ = SERVICE_ERROR_IGNORE;

    // DisplayProps.xml beside the program, within the path's length limit; empty (and so
    // not loaded) when it does not fit, never a name relative to the current folder. The LCDproc
    // server as the registry sets it.
    SystemEnvironmentOptions options;
    options.lcdServer = ReadLcdServerSettings();
    work_ = std::make_unique<LumaraService>(host_, MakeSystemEnvironment(options));
}

LumaraScmService::~LumaraScmService() {
    // The work goes first: its threads use the framework.
    work_.reset();
}

void LumaraScmService::Run(std::uint32_t, char**) {
    // The framework reports the stop with its own codes once this returns, so the runner's
    // exit status is not used here.
    ServiceRunner runner(*work_);
    runner.Start();
    runner.Wait();
}

void LumaraScmService::OnStop() {
    work_->OnStop();
}

void LumaraScmService::OnPause() {
    work_->OnPause();
}

void LumaraScmService::OnContinue() {
    work_->OnContinue();
}

void LumaraScmService::OnShutdown() {
    work_->OnShutdown();
}

std::uint32_t LumaraScmService::OnPowerEvent(std::uint32_t eventType, void* eventData) {
    return work_->OnPowerEvent(eventType, eventData);
}

void LumaraScmService::OnUserDefinedRequest(std::uint32_t control) {
    work_->OnUserDefinedRequest(control);
}

void LumaraScmService::ShowHelp() {
    ShowMessage(kLumaraUsageText);
}

bool LumaraScmService::Host::ReportStatus(std::uint32_t state, std::uint32_t checkPoint,
                                          std::uint32_t waitHint, std::uint32_t controlsAccepted) {
    return service_.ReportStatus(state, checkPoint, waitHint, controlsAccepted);
}

void LumaraScmService::Host::LogEvent(std::uint16_t type, std::uint32_t eventId, const char* text) {
    service_.EventLog().LogEvent(type, eventId, text);
}

void LumaraScmService::Host::MessageBeep(std::uint32_t type) {
    ::MessageBeep(type);
}

void LumaraScmService::Host::SetCurrentState(std::uint32_t state,
                                             const std::function<void()>& alsoUnderLock) {
    std::lock_guard<std::recursive_mutex> guard(service_.StatusLock());
    service_.SetCurrentStateLocked(state);
    if (alsoUnderLock) {
        alsoUnderLock();
    }
}

std::uint32_t LumaraScmService::Host::CurrentState() {
    std::lock_guard<std::recursive_mutex> guard(service_.StatusLock());
    return service_.CurrentStateLocked();
}

}  // namespace zelk
