// Shared pieces of the display tests: a sleeper that never waits, a converter that records how
// it was prepared, a scratch folder, and the expected report streams of the panel commands.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "service/adapters/clock.h"
#include "service/adapters/text_converter.h"

namespace zelk::testing {

class InstantSleeper final : public Sleeper {
  public:
    void SleepMs(std::uint32_t) override {}
};

// Passes bytes through unchanged and records Open and SetCodePages.
class RecordingConverter final : public TextConverter {
  public:
    HResult Open() override;
    HResult SetCodePages(std::uint32_t source, std::uint32_t destination,
                         std::uint32_t flags) override;
    HResult Convert(const char* source, std::uint32_t& sourceLength, char* destination,
                    std::uint32_t& destinationCapacity) override;

    HResult openResult = kSOk;
    int openCalls = 0;
    int setCodePagesCalls = 0;
    bool openedBeforeCodePages = false;
    std::uint32_t source = 0;
    std::uint32_t destination = 0;
    std::uint32_t flags = 0;
};

// A folder of its own under the system's temporary folder, removed with its files at the end.
class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // Writes `content` byte for byte into `name`; returns the file's full path.
    std::string Write(const std::string& name, const std::string& content) const;
    std::string PathOf(const std::string& name) const;

  private:
    std::filesystem::path folder_;
};

using Report = std::vector<std::uint8_t>;
using ReportStream = std::vector<Report>;

// Builds the report stream the panel commands are expected to send (8-byte reports).
class ExpectedStream {
  public:
    ExpectedStream& Media(std::uint8_t byte);
    ExpectedStream& Status(std::uint8_t byte);
    // One character report per column: the text's characters, blanks after its end.
    ExpectedStream& Line(std::uint8_t lineCode, const std::string& text, int columns = 12);
    ExpectedStream& Volume(std::uint16_t mask);
    ExpectedStream& Brightness(std::uint8_t value);
    // ClearPanel with flag 1: display control, both icon bytes dark, empty bar.
    ExpectedStream& ClearAll(std::uint8_t value);
    // ClearPanel with flag 2: both icon reports dark.
    ExpectedStream& ClearIcons();
    const ReportStream& reports() const { return reports_; }

  private:
    ExpectedStream& Add(std::uint8_t id, std::uint8_t first, std::uint8_t second = 0);
    ReportStream reports_;
};

// "6:08", "1:C3:'k'", ... for readable failure messages.
std::string Describe(const ReportStream& stream);

}  // namespace zelk::testing
