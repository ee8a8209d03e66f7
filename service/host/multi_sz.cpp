#include "service/host/multi_sz.h"

#include <algorithm>
#include <cstring>

namespace zelk {

std::vector<std::string> ParseMultiSz(const char* data, std::size_t size) {
    std::vector<std::string> list;
    if (data == nullptr) return list;
    std::size_t pos = 0;
    while (pos < size) {
        const char* start = data + pos;
        const void* nul = std::memchr(start, '\0', size - pos);
        const std::size_t length =
            nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - start)
                           : size - pos;
        if (length == 0) break;
        list.emplace_back(start, length);
        pos += length + 1;
    }
    return list;
}

std::string BuildMultiSz(const std::vector<std::string>& list) {
    std::string bytes;
    for (const std::string& entry : list) {
        bytes.append(entry.c_str());  // an embedded NUL would end the entry in the registry too
        bytes.push_back('\0');
    }
    bytes.push_back('\0');
    return bytes;
}

bool AddListEntry(std::vector<std::string>& list, const std::string& name) {
    if (std::find(list.begin(), list.end(), name) != list.end()) return false;
    list.push_back(name);
    return true;
}

bool RemoveFirstListEntry(std::vector<std::string>& list, const std::string& name) {
    const auto it = std::find(list.begin(), list.end(), name);
    if (it == list.end()) return false;
    list.erase(it);
    return true;
}

std::vector<char> BuildDependencies(const std::vector<std::string>& dependencies) {
    std::vector<char> buffer;
    for (const std::string& name : dependencies) {
        buffer.insert(buffer.end(), name.c_str(), name.c_str() + std::strlen(name.c_str()));
        buffer.push_back('\0');
    }
    buffer.push_back('\0');
    buffer.push_back('\0');
    return buffer;
}

}  // namespace zelk
