#include "platform/IniProfile.h"

#include "support/TempDir.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <thread>

using namespace platform;
namespace fs = std::filesystem;

namespace {

std::u16string U(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}

size_t CountFiles(const fs::path& folder) {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(folder))
        ++n;
    return n;
}

} // namespace

TEST(IniProfile, MissingFileGivesDefaultsAndFirstWriteCreatesIt) {
    TempDir dir;
    const std::u16string ini = U(dir.file("a.ini"));
    EXPECT_EQ(ReadSettingInt(u"App", u"Console Rows", 2000, ini), 2000u);
    EXPECT_EQ(ReadSetting(u"App", u"LastConfig", u"none", ini), u"none");
    EXPECT_FALSE(fs::exists(dir.file("a.ini"))) << "reads never create the file";

    ASSERT_TRUE(WriteSetting(u"App", u"Console Rows", u"2000", ini));
    ASSERT_TRUE(WriteSetting(u"App", u"LastConfig", u"", ini));
    ASSERT_TRUE(WriteSetting(u"Path", u"Text Load", u"/home/\u00e9t\u00e9", ini));
    EXPECT_EQ(ReadFileBytes(dir.file("a.ini")),
              "[App]\nConsole Rows=2000\nLastConfig=\n[Path]\nText Load=/home/\xC3\xA9t\xC3\xA9\n");
    EXPECT_EQ(ReadSetting(u"path", u"TEXT LOAD", u"", ini), u"/home/\u00e9t\u00e9");
    EXPECT_EQ(CountFiles(dir.path()), 1u) << "no temporary file is left behind";
}

TEST(IniProfile, EmptyValueGivesIntegerDefaultButEmptyText) {
    TempDir dir;
    WriteFileBytes(dir.file("a.ini"), "[App]\nReceive Buffer Bytes=\nLastConfig=   \n");
    const std::u16string ini = U(dir.file("a.ini"));
    EXPECT_EQ(ReadSettingInt(u"App", u"Receive Buffer Bytes", 20971520, ini), 20971520u);
    EXPECT_EQ(ReadSettingInt(u"App", u"LastConfig", 7, ini), 7u);
    EXPECT_EQ(ReadSetting(u"App", u"LastConfig", u"dflt", ini), u"");
    EXPECT_EQ(ReadSetting(u"App", u"Missing", u"dflt", ini), u"dflt");
    EXPECT_EQ(ReadSetting(u"Nope", u"LastConfig", u"dflt", ini), u"dflt");
}

TEST(IniProfile, NamesMatchWithoutCaseAfterTrimmingAndFirstMatchWins) {
    TempDir dir;
    WriteFileBytes(dir.file("a.ini"), "key=outside any section\n"
                                      "  [ TARN_Timeouts ]  \n"
                                      "\tFirst Recv\t=  150  \n"
                                      "first recv=999\n"
                                      "; Send=1\n"
                                      "[tarn_timeouts]\n"
                                      "First Recv=888\n"
                                      "Send = \"  quoted  \"\n"
                                      "Next='x'\n");
    const std::u16string ini = U(dir.file("a.ini"));
    EXPECT_EQ(ReadSettingInt(u"tarn_TIMEOUTS", u"FIRST RECV", 0, ini), 150u);
    EXPECT_EQ(ReadSetting(u"TARN_Timeouts", u"Send", u"", ini), u"  quoted  ")
        << "comments never match; a later section of the same name is searched too";
    EXPECT_EQ(ReadSetting(u"TARN_Timeouts", u"Next", u"", ini), u"x");
    EXPECT_EQ(ReadSetting(u"", u"key", u"dflt", ini), u"dflt");
}

TEST(IniProfile, EmptyQuotedValueReadsBackEmpty) {
    TempDir dir;
    WriteFileBytes(dir.file("a.ini"), "[App]\nLastConfig=\"\"\nRows = \"\" \nOne=\"\nTwo='' \n");
    const std::u16string ini = U(dir.file("a.ini"));
    EXPECT_EQ(ReadSetting(u"App", u"LastConfig", u"dflt", ini), u"");
    EXPECT_EQ(ReadSetting(u"App", u"Rows", u"dflt", ini), u"");
    EXPECT_EQ(ReadSetting(u"App", u"Two", u"dflt", ini), u"");
    EXPECT_EQ(ReadSettingInt(u"App", u"Rows", 2000, ini), 2000u) << "empty: the default";
    // A lone quote is no pair: it stays.
    EXPECT_EQ(ReadSetting(u"App", u"One", u"dflt", ini), u"\"");
}

TEST(IniProfile, NewKeyGoesIntoTheFirstOfTwoSectionsOfOneName) {
    TempDir dir;
    const std::string before = "[App]\na=1\n[Other]\nb=2\n[APP]\nc=3\n";
    WriteFileBytes(dir.file("a.ini"), before);
    const std::u16string ini = U(dir.file("a.ini"));
    ASSERT_TRUE(WriteSetting(u"app", u"New", u"x", ini));
    EXPECT_EQ(ReadFileBytes(dir.file("a.ini")), "[App]\na=1\nNew=x\n[Other]\nb=2\n[APP]\nc=3\n");
    EXPECT_EQ(ReadSetting(u"App", u"new", u"", ini), u"x");
}

