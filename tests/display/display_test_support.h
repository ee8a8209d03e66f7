// Shared pieces of the display tests: a converter that records how it was prepared, a scratch
// folder, and the report streams the panel commands should send.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "service/adapters/text_converter.h"
#include "tests/panel/panel_test_fakes.h"

namespace zelk::test {

// Passes bytes through unchanged and records how it was prepared.
class RecordingConverter final : public test::RepeatingConverter {
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
    // The end of every redraw while playing at volume 0: one bar segment, recording and mute
    // off, then the four transport reports with play lit; `status` is the byte before them.
    Stream& Playing(std::uint8_t status) {
        return Volume(0x0001).Status(status, 2).Status(status | 0x01, 4);
    }
};

}  // namespace zelk::test
