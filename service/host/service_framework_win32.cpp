#include "service/host/service_framework.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "common/win_handles_win32.h"
#include "service/core/panel_texts.h"
#include "service/host/error_text.h"
#include "service/host/host_ports_win32.h"
#include "service/host/multi_sz.h"
#include "service/host/service_dispatch.h"

namespace zelk {

namespace {

using RegisterHandlerExFn = SERVICE_STATUS_HANDLE(WINAPI*)(LPCSTR, LPHANDLER_FUNCTION_EX, LPVOID);

// Looked up once while the process initialises; null on systems without the extended handler.
const RegisterHandlerExFn g_registerHandlerEx = [] {
    HMODULE advapi = GetModuleHandleA("ADVAPI32.DLL");
    return advapi == nullptr ? nullptr
                             : reinterpret_cast<RegisterHandlerExFn>(reinterpret_cast<void*>(
                                   GetProcAddress(advapi, "RegisterServiceCtrlHandlerExA")));
}();

ServiceFramework* g_currentService = nullptr;

constexpr char kServicesKey[] = "SYSTEM\\CurrentControlSet\\Services";
constexpr char kParametersKey[] = "Parameters";
constexpr std::size_t kServiceNameBuffer = 256;
constexpr std::size_t kStringBuffer = 256;
constexpr std::size_t kSystemTextBuffer = 512;

void WINAPI StaticServiceMain(DWORD argc, LPSTR* argv) {
    if (ServiceFramework* service = ServiceFramework::Current()) service->ServiceMain(argc, argv);
}

void WINAPI StaticHandler(DWORD control) {
    if (ServiceFramework* service = ServiceFramework::Current()) {
        service->HandleControl(control, 0, nullptr);
    }
}

DWORD WINAPI StaticHandlerEx(DWORD control, DWORD eventType, LPVOID eventData, LPVOID) {
    ServiceFramework* service = ServiceFramework::Current();
    return service != nullptr ? service->HandleControl(control, eventType, eventData)
                              : ERROR_CALL_NOT_IMPLEMENTED;
}

std::string ServiceString(std::uint32_t id) {
    char buffer[kStringBuffer];
    LoadServiceString(static_cast<int>(id), buffer, sizeof(buffer));
    return buffer;
}

std::string SystemErrorText(std::uint32_t error) {
    char buffer[kSystemTextBuffer];
    // A system text may hold inserts of its own ("%1 is not a valid ..."): taken as it stands.
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                       0, buffer, static_cast<DWORD>(sizeof(buffer)), nullptr);
    return length == 0 ? std::string() : std::string(buffer, length);
}

HKEY AsKey(SettingsKey key) {
    return static_cast<HKEY>(key);
}

}  // namespace

ServiceFramework::ServiceFramework(const char* serviceName, const char* displayName,
                                   std::uint32_t controlsAccepted, const char* description)
    : status_(SystemScmApi(), controlsAccepted),
      serviceName_(serviceName != nullptr ? serviceName : ""),
      displayName_(displayName != nullptr ? displayName : ""),
      description_(description != nullptr ? description : ""),
      eventLog_(SystemEventLogApi(), SystemRegistryApi(), std::string(), displayName_) {
    std::lock_guard<std::recursive_mutex> guard(status_.Lock());
    g_currentService = this;
}

ServiceFramework::~ServiceFramework() {
    std::lock_guard<std::recursive_mutex> guard(status_.Lock());
    if (g_currentService == this) g_currentService = nullptr;
}

ServiceFramework* ServiceFramework::Current() {
    return g_currentService;
}

// ---- Settings -------------------------------------------------------------------------------

SettingsKey ServiceFramework::GetParametersKey(bool readOnly) {
    UniqueRegistryKey services;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServicesKey, 0,
                      readOnly ? KEY_READ : (KEY_READ | KEY_WRITE),
                      services.Receive()) != ERROR_SUCCESS) {
        return nullptr;
    }
    UniqueRegistryKey service;
    UniqueRegistryKey parameters;
    if (RegCreateKeyExA(services.Get(), serviceName_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_READ | KEY_WRITE, nullptr, service.Receive(),
                        nullptr) == ERROR_SUCCESS) {
        if (RegCreateKeyExA(service.Get(), kParametersKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_READ | KEY_WRITE, nullptr, parameters.Receive(),
                            nullptr) != ERROR_SUCCESS) {
            parameters.Release();  // not opened: nothing to close
        }
    }
    return parameters.Release();  // the caller's to close
}

