#include "platform/Text.h"

#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <langinfo.h>

namespace platform {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

void AppendCodePoint(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Reads one code point of UTF-16 at i (advancing i); a lone surrogate gives U+FFFD.
char32_t NextCodePoint(std::u16string_view s, size_t& i) {
    char16_t c = s[i++];
    if (c >= 0xD800 && c <= 0xDBFF) {
        if (i < s.size() && s[i] >= 0xDC00 && s[i] <= 0xDFFF) {
            char32_t lo = s[i++];
            return 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (lo - 0xDC00);
        }
        return kReplacement;
    }
    if (c >= 0xDC00 && c <= 0xDFFF)
        return kReplacement;
    return c;
}

bool IsUtf8Codeset(const std::string& cs) {
    return strcasecmp(cs.c_str(), "UTF-8") == 0 || strcasecmp(cs.c_str(), "UTF8") == 0;
}

// RAII holder of an iconv descriptor.
class Iconv {
public:
    Iconv(const char* to, const char* from) : m_handle(iconv_open(to, from)) {}
    ~Iconv() {
        if (ok())
            iconv_close(m_handle);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    // iconv_open fails with (iconv_t)-1, a number made a pointer by its contract.
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    bool ok() const { return m_handle != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return m_handle; }

private:
    iconv_t m_handle;
};

} // namespace

std::u16string Utf8ToUtf16(std::string_view s, bool* clean) {
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    const size_t n = s.size();
    while (i < n) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            out.push_back(c);
            ++i;
            continue;
        }
        int len = 0;
        char32_t cp = 0;
        char32_t min = 0;
        if ((c & 0xE0) == 0xC0) {
            len = 2;
            cp = c & 0x1F;
            min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3;
            cp = c & 0x0F;
            min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4;
            cp = c & 0x07;
            min = 0x10000;
        } else {
            out.push_back(kReplacement);
            if (clean)
                *clean = false;
            ++i;
            continue;
        }
        int k = 1;
        for (; k < len && i + k < n; ++k) {
            unsigned char cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80)
                break;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (k < len || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(kReplacement);
            if (clean)
                *clean = false;
            i += static_cast<size_t>(k);
            continue;
        }
        AppendCodePoint(out, cp);
        i += static_cast<size_t>(len);
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();)
        AppendUtf8(out, NextCodePoint(s, i));
    return out;
}

std::string LocaleCodeset() {
    const char* cs = nl_langinfo(CODESET);
    return cs && *cs ? cs : "ANSI_X3.4-1968";
}

namespace {

// UTF-16 -> locale codeset; every character the codeset cannot hold becomes '?', clears
// *exact and, for the first one, sets *firstFailure to its index.
std::string ConvertToLocale(std::u16string_view s, bool* exact, size_t* firstFailure) {
    auto fail = [&](size_t at) {
        if (exact != nullptr && *exact && firstFailure != nullptr)
            *firstFailure = at;
        if (exact != nullptr)
            *exact = false;
    };
    const std::string cs = LocaleCodeset();
    if (IsUtf8Codeset(cs)) {
        if (exact != nullptr) {
            for (size_t i = 0; i < s.size();) {
                const size_t at = i;
                if (NextCodePoint(s, i) == kReplacement && s[i - 1] != kReplacement)
                    fail(at);
            }
        }
        return Utf16ToUtf8(s);
    }
    Iconv conv(cs.c_str(), "UTF-8");
    std::string out;
    if (!conv.ok()) {
        for (size_t i = 0; i < s.size();) {
            const size_t at = i;
            char32_t cp = NextCodePoint(s, i);
            if (cp >= 0x80)
                fail(at);
            out.push_back(cp < 0x80 ? static_cast<char>(cp) : '?');
        }
        return out;
    }
    // Character by character, so one that the codeset cannot hold becomes '?'.
    for (size_t i = 0; i < s.size();) {
        const size_t at = i;
        char32_t cp = NextCodePoint(s, i);
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
            continue;
        }
        std::string in;
        AppendUtf8(in, cp);
        char buf[16];
        char* inp = in.data();
        size_t inleft = in.size();
        char* outp = buf;
        size_t outleft = sizeof buf;
        iconv(conv.get(), nullptr, nullptr, nullptr, nullptr);
        if (cp == kReplacement ||
            iconv(conv.get(), &inp, &inleft, &outp, &outleft) == static_cast<size_t>(-1) ||
            inleft != 0) {
            out.push_back('?');
            fail(at);
        } else {
            out.append(buf, static_cast<size_t>(outp - buf));
        }
    }
    return out;
}

