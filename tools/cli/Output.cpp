#include "tools/cli/Output.h"

#include <cstdio>
#include <unistd.h>

void clCliOutput::Emit(const nlohmann::json& object, std::string_view text) const {
    // Texts from a camera or a file need not be valid UTF-8; they are replaced, not refused.
    const std::string line =
        m_json ? object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
               : std::string(text);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void clCliOutput::Error(std::string_view message) {
    std::fprintf(stderr, "quillon-cli: %.*s\n", static_cast<int>(message.size()), message.data());
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
