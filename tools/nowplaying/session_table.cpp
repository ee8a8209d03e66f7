#include "tools/nowplaying/session_table.h"

#include <algorithm>

namespace zelk {

namespace {

// An application's id is the player's to choose; ids stay short in traces and maps.
constexpr std::size_t kMaxAppIdBytes = 128;

}  // namespace

std::string SessionTable::NewId(const std::string& appId) {
    std::string name = appId.empty() ? std::string("session") : appId.substr(0, kMaxAppIdBytes);
    return name + "#" + std::to_string(++counter_);
}

SessionTable::Changes SessionTable::Reconcile(const std::vector<SessionKey>& sessions) {
    Changes changes;
    std::vector<bool> kept(entries_.size(), false);
    std::vector<const SessionKey*> unknown;
    for (const SessionKey& key : sessions) {
        const auto it = std::find_if(entries_.begin(), entries_.end(),
                                     [&](const Entry& e) { return e.identity == key.identity; });
        if (it != entries_.end()) {
            kept[static_cast<std::size_t>(it - entries_.begin())] = true;
            continue;
        }
        const bool listed = std::any_of(unknown.begin(), unknown.end(), [&](const SessionKey* k) {
            return k->identity == key.identity;
        });
        if (!listed) unknown.push_back(&key);
    }
    std::vector<Entry> next;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (kept[i]) next.push_back(entries_[i]);
    }
    for (const SessionKey* key : unknown) {
        // A session of the same application that the list no longer names: the same session.
        std::size_t match = entries_.size();
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            if (!kept[i] && entries_[i].appId == key->appId) {
                match = i;
                break;
            }
        }
        if (match < entries_.size()) {
            kept[match] = true;
            Entry entry = entries_[match];
            changes.rebound.emplace_back(entry.identity,
                                         Entry{key->identity, key->appId, entry.id});
            entry.identity = key->identity;
            next.push_back(entry);
        } else {
            Entry entry{key->identity, key->appId, NewId(key->appId)};
            changes.added.push_back(entry);
            next.push_back(entry);
        }
    }
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (!kept[i]) changes.removed.push_back(entries_[i]);
    }
    entries_ = std::move(next);
    return changes;
}

std::string SessionTable::Ensure(const SessionKey& key, bool* added) {
    if (added != nullptr) *added = false;
    if (const auto id = IdOf(key.identity)) return *id;
    const Entry* same = nullptr;
    for (const Entry& e : entries_) {
        if (e.appId != key.appId) continue;
        if (same != nullptr) {
            same = nullptr;  // several sessions of that application: which one is unknown
            break;
        }
        same = &e;
    }
    if (same != nullptr) return same->id;
    if (added != nullptr) *added = true;
    entries_.push_back(Entry{key.identity, key.appId, NewId(key.appId)});
    return entries_.back().id;
}

std::optional<std::string> SessionTable::IdOf(std::uint64_t identity) const {
    for (const Entry& e : entries_) {
        if (e.identity == identity) return e.id;
    }
    return std::nullopt;
}

}  // namespace zelk
