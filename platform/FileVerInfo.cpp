#include "platform/FileVerInfo.h"

#include "platform/Text.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace nsGen {
namespace {

constexpr std::string_view kMagicLine = "QUILLON-VERSION-1";

class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

bool ReadAt(int fd, void* buf, size_t size, uint64_t offset, uint64_t fileSize) {
    if (offset > fileSize || size > fileSize - offset)
        return false;
    auto* p = static_cast<char*>(buf);
    size_t got = 0;
    while (got < size) {
        ssize_t n = ::pread(fd, p + got, size - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

// Locates the version section in a little-endian ELF64 file (the only kind we build).
bool FindVersionSection(int fd, uint64_t fileSize, uint64_t& offset, uint64_t& size) {
    Elf64_Ehdr eh{};
    if (!ReadAt(fd, &eh, sizeof eh, 0, fileSize))
        return false;
    if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64 ||
        eh.e_ident[EI_DATA] != ELFDATA2LSB || eh.e_shoff == 0 ||
        eh.e_shentsize < sizeof(Elf64_Shdr))
        return false;
    auto header = [&](uint64_t index, Elf64_Shdr& sh) {
        if (index > (fileSize - std::min<uint64_t>(fileSize, eh.e_shoff)) / eh.e_shentsize)
            return false;
        return ReadAt(fd, &sh, sizeof sh, eh.e_shoff + index * eh.e_shentsize, fileSize);
    };
    uint64_t count = eh.e_shnum;
    uint64_t strIndex = eh.e_shstrndx;
    if (count == 0 || strIndex == SHN_XINDEX) { // large counts live in section header 0
        Elf64_Shdr first{};
        if (!header(0, first))
            return false;
        if (count == 0)
            count = first.sh_size;
        if (strIndex == SHN_XINDEX)
            strIndex = first.sh_link;
    }
    if (count == 0 || count > fileSize / eh.e_shentsize || strIndex >= count)
        return false;
    Elf64_Shdr strSh{};
    if (!header(strIndex, strSh) || strSh.sh_type == SHT_NOBITS || strSh.sh_size == 0 ||
        strSh.sh_size > fileSize)
        return false;
    std::vector<char> names(static_cast<size_t>(strSh.sh_size));
    if (!ReadAt(fd, names.data(), names.size(), strSh.sh_offset, fileSize))
        return false;
    names.back() = '\0';
    const size_t wantedLen = std::strlen(kVersionSectionName);
    for (uint64_t i = 0; i < count; ++i) {
        Elf64_Shdr sh{};
        if (!header(i, sh))
            return false;
        if (sh.sh_name >= names.size() || sh.sh_type == SHT_NOBITS)
            continue;
        const char* name = names.data() + sh.sh_name;
        if (std::strlen(name) != wantedLen ||
            std::memcmp(name, kVersionSectionName, wantedLen) != 0)
            continue;
        if (sh.sh_size == 0 || sh.sh_size > kMaxVersionBlockBytes)
            return false;
        offset = sh.sh_offset;
        size = sh.sh_size;
        return true;
    }
    return false;
}

bool ParseVersion(std::string_view text, uint32_t& ms, uint32_t& ls) {
    unsigned parts[4] = {0, 0, 0, 0};
    size_t index = 0;
    bool digit = false;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            parts[index] = parts[index] * 10 + static_cast<unsigned>(c - '0');
            if (parts[index] > 0xFFFF)
                return false;
            digit = true;
        } else if (c == '.' && digit && index < 3) {
            ++index;
            digit = false;
        } else {
            return false;
        }
    }
    if (!digit)
        return false;
    ms = parts[0] << 16 | parts[1];
    ls = parts[2] << 16 | parts[3];
    return true;
}

bool ParseHex32(std::string_view text, uint32_t& value) {
    if (text.size() != 8)
        return false;
    value = 0;
    for (char c : text) {
        int d = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : -1;
        if (d < 0)
            return false;
        value = value << 4 | static_cast<uint32_t>(d);
    }
    return true;
}

std::u16string FileNameWithoutExtension(const std::string& path) {
    std::string name = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
    size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0)
        name.resize(dot);
    return platform::Utf8ToUtf16(name);
}

} // namespace

