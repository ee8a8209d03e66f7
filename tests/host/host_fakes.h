// Test doubles of the service host's system interfaces: an SCM with scripted state changes and
// failures on virtual time, a case-insensitive registry and an event log that records every
// call. One object plays all three so that they share one "last error", as on a real thread.
#pragma once

#include <cctype>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "service/host/host_ports.h"
#include "service/host/service_status.h"

namespace zelk::test {

inline std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

struct FakeEvent {
    std::string source;
    std::uint16_t type;
    std::uint32_t id;
    std::vector<std::string> strings;
};

struct FakeService {
    ServiceCreateRequest request;  // its pointers are valid only during the call
    std::string binaryPath, dependencies;
    std::optional<ServiceFailureActions> failure_actions;
    std::optional<std::vector<ServiceTrigger>> triggers;
    bool deleted = false;
    std::uint32_t state = 1;
    // A requested state arrives this many ms of virtual time after the request.
    std::uint32_t transition_ms = 0, pending_state = 0, pending_at = 0;
};

class FakeSystem : public ScmApi, public RegistryApi, public EventLogApi {
  public:
    // Scripted failures: the error code the call fails with, 0 for success.
    std::uint32_t fail_open_manager = 0, fail_lock = 0, fail_create = 0, fail_open_service = 0,
                  fail_query = 0, fail_control = 0, fail_start = 0, fail_delete = 0,
                  fail_failure_actions = 0, fail_register_source = 0, fail_delete_key = 0,
                  fail_triggers = 0;
    std::set<std::string> fail_set_value;  // value names whose writes fail

    std::map<std::string, FakeService> services;
    std::vector<std::uint32_t> controls_sent, sleeps;
    std::uint32_t last_manager_access = 0, last_service_access = 0;
    int open_handles = 0;  // keys, event sources and the database lock included
    std::vector<FakeEvent> events;
    std::uint32_t now = 0;  // virtual time

    // Registry: key path -> value name (both lower case) -> (type, bytes).
    struct Value {
        std::uint32_t type;
        std::string data;
    };
    std::map<std::string, std::map<std::string, Value>> keys;

    void AddKey(const std::string& path) { keys[Lower(path)]; }
    bool HasKey(const std::string& path) const { return keys.count(Lower(path)) != 0; }
    const Value* FindValue(const std::string& path, const std::string& name) const {
        auto key = keys.find(Lower(path));
        if (key == keys.end()) return nullptr;
        auto value = key->second.find(Lower(name));
        return value == key->second.end() ? nullptr : &value->second;
    }
    void PutMultiSz(const std::string& path, const std::string& name, const std::string& bytes) {
        keys[Lower(path)][Lower(name)] = {kRegMultiSz, bytes};
    }

    // ScmApi
    SystemHandle OpenManager(std::uint32_t access) override {
        last_manager_access = access;
        return fail_open_manager != 0 ? Fail(fail_open_manager) : NewHandle("<scm>");
    }
    SystemHandle LockDatabase(SystemHandle) override {
        return fail_lock != 0 ? Fail(fail_lock) : NewHandle("<lock>");
    }
    void UnlockDatabase(SystemHandle lock) override { CloseServiceHandle(lock); }
    void CloseServiceHandle(SystemHandle handle) override {
        handles_.erase(handle);
        --open_handles;
    }
    SystemHandle OpenServiceByName(SystemHandle, const char* name, std::uint32_t access) override {
        last_service_access = access;
        if (fail_open_service != 0) return Fail(fail_open_service);
        auto it = services.find(name);
        if (it == services.end() || it->second.deleted) return Fail(1060);
        return NewHandle(name);
    }
    SystemHandle CreateNewService(SystemHandle, const ServiceCreateRequest& r) override {
        if (fail_create != 0) return Fail(fail_create);
        if (services.count(r.serviceName) != 0) return Fail(1073);
        FakeService& service = services[r.serviceName];
        service.request = r;
        service.binaryPath = r.binaryPath;
        const char* end = r.dependencies;
        while (*end != '\0') end += std::strlen(end) + 1;
        service.dependencies.assign(r.dependencies, end + 2);
        return NewHandle(r.serviceName);
    }
    bool SetFailureActions(SystemHandle handle, const ServiceFailureActions& actions) override {
        if (fail_failure_actions != 0) return FailBool(fail_failure_actions);
        Service(handle).failure_actions = actions;
        return true;
    }
    bool SetDescription(SystemHandle, const char*) override { return true; }
    bool SetTriggers(SystemHandle handle, const std::vector<ServiceTrigger>& triggers) override {
        if (fail_triggers != 0) return FailBool(fail_triggers);
        Service(handle).triggers = triggers;
        return true;
    }
    bool QueryState(SystemHandle handle, std::uint32_t& state) override {
        if (fail_query != 0) return FailBool(fail_query);
        FakeService& service = Service(handle);
        if (service.pending_state != 0 && now - service.pending_at >= service.transition_ms) {
            service.state = service.pending_state;
            service.pending_state = 0;
        }
        state = service.state;
        return true;
    }
    bool Control(SystemHandle handle, std::uint32_t control) override {
        controls_sent.push_back(control);
        if (control == 1) Request(Service(handle), 1);  // a stop may happen though the call fails
        return fail_control != 0 ? FailBool(fail_control) : true;
    }
    bool Start(SystemHandle handle) override {
        if (fail_start != 0) return FailBool(fail_start);
        Request(Service(handle), 4);
        return true;
    }
    bool Delete(SystemHandle handle) override {
        if (fail_delete != 0) return FailBool(fail_delete);
        Service(handle).deleted = true;
        return true;
    }
    bool SetStatus(SystemHandle, const ServiceStatusReport& report) override {
        std::lock_guard<std::mutex> guard(*status_lock_);  // sent from more than one thread
        status_sent_.push_back(report);
        return true;
    }
    std::vector<ServiceStatusReport> StatusSent() {
        std::lock_guard<std::mutex> guard(*status_lock_);
        return status_sent_;
    }
    std::uint32_t LastError() override { return last_error_; }
    void SetLastError(std::uint32_t error) override { last_error_ = error; }
    std::uint32_t TickCount() override { return now; }
    void Sleep(std::uint32_t milliseconds) override {
        sleeps.push_back(milliseconds);
        now += milliseconds;
    }

