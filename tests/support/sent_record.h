// One record as a translator or a writer sent it, compared whole and printed with its tag's
// name, for tests that check record streams.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "common/media_status_tags.h"

namespace zelk::test {

struct Record {
    std::int32_t session, tag;
    std::string text;
    bool operator==(const Record&) const = default;
};
inline std::ostream& operator<<(std::ostream& out, const Record& r) {
    return out << "{" << r.session << ", " << TagName(r.tag) << ", \"" << r.text << "\"}";
}

}  // namespace zelk::test
