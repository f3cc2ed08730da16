#include "camdef/NumberText.h"

#include <algorithm>
#include <array>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <locale.h>
#include <string>

namespace camdef {
namespace {

// First code point ("zero") of every run of ten Unicode decimal digits (category Nd).
constexpr std::array<char32_t, 66> kDigitZeros = {
    0x30,    0x660,   0x6F0,   0x7C0,   0x966,   0x9E6,   0xA66,   0xAE6,   0xB66,   0xBE6,
    0xC66,   0xCE6,   0xD66,   0xDE6,   0xE50,   0xED0,   0xF20,   0x1040,  0x1090,  0x17E0,
    0x1810,  0x1946,  0x19D0,  0x1A80,  0x1A90,  0x1B50,  0x1BB0,  0x1C40,  0x1C50,  0xA620,
    0xA8D0,  0xA900,  0xA9D0,  0xA9F0,  0xAA50,  0xABF0,  0xFF10,  0x104A0, 0x10D30, 0x11066,
    0x110F0, 0x11136, 0x111D0, 0x112F0, 0x11450, 0x114D0, 0x11650, 0x116C0, 0x11730, 0x118E0,
    0x11950, 0x11C50, 0x11D50, 0x11DA0, 0x16A60, 0x16AC0, 0x16B50, 0x1D7CE, 0x1D7D8, 0x1D7E2,
    0x1D7EC, 0x1D7F6, 0x1E140, 0x1E2F0, 0x1E950, 0x1FBF0,
};

int DigitValue(char32_t cp) {
    if (cp >= U'0' && cp <= U'9')
        return static_cast<int>(cp - U'0');
    auto it = std::upper_bound(kDigitZeros.begin(), kDigitZeros.end(), cp);
    if (it == kDigitZeros.begin())
        return -1;
    --it;
    return cp - *it < 10 ? static_cast<int>(cp - *it) : -1;
}

// White space before a number of a definition: every Unicode space, no-break spaces and NEL
// included, since a value element may be padded with any of them. The reply scan's white space
// (IsScanSpace) leaves the no-break spaces out, because there it also splits texts.
bool IsSpace(char16_t c) {
    switch (c) {
    case 0x09:
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x20:
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
        return true;
    default:
        return c >= 0x2000 && c <= 0x200A;
    }
}

size_t SkipSpace(std::u16string_view text) {
    size_t i = 0;
    while (i < text.size() && IsSpace(text[i]))
        ++i;
    return i;
}

locale_t CLocale() {
    static locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

} // namespace

int DecimalDigitAt(std::u16string_view text, size_t i, size_t& length) {
    length = 1;
    char16_t c = text[i];
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
        char32_t cp =
            0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
        int d = DigitValue(cp);
        if (d >= 0)
            length = 2;
        return d;
    }
    if (c >= 0xD800 && c <= 0xDFFF)
        return -1;
    return DigitValue(c);
}

int64_t ParseIntegerText(std::u16string_view text) {
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
    size_t i = SkipSpace(text);
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    int64_t magnitude = 0; // kept below 2^33 so it cannot overflow
    while (i < text.size()) {
        size_t len = 1;
        int d = DecimalDigitAt(text, i, len);
        if (d < 0)
            break;
        if (magnitude <= kMax + 1)
            magnitude = magnitude * 10 + d;
        i += len;
    }
    int64_t v = negative ? -magnitude : magnitude;
    return std::clamp(v, kMin, kMax);
}

double ParseFloatText(std::u16string_view text) {
    size_t i = SkipSpace(text);
    std::string ascii; // the longest prefix that forms a decimal number
    auto digits = [&](size_t& pos) {
        size_t n = 0;
        while (pos < text.size() && text[pos] >= u'0' && text[pos] <= u'9') {
            ascii.push_back(static_cast<char>(text[pos++]));
            ++n;
        }
        return n;
    };
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        ascii.push_back(static_cast<char>(text[i++]));
    size_t mantissaDigits = digits(i);
    if (i < text.size() && text[i] == u'.') {
        ascii.push_back('.');
        ++i;
        mantissaDigits += digits(i);
    }
    if (mantissaDigits == 0)
        return 0.0;
    if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
        size_t j = i + 1;
        std::string exponent = "e";
        if (j < text.size() && (text[j] == u'+' || text[j] == u'-'))
            exponent.push_back(static_cast<char>(text[j++]));
        size_t start = j;
        while (j < text.size() && text[j] >= u'0' && text[j] <= u'9')
            exponent.push_back(static_cast<char>(text[j++]));
        if (j > start)
            ascii += exponent;
    }
    return strtod_l(ascii.c_str(), nullptr, CLocale());
}

int64_t TruncateToInt64(double value) {
    // 2^63 is exactly representable; every double below it and above -2^63 - 1 converts.
    constexpr double kLimit = 9223372036854775808.0;
    if (!(value > -kLimit - 1.0 && value < kLimit))
        return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(value);
}

} // namespace camdef