TEST(IniProfile, IntegerValuesAreDecimalAndReturnedAsUnsigned32Bit) {
    TempDir dir;
    WriteFileBytes(dir.file("a.ini"), "[N]\na=12ab\nb=ab\nc=-1\nd=4294967295\ne=99999999999\n"
                                      "f=+5\ng=0x10\nh=010\n");
    const std::u16string ini = U(dir.file("a.ini"));
    auto get = [&](const char16_t* key) { return ReadSettingInt(u"N", key, 77, ini); };
    EXPECT_EQ(get(u"a"), 12u);
    EXPECT_EQ(get(u"b"), 0u);
    EXPECT_EQ(get(u"c"), 4294967295u);
    EXPECT_EQ(get(u"d"), 4294967295u);
    EXPECT_EQ(get(u"e"), 4294967295u);
    EXPECT_EQ(get(u"f"), 5u);
    EXPECT_EQ(get(u"g"), 0u);
    EXPECT_EQ(get(u"h"), 10u);
}

TEST(IniProfile, WriteChangesOneValueAndKeepsEveryOtherByte) {
    TempDir dir;
    const std::string before = "\xEF\xBB\xBF; settings of the test\r\n"
                               "[App]\r\n"
                               "Console Rows = 2000 \r\n"
                               "Unknown Key=\xFF\xFE raw bytes\r\n"
                               "garbage line without equals\r\n"
                               "\r\n"
                               "[Other]\r\n"
                               "x=1";
    WriteFileBytes(dir.file("a.ini"), before);
    const std::u16string ini = U(dir.file("a.ini"));

    ASSERT_TRUE(WriteSetting(u"app", u"console rows", u"500", ini));
    std::string expected = before;
    expected.replace(expected.find("2000 "), 5, "500");
    EXPECT_EQ(ReadFileBytes(dir.file("a.ini")), expected);

    ASSERT_TRUE(WriteSetting(u"App", u"LastConfig", u"/x.xml", ini));
    expected.insert(expected.find("\r\n\r\n[Other]") + 2, "LastConfig=/x.xml\r\n");
    EXPECT_EQ(ReadFileBytes(dir.file("a.ini")), expected)
        << "new key after the section's last line";

    ASSERT_TRUE(WriteSetting(u"Other", u"y", u"2", ini));
    expected += "\r\ny=2\r\n";
    EXPECT_EQ(ReadFileBytes(dir.file("a.ini")), expected) << "a missing final line break is added";

    ASSERT_TRUE(WriteSetting(u"New", u"k", u"v", ini));
    expected += "[New]\r\nk=v\r\n";
    EXPECT_EQ(ReadFileBytes(dir.file("a.ini")), expected);
    EXPECT_EQ(ReadSettingInt(u"App", u"Console Rows", 0, ini), 500u);
}

TEST(IniProfile, TruncatedAndGarbageFilesNeverLoseBytes) {
    TempDir dir;
    const std::u16string ini = U(dir.file("a.ini"));
    WriteFileBytes(dir.file("a.ini"), "[App]\nConsole Ro");
    EXPECT_EQ(ReadSettingInt(u"App", u"Console Rows", 2000, ini), 2000u);
    ASSERT_TRUE(WriteSetting(u"App", u"Console Rows", u"3", ini));
    EXPECT_EQ(ReadFileBytes(dir.file("a.ini")), "[App]\nConsole Ro\nConsole Rows=3\n");

    std::string garbage;
    for (int i = 0; i < 4096; ++i)
        garbage.push_back(static_cast<char>((i * 7919 + 13) & 0xFF));
    garbage += "\n[unterminated\n=novalue\n[]\n";
    WriteFileBytes(dir.file("a.ini"), garbage);
    EXPECT_EQ(ReadSetting(u"App", u"k", u"d", ini), u"d");
    ASSERT_TRUE(WriteSetting(u"App", u"k", u"v", ini));
    EXPECT_EQ(ReadFileBytes(dir.file("a.ini")), garbage + "[App]\nk=v\n");
    EXPECT_EQ(ReadSetting(u"unterminated", u"k", u"d", ini), u"d");
}