// The first byte that may follow lead in a well-formed UTF-8 sequence, and the last.
struct FollowRange {
    unsigned char low, high;
};
FollowRange FirstFollower(unsigned char lead) {
    switch (lead) {
    case 0xE0:
        return {0xA0, 0xBF}; // no overlong forms
    case 0xED:
        return {0x80, 0x9F}; // no surrogates
    case 0xF0:
        return {0x90, 0xBF};
    case 0xF4:
        return {0x80, 0x8F}; // nothing beyond U+10FFFF
    default:
        return {0x80, 0xBF};
    }
}

// Bytes of a well-formed UTF-8 sequence at the start of s, 0 when there is none.
size_t WellFormedLength(std::string_view s) {
    const auto lead = static_cast<unsigned char>(s[0]);
    size_t len = 0;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        len = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        len = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        len = 4;
    else
        return 0;
    if (s.size() < len)
        return 0;
    const FollowRange first = FirstFollower(lead);
    for (size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[k]);
        const unsigned char low = k == 1 ? first.low : 0x80;
        const unsigned char high = k == 1 ? first.high : 0xBF;
        if (b < low || b > high)
            return 0;
    }
    return len;
}

constexpr char16_t kEscapedByteBase = 0xDC00;

} // namespace

std::string Utf16ToLocale(std::u16string_view s) {
    return ConvertToLocale(s, nullptr, nullptr);
}

bool Utf16ToLocaleExact(std::u16string_view s, std::string& out, size_t* firstFailure) {
    bool exact = true;
    out = ConvertToLocale(s, &exact, firstFailure);
    return exact;
}

std::u16string PathToUtf16(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            out.push_back(static_cast<char16_t>(bytes[i++]));
            continue;
        }
        const size_t len = WellFormedLength(bytes.substr(i));
        if (len == 0) {
            out.push_back(
                static_cast<char16_t>(kEscapedByteBase + static_cast<unsigned char>(bytes[i])));
            ++i;
            continue;
        }
        out += Utf8ToUtf16(bytes.substr(i, len)); // well-formed: converted as it is
        i += len;
    }
    return out;
}

std::string Utf16ToPath(std::u16string_view path) {
    std::string out;
    out.reserve(path.size());
    for (size_t i = 0; i < path.size();) {
        const char16_t c = path[i];
        if (c >= kEscapedByteBase + 0x80 && c <= kEscapedByteBase + 0xFF) {
            out.push_back(static_cast<char>(c - kEscapedByteBase));
            ++i;
            continue;
        }
        AppendUtf8(out, NextCodePoint(path, i));
    }
    return out;
}

std::u16string Utf16BytesToUtf16(std::string_view bytes, bool bigEndian, bool* clean) {
    auto unit = [&](size_t at) {
        const auto b0 = static_cast<unsigned char>(bytes[at]);
        const auto b1 = static_cast<unsigned char>(bytes[at + 1]);
        return static_cast<char16_t>(bigEndian ? (b0 << 8) | b1 : (b1 << 8) | b0);
    };
    std::u16string out;
    out.reserve(bytes.size() / 2 + 1);
    auto replace = [&] {
        out.push_back(kReplacement);
        if (clean)
            *clean = false;
    };
    const size_t units = bytes.size() / 2;
    for (size_t u = 0; u < units; ++u) {
        const char16_t c = unit(2 * u);
        if (c >= 0xD800 && c <= 0xDBFF && u + 1 < units) {
            const char16_t lo = unit(2 * (u + 1));
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                out.push_back(c);
                out.push_back(lo);
                ++u;
                continue;
            }
        }
        if (c >= 0xD800 && c <= 0xDFFF)
            replace(); // one unit only: the next one is read in its place
        else
            out.push_back(c);
    }
    if (bytes.size() % 2 != 0)
        replace();
    return out;
}

