#include "tests/display/display_test_support.h"

#include <cstdio>
#include <fstream>
#include <random>
#include <system_error>

namespace zelk::testing {

HResult RecordingConverter::Open() {
    ++openCalls;
    return openResult;
}

HResult RecordingConverter::SetCodePages(std::uint32_t sourcePage, std::uint32_t destinationPage,
                                         std::uint32_t conversionFlags) {
    ++setCodePagesCalls;
    openedBeforeCodePages = openCalls > 0;
    source = sourcePage;
    destination = destinationPage;
    flags = conversionFlags;
    return kSOk;
}

HResult RecordingConverter::Convert(const char* text, std::uint32_t& sourceLength, char* out,
                                    std::uint32_t& destinationCapacity) {
    const std::uint32_t n = sourceLength < destinationCapacity ? sourceLength : destinationCapacity;
    for (std::uint32_t i = 0; i < n; ++i) out[i] = text[i];
    sourceLength = n;
    destinationCapacity = n;
    return kSOk;
}

ScratchFolder::ScratchFolder() {
    std::random_device random;
    const auto tag = std::to_string(random()) + "-" + std::to_string(random());
    folder_ = std::filesystem::temp_directory_path() / ("fp-display-" + tag);
    std::filesystem::create_directories(folder_);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

std::string ScratchFolder::PathOf(const std::string& name) const {
    return (folder_ / name).string();
}

std::string ScratchFolder::Write(const std::string& name, const std::string& content) const {
    const std::filesystem::path path = folder_ / name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    return path.string();
}

ExpectedStream& ExpectedStream::Add(std::uint8_t id, std::uint8_t first, std::uint8_t second) {
    Report report(8, 0);
    report[0] = id;
    report[1] = first;
    report[2] = second;
    reports_.push_back(report);
    return *this;
}

ExpectedStream& ExpectedStream::Media(std::uint8_t byte) {
    return Add(6, byte);
}
ExpectedStream& ExpectedStream::Status(std::uint8_t byte) {
    return Add(5, byte);
}
ExpectedStream& ExpectedStream::Brightness(std::uint8_t value) {
    return Add(2, value);
}

ExpectedStream& ExpectedStream::Line(std::uint8_t lineCode, const std::string& text, int columns) {
    for (int c = 0; c < columns; ++c) {
        const std::uint8_t character = static_cast<std::size_t>(c) < text.size()
                                           ? static_cast<std::uint8_t>(text[c])
                                           : std::uint8_t{0x20};
        Add(1, static_cast<std::uint8_t>(lineCode | c), character);
    }
    return *this;
}

ExpectedStream& ExpectedStream::Volume(std::uint16_t mask) {
    return Add(4, static_cast<std::uint8_t>(mask & 0xFF), static_cast<std::uint8_t>(mask >> 8));
}

ExpectedStream& ExpectedStream::ClearAll(std::uint8_t value) {
    Add(3, value);
    Add(5, 0);
    Add(6, 0);
    return Add(4, 0, 0);
}

ExpectedStream& ExpectedStream::ClearIcons() {
    Add(5, 0);
    return Add(6, 0);
}

std::string Describe(const ReportStream& stream) {
    std::string text;
    char item[32];
    for (const Report& report : stream) {
        if (report.size() >= 3 && report[0] == 1) {
            const char shown =
                report[2] >= 0x20 && report[2] < 0x7F ? static_cast<char>(report[2]) : '?';
            std::snprintf(item, sizeof item, "1:%02X:'%c' ", report[1], shown);
        } else if (report.size() >= 3) {
            std::snprintf(item, sizeof item, "%u:%02X:%02X ", report[0], report[1], report[2]);
        } else {
            std::snprintf(item, sizeof item, "short(%zu) ", report.size());
        }
        text += item;
    }
    return text;
}

}  // namespace zelk::testing
