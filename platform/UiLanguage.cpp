#include "platform/UiLanguage.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace platform {

uint16_t UserDefaultUiLanguage() {
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return std::strncmp(value, "ja", 2) == 0 ? kLanguageJapanese : kLanguageEnglish;
    }
    return kLanguageEnglish;
}

} // namespace platform
