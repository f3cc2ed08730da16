#include "app/ServeSocket.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace serve {

int ListenOnSocket(const std::string& path, std::string& error) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        error = "the socket path must have 1 to " + std::to_string(sizeof address.sun_path - 1) +
                " bytes";
        return -1;
    }
    std::copy(path.begin(), path.end(), address.sun_path);
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        bool live = false;
        if (S_ISSOCK(st.st_mode)) {
            const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            live = probe >= 0 &&
                   ::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
            if (probe >= 0)
                ::close(probe);
        }
        if (!S_ISSOCK(st.st_mode) || live) {
            error = path + (live ? " is served by another process" : " exists and is no socket");
            return -1;
        }
        ::unlink(path.c_str());
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("cannot make a socket: ") + std::strerror(errno);
        return -1;
    }
    // Bound under a mask that leaves only the owner's bits: no moment with a wider mode.
    const mode_t mask = ::umask(0177);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::umask(mask);
    if (!bound || ::chmod(path.c_str(), 0600) != 0 || ::listen(fd, 16) != 0) {
        error = "cannot serve on " + path + ": " + std::strerror(errno);
        ::close(fd);
        if (bound)
            ::unlink(path.c_str());
        return -1;
    }
    return fd;
}

bool MakePrivateFolder(const std::string& folder, std::string& error) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "cannot make " + folder + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = folder + " is no folder";
        return false;
    }
    if (st.st_uid != ::getuid() || (st.st_mode & 0077) != 0) {
        error = folder + " belongs to another user or others may enter it";
        return false;
    }
    return true;
}

std::string WindowSocketPath(const std::string& folder, int instance) {
    std::string where = folder;
    if (where.empty()) {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        if (!runtime || !*runtime)
            return {};
        where = std::string(runtime) + "/quillon";
    }
    char name[32];
    std::snprintf(name, sizeof name, "/Quillon_%02d.sock", instance);
    return where + name;
}

bool PeerIsUser(int fd, unsigned uid) {
    ucred peer{};
    socklen_t size = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && size == sizeof peer &&
           peer.uid == uid;
}

} // namespace serve
