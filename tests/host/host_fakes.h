// Test doubles of the service host's system interfaces: an SCM with scripted state changes and
// failures on virtual time, a case-insensitive registry and an event log that records every
// call. One object plays all three so that they share one "last error", as on a real thread.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "service/host/host_ports.h"

namespace zelk::testing {

inline std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

struct FakeEvent {
    std::uint16_t type;
    std::uint32_t id;
    std::vector<std::string> strings;
};

struct FakeService {
    ServiceCreateRequest request;  // pointers valid only during the call; copied below
    std::string binary_path;
    std::string display_name;
    std::vector<char> dependencies;
    bool load_order_group_null = true;
    bool account_null = true;
    bool password_null = true;
    std::uint32_t state = 1;
    std::optional<ServiceFailureActions> failure_actions;
    std::string description;
    bool deleted = false;
    // A requested state arrives this many ms of virtual time after the request.
    std::uint32_t transition_ms = 0;
    std::uint32_t pending_state = 0;
    std::uint32_t pending_at = 0;
};

class FakeSystem : public ScmApi, public RegistryApi, public EventLogApi {
  public:
    // ---- scripted failures: 0 means the call succeeds
    std::uint32_t fail_open_manager = 0;
    std::uint32_t fail_lock = 0;
    std::uint32_t fail_create = 0;
    std::uint32_t fail_open_service = 0;
    std::uint32_t fail_query = 0;
    std::uint32_t fail_control = 0;
    std::uint32_t fail_start = 0;
    std::uint32_t fail_delete = 0;
    std::uint32_t fail_failure_actions = 0;
    std::uint32_t fail_register_source = 0;
    std::uint32_t fail_delete_key = 0;
    std::set<std::string> fail_set_value;  // value names whose writes fail

    // ---- what happened
    std::map<std::string, FakeService> services;
    std::vector<std::uint32_t> controls_sent;
    int start_calls = 0;
    int open_manager_calls = 0;
    std::uint32_t last_manager_access = 0;
    std::uint32_t last_service_access = 0;
    int open_handles = 0;
    int held_locks = 0;
    std::vector<std::uint32_t> sleeps;
    std::vector<FakeEvent> events;
    int registered_sources = 0;
    std::vector<std::string> registered_names;

    // ---- virtual time
    std::uint32_t now = 0;

    // ---- registry: key path (lower case) -> value name (lower case) -> (type, bytes)
    struct Value {
        std::uint32_t type;
        std::vector<char> data;
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
        keys[Lower(path)][Lower(name)] = {kRegMultiSz,
                                          std::vector<char>(bytes.begin(), bytes.end())};
    }

    // ---- ScmApi
    SystemHandle OpenManager(std::uint32_t access) override {
        ++open_manager_calls;
        last_manager_access = access;
        if (fail_open_manager != 0) return Fail(fail_open_manager);
        return NewHandle("<scm>");
    }
    SystemHandle LockDatabase(SystemHandle) override {
        if (fail_lock != 0) return Fail(fail_lock);
        ++held_locks;
        return &lock_token_;
    }
    void UnlockDatabase(SystemHandle) override { --held_locks; }
    void CloseServiceHandle(SystemHandle handle) override {
        handles_.erase(static_cast<int*>(handle));
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
        if (services.count(r.service_name) != 0) return Fail(1073);
        FakeService& service = services[r.service_name];
        service.request = r;
        service.binary_path = r.binary_path;
        service.display_name = r.display_name;
        const char* p = r.dependencies;
        while (*p != '\0') p += std::strlen(p) + 1;
        service.dependencies.assign(r.dependencies, p + 2);
        service.load_order_group_null = r.load_order_group == nullptr;
        service.account_null = r.account_name == nullptr;
        service.password_null = r.password == nullptr;
        return NewHandle(r.service_name);
    }
    bool SetFailureActions(SystemHandle handle, const ServiceFailureActions& actions) override {
        if (fail_failure_actions != 0) return FailBool(fail_failure_actions);
        Service(handle).failure_actions = actions;
        return true;
    }
    bool SetDescription(SystemHandle handle, const char* description) override {
        Service(handle).description = description;
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
        FakeService& service = Service(handle);
        if (control == 1) Request(service, 1);  // a stop may still happen when the call fails
        if (fail_control != 0) return FailBool(fail_control);
        return true;
    }
    bool Start(SystemHandle handle) override {
        ++start_calls;
        if (fail_start != 0) return FailBool(fail_start);
        Request(Service(handle), 4);
        return true;
    }
    bool Delete(SystemHandle handle) override {
        if (fail_delete != 0) return FailBool(fail_delete);
        Service(handle).deleted = true;
        return true;
    }
    std::uint32_t LastError() override { return last_error_; }
    void SetLastError(std::uint32_t error) override { last_error_ = error; }
    std::uint32_t TickCount() override { return now; }
    void Sleep(std::uint32_t milliseconds) override {
        sleeps.push_back(milliseconds);
        now += milliseconds;
    }

