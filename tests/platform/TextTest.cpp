#include "platform/Text.h"

#include <clocale>
#include <gtest/gtest.h>

using namespace platform;

TEST(Utf8, RoundTripsBmpAndSupplementaryCharacters) {
    const std::string utf8 =
        "Gain \xE3\x82\xB2\xE3\x82\xA4\xE3\x83\xB3 \xF0\x9F\x93\xB7"; // ゲイン 📷
    std::u16string u16 = Utf8ToUtf16(utf8);
    EXPECT_EQ(u16, u"Gain ゲイン 📷");
    EXPECT_EQ(Utf16ToUtf8(u16), utf8);
}

TEST(Utf8, InvalidInputBecomesReplacementCharacters) {
    EXPECT_EQ(Utf8ToUtf16("a\xFFz"), u"a\uFFFDz");
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD");     // overlong '/'
    EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD"); // encoded surrogate
    EXPECT_EQ(Utf8ToUtf16("x\xE3\x82"), u"x\uFFFD");   // cut at the end
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD"); // lone surrogate
}

TEST(LocaleCodeset, UnrepresentableCharactersBecomeQuestionMarks) {
    const char* old = setlocale(LC_ALL, nullptr);
    std::string saved = old ? old : "C";
    ASSERT_NE(setlocale(LC_ALL, "C"), nullptr);
    EXPECT_EQ(Utf16ToLocale(u"gain 5 ゲイン"), "gain 5 ???");
    EXPECT_EQ(Utf16ToLocale(u"📷"), "?");
    setlocale(LC_ALL, saved.c_str());
}

TEST(LocaleCodeset, Utf8LocaleKeepsEverything) {
    const char* old = setlocale(LC_ALL, nullptr);
    std::string saved = old ? old : "C";
    if (!setlocale(LC_ALL, "C.UTF-8"))
        GTEST_SKIP() << "no C.UTF-8 locale";
    EXPECT_EQ(Utf16ToLocale(u"ゲイン"), "\xE3\x82\xB2\xE3\x82\xA4\xE3\x83\xB3");
    EXPECT_EQ(LocaleToUtf16("\xE3\x82\xB2"), u"ゲ");
    setlocale(LC_ALL, saved.c_str());
}

TEST(Cp932, DecodesKanaAndKanjiAndReplacesBrokenBytes) {
    // "カメラ設定" in Shift-JIS, then a lone lead byte at the end.
    const std::string sjis = "\x83\x4A\x83\x81\x83\x89\x90\xDD\x92\xE8";
    EXPECT_EQ(DecodeToUtf16(sjis, "CP932"), u"カメラ設定");
    EXPECT_EQ(DecodeToUtf16("ab\x83", "CP932"), u"ab\uFFFD");
    EXPECT_EQ(DecodeToUtf16("\xB1", "CP932"), u"ｱ"); // half-width katakana
}

TEST(Bytes, OneCharacterPerByte) {
    EXPECT_EQ(BytesToUtf16(std::string("\x3E\xFF\x04", 3)), std::u16string(u">\u00FF\u0004"));
}

TEST(Compare, IgnoresAsciiCaseOnly) {
    EXPECT_TRUE(EqualsIgnoreAsciiCase(u"CamDefine", u"camdefine"));
    EXPECT_FALSE(EqualsIgnoreAsciiCase(u"Ä", u"ä"));
    EXPECT_FALSE(EqualsIgnoreAsciiCase(u"ab", u"abc"));
}

// The first character beyond the BMP, U+10000 (UTF-8 F0 90 80 80, UTF-16 D800 DC00), and its
// neighbours round-trip through every conversion that can hold them.
TEST(Boundary, FirstSupplementaryCharacterRoundTripsEverywhere) {
    const struct {
        std::u16string u16;
        std::string u8;
    } cases[] = {
        {u"\uFFFF", "\xEF\xBF\xBF"},
        {u"\U00010000", "\xF0\x90\x80\x80"},
        {u"\U00010001", "\xF0\x90\x80\x81"},
        {u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
        {u"a\U00010000z", "a\xF0\x90\x80\x80z"},
    };
    ASSERT_EQ(std::u16string(u"\U00010000"), (std::u16string{char16_t(0xD800), char16_t(0xDC00)}));
    const char* old = setlocale(LC_ALL, nullptr);
    const std::string saved = old ? old : "C";
    const bool utf8Locale = setlocale(LC_ALL, "C.UTF-8") != nullptr;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.u8);
        EXPECT_EQ(Utf8ToUtf16(c.u8), c.u16);
        EXPECT_EQ(Utf16ToUtf8(c.u16), c.u8);
        EXPECT_EQ(DecodeToUtf16(c.u8, "UTF-8"), c.u16);
        if (utf8Locale) {
            EXPECT_EQ(Utf16ToLocale(c.u16), c.u8);
            std::string exact;
            EXPECT_TRUE(Utf16ToLocaleExact(c.u16, exact));
            EXPECT_EQ(exact, c.u8);
            EXPECT_EQ(LocaleToUtf16(c.u8), c.u16);
        }
    }
    setlocale(LC_ALL, saved.c_str());
    // Just below the boundary a lone high or low surrogate is no character.
    EXPECT_EQ(Utf8ToUtf16("\xF0\x8F\xBF\xBF"), u"\uFFFD"); // overlong U+FFFF
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xDC00))), "\xEF\xBF\xBD");
}

