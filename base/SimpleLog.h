// clSimpleLog: append-only log of timestamped lines in a UTF-16LE file with byte-order mark.
// The file is opened and closed for every line, so others may read, copy or delete it while
// the program runs. Shared by the program and the Camera Link plug-in.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

class clSimpleLog {
public:
    explicit clSimpleLog(std::string filePath) : m_filePath(std::move(filePath)) {}
    virtual ~clSimpleLog() = default;
    clSimpleLog(const clSimpleLog&) = delete;
    clSimpleLog& operator=(const clSimpleLog&) = delete;

    // Appends "YYYY-MM-DD hh:mm:ss text" + CR LF. Callable from any thread; a line that cannot
    // be written is dropped silently. The text is written exactly as given.
    virtual void Write(std::u16string_view text);
    // Convenience for texts that are UTF-8 in the source.
    void Write(std::string_view utf8Text);

    const std::string& FilePath() const { return m_filePath; }

private:
    const std::string m_filePath;
    std::mutex m_lock;
};
