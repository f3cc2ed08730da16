#include "camdef/ReplyScan.h"

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <limits>
#include <locale.h>

namespace camdef {
namespace {

constexpr size_t kNoWidth = std::numeric_limits<size_t>::max();

locale_t CLocale() {
    static locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

char16_t Lower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

int DigitIn(char16_t c, int base) {
    int d = -1;
    if (c >= u'0' && c <= u'9')
        d = c - u'0';
    else if (c >= u'a' && c <= u'f')
        d = c - u'a' + 10;
    else if (c >= u'A' && c <= u'F')
        d = c - u'A' + 10;
    return d < base ? d : -1;
}

// The text being scanned with its read position.
struct Cursor {
    std::u16string_view text;
    size_t pos = 0;

    bool AtEnd() const { return pos >= text.size(); }
    char16_t Peek() const { return text[pos]; }
    void SkipSpace() {
        while (!AtEnd() && IsScanSpace(text[pos]))
            ++pos;
    }
};

// --- Numbers ---------------------------------------------------------------------------------
// Both readers take characters while they can still begin a number of the conversion (at most
// `width`), and remember how many of them form the longest complete number. They hand back that
// complete part as ASCII; empty when there is none.

enum class FloatState {
    Start,
    Sign,
    Zero,
    Prefix, // "0x": the mantissa is hexadecimal
    Int,
    Dot,  // "." without digits before it
    Frac, // digits with a point somewhere
    Exp,
    ExpSign,
    ExpDigits,
    Inf,
    Nan,
    NanParen,
    NanDone,
};

// Where a float reader stands. A decimal and a hexadecimal number go through the same states:
// only the digits of the mantissa and the letter of the exponent ('e', 'p') differ; the
// exponent's digits are decimal in both.
struct FloatScan {
    FloatState state = FloatState::Start;
    bool hexadecimal = false;
    size_t letters = 0; // of "infinity" or "nan"
};

bool IsAccepting(const FloatScan& f) {
    switch (f.state) {
    case FloatState::Zero:
    case FloatState::Int:
    case FloatState::Frac:
    case FloatState::ExpDigits:
    case FloatState::NanDone:
        return true;
    case FloatState::Inf:
        return f.letters == 3 || f.letters == 8;
    case FloatState::Nan:
        return f.letters == 3;
    default:
        return false;
    }
}

// Next state after `c`, or false when `c` cannot continue a number.
bool FloatStep(FloatScan& f, char16_t c) {
    static constexpr char16_t kInfinity[] = u"infinity";
    static constexpr char16_t kNan[] = u"nan";
    const bool digit = c >= u'0' && c <= u'9';
    const bool hex = DigitIn(c, 16) >= 0;
    const bool mantissaDigit = f.hexadecimal ? hex : digit;
    const char16_t l = Lower(c);
    const bool exponent = l == (f.hexadecimal ? u'p' : u'e');
    FloatState& s = f.state;
    switch (s) {
    case FloatState::Start:
        if (c == u'+' || c == u'-') {
            s = FloatState::Sign;
            return true;
        }
        [[fallthrough]];
    case FloatState::Sign:
        if (c == u'0')
            s = FloatState::Zero;
        else if (digit)
            s = FloatState::Int;
        else if (c == u'.')
            s = FloatState::Dot;
        else if (l == u'i')
            s = FloatState::Inf, f.letters = 1;
        else if (l == u'n')
            s = FloatState::Nan, f.letters = 1;
        else
            return false;
        return true;
    case FloatState::Zero:
        if (l == u'x') {
            s = FloatState::Prefix;
            f.hexadecimal = true;
            return true;
        }
        [[fallthrough]];
    case FloatState::Int:
        if (mantissaDigit)
            s = FloatState::Int;
        else if (c == u'.')
            s = FloatState::Frac;
        else if (exponent)
            s = FloatState::Exp;
        else
            return false;
        return true;
    case FloatState::Prefix:
        if (mantissaDigit)
            s = FloatState::Int;
        else if (c == u'.')
            s = FloatState::Dot;
        else
            return false;
        return true;
    case FloatState::Dot:
        if (!mantissaDigit)
            return false;
        s = FloatState::Frac;
        return true;
    case FloatState::Frac:
        if (exponent)
            s = FloatState::Exp;
        else if (!mantissaDigit)
            return false;
        return true;
    case FloatState::Exp:
        if (c == u'+' || c == u'-')
            s = FloatState::ExpSign;
        else if (digit)
            s = FloatState::ExpDigits;
        else
            return false;
        return true;
    case FloatState::ExpSign:
    case FloatState::ExpDigits:
        if (!digit)
            return false;
        s = FloatState::ExpDigits;
        return true;
    case FloatState::Inf:
        if (f.letters >= 8 || l != kInfinity[f.letters])
            return false;
        ++f.letters;
        return true;
    case FloatState::Nan:
        if (f.letters < 3) {
            if (l != kNan[f.letters])
                return false;
            ++f.letters;
        } else if (c == u'(') {
            s = FloatState::NanParen;
        } else {
            return false;
        }
        return true;
    case FloatState::NanParen:
        if (c == u')')
            s = FloatState::NanDone;
        else if (!(hex || (l >= u'a' && l <= u'z') || c == u'_'))
            return false;
        return true;
    case FloatState::NanDone:
        return false;
    }
    return false;
}

std::string ReadFloat(Cursor& in, size_t width) {
    FloatScan f;
    std::string read;
    size_t complete = 0;
    while (read.size() < width && !in.AtEnd() && FloatStep(f, in.Peek())) {
        read.push_back(static_cast<char>(in.Peek())); // every accepted character is ASCII
        ++in.pos;
        if (IsAccepting(f))
            complete = read.size();
    }
    read.resize(complete);
    return read;
}

enum class IntegerState { Start, Sign, Zero, AfterX, Digits };

// Reads an integer of `base` (0: from its prefix, as "%i"). `base` receives the base used.
std::string ReadInteger(Cursor& in, size_t width, int& base) {
    IntegerState s = IntegerState::Start;
    std::string read;
    size_t complete = 0;
    int digitsBase = base == 0 ? 10 : base;
    while (read.size() < width && !in.AtEnd()) {
        const char16_t c = in.Peek();
        bool take = false;
        switch (s) {
        case IntegerState::Start:
            if (c == u'+' || c == u'-') {
                s = IntegerState::Sign;
                take = true;
                break;
            }
            [[fallthrough]];
        case IntegerState::Sign:
            if ((base == 0 || base == 16) && c == u'0') {
                s = IntegerState::Zero;
                digitsBase = base == 0 ? 8 : 16;
                take = true;
            } else if (DigitIn(c, digitsBase) >= 0) {
                s = IntegerState::Digits;
                take = true;
            }
            break;
        case IntegerState::Zero:
            if (Lower(c) == u'x') {
                s = IntegerState::AfterX;
                digitsBase = 16;
                take = true;
            } else if (DigitIn(c, digitsBase) >= 0) {
                s = IntegerState::Digits;
                take = true;
            }
            break;
        case IntegerState::AfterX:
        case IntegerState::Digits:
            if (DigitIn(c, digitsBase) >= 0) {
                s = IntegerState::Digits;
                take = true;
            }
            break;
        }
        if (!take)
            break;
        read.push_back(static_cast<char>(c));
        ++in.pos;
        if (s == IntegerState::Zero || s == IntegerState::Digits)
            complete = read.size();
    }
    // "0x" without a digit reads as the 0 before it.
    if (s == IntegerState::AfterX && base == 0)
        digitsBase = 8;
    base = digitsBase;
    read.resize(complete);
    return read;
}

int32_t IntegerValue(const std::string& number, int base, bool isSigned) {
    size_t i = 0;
    bool negative = false;
    if (i < number.size() && (number[i] == '+' || number[i] == '-'))
        negative = number[i++] == '-';
    if (base == 16 && i + 1 < number.size() && number[i] == '0' &&
        (number[i + 1] == 'x' || number[i + 1] == 'X'))
        i += 2;
    constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
    uint64_t magnitude = 0;
    bool overflow = false;
    for (; i < number.size(); ++i) {
        const auto d = static_cast<uint64_t>(DigitIn(static_cast<char16_t>(number[i]), base));
        if (magnitude > (kMax - d) / static_cast<uint64_t>(base))
            overflow = true;
        else
            magnitude = magnitude * static_cast<uint64_t>(base) + d;
    }
    if (isSigned) {
        constexpr int64_t lo = std::numeric_limits<int32_t>::min();
        constexpr int64_t hi = std::numeric_limits<int32_t>::max();
        if (overflow || magnitude > static_cast<uint64_t>(hi) + 1)
            return static_cast<int32_t>(negative ? lo : hi);
        const int64_t v =
            negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
        return static_cast<int32_t>(std::clamp(v, lo, hi));
    }
    // Unsigned conversions: the value modulo 2^64 (all ones on overflow), its low 32 bits.
    uint64_t v = overflow ? kMax : magnitude;
    if (negative && !overflow)
        v = ~v + 1;
    return static_cast<int32_t>(static_cast<uint32_t>(v));
}

// --- Scan sets ---------------------------------------------------------------------------

// The characters of a "%[" conversion, from just after '[' to (not including) the closing ']'.
struct ScanSet {
    std::u16string_view members;
    bool negated = false;

    bool Contains(char16_t c) const {
        bool found = false;
        for (size_t i = 0; i < members.size() && !found; ++i) {
            if (i + 2 < members.size() && members[i + 1] == u'-' && members[i] <= members[i + 2]) {
                found = c >= members[i] && c <= members[i + 2];
                i += 2;
            } else {
                found = members[i] == c;
            }
        }
        return found != negated;
    }
};

// Parses the set starting at format[j] (just after '['); j moves past the closing ']'. False
// when the set is not closed.
bool ParseScanSet(std::u16string_view format, size_t& j, ScanSet& set) {
    if (j < format.size() && format[j] == u'^') {
        set.negated = true;
        ++j;
    }
    const size_t start = j;
    if (j < format.size() && format[j] == u']')
        ++j; // a leading ']' is a member
    while (j < format.size() && format[j] != u']')
        ++j;
    if (j >= format.size())
        return false;
    set.members = format.substr(start, j - start);
    ++j;
    return true;
}

} // namespace

bool IsScanSpace(char16_t c) {
    switch (c) {
    case 0x09:
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x20:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x205F:
    case 0x3000:
        return true;
    default:
        return (c >= 0x2000 && c <= 0x2006) || (c >= 0x2008 && c <= 0x200A);
    }
}

int ScanText(std::u16string_view text, std::u16string_view format, size_t maxChars,
             ScanValue& first) {
    Cursor in{text, 0};
    int assigned = 0;
    auto keep = [&](ScanValue&& value) {
        if (assigned++ == 0)
            first = std::move(value);
    };

    size_t j = 0;
    while (j < format.size()) {
        const char16_t f = format[j];
        if (IsScanSpace(f)) {
            while (j < format.size() && IsScanSpace(format[j]))
                ++j;
            in.SkipSpace();
            continue;
        }
        if (f != u'%') {
            if (in.AtEnd() || in.Peek() != f)
                return assigned;
            ++in.pos;
            ++j;
            continue;
        }

        // A conversion: '%' [*] [width] [size letters] letter.
        ++j;
        bool suppress = false;
        if (j < format.size() && format[j] == u'*') {
            suppress = true;
            ++j;
        }
        size_t width = 0;
        while (j < format.size() && format[j] >= u'0' && format[j] <= u'9') {
            width = std::min<size_t>(width * 10 + (format[j] - u'0'), kNoWidth / 16);
            ++j;
        }
        if (width == 0)
            width = kNoWidth;
        bool wide = false; // 'l' or 'L': double precision
        while (j < format.size() &&
               std::u16string_view(u"hlLqjzt").find(format[j]) != std::u16string_view::npos) {
            wide = wide || format[j] == u'l' || format[j] == u'L';
            ++j;
        }
        if (j >= format.size())
            return assigned;
        const char16_t conversion = format[j++];
        const size_t stored = suppress ? width : std::min(width, maxChars);

        switch (conversion) {
        case u'%':
            in.SkipSpace();
            if (in.AtEnd() || in.Peek() != u'%')
                return assigned;
            ++in.pos;
            break;
        case u'n':
            break;
        case u'd':
        case u'i':
        case u'o':
        case u'u':
        case u'x':
        case u'X': {
            in.SkipSpace();
            int base = conversion == u'i'                         ? 0
                       : conversion == u'o'                       ? 8
                       : conversion == u'x' || conversion == u'X' ? 16
                                                                  : 10;
            const std::string number = ReadInteger(in, width, base);
            if (number.empty())
                return assigned;
            if (!suppress) {
                ScanValue v;
                v.kind = ScanKind::Integer;
                v.integer = IntegerValue(number, base, conversion == u'd' || conversion == u'i');
                keep(std::move(v));
            }
            break;
        }
        case u'a':
        case u'A':
        case u'e':
        case u'E':
        case u'f':
        case u'F':
        case u'g':
        case u'G': {
            in.SkipSpace();
            const std::string number = ReadFloat(in, width);
            if (number.empty())
                return assigned;
            if (!suppress) {
                ScanValue v;
                v.kind = ScanKind::Float;
                v.number = wide ? strtod_l(number.c_str(), nullptr, CLocale())
                                : static_cast<double>(strtof_l(number.c_str(), nullptr, CLocale()));
                keep(std::move(v));
            }
            break;
        }
        case u's': {
            in.SkipSpace();
            const size_t start = in.pos;
            while (in.pos - start < stored && !in.AtEnd() && !IsScanSpace(in.Peek()))
                ++in.pos;
            if (in.pos == start)
                return assigned;
            if (!suppress) {
                ScanValue v;
                v.kind = ScanKind::String;
                v.text.assign(text.substr(start, in.pos - start));
                keep(std::move(v));
            }
            break;
        }
        case u'c': {
            const size_t count = std::min(width == kNoWidth ? size_t{1} : width, stored);
            const size_t start = in.pos;
            while (in.pos - start < count && !in.AtEnd())
                ++in.pos;
            if (in.pos == start)
                return assigned;
            if (!suppress) {
                ScanValue v;
                v.kind = ScanKind::String;
                v.text.assign(text.substr(start, in.pos - start));
                keep(std::move(v));
            }
            break;
        }
        case u'[': {
            ScanSet set;
            if (!ParseScanSet(format, j, set))
                return assigned;
            const size_t start = in.pos;
            while (in.pos - start < stored && !in.AtEnd() && set.Contains(in.Peek()))
                ++in.pos;
            if (in.pos == start)
                return assigned;
            if (!suppress) {
                ScanValue v;
                v.kind = ScanKind::String;
                v.text.assign(text.substr(start, in.pos - start));
                keep(std::move(v));
            }
            break;
        }
        default:
            return assigned; // a conversion this scan does not know ends it
        }
    }
    return assigned;
}

} // namespace camdef
