#include "textfiles/FileSave.h"

#include "base/MessageTable.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

FileSaveCalls& FileSaveSystemCalls() {
    static FileSaveCalls calls{&::pwrite, &::ftruncate, &::fsync};
    return calls;
}

namespace {

// The permission bits a newly created file gets from this process.
mode_t NewFileMode() {
    mode_t mask = 022;
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) {
            mask = static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
            break;
        }
    }
    return 0666 & ~mask;
}

bool Fail(FileSaveFailure& failure, int error) {
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        failure.messageId = MSG_DISK_FULL;
        break;
    case EROFS:
        failure.messageId = MSG_FILE_READ_ONLY;
        break;
    case EACCES:
    case EPERM:
        failure.messageId = MSG_ACCESS_DENIED;
        break;
    default:
        failure.messageId = MSG_CANNOT_WRITE_FILE;
        break;
    }
    failure.detail = std::strerror(error);
    return false;
}

bool Fail(FileSaveFailure& failure, int messageId, std::string detail) {
    failure.messageId = messageId;
    failure.detail = std::move(detail);
    return false;
}

// Writes all of bytes at offset; 0 or the errno of the failure.
int WriteAllAt(int fd, std::string_view bytes, off_t offset) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = FileSaveSystemCalls().writeAt(
            fd, bytes.data() + done, bytes.size() - done, offset + static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return ENOSPC;
        done += static_cast<size_t>(n);
    }
    return 0;
}

void SyncFolder(const std::string& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

enum class RenameResult { kDone, kFailed, kWriteInPlace };

// Writes a temporary file in folder and renames it over target. owner: the stat of the file
// being replaced (its owner is kept or nothing is replaced), or null for a new file.
RenameResult WriteByRename(const std::string& target, const std::string& folder,
                           std::string_view bytes, mode_t mode, const struct stat* owner,
                           FileSaveFailure& failure) {
    std::string temp = folder + "/.quillon-save-XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        if (owner)
            return RenameResult::kWriteInPlace;
        Fail(failure, errno);
        return RenameResult::kFailed;
    }
    auto discard = [&] {
        close(fd);
        unlink(temp.c_str());
    };
    if (owner && (owner->st_uid != geteuid() || owner->st_gid != getegid()) &&
        fchown(fd, owner->st_uid, owner->st_gid) != 0) {
        discard(); // a shared file keeps its owner: written in place instead
        return RenameResult::kWriteInPlace;
    }
    fchmod(fd, mode); // after fchown, which may clear set-id bits
    int error = WriteAllAt(fd, bytes, 0);
    if (error == 0 && FileSaveSystemCalls().sync(fd) != 0)
        error = errno;
    if (error != 0) {
        discard();
        Fail(failure, error);
        return RenameResult::kFailed;
    }
    if (close(fd) != 0) {
        error = errno;
        unlink(temp.c_str());
        Fail(failure, error);
        return RenameResult::kFailed;
    }
    if (std::rename(temp.c_str(), target.c_str()) != 0) {
        error = errno;
        unlink(temp.c_str());
        Fail(failure, error);
        return RenameResult::kFailed;
    }
    SyncFolder(folder);
    return RenameResult::kDone;
}

// Writes bytes over the content of the existing file, keeping its inode; on a failure half-way
// the old content is put back when it could be read.
bool WriteInPlace(const std::string& target, std::string_view bytes, FileSaveFailure& failure) {
    bool readable = true;
    int fd = open(target.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0 && errno == EACCES) {
        readable = false;
        fd = open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    }
    if (fd < 0)
        return Fail(failure, errno);
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return Fail(failure, MSG_NOT_REGULAR_FILE, "");
    }
    std::string old;
    if (readable) {
        old.resize(static_cast<size_t>(st.st_size));
        size_t got = 0;
        while (got < old.size()) {
            const ssize_t n =
                pread(fd, old.data() + got, old.size() - got, static_cast<off_t>(got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += static_cast<size_t>(n);
        }
        readable = got == old.size();
    }
    // Reserve the space first, so a full disk is found before anything is overwritten.
    const int reserved = posix_fallocate(fd, 0, static_cast<off_t>(bytes.size()));
    if (reserved == ENOSPC || reserved == EDQUOT || reserved == EFBIG) {
        if (static_cast<off_t>(bytes.size()) > st.st_size &&
            FileSaveSystemCalls().truncate(fd, st.st_size) != 0) {
            // the size stays as the reservation left it; the content is untouched
        }
        close(fd);
        return Fail(failure, reserved);
    }
    const FileSaveCalls& calls = FileSaveSystemCalls();
    int error = WriteAllAt(fd, bytes, 0);
    if (error == 0 && calls.truncate(fd, static_cast<off_t>(bytes.size())) != 0)
        error = errno;
    if (error == 0 && calls.sync(fd) != 0)
        error = errno;
    if (error != 0 && readable) {
        // Put the old content back; it fitted before.
        if (WriteAllAt(fd, old, 0) == 0 && calls.truncate(fd, static_cast<off_t>(old.size())) == 0)
            calls.sync(fd);
    }
    if (close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0)
        return Fail(failure, error);
    return true;
}

} // namespace

bool SaveFileContent(const std::string& path, std::string_view bytes, FileSaveFailure& failure) {
    namespace fs = std::filesystem;
    failure = {};
    std::error_code ec;
    fs::path target(path);
    if (fs::is_symlink(fs::symlink_status(target, ec))) {
        fs::path resolved = fs::weakly_canonical(target, ec);
        if (!ec)
            target = resolved;
    }
    if (target.filename().empty())
        return Fail(failure, MSG_NOT_REGULAR_FILE, "");
    std::string folder = target.parent_path().string();
    if (folder.empty())
        folder = ".";
    const std::string file = target.string();

    struct stat st {};
    if (stat(file.c_str(), &st) != 0) {
        if (errno != ENOENT)
            return Fail(failure, errno);
        // A new file.
        if (access(folder.c_str(), W_OK | X_OK) != 0)
            return Fail(failure, errno);
        return WriteByRename(file, folder, bytes, NewFileMode(), nullptr, failure) ==
               RenameResult::kDone;
    }
    if (!S_ISREG(st.st_mode))
        return Fail(failure, MSG_NOT_REGULAR_FILE, "");
    // Without any write bit the user made the file read-only; that holds for every user,
    // including the superuser, whom the system would let write it.
    if ((st.st_mode & 0222) == 0)
        return Fail(failure, MSG_FILE_READ_ONLY, "");
    if (access(file.c_str(), W_OK) != 0)
        return errno == EROFS ? Fail(failure, MSG_FILE_READ_ONLY, std::strerror(EROFS))
                              : Fail(failure, errno);
    if (st.st_nlink == 1 && access(folder.c_str(), W_OK | X_OK) == 0) {
        switch (WriteByRename(file, folder, bytes, st.st_mode & 07777, &st, failure)) {
        case RenameResult::kDone:
            return true;
        case RenameResult::kFailed:
            return false;
        case RenameResult::kWriteInPlace:
            break;
        }
    }
    return WriteInPlace(file, bytes, failure);
}
