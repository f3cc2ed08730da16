#include "ui/CommSettings.h"

namespace commsettings {

std::optional<uint32_t> ParseTimeout(std::u16string_view text) {
    if (text.empty())
        return std::nullopt;
    uint64_t value = 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - u'0');
        if (value > kMaxTimeout)
            return std::nullopt; // also stops long digit runs from overflowing
    }
    if (value < kMinTimeout)
        return std::nullopt;
    return static_cast<uint32_t>(value);
}

bool HasPortChosen(std::u16string_view portName) {
    return !portName.empty() && portName != kNoSettings;
}

} // namespace commsettings