std::u16string Utf32BytesToUtf16(std::string_view bytes, bool bigEndian, bool* clean) {
    std::u16string out;
    out.reserve(bytes.size() / 4 + 1);
    auto replace = [&] {
        out.push_back(kReplacement);
        if (clean)
            *clean = false;
    };
    for (size_t at = 0; at + 4 <= bytes.size(); at += 4) {
        char32_t cp = 0;
        for (int k = 0; k < 4; ++k) {
            const auto b = static_cast<unsigned char>(bytes[at + (bigEndian ? k : 3 - k)]);
            cp = (cp << 8) | b;
        }
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            replace();
        else
            AppendCodePoint(out, cp);
    }
    if (bytes.size() % 4 != 0)
        replace();
    return out;
}

std::u16string DecodeToUtf16(std::string_view bytes, const char* codeset, bool* clean) {
    if (IsUtf8Codeset(codeset))
        return Utf8ToUtf16(bytes, clean);
    struct Wide {
        const char* name;
        bool utf32;
        bool bigEndian;
    };
    static constexpr Wide kWide[] = {{"UTF-16LE", false, false},
                                     {"UTF-16BE", false, true},
                                     {"UTF-32LE", true, false},
                                     {"UTF-32BE", true, true}};
    for (const Wide& w : kWide) {
        if (strcasecmp(codeset, w.name) == 0)
            return w.utf32 ? Utf32BytesToUtf16(bytes, w.bigEndian, clean)
                           : Utf16BytesToUtf16(bytes, w.bigEndian, clean);
    }
    Iconv conv("UTF-16LE", codeset);
    if (!conv.ok()) {
        if (clean)
            *clean = false;
        return BytesToUtf16(bytes);
    }
    std::u16string out;
    out.reserve(bytes.size());
    std::string in(bytes);
    char* inp = in.data();
    size_t inleft = in.size();
    char buf[4096];
    while (inleft > 0) {
        char* outp = buf;
        size_t outleft = sizeof buf;
        size_t r = iconv(conv.get(), &inp, &inleft, &outp, &outleft);
        for (char* p = buf; p + 1 < outp; p += 2)
            out.push_back(static_cast<char16_t>(static_cast<unsigned char>(p[0]) |
                                                (static_cast<unsigned char>(p[1]) << 8)));
        if (r == static_cast<size_t>(-1)) {
            if (errno == E2BIG)
                continue;
            // Invalid or incomplete sequence of a byte codeset: replace one byte and go on.
            out.push_back(kReplacement);
            if (clean)
                *clean = false;
            ++inp;
            --inleft;
            iconv(conv.get(), nullptr, nullptr, nullptr, nullptr);
        }
    }
    return out;
}

std::u16string LocaleToUtf16(std::string_view bytes) {
    return DecodeToUtf16(bytes, LocaleCodeset().c_str());
}

std::u16string BytesToUtf16(std::string_view bytes) {
    std::u16string out(bytes.size(), u'\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        out[i] = static_cast<unsigned char>(bytes[i]);
    return out;
}

bool EqualsIgnoreAsciiCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i], y = b[i];
        if (x >= u'A' && x <= u'Z')
            x = static_cast<char16_t>(x + 32);
        if (y >= u'A' && y <= u'Z')
            y = static_cast<char16_t>(y + 32);
        if (x != y)
            return false;
    }
    return true;
}

} // namespace platform
