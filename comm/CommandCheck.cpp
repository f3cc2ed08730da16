#include "comm/CommandCheck.h"

#include "base/MessageTable.h"
#include "platform/Text.h"

#include <cstdio>

bool IsCommandControlCharacter(char32_t c) {
    return (c < 0x20 && c != U'\t') || (c >= 0x7F && c <= 0x9F);
}

std::u16string CodePointText(char32_t c) {
    char text[16];
    std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(c));
    return platform::Utf8ToUtf16(text);
}

namespace {

// The code point at i (a surrogate pair as one), moving i past it.
char32_t Next(std::u16string_view text, size_t& i) {
    const char16_t c = text[i++];
    if (c >= 0xD800 && c <= 0xDBFF && i < text.size() && text[i] >= 0xDC00 && text[i] <= 0xDFFF)
        return 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (text[i++] - 0xDC00);
    return c;
}

} // namespace

CommandCheck CheckCommandText(std::u16string_view text) {
    CommandCheck check;
    if (text.empty()) {
        check.fault = CommandCheck::kEmpty;
        return check;
    }
    size_t position = 0;
    for (size_t i = 0; i < text.size();) {
        ++position;
        const char32_t c = Next(text, i);
        if (IsCommandControlCharacter(c)) {
            check = {CommandCheck::kControlCharacter, position, c};
            return check;
        }
    }
    std::string bytes;
    size_t at = 0;
    if (!platform::Utf16ToLocaleExact(text, bytes, &at)) {
        check.fault = CommandCheck::kNotInCodeset;
        check.position = 1;
        for (size_t i = 0; i < at; ++check.position)
            Next(text, i);
        size_t i = at;
        check.character = Next(text, i);
    }
    return check;
}

std::u16string CommandCheckText(const CommandCheck& check) {
    const std::u16string position = platform::Utf8ToUtf16(std::to_string(check.position));
    switch (check.fault) {
    case CommandCheck::kEmpty:
        return Msg(MSG_COMMAND_EMPTY);
    case CommandCheck::kControlCharacter:
        return FormatMsg(MSG_COMMAND_CONTROL_CHARACTER, {position, CodePointText(check.character)});
    case CommandCheck::kNotInCodeset:
        return FormatMsg(MSG_COMMAND_NOT_IN_CODESET,
                         {position, CodePointText(check.character),
                          platform::Utf8ToUtf16(platform::LocaleCodeset())});
    default:
        return {};
    }
}
