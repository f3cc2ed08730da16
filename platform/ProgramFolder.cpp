#include "platform/ProgramFolder.h"

#include <unistd.h>
#include <vector>

namespace platform {

std::string ProgramFilePath() {
    std::vector<char> buf(4096);
    for (;;) {
        ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0)
            return {};
        if (static_cast<size_t>(n) < buf.size())
            return std::string(buf.data(), static_cast<size_t>(n));
        if (buf.size() >= (1u << 16))
            return {};
        buf.resize(buf.size() * 2);
    }
}

std::string ProgramFolder() {
    std::string path = ProgramFilePath();
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {};
    return path.substr(0, slash + 1);
}

} // namespace platform
