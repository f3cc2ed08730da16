// Saving the whole content of a file the user chose, without losing what was there: a file
// marked read-only is never replaced, a save that cannot finish leaves the old content, and
// the file keeps its identity (links, mode, owner) wherever the system lets it.
#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>

// Why a save failed: a message of the table (MSG_FILE_READ_ONLY, MSG_DISK_FULL, ...) and the
// system's own words for it (may be empty).
struct FileSaveFailure {
    int messageId = 0;
    std::string detail;
};

// Replaces the content of the file at path (UTF-8; through a symbolic link, the file it names)
// with bytes. A new file, or a plain file with one link in a folder that takes a new file,
// is written beside the target and renamed over it once complete and on disk, with the old
// file's mode and, when it can be kept, owner (otherwise the file is written in place). A file
// with several links, or one whose folder takes no new file, is written in place; space is
// reserved first, and when writing fails half-way the old content is written back. False
// with the reason when the file is read-only (no write bit at all, or no right to write it),
// is no regular file, or could not be written.
bool SaveFileContent(const std::string& path, std::string_view bytes, FileSaveFailure& failure);

// The calls a save writes the file's data with. A test puts its own here to make one of them
// fail; everything else keeps the system's. Changed only while no save runs.
struct FileSaveCalls {
    ssize_t (*writeAt)(int fd, const void* bytes, size_t count, off_t offset);
    int (*truncate)(int fd, off_t length);
    int (*sync)(int fd);
};
FileSaveCalls& FileSaveSystemCalls();
