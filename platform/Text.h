// Text conversions. Text inside the program is UTF-16 (std::u16string); files, the camera
// and the evaluator library use 8-bit texts. Every conversion of the program lives here.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// UTF-8 <-> UTF-16. Invalid UTF-8 sequences and lone surrogates become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// The codeset of the process locale (what the program calls the ANSI code page): the name
// nl_langinfo(CODESET) reports after setlocale(LC_ALL, "").
std::string LocaleCodeset();

// UTF-16 -> locale codeset. A character the codeset cannot hold becomes '?'.
std::string Utf16ToLocale(std::u16string_view text);
// The same conversion; false when a character could not be held (it became '?' in out).
bool Utf16ToLocaleExact(std::u16string_view text, std::string& out);
// Locale codeset -> UTF-16. A byte sequence that is not valid in the codeset becomes U+FFFD.
std::u16string LocaleToUtf16(std::string_view bytes);

// Any iconv codeset -> UTF-16 ("CP932" for Shift-JIS batch files). Invalid sequences become
// U+FFFD; an unknown codeset gives the bytes taken one character per byte.
std::u16string DecodeToUtf16(std::string_view bytes, const char* codeset);

// One character per byte (the way reply bytes from the camera are taken).
std::u16string BytesToUtf16(std::string_view bytes);

// Case-insensitive comparison of ASCII letters (other characters compared as they are).
bool EqualsIgnoreAsciiCase(std::u16string_view a, std::u16string_view b);

} // namespace platform
