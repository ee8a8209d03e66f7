// Lists of strings in the registry's REG_MULTI_SZ layout and the dependency list given to the
// service control manager: NUL-terminated strings one after another, closed by one more NUL.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace zelk {

// The strings of a REG_MULTI_SZ value of `size` bytes, up to the first empty one. A value cut
// short (no closing NUL) still gives its last string; nothing past `size` is read.
std::vector<std::string> ParseMultiSz(const char* data, std::size_t size);

// The REG_MULTI_SZ bytes of `list`: each string with its NUL, then one more NUL. An empty list
// gives a single NUL byte. The size is the sum of the lengths plus one per string plus one.
std::string BuildMultiSz(const std::vector<std::string>& list);

// Appends `name` unless the list already holds exactly that name (case counts). True when the
// list changed.
bool AddListEntry(std::vector<std::string>& list, const std::string& name);

// Removes the first entry exactly equal to `name`. True when one was removed.
bool RemoveFirstListEntry(std::vector<std::string>& list, const std::string& name);

// The dependencies buffer for service creation: each name with its NUL, in order, followed by
// two NUL bytes (an empty list gives two NUL bytes).
std::vector<char> BuildDependencies(const std::vector<std::string>& dependencies);

}  // namespace zelk
