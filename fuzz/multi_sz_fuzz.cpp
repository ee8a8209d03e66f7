// The event log's "Sources" list: a stored multi-string value parsed, an entry added and
// removed, and the value built again. The first line of the input is the entry's name, the
// rest the stored value.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "service/host/multi_sz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    std::size_t split = 0;
    while (split < size && text[split] != '\n') ++split;
    const std::string name(text, split);
    const std::size_t rest = split < size ? split + 1 : size;
    std::vector<std::string> list = zelk::ParseMultiSz(text + rest, size - rest);
    const std::size_t before = list.size();
    const bool added = zelk::AddListEntry(list, name);
    zelk::BuildMultiSz(list);
    const bool removed = zelk::RemoveFirstListEntry(list, name);
    // Adding a name and removing its first entry leaves as many entries as before.
    if (added && removed && list.size() != before) __builtin_trap();
    zelk::BuildDependencies(list);
    return 0;
}
