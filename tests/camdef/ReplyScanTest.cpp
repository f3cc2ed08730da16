// The template scan of information replies, against the C library's own wide-string scan
// where both read the same, and on its own where it deliberately reads differently.
#include "camdef/ReplyScan.h"

#include "platform/Text.h"

#include <cmath>
#include <cstring>
#include <cwchar>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <string>

namespace {

using camdef::ScanKind;
using camdef::ScanText;
using camdef::ScanValue;

constexpr size_t kUnbounded = std::numeric_limits<size_t>::max();

std::wstring ToWide(std::u16string_view s) {
    return std::wstring(s.begin(), s.end()); // test texts are ASCII
}

// What the C library's swscanf reads: the number of assigned values (an early end counts as 0)
// and the first value as `kind`.
struct LibraryScan {
    int count;
    int32_t integer = 0;
    double number = 0;
};

LibraryScan ScanWithLibrary(std::u16string_view text, std::u16string_view format, ScanKind kind) {
    // Room for every destination a test template may name.
    alignas(16) unsigned char out[4][64] = {};
    const std::wstring t = ToWide(text), f = ToWide(format);
    int r = std::swscanf(t.c_str(), f.c_str(), out[0], out[1], out[2], out[3]);
    LibraryScan s{r < 0 ? 0 : r};
    if (kind == ScanKind::Integer)
        std::memcpy(&s.integer, out[0], sizeof s.integer);
    else if (kind == ScanKind::Float && f.find(L"%l") != std::wstring::npos)
        std::memcpy(&s.number, out[0], sizeof s.number);
    else if (kind == ScanKind::Float) {
        float v;
        std::memcpy(&v, out[0], sizeof v);
        s.number = v;
    }
    return s;
}

void ExpectSameAsLibrary(std::u16string_view text, std::u16string_view format, ScanKind kind) {
    ScanValue mine;
    const int count = ScanText(text, format, kUnbounded, mine);
    const LibraryScan lib = ScanWithLibrary(text, format, kind);
    const std::string where = "text \"" + platform::Utf16ToUtf8(text) + "\" format \"" +
                              platform::Utf16ToUtf8(format) + "\"";
    ASSERT_EQ(count, lib.count) << where;
    if (count == 0)
        return;
    EXPECT_EQ(mine.kind, kind) << where;
    if (kind == ScanKind::Integer)
        EXPECT_EQ(mine.integer, lib.integer) << where;
    else if (std::isnan(lib.number))
        EXPECT_TRUE(std::isnan(mine.number)) << where;
    else
        EXPECT_EQ(mine.number, lib.number) << where;
}

struct Case {
    std::u16string text;
    std::u16string format;
    ScanKind kind;
};

class SameAsLibrary : public ::testing::TestWithParam<Case> {};

TEST_P(SameAsLibrary, CountAndFirstValue) {
    ExpectSameAsLibrary(GetParam().text, GetParam().format, GetParam().kind);
}

constexpr ScanKind I = ScanKind::Integer;
constexpr ScanKind F = ScanKind::Float;

INSTANTIATE_TEST_SUITE_P(
    Numbers, SameAsLibrary,
    ::testing::Values(
        // Integers: signs, widths, bases, white space and literals around them.
        Case{u"12", u"%d", I}, Case{u"  -12x", u"%d", I}, Case{u"+7", u"%d", I},
        Case{u"-", u"%d", I}, Case{u"", u"%d", I}, Case{u"x", u"%d", I}, Case{u"12", u"%1d", I},
        Case{u"-12", u"%2d", I}, Case{u"  12", u"%2d", I}, Case{u"12", u"%0d", I},
        Case{u"5", u"%d%d", I}, Case{u"5 6", u"%d%d", I}, Case{u"5,6", u"%d,%d", I},
        Case{u"5 ,6", u"%d ,%d", I}, Case{u"5,6", u"%d , %d", I}, Case{u"x5", u"x%d", I},
        Case{u"y5", u"x%d", I}, Case{u"x", u"x%d", I}, Case{u"  %5", u"%%%d", I},
        Case{u"%5", u" %% %d", I}, Case{u"1 2", u"%*d %d", I}, Case{u"1", u"%*d", I},
        Case{u"12\r", u"%d\r", I}, Case{u"12", u"%d\r", I}, Case{u"\t\n\v\f\r 12", u"%d", I},
        Case{u"017", u"%i", I}, Case{u"0x1f", u"%i", I}, Case{u"-0X1F", u"%i", I},
        Case{u"09", u"%i", I}, Case{u"0x", u"%i", I}, Case{u"0xg", u"%i", I}, Case{u"ff", u"%x", I},
        Case{u"0xff", u"%x", I}, Case{u"0x", u"%x", I}, Case{u"-1", u"%u", I},
        Case{u"777", u"%o", I}, Case{u"08", u"%o", I}, Case{u"FFFFFFFF", u"%x", I},
        Case{u"2147483647", u"%d", I}, Case{u"-2147483648", u"%d", I}, Case{u"12", u"%hd", I},
        Case{u"[7]", u"[%d]", I}, Case{u"[7", u"[%d]", I},
        // Floats at single and double precision.
        Case{u"36.6", u"%f", F}, Case{u"36.6", u"%lf", F}, Case{u"+.5e-1", u"%f", F},
        Case{u"1.", u"%f", F}, Case{u"1.e3", u"%e", F}, Case{u"-0", u"%g", F}, Case{u".", u"%f", F},
        Case{u"-.", u"%f", F}, Case{u"1e", u"%f", F}, Case{u"1e+", u"%f", F},
        Case{u"1ex", u"%f", F}, Case{u"100ergs", u"%f", F}, Case{u"1e5", u"%2f", F},
        Case{u"123.456", u"%4f", F}, Case{u"inf", u"%f", F}, Case{u"-Infinity", u"%f", F},
        Case{u"infx", u"%f", F}, Case{u"NaN", u"%f", F}, Case{u"nan(12)", u"%f", F},
        Case{u"0x1.8p1", u"%f", F}, Case{u"0X.8", u"%a", F}, Case{u"0x1p", u"%f", F},
        Case{u"0x.", u"%f", F}, Case{u"1e-50", u"%f", F}, Case{u"1e-50", u"%lf", F},
        Case{u"1e40", u"%f", F}, Case{u"3.4028235e38", u"%f", F}, Case{u"16777217", u"%f", F},
        Case{u"0.1", u"%lf", F}, Case{u"2.5 C", u"%f C", F}, Case{u"2.5C", u"%f C", F},
        Case{u"1,5", u"%f", F}));

// Where this scan deliberately reads differently from the C library.
TEST(ReplyScan, DeliberateDifferencesFromTheLibrary) {
    ScanValue v;
    // Integers beyond 32 bits saturate for d and i, instead of keeping the low bits.
    EXPECT_EQ(ScanText(u"4294967297", u"%d", kUnbounded, v), 1);
    EXPECT_EQ(v.integer, 2147483647);
    EXPECT_EQ(ScanText(u"-99999999999999999999999", u"%i", kUnbounded, v), 1);
    EXPECT_EQ(v.integer, -2147483647 - 1);
    // The unsigned conversions keep the low 32 bits (all ones when beyond 64 bits).
    EXPECT_EQ(ScanText(u"1FFFFFFFE", u"%x", kUnbounded, v), 1);
    EXPECT_EQ(v.integer, -2);
    EXPECT_EQ(ScanText(u"99999999999999999999999", u"%u", kUnbounded, v), 1);
    EXPECT_EQ(v.integer, -1);
    // A number is the longest complete part of what was read, also where the library gives up.
    EXPECT_EQ(ScanText(u"0x", u"%f", kUnbounded, v), 1);
    EXPECT_EQ(v.number, 0.0);
    EXPECT_EQ(ScanText(u"infin", u"%f", kUnbounded, v), 1);
    EXPECT_TRUE(std::isinf(v.number));
}

// Random short numbers and templates, compared with the library. The texts stay within what
// both read alike: no more than eight characters (no 32-bit overflow), and no "0x" or "inf"
// that stops half-way in a floating-point conversion.
TEST(ReplyScan, RandomNumbersReadAsTheLibraryReadsThem) {
    std::mt19937 random(20261209);
    const std::u16string alphabet = u"0123456789+-.eExXpPaifnA(), \t";
    const Case formats[] = {
        {u"", u"%d", I},   {u"", u"%i", I},   {u"", u"%x", I},     {u"", u"%o", I},
        {u"", u"%u", I},   {u"", u"%3d", I},  {u"", u"%*d%d", I},  {u"", u"%d,%d", I},
        {u"", u" %d ", I}, {u"", u"(%d)", I}, {u"", u"%f", F},     {u"", u"%lf", F},
        {u"", u"%3f", F},  {u"", u"%e,", F},  {u"", u"%*f %f", F}, {u"", u"x%f", F},
    };
    int compared = 0;
    for (int n = 0; n < 20000; ++n) {
        std::u16string text;
        const size_t length = random() % 9;
        for (size_t k = 0; k < length; ++k)
            text.push_back(alphabet[random() % alphabet.size()]);
        const Case& c = formats[random() % std::size(formats)];
        if (c.kind == F) {
            // Leave out the float texts the two read differently on purpose.
            std::u16string lower;
            for (char16_t ch : text)
                lower.push_back(ch >= u'A' && ch <= u'Z' ? ch - u'A' + u'a' : ch);
            if (lower.find(u"0x") != std::u16string::npos ||
                lower.find(u"in") != std::u16string::npos)
                continue;
        }
        ExpectSameAsLibrary(text, c.format, c.kind);
        if (::testing::Test::HasFailure())
            return;
        ++compared;
    }
    EXPECT_GT(compared, 10000);
}

TEST(ReplyScan, StringConversions) {
    ScanValue v;
    EXPECT_EQ(ScanText(u"  ABCDEFGHIJ", u"%8s", kUnbounded, v), 1);
    EXPECT_EQ(v.kind, ScanKind::String);
    EXPECT_EQ(v.text, u"ABCDEFGH");
    EXPECT_EQ(ScanText(u"ABCDEFGHIJ", u"%s", 4, v), 1); // the receiver's room bounds it
    EXPECT_EQ(v.text, u"ABCD");
    EXPECT_EQ(ScanText(u"AB CD", u"%s", 4, v), 1);
    EXPECT_EQ(v.text, u"AB");
    EXPECT_EQ(ScanText(u"ABCDEFGHIJ", u"%s", 0, v), 0); // no room at all: nothing converts
    EXPECT_EQ(ScanText(u"   ", u"%s", 4, v), 0);
    EXPECT_EQ(ScanText(u"ABCDEFGHIJ", u"%*s%s", 4, v), 0); // '*' reads the whole word
    EXPECT_EQ(ScanText(u"ab", u"%5c", kUnbounded, v), 1);  // a short end still converts
    EXPECT_EQ(v.text, u"ab");
    EXPECT_EQ(ScanText(u" ab", u"%c", kUnbounded, v), 1); // no white space skipped
    EXPECT_EQ(v.text, u" ");
    EXPECT_EQ(ScanText(u"abc-x", u"%[a-c]", kUnbounded, v), 1);
    EXPECT_EQ(v.text, u"abc");
    EXPECT_EQ(ScanText(u"]]x", u"%[]x]", kUnbounded, v), 1);
    EXPECT_EQ(v.text, u"]]x");
    EXPECT_EQ(ScanText(u"-a-b", u"%[a-]", kUnbounded, v), 1);
    EXPECT_EQ(v.text, u"-a-");
    EXPECT_EQ(ScanText(u"key=val;", u"key=%[^;]", kUnbounded, v), 1);
    EXPECT_EQ(v.text, u"val");
    EXPECT_EQ(ScanText(u"abc", u"%[abc", kUnbounded, v), 0); // an open set ends the scan
    // Wide characters go through as they are.
    EXPECT_EQ(ScanText(u"\u6e29\u5ea6 x", u"%s", kUnbounded, v), 1);
    EXPECT_EQ(v.text, u"\u6e29\u5ea6");
}

TEST(ReplyScan, WhiteSpace) {
    ScanValue v;
    // U+3000 and the other Unicode spaces count; the no-break spaces and U+0085 do not.
    EXPECT_EQ(ScanText(u"\u3000\u2003\u200a12", u"%d", kUnbounded, v), 1);
    EXPECT_EQ(v.integer, 12);
    for (char16_t c : {u'\u00a0', u'\u2007', u'\u202f', u'\u0085', u'\u200b'})
        EXPECT_EQ(ScanText(std::u16string(1, c) + u"12", u"%d", kUnbounded, v), 0) << int(c);
    // A run of white space in the template matches any amount, none included.
    EXPECT_EQ(ScanText(u"a1", u"a \t\r %d", kUnbounded, v), 1);
    EXPECT_EQ(v.integer, 1);
}

TEST(ReplyScan, TemplatesThatEndTheScan) {
    ScanValue v;
    EXPECT_EQ(ScanText(u"5", u"%", kUnbounded, v), 0);
    EXPECT_EQ(ScanText(u"5", u"%5", kUnbounded, v), 0);
    EXPECT_EQ(ScanText(u"5", u"%y", kUnbounded, v), 0);
    EXPECT_EQ(ScanText(u"5", u"%1$d", kUnbounded, v), 0);
    EXPECT_EQ(ScanText(u"5 6", u"%d%p%d", kUnbounded, v), 1);
    EXPECT_EQ(ScanText(u"5", u"%99999999999999999999999d", kUnbounded, v), 1);
    EXPECT_EQ(v.integer, 5);
    EXPECT_EQ(ScanText(u"", u"", kUnbounded, v), 0);
    EXPECT_EQ(ScanText(u"5", u"%n%d", kUnbounded, v), 1); // %n matches nothing, counts nothing
    EXPECT_EQ(v.integer, 5);
    EXPECT_EQ(ScanText(u"0.1", u"%Lf", kUnbounded, v), 1);
    EXPECT_EQ(v.number, 0.1);
    EXPECT_EQ(ScanText(std::u16string(100000, u'7'), u"%d", kUnbounded, v), 1);
    EXPECT_EQ(v.integer, 2147483647);
}

} // namespace
