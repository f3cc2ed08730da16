#include "tools/cli/Output.h"

#include "comm/TrafficLog.h"

#include <cstdio>
#include <unistd.h>

std::string clCliOutput::LocalTime(std::chrono::system_clock::time_point at) {
    return clTrafficLog::LocalStamp(at, 'T');
}

std::string clCliOutput::EscapeControls(std::string_view text, bool keepLineFeeds) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    auto escape = [&out](unsigned code) {
        out += "\\x";
        out.push_back(kHex[code >> 4]);
        out.push_back(kHex[code & 15]);
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if ((b < 0x20 && b != '\t' && !(b == '\n' && keepLineFeeds)) || b == 0x7F) {
            escape(b);
        } else if (b == 0xC2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            escape(static_cast<unsigned char>(text[++i])); // U+0080 to U+009F in UTF-8
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

void clCliOutput::Emit(const nlohmann::json& object, std::string_view text) const {
    // Texts from a camera or a file need not be valid UTF-8; they are replaced, not refused.
    const std::string line =
        m_json ? object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
               : EscapeControls(text, true);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void clCliOutput::Error(std::string_view message) {
    const std::string line = EscapeControls(message, false);
    std::fprintf(stderr, "quillon-cli: %.*s\n", static_cast<int>(line.size()), line.data());
}

void clCliOutput::Progress(size_t done, size_t total) const {
    static const bool terminal = ::isatty(STDERR_FILENO) == 1;
    if (!terminal || total == 0)
        return;
    constexpr int kWidth = 30;
    const int filled = static_cast<int>(done * kWidth / total);
    std::fprintf(stderr, "\r[%.*s%*s] %zu/%zu", filled, "##############################",
                 kWidth - filled, "", done, total);
    if (done >= total)
        std::fputc('\n', stderr);
    std::fflush(stderr);
}
