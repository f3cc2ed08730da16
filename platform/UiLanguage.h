// The user's interface language as a Windows language id: 1041 (Japanese) or 1033 (English).
#pragma once

#include <cstdint>

namespace platform {

constexpr uint16_t kLanguageJapanese = 1041;
constexpr uint16_t kLanguageEnglish = 1033;

// 1041 when the first of LANGUAGE, LC_ALL, LC_MESSAGES, LANG that is set (and not empty)
// starts with "ja", else 1033.
uint16_t UserDefaultUiLanguage();

} // namespace platform
