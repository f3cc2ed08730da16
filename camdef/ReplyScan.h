// Scanning reply text by a template, the way the C library's wide-string scan (swscanf) reads
// it, done here on UTF-16 text so the result depends neither on the process locale nor on the C
// library.
//
// The template is read as a scan format:
//   - white space matches any amount of white space in the text, none included;
//   - "%%" skips white space and matches one '%';
//   - any other character must match exactly;
//   - a conversion is '%', an optional '*' (read but not assigned), an optional width (decimal;
//     0 means none), optional size letters (hh h l ll L q j z t; only 'l' and 'L' change
//     anything: they make a floating-point conversion double precision), and one of
//       d u         optionally signed decimal integer
//       i           optionally signed integer, base from its prefix (0x hexadecimal, 0 octal)
//       o, x X      optionally signed octal, hexadecimal (with an optional 0x) integer
//       a e f g (and upper case)   floating-point number: decimal, hexadecimal (0x...),
//                   INF, INFINITY, NAN, NAN(chars)
//       s           run of characters other than white space
//       c           the next characters as they are (width, default 1; fewer where the text
//                   ends), no white space skipped
//       [set]       run of characters of the set ("[^...]" negates, a leading ']' belongs to the
//                   set, "a-z" is a range), no white space skipped
//       n           matches nothing and is not counted
//   Every conversion except c, [ and n skips white space first. Scanning stops at the first
//   character that does not match, at the end of the text and at any other conversion.
//
// Numbers: the characters read are the longest run that can still begin a number of the
// conversion (within the width); the value is that of the longest part of them that is a
// complete number (so "1e" reads 1, as the C library does); when none is, the conversion fails.
// Integers read beyond the range of a signed 32-bit value saturate at its bounds for d and i;
// o, u and x keep the low 32 bits of the unsigned value (so "-1" reads as -1). "%f" rounds the
// number once, straight to single precision; "%lf" keeps double precision.
//
// Strings: a conversion that assigns reads at most `maxChars` characters (or fewer when its
// width says so), so no reply can hand over more than the receiver takes; a conversion that may
// read no character at all fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace camdef {

enum class ScanKind : int32_t {
    None = 0,
    Integer = 1, // d i o u x X
    Float = 2,   // a e f g, upper case too
    String = 3,  // s c [
};

// The first value a scan assigned. Values of later conversions are read and counted, not kept.
struct ScanValue {
    ScanKind kind = ScanKind::None;
    int32_t integer = 0;
    double number = 0.0; // single-precision conversions hold the float value, widened
    std::u16string text;
};

// White space as the scan sees it: the ASCII controls 9 to 13, space, and the Unicode spaces
// that are not no-break spaces. Narrower than the white space before a number of a definition
// (camdef/NumberText.cpp) on purpose: here white space also ends a "%s" text and matches a space
// of the format, and a no-break space is meant to hold a reply's words together.
bool IsScanSpace(char16_t c);

// Applies `format` to `text`. Returns the number of conversions that assigned a value (those
// without '*'); the first of them is stored in `first`.
int ScanText(std::u16string_view text, std::u16string_view format, size_t maxChars,
             ScanValue& first);

} // namespace camdef
