#include <gtest/gtest.h>

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
    for (std::size_t i = 0; i < count; ++i) s.append("\x93\xfa");  // one character, two bytes
    return s;
}

std::string Cat(std::string a, const std::string& b) {
    return a.append(b);
}

TEST(RecordText, TextsAreCutAtTheFirstNulAndOn255BytesWithoutSplittingACharacter) {
    const struct {
        const char* name;
        std::string in;
        LeadBytePredicate lead;
        std::string out;
    } cases[] = {
        {"exactly 255", std::string(255, 'x'), nullptr, std::string(255, 'x')},
        {"over 255", std::string(300, 'y'), &ShiftJisLead, std::string(255, 'y')},
        // The 128th pair would end at byte 256: 127 pairs remain.
        {"pairs", Pairs(200), &ShiftJisLead, Pairs(127)},
        {"single byte then pairs", Cat("a", Pairs(200)), &ShiftJisLead, Cat("a", Pairs(127))},
        // A trail byte that looks like a lead byte is still the second half of its pair.
        {"trail like lead", Cat(std::string(253, 'b'), "\x81\x81\x81\x40"), &ShiftJisLead,
         Cat(std::string(253, 'b'), "\x81\x81")},
        {"no code page knowledge", Pairs(200), nullptr, Pairs(200).substr(0, 255)},
        {"embedded NUL", std::string("ab\0cd\0", 6), &ShiftJisLead, "ab"},
        {"own terminator", std::string("True\0", 5), &ShiftJisLead, "True"},
        {"long text behind a NUL", Cat(std::string("x\0", 2), std::string(400, 'z')), nullptr, "x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RecordText(c.in.data(), c.in.size(), c.lead), c.out);
        const PipeMessage m = MakeValueRecord(2, 0x2019, c.in.data(), c.in.size(), c.lead);
        EXPECT_EQ(m.sessionNumber, 2);
        EXPECT_EQ(m.tag, 0x2019);
        EXPECT_EQ(std::string(m.text), c.out);
    }
    EXPECT_EQ(RecordText(nullptr, 10, &ShiftJisLead), "");
    EXPECT_EQ(MakeValueRecord(1, 3, nullptr, 0, &ShiftJisLead).text[0], '\0');

    // A lead byte at the very end stands alone; a pair that does not fit is left out whole.
    EXPECT_EQ(CutOnCharacterBoundary("ab\x93", 3, 255, &ShiftJisLead), 3u);
    EXPECT_EQ(CutOnCharacterBoundary("ab\x93", 3, 2, &ShiftJisLead), 2u);
    EXPECT_EQ(CutOnCharacterBoundary("\x93\xfa", 2, 1, &ShiftJisLead), 0u);
}

TEST(RecordText, LogLinesNameTheTagOrGiveItsDigits) {
    EXPECT_EQ(ChangeLogLine(2, 0x1001, "True"), "Session 2: MSPROPTAG_Play = True\r\n");
    EXPECT_EQ(ChangeLogLine(1, 0, ""), "Session 1: MSPROPTAG_Unknown = \r\n");
    EXPECT_EQ(ChangeLogLine(3, 5, "x"), "Session 3: 5 = x\r\n");
    EXPECT_EQ(CloseLogLine(12), "Closing Session 12\r\n");
}

}  // namespace
}  // namespace zelk
