// Writes the service's events to the Application event log and registers the event source.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/mutex.h"
#include "common/thread_annotations.h"
#include "service/core/event_ids.h"
#include "service/core/service_host.h"
#include "service/host/host_ports.h"

namespace zelk {

inline constexpr char kEventLogApplicationKey[] =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
inline constexpr char kEventMessageFileValue[] = "EventMessageFile";
inline constexpr char kTypesSupportedValue[] = "TypesSupported";
inline constexpr char kSourcesValue[] = "Sources";
inline constexpr std::uint32_t kKeyReadWrite = 0x2001F;  // KEY_READ | KEY_WRITE
inline constexpr std::uint32_t kKeyRead = 0x20019;       // KEY_READ

class EventLogSource {
  public:
    // `server` empty: the local computer's log.
    EventLogSource(EventLogApi& log, RegistryApi& registry, std::string server, std::string source);
    EventLogSource(const EventLogSource&) = delete;
    EventLogSource& operator=(const EventLogSource&) = delete;

    // Registers the source, reports one event and deregisters, under the lock; nothing stays
    // open between events. Returns the report's result (false when the source cannot be
    // registered).
    bool WriteEvent(std::uint16_t type, std::uint16_t category, std::uint32_t eventId,
                    const void* userSid, std::uint16_t stringCount, std::uint32_t dataSize,
                    const char* const* strings, const void* data);
    bool LogEvent(std::uint16_t type, std::uint32_t eventId, const char* text);
    // One insertion string: `value` in hex ("%x") or decimal ("%d").
    bool LogEventNumber(std::uint16_t type, std::uint32_t eventId, std::uint32_t value, bool hex);
    // Two insertion strings: `text`, then `value` in hex or decimal.
    bool LogEventWithNumber(std::uint16_t type, std::uint32_t eventId, const char* text,
                            std::uint32_t value, bool hex);

    // Registers `sourceName` as a source of the Application log with its message file, and
    // lists it once in the log's "Sources". True when both values of the source key were
    // written; a "Sources" update that fails does not change the result.
    bool InstallEventSource(const char* sourceName, const char* messageFile,
                            std::uint32_t typesSupported);
    // Deletes the source's key and its first exact entry in "Sources". True when the key was
    // deleted; "Sources" is cleaned either way.
    bool RemoveEventSource(const char* sourceName);

    const std::string& SourceName() const { return source_; }

  private:
    static std::string FormatNumber(std::uint32_t value, bool hex);

    EventLogApi& log_;
    RegistryApi& registry_;
    // One event at a time through the source handle.
    Mutex lock_;
    SystemHandle handle_ GUARDED_BY(lock_) = nullptr;
    std::string server_;
    std::string source_;
};

}  // namespace zelk
