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

bool EventLogSource::WriteEvent(std::uint16_t type, std::uint16_t category, std::uint32_t eventId,
                                const void* userSid, std::uint16_t stringCount,
                                std::uint32_t dataSize, const char* const* strings,
                                const void* data) {
    std::vector<std::string> texts;
    for (std::uint16_t i = 0; strings != nullptr && i < stringCount; ++i) {
        texts.emplace_back(strings[i] != nullptr ? strings[i] : "");
    }
    MutexLock guard(lock_);
    if (handle_ != nullptr) {
        log_.DeregisterSource(handle_);
        handle_ = nullptr;
    }
    handle_ = log_.RegisterSource(server_, source_);
    bool reported = false;
    if (handle_ != nullptr) {
        reported = log_.Report(handle_, type, category, eventId, userSid, texts, dataSize, data);
        log_.DeregisterSource(handle_);
        handle_ = nullptr;
    }
    return reported;
}

bool EventLogSource::LogEvent(std::uint16_t type, std::uint32_t eventId, const char* text) {
    const char* strings[1] = {text != nullptr ? text : ""};
    return WriteEvent(type, 0, eventId, nullptr, 1, 0, strings, nullptr);
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

bool EventLogSource::LogEventNumber(std::uint16_t type, std::uint32_t eventId, std::uint32_t value,
                                    bool hex) {
    const std::string number = FormatNumber(value, hex);
    const char* strings[1] = {number.c_str()};
    return WriteEvent(type, 0, eventId, nullptr, 1, 0, strings, nullptr);
}

bool EventLogSource::LogEventWithNumber(std::uint16_t type, std::uint32_t eventId, const char* text,
                                        std::uint32_t value, bool hex) {
    const std::string number = FormatNumber(value, hex);
    const char* strings[2] = {text != nullptr ? text : "", number.c_str()};
    return WriteEvent(type, 0, eventId, nullptr, 2, 0, strings, nullptr);
}

bool EventLogSource::InstallEventSource(const char* sourceName, const char* messageFile,
                                        std::uint32_t typesSupported) {
    if (sourceName == nullptr || *sourceName == '\0' || messageFile == nullptr) return false;
    SystemHandle application =
        registry_.OpenMachineKey(ApplicationKeyPath().c_str(), kKeyReadWrite);
    if (application == nullptr) return false;
    SystemHandle source = registry_.CreateSubKey(application, sourceName, kKeyReadWrite);
    if (source == nullptr) {
        registry_.CloseKey(application);
        return false;
    }
    bool written = registry_.SetValue(source, kEventMessageFileValue, kRegSz, messageFile,
                                      static_cast<std::uint32_t>(std::strlen(messageFile) + 1));
    if (written) {
        written = registry_.SetValue(source, kTypesSupportedValue, kRegDword, &typesSupported,
                                     sizeof(typesSupported));
    }
    const std::uint32_t writeError = registry_.LastError();
    registry_.CloseKey(source);

    std::vector<std::string> sources;
    if (ReadSourcesList(registry_, application, sources) && AddListEntry(sources, sourceName)) {
        WriteSourcesList(registry_, application, sources);
    }
    registry_.CloseKey(application);
    // The caller reports the value write's error, not one of the list update.
    if (!written) registry_.SetLastError(writeError);
    return written;
}

bool EventLogSource::RemoveEventSource(const char* sourceName) {
    if (sourceName == nullptr || *sourceName == '\0') return false;
    const std::string keyPath = std::string(kEventLogApplicationKey) + sourceName;
    const bool deleted = registry_.DeleteMachineKey(keyPath.c_str());
    const std::uint32_t deleteError = registry_.LastError();

    SystemHandle application =
        registry_.OpenMachineKey(ApplicationKeyPath().c_str(), kKeyReadWrite);
    if (application != nullptr) {
        std::vector<std::string> sources;
        if (ReadSourcesList(registry_, application, sources) &&
            RemoveFirstListEntry(sources, sourceName)) {
            WriteSourcesList(registry_, application, sources);
        }
        registry_.CloseKey(application);
    }
    if (!deleted) registry_.SetLastError(deleteError);
    return deleted;
}

}  // namespace zelk