TEST(IniProfile, RefusedWritesLeaveTheFileAsItWas) {
    TempDir dir;
    const std::string before = "[App]\nk=1\n";
    WriteFileBytes(dir.file("a.ini"), before);
    const std::u16string ini = U(dir.file("a.ini"));

    EXPECT_FALSE(WriteSetting(u"App", u"k", u"two\nlines", ini));
    EXPECT_FALSE(WriteSetting(u"App", u"a=b", u"1", ini));
    EXPECT_FALSE(WriteSetting(u"A]pp", u"k", u"1", ini));
    EXPECT_FALSE(WriteSetting(u"App", u"", u"1", ini));
    EXPECT_EQ(ReadFileBytes(dir.file("a.ini")), before);

    fs::permissions(dir.file("a.ini"), fs::perms::owner_read | fs::perms::group_read);
    EXPECT_FALSE(WriteSetting(u"App", u"k", u"2", ini)) << "read-only file";
    EXPECT_EQ(ReadFileBytes(dir.file("a.ini")), before);
    EXPECT_EQ(ReadSettingInt(u"App", u"k", 0, ini), 1u) << "a read-only file is still read";

    fs::create_directory(dir.file("folder.ini"));
    EXPECT_FALSE(WriteSetting(u"App", u"k", u"2", U(dir.file("folder.ini"))));
    EXPECT_FALSE(WriteSetting(u"App", u"k", u"2", U(dir.file("no/such/a.ini"))));
    EXPECT_EQ(CountFiles(dir.path()), 2u);
}

TEST(IniProfile, FailedWriteKeepsTheOldFileWhole) {
    TempDir dir;
    const std::string before = "[App]\nk=1\n";
    WriteFileBytes(dir.file("a.ini"), before);
    const std::u16string ini = U(dir.file("a.ini"));

    // A file-size limit makes the write of the new content fail part-way, like a full disk.
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 16;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = WriteSetting(u"App", u"k", std::u16string(100, u'x'), ini);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(written);
    EXPECT_EQ(ReadFileBytes(dir.file("a.ini")), before);
    EXPECT_EQ(CountFiles(dir.path()), 1u) << "the partial temporary file is removed";

    WriteFileBytes(dir.file("big.ini"), std::string(kMaxProfileFileBytes + 1, '\n'));
    EXPECT_FALSE(WriteSetting(u"App", u"k", u"1", U(dir.file("big.ini"))));
    EXPECT_EQ(fs::file_size(dir.file("big.ini")), kMaxProfileFileBytes + 1);
}

TEST(IniProfile, WritesThroughSymbolicLinkAndKeepsPermissions) {
    TempDir dir;
    WriteFileBytes(dir.file("real.ini"), "[App]\nk=1\n");
    fs::permissions(dir.file("real.ini"), fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink(dir.file("real.ini"), dir.file("link.ini"));
    ASSERT_TRUE(WriteSetting(u"App", u"k", u"2", U(dir.file("link.ini"))));
    EXPECT_TRUE(fs::is_symlink(dir.file("link.ini")));
    EXPECT_EQ(ReadFileBytes(dir.file("real.ini")), "[App]\nk=2\n");
    EXPECT_EQ(fs::status(dir.file("real.ini")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST(IniProfile, ConcurrentWritersOfOneProcessLoseNoKey) {
    TempDir dir;
    const std::u16string ini = U(dir.file("a.ini"));
    auto writer = [&](char16_t tag) {
        for (int i = 0; i < 40; ++i) {
            std::u16string key = std::u16string(1, tag) + U(std::to_string(i));
            WriteSetting(u"S", key, u"v", ini);
        }
    };
    std::thread a(writer, u'a'), b(writer, u'b');
    a.join();
    b.join();
    for (char16_t tag : {u'a', u'b'})
        for (int i = 0; i < 40; ++i)
            EXPECT_EQ(
                ReadSetting(u"S", std::u16string(1, tag) + U(std::to_string(i)), u"missing", ini),
                u"v");
}

TEST(IniProfile, LongTextsAreCutWithoutSplittingASurrogatePair) {
    TempDir dir;
    const std::u16string ini = U(dir.file("a.ini"));
    ASSERT_TRUE(WriteSetting(u"S", u"k", u"ab\U0001F600cd", ini));
    EXPECT_EQ(ReadSetting(u"S", u"k", u"", ini, 3), u"ab");
    EXPECT_EQ(ReadSetting(u"S", u"k", u"", ini, 4), u"ab\U0001F600");
}

// A folder the file dialogs remembered, or the last definition file: file names are bytes, and
// a name that is no UTF-8 comes back byte for byte, also when written again.
TEST(IniProfile, PathValuesThatAreNoUtf8ComeBackByteForByte) {
    TempDir dir;
    const std::string file = dir.file("q.ini");
    WriteFileBytes(file, "[App]\r\nLastConfig=/home/u/Kam\xE9ras/XC-100.xml\r\n");
    const std::u16string ini = U(file);
    const std::u16string path = ReadSetting(u"App", u"LastConfig", u"", ini);
    ASSERT_TRUE(WriteSetting(u"Path", u"Text Load", path, ini));
    EXPECT_EQ(ReadFileBytes(file), "[App]\r\nLastConfig=/home/u/Kam\xE9ras/XC-100.xml\r\n"
                                   "[Path]\r\nText Load=/home/u/Kam\xE9ras/XC-100.xml\r\n");
}
