#include "platform/FileVerInfo.h"

#include "support/TempDir.h"

#include <cstring>
#include <elf.h>
#include <filesystem>
#include <gtest/gtest.h>

using namespace nsGen;
namespace fs = std::filesystem;

namespace {

// This test program carries a version block of its own (quillon_embed_version in CMake).
const std::string kSelf = QUILLON_TEST_BIN_DIR "/test_platform";

} // namespace

TEST(FileVerInfo, ReadsVersionAndStringsOfABuiltFileWithoutLoadingIt) {
    FileVerInfo info;
    ASSERT_NE(info.LoadVersionInfo(kSelf), nullptr);
    EXPECT_GT(info.BlockSize(), 0u);
    EXPECT_EQ(info.Translation(), 0x040904B0u);
    uint32_t ms = 0, ls = 0;
    ASSERT_TRUE(info.GetFixedFileVersion(ms, ls));
    EXPECT_EQ(ms, 1u << 16 | 0u);
    EXPECT_EQ(ls, 1u << 16 | 0u);
    EXPECT_EQ(info.GetString(u"LegalCopyright"), u"Copyright (C) 2026 Quillon developers");
    EXPECT_EQ(info.GetString(u"NoSuchString"), u"");

    std::u16string value;
    EXPECT_TRUE(info.QueryValue(u"\\StringFileInfo\\040904b0\\LegalCopyright", value));
    EXPECT_FALSE(info.QueryValue(u"\\StringFileInfo\\041104b0\\LegalCopyright", value))
        << "strings are found only under the block's own translation";
    ASSERT_TRUE(info.QueryValue(u"\\VarFileInfo\\Translation", value));
    EXPECT_EQ(value, u"040904b0");
    ASSERT_TRUE(info.QueryValue(u"\\", value));
    EXPECT_EQ(value, u"1.0.1.0");

    EXPECT_EQ(ProgramLineOf(kSelf), u"test_platform Ver.1.0.1");
    EXPECT_EQ(VersionSuffixOf(kSelf), u" Ver.1.0.1");
}

TEST(FileVerInfo, TheQuillonProgramCarriesItsVersion) {
    const std::string quillon = QUILLON_BIN_DIR "/Quillon";
    if (!fs::exists(quillon))
        GTEST_SKIP() << "the program is not part of this build";
    EXPECT_EQ(ProgramLineOf(quillon), u"Quillon Ver.1.0.1");
    FileVerInfo info;
    ASSERT_NE(info.LoadVersionInfo(quillon), nullptr);
    EXPECT_EQ(info.GetString(u"LegalCopyright"), u"Copyright (C) 2026 Quillon developers");
}

TEST(FileVerInfo, FormatsShowThreeOfTheFourNumbers) {
    EXPECT_EQ(FormatProgramLine(u"Quillon", 2, 1, 3), u"Quillon Ver.2.1.3");
    EXPECT_EQ(FormatVersionSuffix(1, 0, 12), u" Ver.1.0.12");
}

TEST(FileVerInfo, FilesWithoutAValidBlockGiveNone) {
    TempDir dir;
    FileVerInfo info;
    EXPECT_EQ(info.LoadVersionInfo(dir.file("missing")), nullptr);
    EXPECT_EQ(info.LoadVersionInfo(dir.str()), nullptr) << "a folder";

    std::string garbage(5000, '\0');
    for (size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<char>((i * 2654435761u) >> 13);
    WriteFileBytes(dir.file("garbage.so"), garbage);
    EXPECT_EQ(info.LoadVersionInfo(dir.file("garbage.so")), nullptr);
    EXPECT_EQ(info.GetString(u"LegalCopyright"), u"");
    uint32_t ms = 0, ls = 0;
    EXPECT_FALSE(info.GetFixedFileVersion(ms, ls));
    EXPECT_EQ(ProgramLineOf(dir.file("garbage.so")), u"garbage");
    EXPECT_EQ(VersionSuffixOf(dir.file("garbage.so")), u"");

    // Every truncation of a real file, and an ELF header pointing its tables far outside.
    const std::string self = ReadFileBytes(kSelf);
    ASSERT_GT(self.size(), sizeof(Elf64_Ehdr));
    for (size_t cut : {size_t(0), size_t(4), sizeof(Elf64_Ehdr) - 1, sizeof(Elf64_Ehdr),
                       self.size() / 2, self.size() - 1}) {
        WriteFileBytes(dir.file("cut"), self.substr(0, cut));
        EXPECT_EQ(info.LoadVersionInfo(dir.file("cut")), nullptr) << cut;
    }
    std::string bent = self.substr(0, 4096);
    Elf64_Ehdr eh{};
    std::memcpy(&eh, bent.data(), sizeof eh);
    eh.e_shoff = UINT64_MAX - 8;
    eh.e_shnum = 0xFFFF;
    std::memcpy(bent.data(), &eh, sizeof eh);
    WriteFileBytes(dir.file("bent"), bent);
    EXPECT_EQ(info.LoadVersionInfo(dir.file("bent")), nullptr);
}
