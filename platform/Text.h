// Text conversions. Text inside the program is UTF-16 (std::u16string); files, the camera
// and the evaluator library use 8-bit texts. Every conversion of the program lives here.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// UTF-8 <-> UTF-16. Invalid UTF-8 sequences and lone surrogates become U+FFFD. clean, when
// given, is cleared when anything had to be replaced (it is never set).
std::u16string Utf8ToUtf16(std::string_view utf8, bool* clean = nullptr);
std::string Utf16ToUtf8(std::u16string_view utf16);

// The codeset of the process locale, the 8-bit or multi-byte encoding in which commands go to
// the camera and settings texts are written: the name nl_langinfo(CODESET) reports after
// setlocale(LC_ALL, "") (UTF-8 on most systems, a legacy encoding such as Shift-JIS where the
// user's locale names one).
std::string LocaleCodeset();

// UTF-16 -> locale codeset. A character the codeset cannot hold becomes '?'.
std::string Utf16ToLocale(std::u16string_view text);
// The same conversion; false when a character could not be held (it became '?' in out).
// firstFailure, when given, gets the UTF-16 index of the first character that could not be held
// (left alone when every character could).
bool Utf16ToLocaleExact(std::u16string_view text, std::string& out, size_t* firstFailure = nullptr);
// Locale codeset -> UTF-16. A byte sequence that is not valid in the codeset becomes U+FFFD.
std::u16string LocaleToUtf16(std::string_view bytes);

// UTF-16 or UTF-32 bytes in the given byte order -> UTF-16, without a byte-order mark being
// special. Every code unit that is no part of a valid character (a lone surrogate, a value
// beyond U+10FFFF, the bytes of a unit cut by the end) becomes one U+FFFD and decoding stays
// aligned, so what follows is read as it was written. clean as for Utf8ToUtf16.
std::u16string Utf16BytesToUtf16(std::string_view bytes, bool bigEndian, bool* clean = nullptr);
std::u16string Utf32BytesToUtf16(std::string_view bytes, bool bigEndian, bool* clean = nullptr);

// Any iconv codeset -> UTF-16 ("CP932" for Shift-JIS batch files). Invalid sequences become
// U+FFFD (UTF-16 and UTF-32 codesets as above; byte codesets one U+FFFD per byte that cannot
// start a character); an unknown codeset gives the bytes taken one character per byte and
// counts as not clean. clean as for Utf8ToUtf16.
std::u16string DecodeToUtf16(std::string_view bytes, const char* codeset, bool* clean = nullptr);

// File names. Linux file names are bytes in no particular encoding; inside the program a path
// is UTF-16 like any text, mapped without loss and without regard to the locale: bytes that
// are well-formed UTF-8 become the characters they encode, and every other byte B becomes the
// lone low surrogate U+DC00 + B (B is 0x80 to 0xFF). Utf16ToPath reverses it exactly, so a
// name from the command line, a file dialog or the settings file reaches the file system as
// it came. A path shown to the user is just text (a mapped byte shows as a replacement sign).
std::u16string PathToUtf16(std::string_view bytes);
// The bytes of a path: UTF-8, and U+DC80..U+DCFF back to the byte they stand for. Any other
// lone surrogate becomes U+FFFD (it cannot come from a file name).
std::string Utf16ToPath(std::u16string_view path);

// One character per byte (the way reply bytes from the camera are taken).
std::u16string BytesToUtf16(std::string_view bytes);

// Case-insensitive comparison of ASCII letters (other characters compared as they are).
bool EqualsIgnoreAsciiCase(std::u16string_view a, std::u16string_view b);

} // namespace platform
