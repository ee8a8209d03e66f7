#include "service/host/host_ports_win32.h"

#include <windows.h>

#include <cstring>

#include "service/host/service_status.h"

namespace zelk {

namespace {

using ChangeServiceConfig2Fn = BOOL(WINAPI*)(SC_HANDLE, DWORD, LPVOID);

ChangeServiceConfig2Fn LookUpAdvapi(const char* name) {
    HMODULE advapi = GetModuleHandleA("ADVAPI32.DLL");
    return advapi == nullptr ? nullptr
                             : reinterpret_cast<ChangeServiceConfig2Fn>(
                                   reinterpret_cast<void*>(GetProcAddress(advapi, name)));
}

// Looked up once while the process initialises; null on systems without them.
const ChangeServiceConfig2Fn g_changeServiceConfig2 = LookUpAdvapi("ChangeServiceConfig2A");
// Triggers take UTF-16 data only, so they go through the wide form.
const ChangeServiceConfig2Fn g_changeServiceConfig2w = LookUpAdvapi("ChangeServiceConfig2W");

// The trigger configuration's layout (winsvc.h of the toolchain here does not have it).
struct TriggerDataItem {
    DWORD type;
    DWORD size;
    BYTE* data;
};
struct TriggerEntry {
    DWORD type;
    DWORD action;
    GUID* subtype;
    DWORD dataCount;
    TriggerDataItem* data;
};
struct TriggerInfo {
    DWORD count;
    TriggerEntry* triggers;
    BYTE* reserved;
};

SC_HANDLE Sc(SystemHandle handle) {
    return static_cast<SC_HANDLE>(handle);
}

class Win32ScmApi final : public ScmApi {
  public:
    SystemHandle OpenManager(std::uint32_t access) override {
        return OpenSCManagerA(nullptr, "ServicesActive", access);
    }
    SystemHandle LockDatabase(SystemHandle manager) override {
        return LockServiceDatabase(Sc(manager));
    }
    void UnlockDatabase(SystemHandle lock) override {
        UnlockServiceDatabase(static_cast<SC_LOCK>(lock));
    }
    void CloseServiceHandle(SystemHandle handle) override { ::CloseServiceHandle(Sc(handle)); }
    SystemHandle OpenServiceByName(SystemHandle manager, const char* name,
                                   std::uint32_t access) override {
        return OpenServiceA(Sc(manager), name, access);
    }
    SystemHandle CreateNewService(SystemHandle manager, const ServiceCreateRequest& r) override {
        return CreateServiceA(Sc(manager), r.serviceName, r.displayName, r.desiredAccess,
                              r.serviceType, r.startType, r.errorControl, r.binaryPath,
                              r.loadOrderGroup, nullptr, r.dependencies, r.accountName, r.password);
    }
    bool SetFailureActions(SystemHandle service, const ServiceFailureActions& actions) override {
        if (g_changeServiceConfig2 == nullptr) {
            ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
            return false;
        }
        SC_ACTION list[8] = {};
        const DWORD count =
            static_cast<DWORD>(actions.actions.size() < 8 ? actions.actions.size() : 8);
        for (DWORD i = 0; i < count; ++i) {
            list[i].Type = static_cast<SC_ACTION_TYPE>(actions.actions[i].type);
            list[i].Delay = actions.actions[i].delayMs;
        }
        SERVICE_FAILURE_ACTIONSA config = {};
        config.dwResetPeriod = actions.resetPeriodSeconds;
        config.lpRebootMsg = nullptr;
        config.lpCommand = nullptr;
        config.cActions = count;
        config.lpsaActions = list;
        return g_changeServiceConfig2(Sc(service), SERVICE_CONFIG_FAILURE_ACTIONS, &config) != 0;
    }
    bool SetDescription(SystemHandle service, const char* description) override {
        if (g_changeServiceConfig2 == nullptr) {
            ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
            return false;
        }
        SERVICE_DESCRIPTIONA config = {};
        config.lpDescription = const_cast<char*>(description);
        return g_changeServiceConfig2(Sc(service), SERVICE_CONFIG_DESCRIPTION, &config) != 0;
    }
    bool SetTriggers(SystemHandle service, const std::vector<ServiceTrigger>& triggers) override {
        if (g_changeServiceConfig2w == nullptr) {
            ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
            return false;
        }
        std::vector<GUID> subtypes(triggers.size());
        std::vector<std::vector<TriggerDataItem>> items(triggers.size());
        std::vector<TriggerEntry> entries(triggers.size());
        for (std::size_t i = 0; i < triggers.size(); ++i) {
            const ServiceTrigger& trigger = triggers[i];
            std::memcpy(&subtypes[i], trigger.subtype.data(), sizeof(GUID));
            for (const ServiceTriggerData& item : trigger.data) {
                items[i].push_back({item.type, static_cast<DWORD>(item.bytes.size()),
                                    const_cast<BYTE*>(item.bytes.data())});
            }
            entries[i] = {trigger.type, trigger.action, &subtypes[i],
                          static_cast<DWORD>(items[i].size()), items[i].data()};
        }
        TriggerInfo info = {static_cast<DWORD>(entries.size()), entries.data(), nullptr};
        return g_changeServiceConfig2w(Sc(service), SERVICE_CONFIG_TRIGGER_INFO, &info) != 0;
    }
    bool SetStatus(SystemHandle statusHandle, const ServiceStatusReport& report) override {
        SERVICE_STATUS status = {};
        status.dwServiceType = report.serviceType;
        status.dwCurrentState = report.currentState;
        status.dwControlsAccepted = report.controlsAccepted;
        status.dwWin32ExitCode = report.win32ExitCode;
        status.dwServiceSpecificExitCode = report.serviceSpecificExitCode;
        status.dwCheckPoint = report.checkPoint;
        status.dwWaitHint = report.waitHint;
        return SetServiceStatus(static_cast<SERVICE_STATUS_HANDLE>(statusHandle), &status) != 0;
    }
    bool QueryState(SystemHandle service, std::uint32_t& state) override {
        SERVICE_STATUS status = {};
        if (!QueryServiceStatus(Sc(service), &status)) return false;
        state = status.dwCurrentState;
        return true;
    }
    bool Control(SystemHandle service, std::uint32_t control) override {
        SERVICE_STATUS status = {};
        return ControlService(Sc(service), control, &status) != 0;
    }
    bool Start(SystemHandle service) override {
        return StartServiceA(Sc(service), 0, nullptr) != 0;
    }
    bool Delete(SystemHandle service) override { return DeleteService(Sc(service)) != 0; }
    std::uint32_t LastError() override { return GetLastError(); }
    void SetLastError(std::uint32_t error) override { ::SetLastError(error); }
    std::uint32_t TickCount() override { return GetTickCount(); }
    void Sleep(std::uint32_t milliseconds) override { ::Sleep(milliseconds); }
};

HKEY Key(SystemHandle handle) {
    return static_cast<HKEY>(handle);
}

// The registry answers with an error code; the host reads failures from the last error.
bool Succeeded(LONG result) {
    if (result == ERROR_SUCCESS) return true;
    ::SetLastError(static_cast<DWORD>(result));
    return false;
}

class Win32RegistryApi final : public RegistryApi {
  public:
    SystemHandle OpenMachineKey(const char* path, std::uint32_t access) override {
        HKEY key = nullptr;
        if (!Succeeded(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, access, &key))) return nullptr;
        return key;
    }
    SystemHandle CreateSubKey(SystemHandle parent, const char* name,
                              std::uint32_t access) override {
        HKEY key = nullptr;
        DWORD disposition = 0;
        if (!Succeeded(RegCreateKeyExA(Key(parent), name, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                       access, nullptr, &key, &disposition))) {
            return nullptr;
        }
        return key;
    }
    bool SetValue(SystemHandle key, const char* name, std::uint32_t type, const void* data,
                  std::uint32_t size) override {
        return Succeeded(
            RegSetValueExA(Key(key), name, 0, type, static_cast<const BYTE*>(data), size));
    }
    bool QueryValue(SystemHandle key, const char* name, std::uint32_t& type,
                    std::vector<char>& data) override {
        // The value may grow between the size query and the read: try again with the new size.
        for (int attempt = 0; attempt < 4; ++attempt) {
            DWORD value_type = 0;
            DWORD size = 0;
            if (!Succeeded(
                    RegQueryValueExA(Key(key), name, nullptr, &value_type, nullptr, &size))) {
                return false;
            }
            data.assign(size, '\0');
            const LONG result = RegQueryValueExA(Key(key), name, nullptr, &value_type,
                                                 reinterpret_cast<BYTE*>(data.data()), &size);
            if (result == ERROR_MORE_DATA) continue;
            if (!Succeeded(result)) return false;
            data.resize(size);
            type = value_type;
            return true;
        }
        ::SetLastError(ERROR_MORE_DATA);
        return false;
    }
    bool DeleteMachineKey(const char* path) override {
        return Succeeded(RegDeleteKeyA(HKEY_LOCAL_MACHINE, path));
    }
    void CloseKey(SystemHandle key) override { RegCloseKey(Key(key)); }
    std::uint32_t LastError() override { return GetLastError(); }
    void SetLastError(std::uint32_t error) override { ::SetLastError(error); }
};

class Win32EventLogApi final : public EventLogApi {
  public:
    SystemHandle RegisterSource(const std::string& server, const std::string& source) override {
        return RegisterEventSourceA(server.empty() ? nullptr : server.c_str(), source.c_str());
    }
    bool Report(SystemHandle source, std::uint16_t type, std::uint16_t category,
                std::uint32_t eventId, const void* userSid, const std::vector<std::string>& strings,
                std::uint32_t dataSize, const void* data) override {
        std::vector<LPCSTR> pointers;
        pointers.reserve(strings.size());
        for (const std::string& text : strings) pointers.push_back(text.c_str());
        return ReportEventA(static_cast<HANDLE>(source), type, category, eventId,
                            const_cast<PSID>(userSid), static_cast<WORD>(pointers.size()), dataSize,
                            pointers.empty() ? nullptr : pointers.data(),
                            const_cast<void*>(data)) != 0;
    }
    void DeregisterSource(SystemHandle source) override {
        DeregisterEventSource(static_cast<HANDLE>(source));
    }
};

}  // namespace

ScmApi& SystemScmApi() {
    static Win32ScmApi api;
    return api;
}

RegistryApi& SystemRegistryApi() {
    static Win32RegistryApi api;
    return api;
}

EventLogApi& SystemEventLogApi() {
    static Win32EventLogApi api;
    return api;
}

std::string SystemModulePath() {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return std::string();
        // A full buffer means the path was cut: try again with more room.
        if (length < buffer.size() || buffer.size() >= 32768) {
            return std::string(buffer.data(), length);
        }
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace zelk
