// The pipe's text from Unicode: what Windows-1252 keeps, what is transliterated, what becomes
// '?', broken UTF-8, controls, the length limit, and UTF-16 to UTF-8.
#include <gtest/gtest.h>

#include <string>

#include "common/pipe_text.h"

namespace zelk {
namespace {

struct Case {
    const char* utf8;
    const char* pipe;
};

void ExpectAll(std::initializer_list<Case> cases) {
    for (const Case& c : cases) EXPECT_EQ(ToPipeText(c.utf8), c.pipe) << c.utf8;
}

TEST(PipeText, KeepsWhat1252HasAndTransliteratesTheRest) {
    ExpectAll({
        {"Caf\xC3\xA9 \xC3\x91"
         "and\xC3\xBA \xE2\x82\xAC"
         "5 \xC5\x92uvre\xE2\x84\xA2",
         "Caf\xE9 \xD1"
         "and\xFA \x80"
         "5 \x8Cuvre\x99"},
        {"\xC5\x81\xC3\xB3\x64\xC5\xBA",
         "L\xF3"
         "dz"},                                          // Łódź
        {"\xC4\xB0yile\xC5\x9Fiyorum", "Iyilesiyorum"},  // İyileşiyorum
        {"Dvo\xC5\x99\xC3\xA1k, Erd\xC5\x91s, \xC8\x98tefan", "Dvor\xE1k, Erd\xF6s, Stefan"},
        {"S\xC6\xA1n T\xC3\xB9ng, M\xE1\xBB\xB9 T\xC3\xA2m", "Son T\xF9ng, My T\xE2m"},
        {"Stra\xC3\x9F"
         "e \xE1\xBA\x9E \xEF\xAC\x81"
         "n",
         "Stra\xDF"
         "e SS fin"},
        // Кино - Группа крови; Щедрик; Ёлка; Ђорђе; Київ
        {"\xD0\x9A\xD0\xB8\xD0\xBD\xD0\xBE - \xD0\x93\xD1\x80\xD1\x83\xD0\xBF\xD0\xBF\xD0\xB0 "
         "\xD0\xBA\xD1\x80\xD0\xBE\xD0\xB2\xD0\xB8",
         "Kino - Gruppa krovi"},
        {"\xD0\xA9\xD0\xB5\xD0\xB4\xD1\x80\xD0\xB8\xD0\xBA \xD0\x81\xD0\xBB\xD0\xBA\xD0\xB0",
         "Shchedrik Yolka"},
        {"\xD0\x82\xD0\xBE\xD1\x80\xD1\x92\xD0\xB5 \xD0\x9A\xD0\xB8\xD1\x97\xD0\xB2 "
         "\xD0\xBE\xD0\xB1\xD1\x8A\xD0\xB5\xD0\xBC",
         "Djordje Kiyiv obem"},
        // Μίκης Θεοδωράκης; Ψυχή
        {"\xCE\x9C\xCE\xAF\xCE\xBA\xCE\xB7\xCF\x82 \xCE\x98\xCE\xB5\xCE\xBF\xCE\xB4\xCF\x89\xCF\x81"
         "\xCE\xAC\xCE\xBA\xCE\xB7\xCF\x82 \xCE\xA8\xCF\x85\xCF\x87\xCE\xAE",
         "Mikis Theodorakis Psychi"},
        // “Hello” ‘world’ – — „x‟ ′ −1
        {"\xE2\x80\x9CHello\xE2\x80\x9D \xE2\x80\x98world\xE2\x80\x99 \xE2\x80\x93 \xE2\x80\x94 "
         "\xE2\x80\x9Ex\xE2\x80\x9F \xE2\x80\xB2 \xE2\x88\x92"
         "1",
         "\"Hello\" 'world' - - \"x\" ' -1"},
        // Combining accents join the letter before them where 1252 has the pair.
        {"Cafe\xCC\x81 A\xCC\x8A n\xCC\x83 S\xCC\x8C o\xCC\xA8 x\xCC\x81",
         "Caf\xE9 \xC5 \xF1 \x8A o x"},
        {"\xEF\xBC\xA1\xEF\xBC\xA2\xEF\xBD\x83", "ABc"},  // full width
    });
}

TEST(PipeText, OneQuestionMarkForWhatHasNoTransliteration) {
    ExpectAll({
        {"Caf\xC3\xA9 \xE2\x98\x95!", "Caf\xE9 ?!"},
        {"\xE6\x97\xA5\xE6\x9C\xAC", "??"},  // 日本
        {"a\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD"
         "b",
         "a?b"},                              // thumbs up, skin tone
        {"\xE2\x9D\xA4\xEF\xB8\x8F!", "?!"},  // heart, variation selector
        {"\xCE\x87", "?"},                    // unassigned in the Greek table
    });
}

TEST(PipeText, BrokenUtf8AndControls) {
    ExpectAll({
        {"\xFF"
         "a",
         "?a"},
        {"\xE2\x82"
         "b",
         "?b"},  // cut short
        {"\xC0\xAF"
         "c",
         "?c"},  // overlong
        {"\xED\xA0\x80"
         "d",
         "?d"},  // a surrogate
        {"\xF4\x90\x80\x80"
         "e",
         "?e"},  // past U+10FFFF
        {"\x80\x80"
         "f",
         "?f"},             // stray continuation bytes
        {"gh\xC3", "gh?"},  // ends inside a character
        {"a\tb\nc\rd\x01"
         "e\x7F"
         "f\xC2\x85g\xE2\x80\x8Bh\xC2\xAD"
         "i",
         "a b c defghi"},
    });
}

TEST(PipeText, FitsTheRecord) {
    EXPECT_EQ(ToPipeText(std::string(300, 'a')), std::string(255, 'a'));
    std::string shch;
    for (int i = 0; i < 100; ++i) shch += "\xD0\xA9";  // each one becomes "Shch"
    const std::string out = ToPipeText(shch);
    EXPECT_EQ(out.size(), 255u);
    EXPECT_EQ(out.substr(0, 8), "ShchShch");
    EXPECT_EQ(ToPipeText(std::string(1 << 20, 'x')).size(), 255u);
    EXPECT_EQ(ToPipeText(""), "");
}

TEST(PipeText, Utf16ToUtf8) {
    EXPECT_EQ(Utf16ToUtf8(u"\u0141\u00F3d\u017A"), "\xC5\x81\xC3\xB3\x64\xC5\xBA");
    EXPECT_EQ(Utf16ToUtf8(u"a\U0001F600"), "a\xF0\x9F\x98\x80");
    const std::u16string unpaired{u'x', char16_t(0xD800), u'y', char16_t(0xDC00)};
    EXPECT_EQ(Utf16ToUtf8(unpaired), "x\xEF\xBF\xBDy\xEF\xBF\xBD");
    EXPECT_EQ(ToPipeText(Utf16ToUtf8(u"\u201C\u0141\u00F3d\u017A\u201D")),
              "\"L\xF3"
              "dz\"");
}

}  // namespace
}  // namespace zelk