    // RegistryApi
    SystemHandle OpenMachineKey(const char* path, std::uint32_t) override {
        return HasKey(path) ? NewHandle(Lower(path)) : Fail(2);
    }
    SystemHandle CreateSubKey(SystemHandle parent, const char* name, std::uint32_t) override {
        const std::string path = handles_.at(parent) + "\\" + Lower(name);
        AddKey(path);
        return NewHandle(path);
    }
    bool SetValue(SystemHandle key, const char* name, std::uint32_t type, const void* data,
                  std::uint32_t size) override {
        if (fail_set_value.count(name) != 0) return FailBool(5);
        keys[handles_.at(key)][Lower(name)] = {type,
                                               std::string(static_cast<const char*>(data), size)};
        return true;
    }
    bool QueryValue(SystemHandle key, const char* name, std::uint32_t& type,
                    std::vector<char>& data) override {
        const Value* value = FindValue(handles_.at(key), name);
        if (value == nullptr) return FailBool(2);
        type = value->type;
        data.assign(value->data.begin(), value->data.end());
        return true;
    }
    bool DeleteMachineKey(const char* path) override {
        if (fail_delete_key != 0) return FailBool(fail_delete_key);
        return keys.erase(Lower(path)) != 0 || FailBool(2);
    }
    void CloseKey(SystemHandle key) override { CloseServiceHandle(key); }

    // EventLogApi
    SystemHandle RegisterSource(const std::string&, const std::string& source) override {
        return fail_register_source != 0 ? Fail(fail_register_source) : NewHandle(source);
    }
    bool Report(SystemHandle source, std::uint16_t type, std::uint16_t, std::uint32_t eventId,
                const void*, const std::vector<std::string>& strings, std::uint32_t,
                const void*) override {
        events.push_back({handles_.at(source), type, eventId, strings});
        last_error_ = 0;  // writing an event touches the last error, as the real calls may
        return true;
    }
    void DeregisterSource(SystemHandle handle) override { CloseServiceHandle(handle); }

  private:
    SystemHandle NewHandle(const std::string& name) {
        SystemHandle handle = reinterpret_cast<SystemHandle>(++handle_count_);
        handles_[handle] = name;
        ++open_handles;
        return handle;
    }
    SystemHandle Fail(std::uint32_t error) {
        last_error_ = error;
        return nullptr;
    }
    bool FailBool(std::uint32_t error) {
        last_error_ = error;
        return false;
    }
    FakeService& Service(SystemHandle handle) { return services.at(handles_.at(handle)); }
    void Request(FakeService& service, std::uint32_t state) {
        service.pending_state = state;
        service.pending_at = now;
    }

    std::shared_ptr<std::mutex> status_lock_ = std::make_shared<std::mutex>();  // assignable
    std::vector<ServiceStatusReport> status_sent_;
    std::uint32_t last_error_ = 0;
    std::uintptr_t handle_count_ = 0;
    std::map<SystemHandle, std::string> handles_;
};

}  // namespace zelk::test
