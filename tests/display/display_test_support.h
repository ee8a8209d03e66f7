// Shared pieces of the display tests: a sleeper that never waits, a converter that records how
// it was prepared, a scratch folder, and the report streams the panel commands should send.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "service/adapters/clock.h"
#include "service/adapters/text_converter.h"

namespace zelk::testing {

class InstantSleeper final : public Sleeper {
  public:
    void SleepMs(std::uint32_t) override {}
};

// Passes bytes through unchanged and records how it was prepared.
class RecordingConverter final : public TextConverter {
  public:
    HResult Open() override {
        ++openCalls;
        return openResult;
    }
    HResult SetCodePages(std::uint32_t from, std::uint32_t to, std::uint32_t how) override {
        codePages = std::to_string(from) + "->" + std::to_string(to) + "/" + std::to_string(how) +
                    (openCalls > 0 ? "" : " before Open");
        return kSOk;
    }
    HResult Convert(const char* text, std::uint32_t& length, char* out,
                    std::uint32_t& capacity) override {
        length = length < capacity ? length : capacity;
        for (std::uint32_t i = 0; i < length; ++i) out[i] = text[i];
        capacity = length;
        return kSOk;
    }
    HResult openResult = kSOk;
    int openCalls = 0;
    std::string codePages;  // empty until SetCodePages
};

// A folder of its own under the temporary folder, removed with its files at the end.
class ScratchFolder {
  public:
    ScratchFolder() {
        std::random_device random;
        folder_ = std::filesystem::temp_directory_path() /
                  ("fp-display-" + std::to_string(random()) + std::to_string(random()));
        std::filesystem::create_directories(folder_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    std::string PathOf(const std::string& name) const { return (folder_ / name).string(); }
    std::string Write(const std::string& name, const std::string& content) const {
        std::ofstream(folder_ / name, std::ios::binary) << content;
        return PathOf(name);
    }

  private:
    std::filesystem::path folder_;
};

using ReportStream = std::vector<std::vector<std::uint8_t>>;

// The expected reports, 8 bytes each.
struct Stream {
    ReportStream reports;
    Stream& Add(std::uint8_t id, std::uint8_t a, std::uint8_t b = 0, int times = 1) {
        for (int i = 0; i < times; ++i) reports.push_back({id, a, b, 0, 0, 0, 0, 0});
        return *this;
    }
    Stream& Media(std::uint8_t byte, int times = 1) { return Add(6, byte, 0, times); }
    Stream& Status(std::uint8_t byte, int times = 1) { return Add(5, byte, 0, times); }
    Stream& Volume(std::uint16_t mask) { return Add(4, mask & 0xFF, mask >> 8); }
    // Twelve character reports: the text, cut or padded with blanks.
    Stream& Line(std::uint8_t lineCode, const std::string& text) {
        for (std::size_t c = 0; c < 12; ++c) Add(1, lineCode | c, c < text.size() ? text[c] : ' ');
        return *this;
    }
    Stream& ClearAll(std::uint8_t value) { return Add(3, value).Add(5, 0).Add(6, 0).Add(4, 0); }
    Stream& ClearIcons() { return Add(5, 0).Add(6, 0); }
};

// "6:08 1:C3:k ..." for failure messages.
inline std::string Describe(const ReportStream& stream) {
    std::string text;
    for (const auto& r : stream) {
        char item[24];
        if (r.size() < 3) continue;
        if (r[0] == 1) {
            std::snprintf(item, sizeof item, "1:%02X:%c ", r[1], r[2] > 0x20 ? r[2] : '_');
        } else {
            std::snprintf(item, sizeof item, "%u:%02X:%02X ", r[0], r[1], r[2]);
        }
        text += item;
    }
    return text;
}

}  // namespace zelk::testing