const uint8_t* FileVerInfo::LoadVersionInfo(const std::string& filePath) {
    m_block.reset();
    m_blockSize = 0;
    m_translation = 0;
    Fd fd(::open(filePath.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return nullptr;
    uint64_t offset = 0, size = 0;
    if (!FindVersionSection(fd.get(), static_cast<uint64_t>(st.st_size), offset, size))
        return nullptr;
    // One spare byte keeps the block NUL-terminated whatever the file holds.
    auto block = std::make_unique<uint8_t[]>(static_cast<size_t>(size) + 1);
    if (!ReadAt(fd.get(), block.get(), static_cast<size_t>(size), offset,
                static_cast<uint64_t>(st.st_size)))
        return nullptr;
    block[size] = 0;
    std::string_view text(reinterpret_cast<const char*>(block.get()));
    if (text.substr(0, kMagicLine.size()) != kMagicLine ||
        (text.size() > kMagicLine.size() && text[kMagicLine.size()] != '\n'))
        return nullptr;
    m_block = std::move(block);
    m_blockSize = static_cast<uint32_t>(size);
    std::string_view translation;
    if (!FindEntry("Translation", translation) || !ParseHex32(translation, m_translation))
        m_translation = 0;
    return m_block.get();
}

bool FileVerInfo::FindEntry(std::string_view name, std::string_view& value) const {
    if (!m_block)
        return false;
    std::string_view text(reinterpret_cast<const char*>(m_block.get()));
    size_t pos = text.find('\n');
    while (pos != std::string_view::npos && pos < text.size()) {
        size_t begin = pos + 1;
        size_t end = text.find('\n', begin);
        std::string_view line = text.substr(begin, end == text.npos ? text.npos : end - begin);
        size_t eq = line.find('=');
        if (eq != line.npos && line.substr(0, eq) == name) {
            value = line.substr(eq + 1);
            return true;
        }
        pos = end;
    }
    return false;
}

bool FileVerInfo::QueryValue(std::u16string_view subBlock, std::u16string& value) const {
    if (!m_block)
        return false;
    const std::string path = platform::Utf16ToUtf8(subBlock);
    std::string_view entry;
    if (path == "\\") {
        if (!FindEntry("FileVersion", entry))
            return false;
        uint32_t ms = 0, ls = 0;
        if (!ParseVersion(entry, ms, ls))
            return false;
        char buf[64];
        std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF);
        value = platform::Utf8ToUtf16(buf);
        return true;
    }
    if (path == "\\VarFileInfo\\Translation") {
        if (!FindEntry("Translation", entry))
            return false;
        value = platform::Utf8ToUtf16(entry);
        return true;
    }
    constexpr std::string_view prefix = "\\StringFileInfo\\";
    if (path.compare(0, prefix.size(), prefix) != 0)
        return false;
    std::string_view rest = std::string_view(path).substr(prefix.size());
    size_t slash = rest.find('\\');
    if (slash == rest.npos || !FindEntry("Translation", entry))
        return false;
    uint32_t wanted = 0, have = 0;
    if (!ParseHex32(rest.substr(0, slash), wanted) || !ParseHex32(entry, have) || wanted != have)
        return false;
    std::string_view name = rest.substr(slash + 1);
    if (name.empty() || name == "Translation" || !FindEntry(name, entry))
        return false;
    value = platform::Utf8ToUtf16(entry);
    return true;
}

std::u16string FileVerInfo::GetString(std::u16string_view name) const {
    char prefix[48];
    std::snprintf(prefix, sizeof prefix, "\\StringFileInfo\\%08x\\", m_translation);
    std::u16string value;
    if (!QueryValue(platform::Utf8ToUtf16(prefix) + std::u16string(name), value))
        value.clear();
    return value;
}

bool FileVerInfo::GetFixedFileVersion(uint32_t& ms, uint32_t& ls) const {
    std::string_view entry;
    return FindEntry("FileVersion", entry) && ParseVersion(entry, ms, ls);
}

std::u16string FormatVersionSuffix(int major, int minor, int build) {
    char buf[64];
    std::snprintf(buf, sizeof buf, " Ver.%d.%d.%d", major, minor, build);
    return platform::Utf8ToUtf16(buf);
}

std::u16string FormatProgramLine(std::u16string_view fileName, int major, int minor, int build) {
    return std::u16string(fileName) + FormatVersionSuffix(major, minor, build);
}

std::u16string ProgramLineOf(const std::string& filePath) {
    FileVerInfo info;
    uint32_t ms = 0, ls = 0;
    std::u16string name = FileNameWithoutExtension(filePath);
    if (!info.LoadVersionInfo(filePath) || !info.GetFixedFileVersion(ms, ls))
        return name;
    return FormatProgramLine(name, static_cast<int>(ms >> 16), static_cast<int>(ms & 0xFFFF),
                             static_cast<int>(ls >> 16));
}

std::u16string VersionSuffixOf(const std::string& filePath) {
    FileVerInfo info;
    uint32_t ms = 0, ls = 0;
    if (!info.LoadVersionInfo(filePath) || !info.GetFixedFileVersion(ms, ls))
        return {};
    return FormatVersionSuffix(static_cast<int>(ms >> 16), static_cast<int>(ms & 0xFFFF),
                               static_cast<int>(ls >> 16));
}

} // namespace nsGen
