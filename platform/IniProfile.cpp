#include "platform/IniProfile.h"

#include "platform/Text.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

// Serialises writers of this process so two threads never lose each other's key.
std::mutex g_writeLock;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x + 32);
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y + 32);
        if (x != y)
            return false;
    }
    return true;
}

enum class FileState { Read, Missing, Failed };

FileState ReadWholeFile(const std::string& path, std::string& bytes) {
    bytes.clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? FileState::Missing : FileState::Failed;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_size > static_cast<off_t>(kMaxProfileFileBytes)) {
        ::close(fd);
        return FileState::Failed;
    }
    bytes.resize(static_cast<size_t>(st.st_size));
    size_t got = 0;
    while (got < bytes.size()) {
        ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            return FileState::Failed;
        }
        if (n == 0)
            break; // the file shrank meanwhile
        got += static_cast<size_t>(n);
    }
    // A file that grew meanwhile is read up to the size found, never beyond the limit.
    bytes.resize(got);
    ::close(fd);
    return FileState::Read;
}

// One line of the file. Offsets index the whole buffer; `end` excludes the line break.
struct Line {
    size_t begin = 0, end = 0, next = 0;
    enum Kind { Other, Section, Key } kind = Other;
    std::string_view name;  // section or key name, trimmed
    size_t valueBegin = 0;  // Key: first byte after "=" and the blanks following it
    std::string_view value; // Key: trimmed value
};

std::vector<Line> SplitLines(std::string_view text) {
    std::vector<Line> lines;
    size_t pos = 0;
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        pos = 3;
    while (pos < text.size()) {
        Line line;
        line.begin = pos;
        size_t nl = text.find('\n', pos);
        line.end = nl == std::string_view::npos ? text.size() : nl;
        line.next = nl == std::string_view::npos ? text.size() : nl + 1;
        std::string_view body = Trim(text.substr(line.begin, line.end - line.begin));
        if (!body.empty() && body.front() == '[') {
            size_t close = body.find(']');
            line.kind = Line::Section;
            line.name =
                Trim(body.substr(1, close == std::string_view::npos ? body.npos : close - 1));
        } else if (!body.empty() && body.front() != ';' && body.find('=') != body.npos) {
            size_t eq = text.find('=', line.begin);
            std::string_view name = Trim(text.substr(line.begin, eq - line.begin));
            if (!name.empty()) {
                line.kind = Line::Key;
                line.name = name;
                size_t v = eq + 1;
                while (v < line.end && (text[v] == ' ' || text[v] == '\t'))
                    ++v;
                line.valueBegin = v;
                line.value = Trim(text.substr(v, line.end - v));
            }
        }
        lines.push_back(line);
        pos = line.next;
    }
    return lines;
}

// Index of the first line holding key in a section named section, or -1.
long FindKey(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
    bool inSection = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        const Line& l = lines[i];
        if (l.kind == Line::Section)
            inSection = SameName(l.name, section);
        else if (inSection && l.kind == Line::Key && SameName(l.name, key))
            return static_cast<long>(i);
    }
    return -1;
}

std::optional<std::string> ReadValue(std::u16string_view section, std::u16string_view key,
                                     std::u16string_view filePath) {
    std::string bytes;
    if (ReadWholeFile(Utf16ToPath(filePath), bytes) != FileState::Read)
        return std::nullopt;
    std::vector<Line> lines = SplitLines(bytes);
    const std::string sec = Utf16ToUtf8(section), k = Utf16ToUtf8(key);
    long i = FindKey(lines, Trim(sec), Trim(k));
    if (i < 0)
        return std::nullopt;
    std::string_view value = lines[static_cast<size_t>(i)].value;
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return std::string(value);
}

bool HasLineBreakOrNul(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// Writes bytes to a new file beside path and renames it over path.
bool ReplaceFile(const std::string& path, const std::string& bytes, const struct stat* oldStat) {
    static std::atomic<unsigned> counter{0};
    std::string temp =
        path + ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(counter.fetch_add(1));
    // 0666 before the umask, like any new file; an existing file's permissions are kept.
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0)
        return false;
    bool ok = true;
    if (oldStat)
        ok = ::fchmod(fd, oldStat->st_mode & 07777) == 0;
    size_t done = 0;
    while (ok && done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            ok = false;
        else
            done += static_cast<size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok)
        ::unlink(temp.c_str());
    return ok;
}

} // namespace

