#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/media_status_tags.h"
#include "common/pipe_message.h"

namespace zelk {
namespace {

std::vector<unsigned char> Bytes(const PipeMessage& m) {
    const auto* p = reinterpret_cast<const unsigned char*>(&m);
    return {p, p + sizeof m};
}

TEST(PipeRecord, WriterLaysOutTheDocumentedBytesAndCutsTheText) {
    const auto bytes = Bytes(MakePipeMessage(1, MSPROPTAG_Play, "True", 4));
    EXPECT_EQ(std::vector<unsigned char>(bytes.begin(), bytes.begin() + 13),
              (std::vector<unsigned char>{0x01, 0, 0, 0, 0x01, 0x10, 0, 0, 'T', 'r', 'u', 'e', 0}));
    const std::string longText(300, 'q');
    EXPECT_EQ(std::strlen(MakePipeMessage(1, 0, longText.c_str(), longText.size()).text), 255u);
    const char embedded[] = {'a', 'b', '\0', 'c'};
    EXPECT_STREQ(MakePipeMessage(1, 0, embedded, sizeof embedded).text, "ab");
    EXPECT_STREQ(MakePipeMessage(1, 0, nullptr, 10).text, "");
}

TEST(PipeRecord, ReaderNeverReadsPastWhatArrivedAndAlwaysTerminates) {
    PipeMessage out{};
    EXPECT_FALSE(ReadPipeRecord(nullptr, 264, out));
    const unsigned char seven[7] = {1, 0, 0, 0, 3, 0, 0};
    EXPECT_FALSE(ReadPipeRecord(seven, sizeof seven, out));

    // Exactly a header: a record with an empty text.
    const unsigned char header[8] = {0xFF, 0xFF, 0xFF, 0xFF, 3, 0, 0, 0};
    ASSERT_TRUE(ReadPipeRecord(header, sizeof header, out));
    EXPECT_EQ(out.sessionNumber, -1);
    EXPECT_EQ(out.tag, kTagSessionClosed);
    EXPECT_STREQ(out.text, "");

    // No NUL within the bytes received: the text ends where they end. The heap buffer is exactly
    // that long, so a read past it is caught by the sanitizer.
    std::vector<unsigned char> cut = {0, 0, 0, 0, 0x19, 0x20, 0, 0, 'T', 'r', 'a', 'c', 'k'};
    ASSERT_TRUE(ReadPipeRecord(cut.data(), cut.size(), out));
    EXPECT_EQ(out.tag, MSPROPTAG_TrackName);
    EXPECT_STREQ(out.text, "Track");

    std::vector<unsigned char> full(4096, 'x');
    ASSERT_TRUE(ReadPipeRecord(full.data(), full.size(), out));
    EXPECT_EQ(std::strlen(out.text), 255u);

    // Bytes after the first NUL carry no meaning.
    PipeMessage m = MakePipeMessage(2, MSPROPTAG_MediaName, "abc", 3);
    std::memset(m.text + 4, 'z', sizeof m.text - 4);
    const auto bytes = Bytes(m);
    ASSERT_TRUE(ReadPipeRecord(bytes.data(), bytes.size(), out));
    EXPECT_EQ(out.sessionNumber, 2);
    EXPECT_STREQ(out.text, "abc");
}

TEST(TagVocabulary, NamesValuesAndUnnamedTags) {
    const std::pair<int, const char*> names[] = {{0, "MSPROPTAG_Unknown"},
                                                 {0x1010, "MSPROPTAG_Ejecting"},
                                                 {0x2030, "MSPROPTAG_DiscWriter_Stop"},
                                                 {0xF001, "MSPROPTAG_Application"},
                                                 {kTagSessionOpened, "1"},
                                                 {5, "5"},
                                                 {0x2031, "8241"},
                                                 {-7, "-7"}};
    for (const auto& [value, name] : names) {
        EXPECT_EQ(TagName(value), name);
    }
    int count = 0;
    const TagEntry* all = AllTags(count);
    ASSERT_EQ(count, 69);
    // Values run on by one inside each block and every name round-trips.
    for (int i = 0; i < count; ++i) {
        EXPECT_EQ(TagFromName(all[i].name), all[i].value) << all[i].name;
        EXPECT_EQ(TagName(all[i].value), all[i].name);
        if (i > 0 && (all[i].value & 0xF000) == (all[i - 1].value & 0xF000)) {
            EXPECT_EQ(all[i].value, all[i - 1].value + 1) << all[i].name;
        }
    }
    EXPECT_EQ(TagFromName("TrackTime"), 0x200B);
    EXPECT_FALSE(TagFromName("tracktime").has_value());
    EXPECT_FALSE(TagFromName("MSPROPTAG_").has_value());
}

}  // namespace
}  // namespace zelk
