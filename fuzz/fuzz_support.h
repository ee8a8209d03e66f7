// What the fuzz targets share: a sleeper that does not sleep, and input split into pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "service/adapters/clock.h"

namespace zelk::fuzz {

class NoSleeper final : public Sleeper {
  public:
    void SleepMs(std::uint32_t) override {}
};

// The input cut at each `separator` byte.
inline std::vector<std::string> Pieces(const std::uint8_t* data, std::size_t size, char separator) {
    std::vector<std::string> pieces(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (static_cast<char>(data[i]) == separator) {
            pieces.emplace_back();
        } else {
            pieces.back().push_back(static_cast<char>(data[i]));
        }
    }
    return pieces;
}

}  // namespace zelk::fuzz
