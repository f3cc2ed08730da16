// Saving over the user's file on a real file system: what is on disk afterwards.
#include "textfiles/FileSave.h"

#include "base/MessageTable.h"
#include "support/TempDir.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr uid_t kNobody = 65534;

struct stat StatOf(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st;
}

// Runs save as a user without privileges and returns 0 when it succeeded, else the message id
// of its failure. The superuser ignores file modes, so as root the save runs in a child that
// has become "nobody"; otherwise it runs here.
int SaveUnprivileged(const std::string& path, const std::string& bytes) {
    auto save = [&] {
        FileSaveFailure failure;
        return SaveFileContent(path, bytes, failure) ? 0 : failure.messageId;
    };
    if (geteuid() != 0)
        return save();
    const pid_t child = fork();
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)
            _exit(126);
        _exit(save());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 127;
}

class FileSave : public ::testing::Test {
protected:
    FileSave() {
        // Others (the unprivileged child) may enter the folder.
        std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));
    }
    int Save(const std::string& path, const std::string& bytes) {
        failure = {};
        return SaveFileContent(path, bytes, failure) ? 0 : failure.messageId;
    }
    TempDir dir;
    FileSaveFailure failure;
};

TEST_F(FileSave, ReadOnlyFileIsNeverReplaced) {
    const std::string path = dir.file("settings.txt");
    WriteFileBytes(path, "old");
    chmod(path.c_str(), 0444);
    const ino_t inode = StatOf(path).st_ino;
    // Also the superuser, whom the system would let write it, leaves it alone.
    EXPECT_EQ(Save(path, "new"), MSG_FILE_READ_ONLY);
    EXPECT_EQ(ReadFileBytes(path), "old");
    EXPECT_EQ(StatOf(path).st_ino, inode);
    EXPECT_EQ(StatOf(path).st_mode & 07777, 0444u);
}

TEST_F(FileSave, FileOfAnotherUserInAnOpenFolderIsNotReplaced) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to give the file to another user than the one saving";
    // The folder lets everybody create files; the file itself is writable by its owner only.
    chmod(dir.str().c_str(), 01777 & ~01000);
    const std::string path = dir.file("shared.txt");
    WriteFileBytes(path, "old");
    chmod(path.c_str(), 0644);
    EXPECT_EQ(SaveUnprivileged(path, "new"), MSG_ACCESS_DENIED);
    EXPECT_EQ(ReadFileBytes(path), "old");
    EXPECT_EQ(StatOf(path).st_uid, 0u);
}

TEST_F(FileSave, WritableFileInAFolderWithoutWriteRightsIsWrittenInPlace) {
    const std::string folder = dir.file("locked");
    std::filesystem::create_directory(folder);
    const std::string path = folder + "/settings.txt";
    WriteFileBytes(path, std::string(5000, 'o'));
    chmod(path.c_str(), 0666);
    chmod(folder.c_str(), 0555);
    const ino_t inode = StatOf(path).st_ino;
    EXPECT_EQ(SaveUnprivileged(path, "new content"), 0);
    chmod(folder.c_str(), 0755);
    EXPECT_EQ(ReadFileBytes(path), "new content"); // shortened to the new text
    EXPECT_EQ(StatOf(path).st_ino, inode);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
}

TEST_F(FileSave, HardLinkedFileKeepsItsLinks) {
    const std::string path = dir.file("a.txt"), other = dir.file("b.txt");
    WriteFileBytes(path, "old");
    ASSERT_EQ(link(path.c_str(), other.c_str()), 0);
    EXPECT_EQ(Save(path, "new"), 0);
    EXPECT_EQ(ReadFileBytes(other), "new");
    EXPECT_EQ(StatOf(path).st_ino, StatOf(other).st_ino);
    EXPECT_EQ(StatOf(path).st_nlink, 2u);
}

TEST_F(FileSave, ReplacedFileKeepsModeAndOwner) {
    const std::string path = dir.file("s.txt");
    WriteFileBytes(path, "old");
    chmod(path.c_str(), 0604);
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(path.c_str(), kNobody, kNobody), 0);
    }
    EXPECT_EQ(Save(path, "new"), 0);
    EXPECT_EQ(ReadFileBytes(path), "new");
    EXPECT_EQ(StatOf(path).st_mode & 07777, 0604u);
    if (root) {
        EXPECT_EQ(StatOf(path).st_uid, kNobody);
        EXPECT_EQ(StatOf(path).st_gid, kNobody);
    }
}

TEST_F(FileSave, FifoIsRefusedWithoutWaitingForAReader) {
    const std::string path = dir.file("pipe.txt");
    ASSERT_EQ(mkfifo(path.c_str(), 0666), 0);
    EXPECT_EQ(Save(path, "new"), MSG_NOT_REGULAR_FILE);
    EXPECT_TRUE(std::filesystem::is_fifo(path));
}

