#include "platform/SerialDevice.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <iterator>
#include <pwd.h>
#include <sstream>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace platform {

namespace {

std::string GroupName(gid_t gid) {
    std::vector<char> buf(4096);
    group g{};
    group* found = nullptr;
    if (::getgrgid_r(gid, &g, buf.data(), buf.size(), &found) != 0 || !found)
        return std::to_string(gid);
    return found->gr_name;
}

std::string UserName(uid_t uid) {
    std::vector<char> buf(4096);
    passwd p{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &p, buf.data(), buf.size(), &found) != 0 || !found)
        return std::to_string(uid);
    return found->pw_name;
}

DeviceRefusal RefusalOf(int error) {
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
        return DeviceRefusal::Missing;
    case EACCES:
    case EPERM:
        return DeviceRefusal::Permission;
    case EBUSY:
    case EWOULDBLOCK:
        return DeviceRefusal::Busy;
    default:
        return DeviceRefusal::Other;
    }
}

int Fail(DeviceProblem& problem, int error, int fd = -1) {
    if (fd >= 0)
        ::close(fd);
    problem.kind = RefusalOf(error);
    problem.error = error;
    struct stat sb {};
    if (problem.kind == DeviceRefusal::Permission && ::stat(problem.device.c_str(), &sb) == 0) {
        problem.group = GroupName(sb.st_gid);
        problem.owner = UserName(sb.st_uid);
        problem.groupMayOpen = (sb.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    }
    return -1;
}

std::string RealPath(const std::string& path) {
    char buf[PATH_MAX];
    return ::realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

bool LockedInProcLocks(const struct stat& sb) {
    std::ifstream in("/proc/locks");
    std::string line;
    while (std::getline(in, line)) {
        // "1: FLOCK  ADVISORY  WRITE 1234 00:05:87 0 EOF"; waiters carry "->" after the id.
        std::istringstream words(line);
        std::string word;
        std::vector<std::string> w;
        while (words >> word)
            if (word != "->")
                w.push_back(word);
        if (w.size() < 6)
            continue;
        unsigned major = 0, minor = 0;
        unsigned long long ino = 0;
        if (std::sscanf(w[5].c_str(), "%x:%x:%llu", &major, &minor, &ino) != 3)
            continue;
        if (ino == sb.st_ino && major == ::major(sb.st_dev) && minor == ::minor(sb.st_dev))
            return true;
    }
    return false;
}

bool LockFileAlive(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return false;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    long pid = 0;
    if (text.size() == sizeof(int) && (text[0] != ' ' && (text[0] < '0' || text[0] > '9'))) {
        int binary = 0; // old binary form
        std::memcpy(&binary, text.data(), sizeof binary);
        pid = binary;
    } else {
        pid = std::strtol(text.c_str(), nullptr, 10);
    }
    if (pid <= 0)
        return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

} // namespace

int OpenSerialExclusive(const std::string& path, DeviceProblem& problem) {
    problem = DeviceProblem{};
    problem.device = path;
    if (path.empty())
        return Fail(problem, ENOENT);
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return Fail(problem, errno);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return Fail(problem, errno == EWOULDBLOCK ? EBUSY : errno, fd);
    // Others get EBUSY from open from now on (root is not held back by it; the lock is its
    // answer there). Devices that are not terminals refuse it; later steps tell.
    (void)::ioctl(fd, TIOCEXCL);
    return fd;
}

bool SerialDeviceInUse(const std::string& path) {
    struct stat sb {};
    if (path.empty() || ::stat(path.c_str(), &sb) != 0)
        return false;
    if (LockedInProcLocks(sb))
        return true;
    std::string real = RealPath(path);
    const std::string base = real.substr(real.rfind('/') + 1);
    if (base.empty())
        return false;
    for (const char* folder : {"/run/lock/", "/var/lock/"})
        if (LockFileAlive(std::string(folder) + "LCK.." + base))
            return true;
    return false;
}

std::vector<std::string> SerialDeviceLinks(const std::string& path, const std::string& byIdRoot) {
    std::vector<std::string> links;
    const std::string target = RealPath(path);
    if (target.empty())
        return links;
    DIR* dir = ::opendir(byIdRoot.c_str());
    if (!dir)
        return links;
    while (dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string link = byIdRoot + "/" + name;
        if (RealPath(link) == target)
            links.push_back(link);
    }
    ::closedir(dir);
    return links;
}

} // namespace platform
