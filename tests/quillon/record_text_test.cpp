#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "Quillon/record_text.h"

namespace zelk {
namespace {

// A double-byte code page in the manner of 932: 0x81-0x9F and 0xE0-0xFC start a pair.
bool ShiftJisLead(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

std::string Pairs(std::size_t count) {
    std::string s;
    for (std::size_t i = 0; i < count; ++i) {
        s += "\x93\xfa";  // one character, two bytes
    }
    return s;
}

// Joins texts by appending (GCC 12 warns falsely about `"literal" + std::string` at -O3).
std::string Join(std::initializer_list<std::string> parts) {
    std::string s;
    for (const std::string& p : parts) {
        s.append(p);
    }
    return s;
}

std::string TextOf(const PipeMessage& m) {
    return std::string(m.text);
}

TEST(RecordText, SingleByteTextsAreCutAt255Bytes) {
    const std::string exact(255, 'x');
    const std::string over(300, 'y');
    EXPECT_EQ(RecordText(exact.data(), exact.size(), nullptr), exact);
    EXPECT_EQ(RecordText(over.data(), over.size(), &ShiftJisLead), std::string(255, 'y'));
    EXPECT_EQ(TextOf(MakeValueRecord(2, 0x2019, over.data(), over.size(), nullptr)),
              std::string(255, 'y'));
}

TEST(RecordText, ADoubleByteCharacterIsNeverSplitByTheCut) {
    // 200 pairs: the 128th pair would end at byte 256, so 127 pairs (254 bytes) remain.
    const std::string pairs = Pairs(200);
    EXPECT_EQ(RecordText(pairs.data(), pairs.size(), &ShiftJisLead), Pairs(127));

    // One single byte first: 1 + 127 * 2 = 255 bytes fit exactly.
    const std::string shifted = Join({"a", pairs});
    EXPECT_EQ(RecordText(shifted.data(), shifted.size(), &ShiftJisLead), Join({"a", Pairs(127)}));

    // A trail byte that looks like a lead byte is still the second half of its pair.
    const std::string tricky = Join({std::string(253, 'b'), "\x81\x81", "\x81\x40"});
    EXPECT_EQ(RecordText(tricky.data(), tricky.size(), &ShiftJisLead),
              Join({std::string(253, 'b'), "\x81\x81"}));

    // Without the code page's knowledge the same bytes would be cut in the middle of a pair.
    EXPECT_EQ(RecordText(pairs.data(), pairs.size(), nullptr).size(), 255u);
}

TEST(RecordText, ALeadByteAtTheVeryEndStandsAlone) {
    const std::string dangling = "ab\x93";
    EXPECT_EQ(CutOnCharacterBoundary(dangling.data(), dangling.size(), 255, &ShiftJisLead), 3u);
    EXPECT_EQ(CutOnCharacterBoundary(dangling.data(), dangling.size(), 2, &ShiftJisLead), 2u);
    const std::string pair = "\x93\xfa";
    EXPECT_EQ(CutOnCharacterBoundary(pair.data(), pair.size(), 1, &ShiftJisLead), 0u);
}

TEST(RecordText, EmptyAndEmbeddedNulTexts) {
    EXPECT_EQ(RecordText(nullptr, 10, &ShiftJisLead), "");
    EXPECT_EQ(RecordText("", 1, &ShiftJisLead), "");
    const char embedded[] = {'a', 'b', '\0', 'c', 'd', '\0'};
    EXPECT_EQ(RecordText(embedded, sizeof embedded, &ShiftJisLead), "ab");
    // The converted text's own terminator is not part of the text.
    EXPECT_EQ(RecordText("True", 5, &ShiftJisLead), "True");

    const PipeMessage empty = MakeValueRecord(1, 3, nullptr, 0, &ShiftJisLead);
    EXPECT_EQ(empty.sessionNumber, 1);
    EXPECT_EQ(empty.tag, 3);
    EXPECT_EQ(empty.text[0], '\0');
    // A long text behind an early NUL is not looked at for the cut.
    const std::string late = Join({"x", std::string(1, '\0'), std::string(400, 'z')});
    EXPECT_EQ(TextOf(MakeValueRecord(1, 5, late.data(), late.size(), nullptr)), "x");
}

TEST(RecordText, LogLinesNameTheTagOrGiveItsDigits) {
    EXPECT_EQ(ChangeLogLine(2, 0x1001, "True"), "Session 2: MSPROPTAG_Play = True\r\n");
    EXPECT_EQ(ChangeLogLine(1, 0, ""), "Session 1: MSPROPTAG_Unknown = \r\n");
    EXPECT_EQ(ChangeLogLine(3, 5, "x"), "Session 3: 5 = x\r\n");
    EXPECT_EQ(CloseLogLine(12), "Closing Session 12\r\n");
}

}  // namespace
}  // namespace zelk