// A small file system of its own that can be filled up.
class SmallFileSystem {
public:
    explicit SmallFileSystem(const std::string& folder) : m_folder(folder) {
        std::filesystem::create_directory(folder);
        mounted = mount("quillon-test", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                        "size=256k,mode=0755") == 0;
        error = errno;
    }
    ~SmallFileSystem() {
        if (mounted)
            umount2(m_folder.c_str(), MNT_DETACH);
    }
    // Fills the file system up, leaving about `spare` bytes.
    void Fill(size_t spare) {
        const int fd = open((m_folder + "/filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        const std::string block(4096, 'f');
        while (write(fd, block.data(), block.size()) > 0) {
        }
        close(fd);
        struct stat st {};
        stat((m_folder + "/filler").c_str(), &st);
        if (truncate((m_folder + "/filler").c_str(),
                     st.st_size > static_cast<off_t>(spare) ? st.st_size - spare : 0) != 0) {
        }
    }
    bool mounted = false;
    int error = 0;

private:
    std::string m_folder;
};

TEST_F(FileSave, FullDiskKeepsTheOldContent) {
    SmallFileSystem disk(dir.file("disk"));
    if (!disk.mounted)
        GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(disk.error);
    const std::string path = dir.file("disk/settings.txt"), linked = dir.file("disk/linked.txt");
    const std::string old(3000, 'o');
    WriteFileBytes(path, old);
    WriteFileBytes(linked, old);
    ASSERT_EQ(link(linked.c_str(), dir.file("disk/second-name.txt").c_str()), 0);
    disk.Fill(1024);
    const std::string bigger(64 * 1024, 'n');
    // Replaced through a temporary file, and written in place (the hard-linked one).
    for (const std::string& target : {path, linked}) {
        SCOPED_TRACE(target);
        EXPECT_EQ(Save(target, bigger), MSG_DISK_FULL);
        EXPECT_EQ(ReadFileBytes(target), old);
    }
    for (const auto& e : std::filesystem::directory_iterator(dir.file("disk")))
        EXPECT_NE(e.path().filename().string().rfind(".quillon-save-", 0), 0u) << e.path();
}

// A save in place that fails after its room was reserved: one data call fails with EIO (a
// write after half of the bytes went out); every other call is the system's.
enum class FailingCall { kWrite, kTruncate, kSync };
FailingCall g_failing;
int g_calls = 0; // of the failing kind

// True (errno EIO) for the n-th call of the failing kind.
bool Fails(FailingCall call, int n) {
    if (g_failing != call || ++g_calls != n)
        return false;
    errno = EIO;
    return true;
}

ssize_t WriteAt(int fd, const void* bytes, size_t count, off_t offset) {
    if (Fails(FailingCall::kWrite, 2))
        return -1;
    if (g_failing == FailingCall::kWrite && g_calls == 1)
        count /= 2;
    return ::pwrite(fd, bytes, count, offset);
}

class FailedSave : public FileSave, public ::testing::WithParamInterface<FailingCall> {
protected:
    FailedSave() {
        g_failing = GetParam();
        g_calls = 0;
        FileSaveSystemCalls() = {
            &WriteAt,
            [](int fd, off_t n) {
                return Fails(FailingCall::kTruncate, 1) ? -1 : ::ftruncate(fd, n);
            },
            [](int fd) { return Fails(FailingCall::kSync, 1) ? -1 : ::fsync(fd); }};
    }
    ~FailedSave() override { FileSaveSystemCalls() = saved; }
    FileSaveCalls saved = FileSaveSystemCalls();
};

TEST_P(FailedSave, InPlaceLeavesTheOldContent) {
    // A second link makes the save write in place.
    const std::string path = dir.file("a.txt");
    const std::string old(3000, 'o');
    WriteFileBytes(path, old);
    ASSERT_EQ(link(path.c_str(), dir.file("b.txt").c_str()), 0);
    EXPECT_EQ(Save(path, std::string(5000, 'n')), MSG_CANNOT_WRITE_FILE);
    EXPECT_EQ(failure.detail, std::strerror(EIO));
    EXPECT_EQ(ReadFileBytes(path), old);
}

std::string CallName(const ::testing::TestParamInfo<FailingCall>& info) {
    switch (info.param) {
    case FailingCall::kWrite:
        return "Write";
    case FailingCall::kTruncate:
        return "Truncate";
    default:
        return "Sync";
    }
}

INSTANTIATE_TEST_SUITE_P(Calls, FailedSave,
                         ::testing::Values(FailingCall::kWrite, FailingCall::kTruncate,
                                           FailingCall::kSync),
                         CallName);

} // namespace
