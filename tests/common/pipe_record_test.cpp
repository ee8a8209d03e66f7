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

TEST(PipeRecord, WorkedExampleHasTheDocumentedBytes) {
    const PipeMessage m = MakePipeMessage(1, MSPROPTAG_Play, "True", 4);
    const auto bytes = Bytes(m);
    const std::vector<unsigned char> head(bytes.begin(), bytes.begin() + 13);
    EXPECT_EQ(head,
              (std::vector<unsigned char>{0x01, 0, 0, 0, 0x01, 0x10, 0, 0, 'T', 'r', 'u', 'e', 0}));
    PipeMessage read{};
    ASSERT_TRUE(ReadPipeRecord(bytes.data(), bytes.size(), read));
    EXPECT_EQ(read.sessionNumber, 1);
    EXPECT_EQ(read.tag, 0x1001);
    EXPECT_STREQ(read.text, "True");
}

TEST(PipeRecord, ShortAndTruncatedInputNeverReadsPastWhatArrived) {
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

    // A text with no NUL within the bytes received ends where the bytes end. The heap buffer is
    // exactly as long as the bytes received, so a read past it is caught by the sanitizer.
    const std::string text = "Track";
    std::vector<unsigned char> cut(8 + text.size());
    cut[4] = 0x19;
    cut[5] = 0x20;
    std::memcpy(cut.data() + 8, text.data(), text.size());
    ASSERT_TRUE(ReadPipeRecord(cut.data(), cut.size(), out));
    EXPECT_STREQ(out.text, "Track");
}

TEST(PipeRecord, TextIsAtMost255BytesAndAlwaysTerminated) {
    PipeMessage out{};
    std::vector<unsigned char> full(4096, 'x');
    ASSERT_TRUE(ReadPipeRecord(full.data(), full.size(), out));
    EXPECT_EQ(std::strlen(out.text), 255u);
    EXPECT_EQ(out.text[255], '\0');

    // Bytes after the first NUL carry no meaning.
    PipeMessage m = MakePipeMessage(2, MSPROPTAG_MediaName, "abc", 3);
    std::memset(m.text + 4, 'z', sizeof m.text - 4);
    const auto bytes = Bytes(m);
    ASSERT_TRUE(ReadPipeRecord(bytes.data(), bytes.size(), out));
    EXPECT_STREQ(out.text, "abc");
}

TEST(PipeRecord, WriterCutsLongTextsAndStopsAtEmbeddedNul) {
    const std::string longText(300, 'q');
    const PipeMessage m =
        MakePipeMessage(1, MSPROPTAG_TrackName, longText.c_str(), longText.size());
    EXPECT_EQ(std::strlen(m.text), 255u);
    const char embedded[] = {'a', 'b', '\0', 'c'};
    EXPECT_STREQ(MakePipeMessage(1, 0, embedded, sizeof embedded).text, "ab");
    EXPECT_STREQ(MakePipeMessage(1, 0, nullptr, 10).text, "");
}

TEST(TagVocabulary, NamesValuesAndUnnamedTags) {
    int count = 0;
    const TagEntry* all = AllTags(count);
    ASSERT_EQ(count, 69);
    EXPECT_EQ(TagName(0), "MSPROPTAG_Unknown");
    EXPECT_EQ(TagName(0x1010), "MSPROPTAG_Ejecting");
    EXPECT_EQ(TagName(0x2030), "MSPROPTAG_DiscWriter_Stop");
    EXPECT_EQ(TagName(0xF001), "MSPROPTAG_Application");
    EXPECT_EQ(TagName(kTagSessionOpened), "1");
    EXPECT_EQ(TagName(5), "5");
    EXPECT_EQ(TagName(0x2031), "8241");
    EXPECT_EQ(TagName(-7), "-7");
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
