#include "platform/InstanceLock.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

std::string InstanceLock::DefaultFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime)
        return runtime;
    return "/tmp";
}

bool InstanceLock::Acquire(const std::string& name, const std::string& folder) {
    Release();
    if (name.empty() || name.find('/') != std::string::npos)
        return false;
    std::string path = (folder.empty() ? DefaultFolder() : folder) + "/" + name;
    // Read-only is enough for flock and lets other users of a shared /tmp open the file too.
    // O_NOFOLLOW: a planted symbolic link in a shared folder is refused.
    int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0 && errno == EACCES) // protected_regular refuses O_CREAT on someone else's file
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

void InstanceLock::Release() {
    if (m_fd < 0)
        return;
    ::flock(m_fd, LOCK_UN);
    ::close(m_fd);
    m_fd = -1;
}

} // namespace platform
