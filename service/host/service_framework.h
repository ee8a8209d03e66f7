// The service framework: the connection to the service control manager, the dispatch of its
// controls, the status reports, the command-line commands, the debug run, the failure texts and
// the settings store under the service's registry key. A program's service derives from it and
// overrides what it needs; one object exists per process. Built for Windows only; the header
// itself needs no OS header.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "service/host/command_line.h"
#include "service/host/event_log_source.h"
#include "service/host/scm_commands.h"
#include "service/host/service_status.h"

namespace zelk {

// An open registry key of the settings store (an HKEY); the caller closes it.
using SettingsKey = void*;
// A service status handle as the control handler registration returns it.
using ServiceStatusHandle = void*;

class ServiceFramework {
  public:
    // `description` may be null (no description).
    ServiceFramework(const char* serviceName, const char* displayName,
                     std::uint32_t controlsAccepted, const char* description);
    ServiceFramework(const ServiceFramework&) = delete;
    ServiceFramework& operator=(const ServiceFramework&) = delete;

    virtual ~ServiceFramework();

    // The settings store under "SYSTEM\CurrentControlSet\Services\<name>\Parameters\<section>".
    virtual bool WriteSettingString(const char* section, const char* name, const char* value);
    virtual bool WriteSettingInt(const char* section, const char* name, std::uint32_t value);
    virtual bool WriteSettingStringArray(const char* section, const char* name,
                                         const std::vector<std::string>& array);
    virtual bool WriteSettingBinary(const char* section, const char* name, const void* data,
                                    std::uint32_t size);
    virtual std::string GetSettingString(const char* section, const char* name,
                                         const char* defaultValue);
    virtual std::uint32_t GetSettingInt(const char* section, const char* name,
                                        std::uint32_t defaultValue);
    virtual bool GetSettingStringArray(const char* section, const char* name,
                                       std::vector<std::string>& array);
    virtual bool GetSettingBinary(const char* section, const char* name,
                                  std::unique_ptr<std::uint8_t[]>& data, std::uint32_t& size);

    // The process's command line into `commandLine`, then the command it names.
    virtual void ParseArguments(ServiceCommandLine& commandLine);
    virtual std::uint32_t ExecuteCommand(ServiceCommandLine& commandLine);

    virtual bool ReportStatus(std::uint32_t state, std::uint32_t checkPoint, std::uint32_t waitHint,
                              std::uint32_t controlsAccepted);
    virtual bool ReportCurrentStatus();
    virtual bool RegisterControlHandler();
    virtual std::uint32_t HandleControl(std::uint32_t control, std::uint32_t eventType,
                                        void* eventData);

    // The service's work, on the SCM's service thread; the service stops when it returns.
    virtual void Run(std::uint32_t argc, char** argv);
    virtual void OnStop();
    virtual void OnPause();
    virtual void OnContinue();
    virtual void OnInterrogate();
    virtual void OnShutdown();
    virtual void OnParamChange();
    virtual std::uint32_t OnHardwareProfileChange(std::uint32_t eventType, void* eventData);
    virtual std::uint32_t OnPowerEvent(std::uint32_t eventType, void* eventData);
    virtual void OnNetBindAdd();
    virtual void OnNetBindRemove();
    virtual void OnNetBindEnable();
    virtual void OnNetBindDisable();
    virtual std::uint32_t OnDeviceEvent(std::uint32_t eventType, void* eventData);
    virtual std::uint32_t OnSessionChange(std::uint32_t eventType, void* eventData);
    virtual void OnUserDefinedRequest(std::uint32_t control);

    // Connects to the SCM; returns when the service has stopped. False at once (with the
    // system's error) when the process was not started by the SCM.
    virtual bool RunAsService();
    virtual bool SetServiceToStatus(int request);
    virtual bool Install(std::string& message, std::uint32_t& error);
    virtual bool Uninstall(std::string& message, std::uint32_t& error, std::uint32_t timeout);
    // Runs the service on the calling thread without the SCM.
    virtual void Debug();
    virtual void ShowHelp();
    virtual void ServiceMain(std::uint32_t argc, char** argv);
    virtual std::string FormatError(std::uint32_t messageId, std::uint32_t error, bool forEventLog);
    virtual SettingsKey GetSettingsSectionKey(const char* section, bool readOnly);
    virtual SettingsKey GetParametersKey(bool readOnly);
    virtual bool ReportFullStatus(std::uint32_t state, std::uint32_t checkPoint,
                                  std::uint32_t waitHint, std::uint32_t controlsAccepted,
                                  std::uint32_t win32ExitCode, std::uint32_t serviceExitCode);
    virtual std::vector<char> GetDependencies();

    // The one service object of the process (null before it is built and after it is gone).
    static ServiceFramework* Current();

    // What the command dispatch uses besides the operations above.
    std::uint32_t LastError() const;
    // A command's failure text, in a message box with an OK button.
    void ShowFailureText(const std::string& text);

    // The status lock and the state it guards, for the service's control handlers. The two
    // state accessors require the caller to hold StatusLock().
    std::recursive_mutex& StatusLock() { return status_.Lock(); }
    std::uint32_t CurrentStateLocked() { return status_.Record().currentState; }
    void SetCurrentStateLocked(std::uint32_t state) { status_.Record().currentState = state; }

    EventLogSource& EventLog() { return eventLog_; }
    const std::string& ServiceName() const { return serviceName_; }
    const std::string& DisplayName() const { return displayName_; }

  protected:
    // Shows `text` in a message box titled with the display name.
    void ShowMessage(const std::string& text);

    std::uint32_t serviceType_ = kServiceWin32OwnProcess;
    std::uint32_t startType_ = 3;     // demand start
    std::uint32_t errorControl_ = 0;  // errors ignored
    std::string loadOrderGroup_;
    std::string accountName_;
    std::string password_;
    std::string eventMessageFile_;
    std::vector<std::string> dependencies_;
    // The stored status and the status handle; its lock also guards the process's
    // current-service pointer.
    ServiceStatusReporter status_;
    std::uint32_t refusedControl_ = 0;  // the SCM's dispatcher thread only; no lock
    std::string serviceName_;
    std::string displayName_;
    std::string description_;
    EventLogSource eventLog_;

  private:
    ServiceCommandContext CommandContext();
    ServiceInstallSettings InstallSettings() const;
};

}  // namespace zelk
