#include "ui/WindowPlaceIni.h"

#include <string>

#if __has_include("platform/IniProfile.h")
#include "platform/IniProfile.h"
#define QUILLON_HAS_INI_PROFILE 1
#endif

namespace placement {

namespace {

std::u16string Decimal(int32_t value) {
    const std::string text = std::to_string(value);
    return std::u16string(text.begin(), text.end());
}

} // namespace

#ifdef QUILLON_HAS_INI_PROFILE

// Integer reads give unsigned 32-bit values; "-8" comes back as 4294967288, which is -8 again
// as a signed value.
int32_t IniStore::ReadInt(std::u16string_view key, int32_t defaultValue) {
    return static_cast<int32_t>(
        platform::GetPrivateProfileInt(kSection, key, static_cast<uint32_t>(defaultValue), m_path));
}

bool IniStore::WriteInt(std::u16string_view key, int32_t value) {
    return platform::WritePrivateProfileString(kSection, key, Decimal(value), m_path);
}

#else

// Until the settings-file layer is built in, nothing is read or written.
int32_t IniStore::ReadInt(std::u16string_view, int32_t defaultValue) {
    return defaultValue;
}
bool IniStore::WriteInt(std::u16string_view key, int32_t value) {
    (void)key;
    (void)Decimal(value);
    return false;
}

#endif

} // namespace placement