// Decoding UTF-16 and UTF-32 stays aligned: what is invalid becomes one U+FFFD and everything
// after it is read as it was written.
struct WideCase {
    const char* name;
    std::string bytes;
    const char* codeset;
    std::u16string text;
    bool clean;
};

class WideDecode : public ::testing::TestWithParam<WideCase> {};

TEST_P(WideDecode, KeepsAlignment) {
    bool clean = true;
    EXPECT_EQ(DecodeToUtf16(GetParam().bytes, GetParam().codeset, &clean), GetParam().text);
    EXPECT_EQ(clean, GetParam().clean);
}

INSTANTIATE_TEST_SUITE_P(
    Units, WideDecode,
    ::testing::Values(
        WideCase{"LoneLowSurrogateLe",
                 std::string("a\0\0\xDC"
                             "b\0\n\0",
                             8),
                 "UTF-16LE", u"a\uFFFDb\n", false},
        WideCase{"LoneHighSurrogateLe",
                 std::string("\0\xD8"
                             "c\0",
                             4),
                 "UTF-16LE", u"\uFFFDc", false},
        WideCase{"HighSurrogateAtEnd", std::string("c\0\0\xD8", 4), "UTF-16LE", u"c\uFFFD", false},
        WideCase{"PairLe", std::string("\x3D\xD8\x00\xDE", 4), "UTF-16LE", u"\U0001F600", true},
        WideCase{"LoneSurrogateBe", std::string("\xDC\0\0b", 4), "UTF-16BE", u"\uFFFDb", false},
        WideCase{"OddByteAtEnd", std::string("\0a\0", 3), "UTF-16BE", u"a\uFFFD", false},
        WideCase{"Utf32BeyondUnicode",
                 std::string("\0\0\x11\0"
                             "a\0\0\0",
                             8),
                 "UTF-32LE", u"\uFFFDa", false},
        WideCase{"Utf32Surrogate", std::string("\0\0\xD8\0\0\0\0a", 8), "UTF-32BE", u"\uFFFDa",
                 false},
        WideCase{"Utf32Supplementary", std::string("\0\xF6\x01\0", 4), "UTF-32LE", u"\U0001F600",
                 true},
        WideCase{"Utf32CutAtEnd", std::string("a\0\0\0b\0", 6), "UTF-32LE", u"a\uFFFD", false},
        WideCase{"Utf8Invalid", "a\xFFz", "UTF-8", u"a\uFFFDz", false},
        WideCase{"Utf8Clean", "az", "UTF-8", u"az", true}),
    [](const auto& info) { return std::string(info.param.name); });

// File names are bytes: whatever a name holds comes back byte for byte, whatever the locale;
// well-formed UTF-8 reads as the text it encodes.
TEST(Path, EveryByteSequenceRoundTripsWhateverTheLocale) {
    const char* old = setlocale(LC_ALL, nullptr);
    const std::string saved = old ? old : "C";
    ASSERT_NE(setlocale(LC_ALL, "C"), nullptr);
    for (unsigned a = 0; a < 256; ++a)
        for (unsigned b = 0; b < 256; ++b) {
            const std::string bytes{char(a), char(b), 'x'};
            ASSERT_EQ(Utf16ToPath(PathToUtf16(bytes)), bytes) << a << " " << b;
        }
    const std::string names[] = {"Einstellung-\xC3\xBC.txt",
                                 "caf\xE9.txt",
                                 "\xED\xB2\x80 encoded surrogate",
                                 "cut \xE3\x82",
                                 "\xF0\x9F\x93\xB7",
                                 "\xF4\x90\x80\x80 beyond Unicode",
                                 "overlong \xC0\xAF",
                                 "\xEF\xBF\xBD"};
    for (const std::string& name : names)
        EXPECT_EQ(Utf16ToPath(PathToUtf16(name)), name) << name;
    EXPECT_EQ(PathToUtf16("Einstellung-\xC3\xBC"), u"Einstellung-ü");
    EXPECT_EQ(PathToUtf16("caf\xE9"), u"caf" + std::u16string(1, char16_t(0xDCE9)));
    EXPECT_EQ(Utf16ToPath(u"Einstellung-ü"), "Einstellung-\xC3\xBC");
    // A lone surrogate that stands for no byte cannot come from a name.
    EXPECT_EQ(Utf16ToPath(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
    setlocale(LC_ALL, saved.c_str());
}

TEST(LocaleCodeset, ExactConversionNamesTheFirstCharacterItCannotHold) {
    const char* old = setlocale(LC_ALL, nullptr);
    const std::string saved = old ? old : "C";
    ASSERT_NE(setlocale(LC_ALL, "C"), nullptr);
    std::string out;
    size_t at = 99;
    EXPECT_FALSE(Utf16ToLocaleExact(u"uid Müller 露", out, &at));
    EXPECT_EQ(at, 5u);
    EXPECT_EQ(out, "uid M?ller ?");
    at = 99;
    EXPECT_TRUE(Utf16ToLocaleExact(u"uid Mueller", out, &at));
    EXPECT_EQ(at, 99u);
    if (setlocale(LC_ALL, "C.UTF-8")) {
        EXPECT_FALSE(Utf16ToLocaleExact(u"ab" + std::u16string(1, char16_t(0xDC00)), out, &at));
        EXPECT_EQ(at, 2u);
    }
    setlocale(LC_ALL, saved.c_str());
}
