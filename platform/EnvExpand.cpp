#include "platform/EnvExpand.h"

#include "platform/Text.h"

#include <cstdlib>

namespace platform {
namespace {

std::optional<std::u16string> ProcessEnvironment(std::u16string_view name) {
    const char* value = std::getenv(Utf16ToUtf8(name).c_str());
    if (!value)
        return std::nullopt;
    return PathToUtf16(value); // values are often paths: their bytes are kept
}

bool IsNameStart(char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_';
}

bool IsNameChar(char16_t c) {
    return IsNameStart(c) || (c >= u'0' && c <= u'9');
}

} // namespace

std::u16string ExpandEnvironment(std::u16string_view text, const EnvLookup& lookup) {
    const EnvLookup& get = lookup ? lookup : EnvLookup(ProcessEnvironment);
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        char16_t c = text[i];
        if (c == u'%') {
            size_t end = text.find(u'%', i + 1);
            if (end != std::u16string_view::npos && end > i + 1) {
                std::u16string_view name = text.substr(i + 1, end - i - 1);
                if (auto value = get(name)) {
                    out += *value;
                    i = end + 1;
                    continue;
                }
            }
            out.push_back(c);
            ++i;
        } else if (c == u'$' && i + 1 < text.size() && text[i + 1] == u'{') {
            size_t end = text.find(u'}', i + 2);
            if (end != std::u16string_view::npos && end > i + 2) {
                std::u16string_view name = text.substr(i + 2, end - i - 2);
                if (auto value = get(name)) {
                    out += *value;
                    i = end + 1;
                    continue;
                }
            }
            out.push_back(c);
            ++i;
        } else if (c == u'$' && i + 1 < text.size() && IsNameStart(text[i + 1])) {
            size_t end = i + 2;
            while (end < text.size() && IsNameChar(text[end]))
                ++end;
            std::u16string_view name = text.substr(i + 1, end - i - 1);
            if (auto value = get(name))
                out += *value;
            else
                out += text.substr(i, end - i);
            i = end;
        } else {
            out.push_back(c);
            ++i;
        }
    }
    return out;
}

} // namespace platform
