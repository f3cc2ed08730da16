#include "ui/WindowPlaceIni.h"

#include "platform/IniProfile.h"

#include <string>

namespace placement {

// Integer reads give unsigned 32-bit values; "-8" comes back as 4294967288, which is -8 again
// as a signed value.
int32_t IniStore::ReadInt(std::u16string_view key, int32_t defaultValue) {
    return static_cast<int32_t>(
        platform::ReadSettingInt(kSection, key, static_cast<uint32_t>(defaultValue), m_path));
}

bool IniStore::WriteInt(std::u16string_view key, int32_t value) {
    const std::string text = std::to_string(value);
    return platform::WriteSetting(kSection, key, std::u16string(text.begin(), text.end()), m_path);
}

} // namespace placement
