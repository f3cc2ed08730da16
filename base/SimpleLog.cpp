#include "base/SimpleLog.h"

#include "platform/Text.h"

#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace {

void PutUtf16Le(std::string& out, std::u16string_view text) {
    for (char16_t c : text) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
}

} // namespace

void clSimpleLog::Write(std::u16string_view text) {
    std::lock_guard<std::mutex> guard(m_lock);
    int fd = ::open(m_filePath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;

    std::string bytes;
    bytes.reserve(4 + 2 * (text.size() + 24));
    // A new (empty) file starts with the byte-order mark.
    if (::lseek(fd, 0, SEEK_END) == 0)
        bytes.append("\xFF\xFE", 2);

    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[80];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d ", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    PutUtf16Le(bytes, platform::Utf8ToUtf16(stamp));
    PutUtf16Le(bytes, text);
    PutUtf16Le(bytes, u"\r\n");

    // One write call per line, so a reader never sees half a line of ours.
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n <= 0)
            break;
        p += n;
        left -= static_cast<size_t>(n);
    }
    ::close(fd);
}

void clSimpleLog::Write(std::string_view utf8Text) {
    Write(std::u16string_view(platform::Utf8ToUtf16(utf8Text)));
}
