#include "support/LogText.h"

#include "platform/Text.h"
#include "support/TempDir.h"

#include <algorithm>

std::u16string LogText16(const std::string& path) {
    const std::string raw = ReadFileBytes(path);
    std::u16string text;
    for (size_t i = 2; i + 1 < raw.size(); i += 2)
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(raw[i]) |
                                             static_cast<unsigned char>(raw[i + 1]) << 8));
    return text;
}

std::string LogText(const std::string& path) {
    return platform::Utf16ToUtf8(LogText16(path));
}

std::vector<std::string> LogLines(const std::string& path) {
    constexpr size_t kStamp = 20; // "YYYY-MM-DD hh:mm:ss "
    const std::u16string text = LogText16(path);
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find(u"\r\n", pos);
        if (end == std::u16string::npos)
            end = text.size();
        const size_t from = std::min(pos + kStamp, end);
        lines.push_back(platform::Utf16ToUtf8(text.substr(from, end - from)));
        pos = end + 2;
    }
    return lines;
}
