#include "service/host/event_log_source.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "service/host/multi_sz.h"

namespace zelk {

namespace {

// The Application key path without its closing backslash.
std::string ApplicationKeyPath() {
    std::string path = kEventLogApplicationKey;
    path.pop_back();
    return path;
}

bool ReadSourcesList(RegistryApi& registry, SystemHandle application,
                     std::vector<std::string>& list) {
    std::uint32_t type = 0;
    std::vector<char> data;
    if (!registry.QueryValue(application, kSourcesValue, type, data)) return false;
    if (type != kRegMultiSz) return false;
    list = ParseMultiSz(data.data(), data.size());
    return true;
}

void WriteSourcesList(RegistryApi& registry, SystemHandle application,
                      const std::vector<std::string>& list) {
    const std::string bytes = BuildMultiSz(list);
    registry.SetValue(application, kSourcesValue, kRegMultiSz, bytes.data(),
                      static_cast<std::uint32_t>(bytes.size()));
}

}  // namespace

EventLogSource::EventLogSource(EventLogApi& log, RegistryApi& registry, std::string server,
                               std::string source)
    : log_(log), registry_(registry), server_(std::move(server)), source_(std::move(source)) {}

bool EventLogSource::WriteEvent(std::uint16_t type, std::uint16_t category, std::uint32_t event_id,
                                const void* user_sid, std::uint16_t string_count,
                                std::uint32_t data_size, const char* const* strings,
                                const void* data) {
    std::vector<std::string> texts;
    for (std::uint16_t i = 0; strings != nullptr && i < string_count; ++i) {
        texts.emplace_back(strings[i] != nullptr ? strings[i] : "");
    }
    std::lock_guard<std::mutex> guard(lock_);
    if (handle_ != nullptr) {
        log_.DeregisterSource(handle_);
        handle_ = nullptr;
    }
    handle_ = log_.RegisterSource(server_, source_);
    bool reported = false;
    if (handle_ != nullptr) {
        reported = log_.Report(handle_, type, category, event_id, user_sid, texts, data_size, data);
        log_.DeregisterSource(handle_);
        handle_ = nullptr;
    }
    return reported;
}

bool EventLogSource::LogEvent(std::uint16_t type, std::uint32_t event_id, const char* text) {
    const char* strings[1] = {text != nullptr ? text : ""};
    return WriteEvent(type, 0, event_id, nullptr, 1, 0, strings, nullptr);
}

std::string EventLogSource::FormatNumber(std::uint32_t value, bool hex) {
    char buffer[16];
    if (hex) {
        std::snprintf(buffer, sizeof(buffer), "%x", value);
    } else {
        std::snprintf(buffer, sizeof(buffer), "%d", static_cast<std::int32_t>(value));
    }
    return buffer;
}

bool EventLogSource::LogEventNumber(std::uint16_t type, std::uint32_t event_id, std::uint32_t value,
                                    bool hex) {
    const std::string number = FormatNumber(value, hex);
    const char* strings[1] = {number.c_str()};
    return WriteEvent(type, 0, event_id, nullptr, 1, 0, strings, nullptr);
}

bool EventLogSource::LogEventWithNumber(std::uint16_t type, std::uint32_t event_id,
                                        const char* text, std::uint32_t value, bool hex) {
    const std::string number = FormatNumber(value, hex);
    const char* strings[2] = {text != nullptr ? text : "", number.c_str()};
    return WriteEvent(type, 0, event_id, nullptr, 2, 0, strings, nullptr);
}

bool EventLogSource::InstallEventSource(const char* source_name, const char* message_file,
                                        std::uint32_t types_supported) {
    if (source_name == nullptr || *source_name == '\0' || message_file == nullptr) return false;
    SystemHandle application =
        registry_.OpenMachineKey(ApplicationKeyPath().c_str(), kKeyReadWrite);
    if (application == nullptr) return false;
    SystemHandle source = registry_.CreateSubKey(application, source_name, kKeyReadWrite);
    if (source == nullptr) {
        registry_.CloseKey(application);
        return false;
    }
    bool written = registry_.SetValue(source, kEventMessageFileValue, kRegSz, message_file,
                                      static_cast<std::uint32_t>(std::strlen(message_file) + 1));
    if (written) {
        written = registry_.SetValue(source, kTypesSupportedValue, kRegDword, &types_supported,
                                     sizeof(types_supported));
    }
    const std::uint32_t write_error = registry_.LastError();
    registry_.CloseKey(source);

    std::vector<std::string> sources;
    if (ReadSourcesList(registry_, application, sources) && AddListEntry(sources, source_name)) {
        WriteSourcesList(registry_, application, sources);
    }
    registry_.CloseKey(application);
    // The caller reports the value write's error, not one of the list update.
    if (!written) registry_.SetLastError(write_error);
    return written;
}

bool EventLogSource::RemoveEventSource(const char* source_name) {
    if (source_name == nullptr || *source_name == '\0') return false;
    const std::string key_path = std::string(kEventLogApplicationKey) + source_name;
    const bool deleted = registry_.DeleteMachineKey(key_path.c_str());
    const std::uint32_t delete_error = registry_.LastError();

    SystemHandle application =
        registry_.OpenMachineKey(ApplicationKeyPath().c_str(), kKeyReadWrite);
    if (application != nullptr) {
        std::vector<std::string> sources;
        if (ReadSourcesList(registry_, application, sources) &&
            RemoveFirstListEntry(sources, source_name)) {
            WriteSourcesList(registry_, application, sources);
        }
        registry_.CloseKey(application);
    }
    if (!deleted) registry_.SetLastError(delete_error);
    return deleted;
}

}  // namespace zelk
