#include "app/PropValue.h"

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <locale.h>
#include <string>
#include <type_traits>

namespace propvalue {

namespace {

template <class T>
constexpr bool kIsIntegerKind = std::is_integral_v<T>;

std::u16string Widen(std::string_view ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f';
}

// Sign and magnitude of the decimal number at the start of `text` (after blanks), the magnitude
// held at UINT64_MAX when it is longer.
struct Decimal {
    bool negative = false;
    uint64_t magnitude = 0;
    bool overflow = false;
};

Decimal ReadDecimal(std::u16string_view text) {
    Decimal d;
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
        d.negative = text[i] == u'-';
        ++i;
    }
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        const uint64_t digit = static_cast<uint64_t>(text[i] - u'0');
        if (d.magnitude > (std::numeric_limits<uint64_t>::max() - digit) / 10) {
            d.overflow = true;
            d.magnitude = std::numeric_limits<uint64_t>::max();
        } else if (!d.overflow) {
            d.magnitude = d.magnitude * 10 + digit;
        }
    }
    return d;
}

// The decimal number as T, held at T's bounds.
template <class T>
T DecimalAs(const Decimal& d) {
    using Limits = std::numeric_limits<T>;
    if constexpr (std::is_signed_v<T>) {
        const uint64_t maxMagnitude = static_cast<uint64_t>(Limits::max());
        if (d.negative) {
            if (d.magnitude > maxMagnitude)
                return Limits::min();
            return static_cast<T>(-static_cast<int64_t>(d.magnitude));
        }
        return d.magnitude > maxMagnitude ? Limits::max() : static_cast<T>(d.magnitude);
    } else {
        // An unsigned kind reads a negative number as its nearest bound, 0.
        if (d.negative)
            return 0;
        return d.magnitude > static_cast<uint64_t>(Limits::max()) ? Limits::max()
                                                                  : static_cast<T>(d.magnitude);
    }
}

double ParseDouble(std::u16string_view text) {
    // The C locale's reading, whatever the process locale: the decimal point is a full stop.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(0));
    std::string ascii;
    ascii.reserve(text.size());
    for (char16_t c : text) {
        if (c >= 0x80)
            break;
        ascii.push_back(static_cast<char>(c));
    }
    const double value =
        cLocale ? strtod_l(ascii.c_str(), nullptr, cLocale) : std::strtod(ascii.c_str(), nullptr);
    // A number too large for a double is held at the largest finite one.
    if (std::isinf(value) && ascii.find_first_of("iI") == std::string::npos)
        return value > 0 ? std::numeric_limits<double>::max() : -std::numeric_limits<double>::max();
    return value;
}

} // namespace

bool IsInteger(const PropValue& value) {
    return std::visit([](const auto& v) { return kIsIntegerKind<std::decay_t<decltype(v)>>; },
                      value);
}

bool IsEditable(const PropValue& value) {
    return IsInteger(value) || std::holds_alternative<double>(value) ||
           std::holds_alternative<std::u16string>(value);
}

int64_t AsInt64(const PropValue& value) {
    return std::visit(
        [](const auto& v) -> int64_t {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, uint64_t>)
                return v > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())
                           ? std::numeric_limits<int64_t>::max()
                           : static_cast<int64_t>(v);
            else if constexpr (kIsIntegerKind<T>)
                return static_cast<int64_t>(v);
            else
                return 0;
        },
        value);
}

double AsDouble(const PropValue& value) {
    return std::visit(
        [](const auto& v) -> double {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, double> || kIsIntegerKind<T>)
                return static_cast<double>(v);
            else
                return 0.0;
        },
        value);
}

std::u16string Format(const PropValue& value) {
    return std::visit(
        [](const auto& v) -> std::u16string {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::u16string>) {
                return v;
            } else if constexpr (std::is_same_v<T, double>) {
                // "%lf" of the C locale, independent of the process locale: the decimal point
                // is the one character the Float editor accepts.
                char buffer[400];
                const auto r =
                    std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::fixed, 6);
                if (r.ec != std::errc())
                    return u"0.000000";
                return Widen(std::string_view(buffer, static_cast<size_t>(r.ptr - buffer)));
            } else if constexpr (kIsIntegerKind<T>) {
                char buffer[32];
                const auto r = std::to_chars(buffer, buffer + sizeof buffer, v);
                return Widen(std::string_view(buffer, static_cast<size_t>(r.ptr - buffer)));
            } else {
                return std::u16string();
            }
        },
        value);
}

bool FromText(PropValue& value, std::u16string_view text) {
    return std::visit(
        [text](auto& v) -> bool {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::u16string>) {
                v.assign(text);
                return true;
            } else if constexpr (std::is_same_v<T, double>) {
                v = ParseDouble(text);
                return true;
            } else if constexpr (kIsIntegerKind<T>) {
                v = DecimalAs<T>(ReadDecimal(text));
                return true;
            } else {
                return false;
            }
        },
        value);
}

void StoreInteger(PropValue& value, int64_t number) {
    std::visit(
        [number](auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (kIsIntegerKind<T>)
                v = static_cast<T>(number);
        },
        value);
}

int64_t ParseInt64(std::u16string_view text) {
    return DecimalAs<int64_t>(ReadDecimal(text));
}

int32_t ClampToInt32(int64_t v) {
    if (v < std::numeric_limits<int32_t>::min())
        return std::numeric_limits<int32_t>::min();
    if (v > std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(v);
}

} // namespace propvalue
