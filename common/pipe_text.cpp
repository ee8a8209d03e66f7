// The pipe's text conversion: a UTF-8 decoder, Windows-1252's own characters and one
// transliteration table for the rest.
#include "common/pipe_text.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <optional>

#include "common/pipe_message.h"

namespace zelk {

namespace {

constexpr std::size_t kMaxText = kPipeTextSize - 1;
constexpr char32_t kBroken = 0xFFFFFFFF;

// Decodes the code point at `i` and moves past it. A broken sequence (a stray continuation
// byte, a sequence cut short, an overlong form, a surrogate, a value past U+10FFFF) gives
// kBroken and moves past its lead byte and the continuation bytes that follow.
char32_t Decode(std::string_view s, std::size_t& i) {
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(s[at]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    char32_t c = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead < 0x80) {
        ++i;
        return lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        c = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        c = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    }
    bool ok = length != 0 && i + length <= s.size();
    for (std::size_t k = 1; ok && k < length; ++k) {
        const unsigned char b = byte(i + k);
        ok = k == 1 ? (b >= low && b <= high) : (b & 0xC0) == 0x80;
        c = (c << 6) | (b & 0x3F);
    }
    if (ok) {
        i += length;
        return c;
    }
    ++i;
    while (i < s.size() && (byte(i) & 0xC0) == 0x80) ++i;
    return kBroken;
}

// Windows-1252 bytes 0x80-0x9F (0: unassigned).
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

struct Transliteration {
    char32_t code;
    const char* text;  // "" removes the character
};

// Characters with a text of their own, sorted by code. Typographic quotes and dashes take their
// ASCII forms even where 1252 has them (the panel's own code page does not).
// clang-format off
constexpr Transliteration kTable[] = {
    {0x00AD, ""},  // soft hyphen
    {0x0132, "IJ"}, {0x0133, "ij"}, {0x0150, "\xD6"}, {0x0151, "\xF6"}, {0x0170, "\xDC"},
    {0x0171, "\xFC"},
    {0x01C4, "DZ"}, {0x01C5, "Dz"}, {0x01C6, "dz"}, {0x01C7, "LJ"}, {0x01C8, "Lj"}, {0x01C9, "lj"},
    {0x01CA, "NJ"}, {0x01CB, "Nj"}, {0x01CC, "nj"}, {0x01D5, "\xDC"}, {0x01D6, "\xFC"},
    {0x01D7, "\xDC"}, {0x01D8, "\xFC"}, {0x01D9, "\xDC"}, {0x01DA, "\xFC"}, {0x01DB, "\xDC"},
    {0x01DC, "\xFC"}, {0x01F1, "DZ"}, {0x01F2, "Dz"}, {0x01F3, "dz"}, {0x0259, "e"},
    {0x02B9, "'"}, {0x02BA, "\""}, {0x02BB, "'"}, {0x02BC, "'"}, {0x02C8, "'"},
    // Cyrillic beyond Russian, Ukrainian, Belarusian, Serbian and Macedonian.
    {0x0490, "G"}, {0x0491, "g"}, {0x0492, "G"}, {0x0493, "g"}, {0x049A, "K"}, {0x049B, "k"},
    {0x04A2, "N"}, {0x04A3, "n"}, {0x04AE, "U"}, {0x04AF, "u"}, {0x04B0, "U"}, {0x04B1, "u"},
    {0x04BA, "H"}, {0x04BB, "h"}, {0x04C0, "I"}, {0x04CF, "i"}, {0x04D8, "A"}, {0x04D9, "a"},
    {0x04E8, "O"}, {0x04E9, "o"},
    {0x1E9E, "SS"},
    {0x2000, " "}, {0x2001, " "}, {0x2002, " "}, {0x2003, " "}, {0x2004, " "}, {0x2005, " "},
    {0x2006, " "}, {0x2007, " "}, {0x2008, " "}, {0x2009, " "}, {0x200A, " "}, {0x200B, ""},
    {0x200C, ""}, {0x200D, ""}, {0x200E, ""}, {0x200F, ""},
    {0x2010, "-"}, {0x2011, "-"}, {0x2012, "-"}, {0x2013, "-"}, {0x2014, "-"}, {0x2015, "-"},
    {0x2018, "'"}, {0x2019, "'"}, {0x201A, "'"}, {0x201B, "'"},
    {0x201C, "\""}, {0x201D, "\""}, {0x201E, "\""}, {0x201F, "\""},
    {0x2024, "."}, {0x2025, ".."}, {0x2027, "-"}, {0x2028, " "}, {0x2029, " "},
    {0x202A, ""}, {0x202B, ""}, {0x202C, ""}, {0x202D, ""}, {0x202E, ""}, {0x202F, " "},
    {0x2032, "'"}, {0x2033, "\""}, {0x2035, "'"}, {0x2036, "\""}, {0x2043, "-"}, {0x2044, "/"},
    {0x205F, " "}, {0x2060, ""}, {0x2061, ""}, {0x2062, ""}, {0x2063, ""}, {0x2064, ""},
    {0x2066, ""}, {0x2067, ""}, {0x2068, ""}, {0x2069, ""},
    {0x2116, "No"}, {0x2190, "<-"}, {0x2192, "->"}, {0x2212, "-"}, {0x2260, "!="},
    {0x2264, "<="}, {0x2265, ">="}, {0x266F, "#"}, {0x3000, " "},
    {0xFB00, "ff"}, {0xFB01, "fi"}, {0xFB02, "fl"}, {0xFB03, "ffi"}, {0xFB04, "ffl"},
    {0xFB05, "st"}, {0xFB06, "st"},
    {0xFE00, ""}, {0xFE01, ""}, {0xFE02, ""}, {0xFE03, ""}, {0xFE04, ""}, {0xFE05, ""},
    {0xFE06, ""}, {0xFE07, ""}, {0xFE08, ""}, {0xFE09, ""}, {0xFE0A, ""}, {0xFE0B, ""},
    {0xFE0C, ""}, {0xFE0D, ""}, {0xFE0E, ""}, {0xFE0F, ""}, {0xFEFF, ""},
};
static_assert(std::is_sorted(std::begin(kTable), std::end(kTable),
                             [](const Transliteration& a, const Transliteration& b) {
                                 return a.code < b.code;
                             }));

// The base letter of each Latin Extended-A/B letter, U+0100-U+024F ('?': none).
constexpr std::string_view kLatinExtended =
    "AaAaAaCcCcCcCcDdDdEeEeEeEeEeGgGg"  // 0100
    "GgGgHhHhIiIiIiIiIi??JjKkkLlLlLlL"  // 0120
    "lLlNnNnNnnNnOoOoOo??RrRrRrSsSsSs"  // 0140
    "SsTtTtTtUuUuUuUuUuUuWwYyYZzZzZzs"  // 0160
    "bBBb???CcDDDd??EEF?G???IKkl??NnO"  // 0180
    "Oo??Pp?????tTtTUu?VYyZz?????????"  // 01A0
    "?????????????AaIiOoUuUuUuUuUu?Aa"  // 01C0
    "Aa??GgGgKkOoOo??j???Gg??NnAa????"  // 01E0
    "AaAaEeEeIiIiOoOoRrRrUuUuSsTt??Hh"  // 0200
    "?d??ZzAaEeOoOoOoOoYylntj??ACcLTs"  // 0220
    "z??BU?EeJjQqRrYy";                 // 0240

// Latin Extended Additional, U+1E00-U+1EFF (Vietnamese among them).
constexpr std::string_view kLatinAdditional =
    "AaBbBbBbCcDdDdDdDdDdEeEeEeEeEeFf"  // 1E00
    "GgHhHhHhHhHhIiIiKkKkKkLlLlLlLlMm"  // 1E20
    "MmMmNnNnNnNnOoOoOoOoPpPpRrRrRrRr"  // 1E40
    "SsSsSsSsSsTtTtTtTtUuUuUuUuUuVvVv"  // 1E60
    "WwWwWwWwWwXxXxYyZzZzZzhtwy??????"  // 1E80
    "AaAaAaAaAaAaAaAaAaAaAaAaEeEeEeEe"  // 1EA0
    "EeEeEeEeIiIiOoOoOoOoOoOoOoOoOoOo"  // 1EC0
    "OoOoUuUuUuUuUuUuUuYyYyYyYy??????";  // 1EE0

// Cyrillic U+0400-U+045F: Russian, Ukrainian, Belarusian, Serbian, Macedonian and Bulgarian
// letters in a practical Latin transliteration; the hard and soft signs are left out.
constexpr const char* kCyrillic[96] = {
    "E", "Yo", "Dj", "Gj", "Ye", "Dz", "I", "Yi", "J", "Lj", "Nj", "C", "Kj", "I", "U", "Dz",
    "A", "B", "V", "G", "D", "E", "Zh", "Z", "I", "Y", "K", "L", "M", "N", "O", "P",
    "R", "S", "T", "U", "F", "Kh", "Ts", "Ch", "Sh", "Shch", "", "Y", "", "E", "Yu", "Ya",
    "a", "b", "v", "g", "d", "e", "zh", "z", "i", "y", "k", "l", "m", "n", "o", "p",
    "r", "s", "t", "u", "f", "kh", "ts", "ch", "sh", "shch", "", "y", "", "e", "yu", "ya",
    "e", "yo", "dj", "gj", "ye", "dz", "i", "yi", "j", "lj", "nj", "c", "kj", "i", "u", "dz",
};

// Greek U+0386-U+03CE, modern Greek as ELOT 743 writes it letter by letter (null: unassigned).
constexpr const char* kGreek[73] = {
    "A", nullptr, "E", "I", "I", nullptr, "O", nullptr, "Y", "O", "i",             // 0386
    "A", "V", "G", "D", "E", "Z", "I", "Th", "I", "K", "L", "M", "N", "X", "O",    // 0391
    "P", "R", nullptr, "S", "T", "Y", "F", "Ch", "Ps", "O", "I", "Y",              // 03A0
    "a", "e", "i", "i", "y",                                                       // 03AC
    "a", "v", "g", "d", "e", "z", "i", "th", "i", "k", "l", "m", "n", "x", "o",    // 03B1
    "p", "r", "s", "s", "t", "y", "f", "ch", "ps", "o", "i", "y", "o", "y", "o",   // 03C0
};
// clang-format on

// What a code point (not ASCII, not a control) becomes: its text, or nullopt when there is none.
std::optional<std::string_view> Convert(char32_t c, char& single) {
    const auto* end = std::end(kTable);
    const auto* hit =
        std::lower_bound(std::begin(kTable), end, c,
                         [](const Transliteration& t, char32_t v) { return t.code < v; });
    if (hit != end && hit->code == c) return std::string_view(hit->text);
    const auto one = [&](char letter) -> std::optional<std::string_view> {
        if (letter == '?') return std::nullopt;
        single = letter;
        return std::string_view(&single, 1);
    };
    if (c >= 0xA0 && c <= 0xFF) return one(static_cast<char>(c));
    for (std::size_t k = 0; k < kCp1252High.size(); ++k) {
        if (kCp1252High[k] != 0 && kCp1252High[k] == c) return one(static_cast<char>(0x80 + k));
    }
    if (c >= 0x100 && c < 0x100 + kLatinExtended.size()) return one(kLatinExtended[c - 0x100]);
    if (c >= 0x1E00 && c < 0x1E00 + kLatinAdditional.size()) {
        return one(kLatinAdditional[c - 0x1E00]);
    }
    if (c >= 0x400 && c < 0x460) return std::string_view(kCyrillic[c - 0x400]);
    if (c >= 0x386 && c < 0x386 + std::size(kGreek) && kGreek[c - 0x386] != nullptr) {
        return std::string_view(kGreek[c - 0x386]);
    }
    if (c >= 0xFF01 && c <= 0xFF5E) return one(static_cast<char>(c - 0xFEE0));  // full width
    return std::nullopt;
}

// A combining accent after a letter: the 1252 letter that carries it, else 0.
char Compose(char base, char32_t mark) {
    // Latin-1's accented letters from 0xC0 by base letter and accent (g grave, a acute,
    // c circumflex, t tilde, d diaeresis, r ring, s cedilla); capitals here, small ones 0x20 on.
    static constexpr std::string_view kLatin1 =
        "AgAaAcAtAdAr  CsEgEaEcEdIgIaIcId  NtOgOaOcOtOd    UgUaUcUdYa    ";
    static constexpr char32_t kMarks[] = {0x300, 0x301, 0x302, 0x303, 0x308, 0x30A, 0x327};
    static constexpr std::string_view kAccents = "gactdrs";
    if (mark == 0x30C) {  // caron: of these letters 1252 has only Š, š, Ž and ž
        switch (base) {
            case 'S':
                return '\x8A';
            case 's':
                return '\x9A';
            case 'Z':
                return '\x8E';
            case 'z':
                return '\x9E';
            default:
                return 0;
        }
    }
    const auto* found = std::find(std::begin(kMarks), std::end(kMarks), mark);
    if (found == std::end(kMarks)) return 0;
    const char accent = kAccents[static_cast<std::size_t>(found - std::begin(kMarks))];
    if (base == 'y' && accent == 'd') return static_cast<char>(0xFF);
    if (base == 'Y' && accent == 'd') return static_cast<char>(0x9F);
    const bool small = base >= 'a' && base <= 'z';
    const char upper = small ? static_cast<char>(base - 0x20) : base;
    for (std::size_t k = 0; k + 1 < kLatin1.size(); k += 2) {
        if (kLatin1[k] == upper && kLatin1[k + 1] == accent) {
            return static_cast<char>(0xC0 + k / 2 + (small ? 0x20 : 0));
        }
    }
    return 0;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::string ToPipeText(std::string_view utf8) {
    std::string out;
    std::size_t i = 0;
    while (i < utf8.size() && out.size() < kMaxText) {
        const char32_t c = Decode(utf8, i);
        if (c == kBroken) {
            out += '?';
        } else if (c < 0x20 || (c >= 0x7F && c < 0xA0)) {
            if (c == '\t' || c == '\n' || c == '\r') out += ' ';
        } else if (c < 0x7F) {
            out += static_cast<char>(c);
        } else if (c >= 0x300 && c < 0x370) {
            // A combining accent: joined with the letter before it where 1252 has the pair,
            // else dropped (the letter stays).
            if (!out.empty()) {
                if (const char composed = Compose(out.back(), c)) out.back() = composed;
            }
        } else {
            char single = 0;
            if (const auto text = Convert(c, single)) {
                out.append(*text);
            } else if ((c >= 0xE0000 && c <= 0xE007F) || (c >= 0x1F3FB && c <= 0x1F3FF)) {
                // tags and skin tones belong to the emoji before them, already one '?'
            } else {
                out += '?';
            }
        }
    }
    if (out.size() > kMaxText) out.resize(kMaxText);
    return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        char32_t c = utf16[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        AppendUtf8(out, c);
    }
    return out;
}

}  // namespace zelk