SettingsKey ServiceFramework::GetSettingsSectionKey(const char* section, bool readOnly) {
    if (section == nullptr) return nullptr;
    const UniqueRegistryKey parameters(AsKey(GetParametersKey(readOnly)));
    if (!parameters) return nullptr;
    UniqueRegistryKey key;
    if (RegCreateKeyExA(parameters.Get(), section, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        readOnly ? KEY_READ : (KEY_READ | KEY_WRITE), nullptr, key.Receive(),
                        nullptr) != ERROR_SUCCESS) {
        key.Release();  // not opened: nothing to close
    }
    return key.Release();  // the caller's to close
}

bool ServiceFramework::WriteSettingString(const char* section, const char* name,
                                          const char* value) {
    if (name == nullptr) {
        // No name: the whole section goes.
        const UniqueRegistryKey parameters(AsKey(GetParametersKey(false)));
        if (!parameters || section == nullptr) return false;
        return RegDeleteKeyA(parameters.Get(), section) == ERROR_SUCCESS;
    }
    const UniqueRegistryKey key(AsKey(GetSettingsSectionKey(section, false)));
    if (!key) return false;
    LONG result;
    if (value == nullptr) {
        result = RegDeleteValueA(key.Get(), name);
    } else {
        result = RegSetValueExA(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                                static_cast<DWORD>(std::strlen(value) + 1));
    }
    return result == ERROR_SUCCESS;
}

bool ServiceFramework::WriteSettingInt(const char* section, const char* name, std::uint32_t value) {
    const UniqueRegistryKey key(AsKey(GetSettingsSectionKey(section, false)));
    if (!key) return false;
    const DWORD data = value;
    return RegSetValueExA(key.Get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                          sizeof(data)) == ERROR_SUCCESS;
}

bool ServiceFramework::WriteSettingStringArray(const char* section, const char* name,
                                               const std::vector<std::string>& array) {
    const UniqueRegistryKey key(AsKey(GetSettingsSectionKey(section, false)));
    if (!key) return false;
    const std::string bytes = BuildMultiSz(array);
    return RegSetValueExA(key.Get(), name, 0, REG_MULTI_SZ,
                          reinterpret_cast<const BYTE*>(bytes.data()),
                          static_cast<DWORD>(bytes.size())) == ERROR_SUCCESS;
}

bool ServiceFramework::WriteSettingBinary(const char* section, const char* name, const void* data,
                                          std::uint32_t size) {
    const UniqueRegistryKey key(AsKey(GetSettingsSectionKey(section, false)));
    if (!key) return false;
    return RegSetValueExA(key.Get(), name, 0, REG_BINARY, static_cast<const BYTE*>(data), size) ==
           ERROR_SUCCESS;
}

namespace {

// Reads one value of a settings section; false when the section or value cannot be read.
bool ReadSetting(ServiceFramework& service, const char* section, const char* name,
                 std::uint32_t& type, std::vector<char>& data) {
    const UniqueRegistryKey key(AsKey(service.GetSettingsSectionKey(section, true)));
    if (!key) return false;
    return SystemRegistryApi().QueryValue(key.Get(), name, type, data);
}

}  // namespace

std::string ServiceFramework::GetSettingString(const char* section, const char* name,
                                               const char* defaultValue) {
    std::uint32_t type = 0;
    std::vector<char> data;
    if (!ReadSetting(*this, section, name, type, data) ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return defaultValue != nullptr ? defaultValue : "";
    }
    // A value stored without its NUL still ends at its size.
    const void* nul = std::memchr(data.data(), '\0', data.size());
    const std::size_t length =
        nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - data.data())
                       : data.size();
    return std::string(data.data(), length);
}

std::uint32_t ServiceFramework::GetSettingInt(const char* section, const char* name,
                                              std::uint32_t defaultValue) {
    std::uint32_t type = 0;
    std::vector<char> data;
    if (!ReadSetting(*this, section, name, type, data) || type != REG_DWORD ||
        data.size() != sizeof(DWORD)) {
        return defaultValue;
    }
    DWORD value = 0;
    std::memcpy(&value, data.data(), sizeof(value));
    return value;
}

