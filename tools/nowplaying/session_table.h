// The system's media sessions under ids that stay the same while a session lives. The system
// hands out session objects; the glue names each by its COM identity (the object's IUnknown
// address, stable while the glue holds it) and its application's id (SourceAppUserModelId).
// A list that names a known object keeps its id; an unknown object whose application has a
// session that the list no longer names takes that session's id (the system gave a new object
// for the same session), else it gets a new id: the application's id and a counter.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zelk {

struct SessionKey {
    std::uint64_t identity = 0;
    std::string appId;
};

class SessionTable {
  public:
    struct Entry {
        std::uint64_t identity = 0;
        std::string appId;
        std::string id;
    };
    struct Changes {
        std::vector<Entry> added;    // new sessions
        std::vector<Entry> removed;  // sessions the list no longer names
        // Sessions whose object changed: `id` keeps its name, `identity` is the new object.
        std::vector<std::pair<std::uint64_t, Entry>> rebound;  // old identity, entry now
    };

    // Takes the system's whole list; duplicates (same identity twice) count once.
    Changes Reconcile(const std::vector<SessionKey>& sessions);
    // The id of the current session the system reports: its object's, else that of the one
    // session of its application (the system may hand out another object for the same session),
    // else a new one (reported before the list names it). `added` tells whether it is new.
    std::string Ensure(const SessionKey& key, bool* added = nullptr);

    std::optional<std::string> IdOf(std::uint64_t identity) const;
    const std::vector<Entry>& Entries() const { return entries_; }

  private:
    std::string NewId(const std::string& appId);

    std::vector<Entry> entries_;
    std::uint64_t counter_ = 0;
};

}  // namespace zelk