uint32_t ReadSettingInt(std::u16string_view section, std::u16string_view key, uint32_t defaultValue,
                        std::u16string_view filePath) {
    std::optional<std::string> value = ReadValue(section, key, filePath);
    if (!value || value->empty())
        return defaultValue;
    std::string_view s = *value;
    bool negative = false;
    if (s.front() == '-' || s.front() == '+') {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    uint64_t n = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            break;
        n = n * 10 + static_cast<uint64_t>(c - '0');
        if (n > UINT32_MAX) {
            n = UINT32_MAX;
            break;
        }
    }
    if (negative) {
        if (n > static_cast<uint64_t>(INT32_MAX) + 1)
            n = static_cast<uint64_t>(INT32_MAX) + 1;
        return static_cast<uint32_t>(0u - static_cast<uint32_t>(n));
    }
    return static_cast<uint32_t>(n);
}

std::u16string ReadSetting(std::u16string_view section, std::u16string_view key,
                           std::u16string_view defaultValue, std::u16string_view filePath,
                           size_t maxChars) {
    std::optional<std::string> value = ReadValue(section, key, filePath);
    std::u16string text = value ? PathToUtf16(*value) : std::u16string(defaultValue);
    if (text.size() > maxChars) {
        size_t cut = maxChars;
        if (cut > 0 && text[cut - 1] >= 0xD800 && text[cut - 1] <= 0xDBFF)
            --cut;
        text.resize(cut);
    }
    return text;
}

bool WriteSetting(std::u16string_view section, std::u16string_view key, std::u16string_view value,
                  std::u16string_view filePath) {
    const std::string sec = Utf16ToUtf8(section);
    const std::string k = Utf16ToUtf8(key);
    const std::string val = Utf16ToPath(value);
    std::string path = Utf16ToPath(filePath);
    if (Trim(sec).empty() || Trim(k).empty() || path.empty() || HasLineBreakOrNul(sec) ||
        HasLineBreakOrNul(k) || HasLineBreakOrNul(val) || HasLineBreakOrNul(path) ||
        sec.find(']') != sec.npos || k.find('=') != k.npos || Trim(k).front() == '[' ||
        Trim(k).front() == ';')
        return false;

    std::lock_guard<std::mutex> guard(g_writeLock);
    // Through a symbolic link the file it points to is replaced, not the link.
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        path = real;
        std::free(real);
    }
    std::string bytes;
    FileState state = ReadWholeFile(path, bytes);
    if (state == FileState::Failed)
        return false;
    struct stat st {};
    const bool exists = state == FileState::Read;
    // A read-only file stays untouched, also for a user whom permissions do not stop.
    if (exists && (::stat(path.c_str(), &st) != 0 || (st.st_mode & 0222) == 0 ||
                   ::access(path.c_str(), W_OK) != 0))
        return false;

    const size_t firstNl = bytes.find('\n');
    const std::string eol =
        firstNl != std::string::npos && firstNl > 0 && bytes[firstNl - 1] == '\r' ? "\r\n" : "\n";
    std::vector<Line> lines = SplitLines(bytes);
    std::string out;
    long keyLine = FindKey(lines, Trim(sec), Trim(k));
    if (keyLine >= 0) {
        const Line& l = lines[static_cast<size_t>(keyLine)];
        // Keep the key as spelled in the file and whatever ends the line (CR of CR LF).
        size_t valueEnd = l.end;
        if (valueEnd > l.valueBegin && bytes[valueEnd - 1] == '\r')
            --valueEnd;
        out.reserve(bytes.size() + val.size());
        out.append(bytes, 0, l.valueBegin);
        out += val;
        out.append(bytes, valueEnd, std::string::npos);
    } else {
        // After the last non-blank line of the first section of that name, else a new section
        // at the end of the file.
        long sectionLine = -1, insertAfter = -1;
        bool inSection = false;
        for (size_t i = 0; i < lines.size(); ++i) {
            const Line& l = lines[i];
            if (l.kind == Line::Section) {
                if (sectionLine >= 0 && inSection)
                    break;
                inSection = SameName(l.name, Trim(sec));
                if (inSection) {
                    sectionLine = static_cast<long>(i);
                    insertAfter = sectionLine;
                }
            } else if (inSection &&
                       !Trim(std::string_view(bytes).substr(l.begin, l.end - l.begin)).empty()) {
                insertAfter = static_cast<long>(i);
            }
        }
        const std::string entry = k + "=" + val + eol;
        if (insertAfter >= 0) {
            const Line& l = lines[static_cast<size_t>(insertAfter)];
            out.append(bytes, 0, l.next);
            if (l.next == l.end) // last line without a line break
                out += eol;
            out += entry;
            out.append(bytes, l.next, std::string::npos);
        } else {
            out = bytes;
            if (!out.empty() && out.back() != '\n')
                out += eol;
            out += "[" + sec + "]" + eol + entry;
        }
    }
    if (out.size() > kMaxProfileFileBytes)
        return false;
    return ReplaceFile(path, out, exists ? &st : nullptr);
}

} // namespace platform