bool ServiceFramework::GetSettingStringArray(const char* section, const char* name,
                                             std::vector<std::string>& array) {
    array.clear();
    std::uint32_t type = 0;
    std::vector<char> data;
    if (!ReadSetting(*this, section, name, type, data) || type != REG_MULTI_SZ) return false;
    array = ParseMultiSz(data.data(), data.size());
    return true;
}

bool ServiceFramework::GetSettingBinary(const char* section, const char* name,
                                        std::unique_ptr<std::uint8_t[]>& data,
                                        std::uint32_t& size) {
    data.reset();
    size = 0;
    std::uint32_t type = 0;
    std::vector<char> bytes;
    if (!ReadSetting(*this, section, name, type, bytes)) return false;
    data = std::make_unique<std::uint8_t[]>(bytes.size());
    if (!bytes.empty()) std::memcpy(data.get(), bytes.data(), bytes.size());
    size = static_cast<std::uint32_t>(bytes.size());
    return true;
}

// ---- Command line and commands --------------------------------------------------------------

void ServiceFramework::ParseArguments(ServiceCommandLine& commandLine) {
    zelk::ParseArguments(commandLine, __argc, __argv);
}

std::uint32_t ServiceFramework::ExecuteCommand(ServiceCommandLine& commandLine) {
    return ExecuteServiceCommand(*this, commandLine);
}

std::uint32_t ServiceFramework::LastError() const {
    return GetLastError();
}

void ServiceFramework::ShowFailureText(const std::string& text) {
    ShowMessage(text);
}

void ServiceFramework::ShowMessage(const std::string& text) {
    MessageBoxA(nullptr, text.c_str(), displayName_.c_str(), MB_OK);
}

ServiceCommandContext ServiceFramework::CommandContext() {
    return ServiceCommandContext{
        SystemScmApi(), eventLog_,
        [this](std::uint32_t messageId, std::uint32_t error, bool forEventLog) {
            return FormatError(messageId, error, forEventLog);
        }};
}

ServiceInstallSettings ServiceFramework::InstallSettings() const {
    ServiceInstallSettings settings;
    settings.serviceName = serviceName_;
    settings.displayName = displayName_;
    settings.serviceType = serviceType_;
    settings.startType = startType_;
    settings.errorControl = errorControl_;
    settings.loadOrderGroup = loadOrderGroup_;
    settings.accountName = accountName_;
    settings.password = password_;
    settings.dependencies = dependencies_;
    settings.description = description_;
    settings.eventMessageFile = eventMessageFile_;
    return settings;
}

bool ServiceFramework::SetServiceToStatus(int request) {
    ServiceCommandContext context = CommandContext();
    return zelk::SetServiceToStatus(context, serviceName_, request);
}

bool ServiceFramework::Install(std::string& message, std::uint32_t& error) {
    ServiceCommandContext context = CommandContext();
    ServiceInstallSettings settings = InstallSettings();
    const bool installed = InstallService(context, settings, SystemModulePath(), message, error);
    eventMessageFile_ = settings.eventMessageFile;
    return installed;
}

bool ServiceFramework::Uninstall(std::string& message, std::uint32_t& error,
                                 std::uint32_t timeout) {
    ServiceCommandContext context = CommandContext();
    return UninstallService(context, InstallSettings(), message, error, timeout);
}

std::vector<char> ServiceFramework::GetDependencies() {
    return BuildDependencies(dependencies_);
}

std::string ServiceFramework::FormatError(std::uint32_t messageId, std::uint32_t error,
                                          bool forEventLog) {
    return ComposeErrorText(ServiceString(kMsgErrorPair), ServiceString(messageId), error,
                            SystemErrorText(error), forEventLog);
}

void ServiceFramework::ShowHelp() {}

void ServiceFramework::Debug() {
    const std::vector<std::string> arguments = DebugRunArguments(__argc, __argv);
    std::vector<char*> vector;
    vector.reserve(arguments.size() + 1);
    for (const std::string& argument : arguments)
        vector.push_back(const_cast<char*>(argument.c_str()));
    vector.push_back(nullptr);
    try {
        Run(static_cast<std::uint32_t>(arguments.size()), vector.data());
    } catch (const CNTServiceTerminateException& e) {
        throw CNTServiceTerminateException(e.Win32ExitCode(), e.ServiceExitCode());
    }
}

// ---- The SCM connection ---------------------------------------------------------------------

