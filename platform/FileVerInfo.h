// Version information of a program file, read from the file without loading it.
//
// Every deliverable carries a version block in an ELF section of its own (".quillon_version",
// put there by the CMake function quillon_embed_version): NUL-terminated UTF-8 text, first the
// line "QUILLON-VERSION-1", then "Name=Value" lines:
//   FileVersion=major.minor.build.revision
//   Translation=040904b0            (language 0x0409, code page 0x04B0, eight hex digits)
//   LegalCopyright=...              (and any further named strings)
// The holder answers the classic queries on that block: "\" (the two fixed file-version words),
// "\VarFileInfo\Translation" and "\StringFileInfo\%08x\<name>".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace nsGen {

// Name of the section holding the version block.
inline constexpr const char* kVersionSectionName = ".quillon_version";
// Largest version block accepted.
inline constexpr uint32_t kMaxVersionBlockBytes = 64 * 1024;

class FileVerInfo {
public:
    FileVerInfo() = default;
    virtual ~FileVerInfo() = default;
    FileVerInfo(const FileVerInfo&) = delete;
    FileVerInfo& operator=(const FileVerInfo&) = delete;

    // Reads the version block of the file. Returns the block, or nullptr when the file cannot be
    // read, is no 64-bit ELF file, is truncated, or has no (valid) version block; any block held
    // before is freed first.
    const uint8_t* LoadVersionInfo(const std::string& filePath);

    // A named string of the block under "\StringFileInfo\%08x\%s" with the translation; empty
    // when the block or the string is missing.
    std::u16string GetString(std::u16string_view name) const;
    // The fixed file version: ms = major << 16 | minor, ls = build << 16 | revision. False
    // without a block.
    bool GetFixedFileVersion(uint32_t& ms, uint32_t& ls) const;
    // Raw query of a sub-block path ("\", "\VarFileInfo\Translation",
    // "\StringFileInfo\040904b0\LegalCopyright"); the value as text ("\" gives
    // "major.minor.build.revision", the translation its eight hex digits). False when absent.
    bool QueryValue(std::u16string_view subBlock, std::u16string& value) const;

    const uint8_t* Block() const { return m_block.get(); }
    uint32_t BlockSize() const { return m_blockSize; }
    uint32_t Translation() const { return m_translation; }

private:
    bool FindEntry(std::string_view name, std::string_view& value) const;

    std::unique_ptr<uint8_t[]> m_block;
    uint32_t m_blockSize = 0;
    uint32_t m_translation = 0;
};

// "%s Ver.%d.%d.%d": the file's name without folder and extension with major, minor, build.
std::u16string FormatProgramLine(std::u16string_view fileName, int major, int minor, int build);
// " Ver.%d.%d.%d"
std::u16string FormatVersionSuffix(int major, int minor, int build);

// The program line of a file: "Quillon Ver.1.0.1" for build/bin/Quillon; the bare name when
// the file has no version block.
std::u16string ProgramLineOf(const std::string& filePath);
// The plug-in version suffix of a file (" Ver.1.0.1"); empty without a version block.
std::u16string VersionSuffixOf(const std::string& filePath);

} // namespace nsGen
