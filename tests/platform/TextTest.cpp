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