bool ServiceFramework::RunAsService() {
    char name[kServiceNameBuffer];
    if (serviceName_.size() >= sizeof(name)) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    std::memcpy(name, serviceName_.c_str(), serviceName_.size() + 1);
    SERVICE_TABLE_ENTRYA table[] = {{name, StaticServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherA(table) != 0;
}

void ServiceFramework::ServiceMain(std::uint32_t argc, char** argv) {
    RegisterControlHandler();
    std::uint32_t win32ExitCode = 0;
    std::uint32_t serviceExitCode = 0;
    try {
        Run(argc, argv);
    } catch (const CNTServiceTerminateException& e) {
        win32ExitCode = e.Win32ExitCode();
        serviceExitCode = e.ServiceExitCode();
    } catch (...) {
        // Anything else escaping the service still ends it as stopped, with a cause.
        win32ExitCode = ERROR_EXCEPTION_IN_SERVICE;
    }
    ReportFullStatus(kServiceStopped, 0, 0, 0, win32ExitCode, serviceExitCode);
}

bool ServiceFramework::RegisterControlHandler() {
    SERVICE_STATUS_HANDLE handle;
    if (g_registerHandlerEx != nullptr) {
        handle = g_registerHandlerEx(serviceName_.c_str(), StaticHandlerEx, nullptr);
    } else {
        handle = RegisterServiceCtrlHandlerA(serviceName_.c_str(), StaticHandler);
    }
    status_.SetHandle(handle);
    return handle != nullptr;
}

std::uint32_t ServiceFramework::HandleControl(std::uint32_t control, std::uint32_t eventType,
                                              void* eventData) {
    return DispatchServiceControl(*this, refusedControl_, control, eventType, eventData);
}

bool ServiceFramework::ReportFullStatus(std::uint32_t state, std::uint32_t checkPoint,
                                        std::uint32_t waitHint, std::uint32_t controlsAccepted,
                                        std::uint32_t win32ExitCode,
                                        std::uint32_t serviceExitCode) {
    return status_.Report(state, checkPoint, waitHint, controlsAccepted, win32ExitCode,
                          serviceExitCode);
}

bool ServiceFramework::ReportStatus(std::uint32_t state, std::uint32_t checkPoint,
                                    std::uint32_t waitHint, std::uint32_t controlsAccepted) {
    return ReportFullStatus(state, checkPoint, waitHint, controlsAccepted, 0, 0);
}

bool ServiceFramework::ReportCurrentStatus() {
    // The state is read and reported under one hold of the lock, so that a stop reported
    // meanwhile on the service thread is never followed by the state from before it.
    std::lock_guard<std::recursive_mutex> guard(status_.Lock());
    return ReportStatus(status_.Record().currentState, kKeepStatusValue, kKeepStatusValue,
                        kKeepStatusValue);
}

// ---- Default handlers -----------------------------------------------------------------------

void ServiceFramework::Run(std::uint32_t, char**) {}

void ServiceFramework::OnStop() {
    eventLog_.LogEvent(kEventTypeInformation, kEventIdServiceStopped, displayName_.c_str());
}

void ServiceFramework::OnPause() {
    eventLog_.LogEvent(kEventTypeInformation, kEventIdServicePaused, displayName_.c_str());
}

void ServiceFramework::OnContinue() {
    eventLog_.LogEvent(kEventTypeInformation, kEventIdServiceContinued, displayName_.c_str());
}

void ServiceFramework::OnInterrogate() {
    ReportCurrentStatus();
}

void ServiceFramework::OnShutdown() {}
void ServiceFramework::OnParamChange() {}

std::uint32_t ServiceFramework::OnHardwareProfileChange(std::uint32_t, void*) {
    return 0;
}

std::uint32_t ServiceFramework::OnPowerEvent(std::uint32_t, void*) {
    return 0;
}

void ServiceFramework::OnNetBindAdd() {}
void ServiceFramework::OnNetBindRemove() {}
void ServiceFramework::OnNetBindEnable() {}
void ServiceFramework::OnNetBindDisable() {}

std::uint32_t ServiceFramework::OnDeviceEvent(std::uint32_t, void*) {
    return 0;
}

std::uint32_t ServiceFramework::OnSessionChange(std::uint32_t, void*) {
    return 0;
}

void ServiceFramework::OnUserDefinedRequest(std::uint32_t) {}

}  // namespace zelk
