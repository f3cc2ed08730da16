// Settings files in INI form ("[Section]" lines, then "Key=Value" lines), read and written one
// key at a time like the classic private-profile functions:
// - every call reads the file anew; nothing is cached;
// - section and key names are matched without regard to ASCII letter case, after trimming the
//   blanks around them; the first match in the file wins;
// - values are trimmed of surrounding blanks, and one pair of matching surrounding quotes is
//   removed;
// - every write rewrites the file at once and atomically (temporary file in the same folder,
//   then rename), keeping every other line, comment and unknown key byte for byte;
// - text is UTF-8 without byte-order mark (a mark already in a file is kept and skipped).
// A missing, unreadable, truncated or garbled file never crashes a call; a write that cannot be
// completed returns false and leaves the old file as it was. Files above kMaxProfileFileBytes
// are treated as unreadable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

constexpr size_t kMaxProfileFileBytes = size_t{16} * 1024 * 1024;

// The value as a decimal integer returned as unsigned 32-bit: a missing key or an empty value
// gives defaultValue; otherwise an optional sign and the leading digits count ("12ab" gives 12,
// "ab" gives 0, "-1" gives 4294967295); values beyond 32 bits saturate.
uint32_t ReadSettingInt(std::u16string_view section, std::u16string_view key, uint32_t defaultValue,
                        std::u16string_view filePath);

// The value as text: a missing key gives defaultValue, an empty value gives an empty text. At
// most maxChars UTF-16 units are returned (a surrogate pair is never split).
std::u16string ReadSetting(std::u16string_view section, std::u16string_view key,
                           std::u16string_view defaultValue, std::u16string_view filePath,
                           size_t maxChars = SIZE_MAX);

// Sets key = value in section, creating the file, the section or the key when missing. False
// when the file cannot be read or written, and for names or values that cannot be stored in one
// line (a line break or NUL anywhere, "=" in the key, "]" in the section, an empty name).
bool WriteSetting(std::u16string_view section, std::u16string_view key, std::u16string_view value,
                  std::u16string_view filePath);

} // namespace platform