    // ---- RegistryApi
    SystemHandle OpenMachineKey(const char* path, std::uint32_t) override {
        if (!HasKey(path)) return Fail(2);
        return NewHandle(Lower(path));
    }
    SystemHandle CreateSubKey(SystemHandle parent, const char* name, std::uint32_t) override {
        const std::string path = handles_.at(static_cast<int*>(parent)) + "\\" + Lower(name);
        AddKey(path);
        return NewHandle(path);
    }
    bool SetValue(SystemHandle key, const char* name, std::uint32_t type, const void* data,
                  std::uint32_t size) override {
        if (fail_set_value.count(name) != 0) return FailBool(5);
        const char* bytes = static_cast<const char*>(data);
        keys[handles_.at(static_cast<int*>(key))][Lower(name)] = {
            type, std::vector<char>(bytes, bytes + size)};
        return true;
    }
    bool QueryValue(SystemHandle key, const char* name, std::uint32_t& type,
                    std::vector<char>& data) override {
        const Value* value = FindValue(handles_.at(static_cast<int*>(key)), name);
        if (value == nullptr) return FailBool(2);
        type = value->type;
        data = value->data;
        return true;
    }
    bool DeleteMachineKey(const char* path) override {
        if (fail_delete_key != 0) return FailBool(fail_delete_key);
        if (keys.erase(Lower(path)) == 0) return FailBool(2);
        return true;
    }
    void CloseKey(SystemHandle key) override { CloseServiceHandle(key); }

    // ---- EventLogApi
    SystemHandle RegisterSource(const std::string&, const std::string& source) override {
        registered_names.push_back(source);
        if (fail_register_source != 0) return Fail(fail_register_source);
        ++registered_sources;
        return NewHandle("<event source>");
    }
    bool Report(SystemHandle, std::uint16_t type, std::uint16_t, std::uint32_t event_id,
                const void*, const std::vector<std::string>& strings, std::uint32_t,
                const void*) override {
        events.push_back({type, event_id, strings});
        // Writing an event touches the thread's last error, as the real calls may.
        last_error_ = 0;
        return true;
    }
    void DeregisterSource(SystemHandle handle) override {
        --registered_sources;
        CloseServiceHandle(handle);
    }

  private:
    SystemHandle NewHandle(const std::string& name) {
        auto token = std::make_unique<int>(0);
        int* raw = token.get();
        tokens_.push_back(std::move(token));
        handles_[raw] = name;
        ++open_handles;
        return raw;
    }
    SystemHandle Fail(std::uint32_t error) {
        last_error_ = error;
        return nullptr;
    }
    bool FailBool(std::uint32_t error) {
        last_error_ = error;
        return false;
    }
    FakeService& Service(SystemHandle handle) {
        return services.at(handles_.at(static_cast<int*>(handle)));
    }
    void Request(FakeService& service, std::uint32_t state) {
        service.pending_state = state;
        service.pending_at = now;
    }

    std::uint32_t last_error_ = 0;
    int lock_token_ = 0;
    std::map<int*, std::string> handles_;
    std::vector<std::unique_ptr<int>> tokens_;
};

}  // namespace zelk::testing
