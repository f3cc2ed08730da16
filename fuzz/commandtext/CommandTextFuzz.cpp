// Any bytes as a file name, and any UTF-16 as a command text: a name comes back from its UTF-16
// form byte for byte, and a command the check lets through goes out as itself (no control
// character, nothing the codeset turns into '?'), while a refusal points at a character of the
// text that is at fault.
#include "comm/CommandCheck.h"
#include "platform/Text.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (platform::Utf16ToPath(platform::PathToUtf16(bytes)) != bytes)
        std::abort();

    std::u16string text;
    for (size_t i = 0; i + 1 < size; i += 2)
        text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    const CommandCheck check = CheckCommandText(text);
    std::string out;
    size_t at = 0;
    const bool exact = platform::Utf16ToLocaleExact(text, out, &at);
    switch (check.fault) {
    case CommandCheck::kFit:
        if (text.empty() || !exact)
            std::abort();
        for (char16_t c : text)
            if (IsCommandControlCharacter(c))
                std::abort();
        break;
    case CommandCheck::kEmpty:
        if (!text.empty())
            std::abort();
        break;
    case CommandCheck::kControlCharacter:
        if (!IsCommandControlCharacter(check.character) || check.position == 0 ||
            check.position > text.size())
            std::abort();
        break;
    case CommandCheck::kNotInCodeset:
        if (exact || check.position == 0 || check.position > text.size() || at >= text.size())
            std::abort();
        break;
    }
    if (!check.Fit() && CommandCheckText(check).empty())
        std::abort();
    return 0;
}
