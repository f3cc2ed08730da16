#include "base/SimpleLog.h"

#include "support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <regex>
#include <thread>
#include <vector>

namespace {

std::u16string DecodeUtf16Le(const std::string& bytes) {
    std::u16string out;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        out.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                            (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    return out;
}

std::string Narrow(const std::u16string& s) {
    std::string out;
    for (char16_t c : s)
        out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

} // namespace

TEST(SimpleLog, FirstLineCreatesFileWithByteOrderMarkAndLaterLinesDoNotRepeatIt) {
    TempDir dir;
    clSimpleLog log(dir.file("Quillon_00_Log.txt"));
    EXPECT_FALSE(std::filesystem::exists(log.FilePath())) << "nothing is created at construction";
    log.Write(u"first %s %d");
    log.Write(u"");
    const std::string bytes = ReadFileBytes(log.FilePath());
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    const std::string text = Narrow(DecodeUtf16Le(bytes.substr(2)));
    std::regex shape(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} first %s %d\r\n)"
                     R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} \r\n)");
    EXPECT_TRUE(std::regex_match(text, shape)) << text;
}

TEST(SimpleLog, DeletedFileIsCreatedAgainAndUnwritableFolderDropsLines) {
    TempDir dir;
    clSimpleLog log(dir.file("log.txt"));
    log.Write(u"a");
    std::filesystem::remove(log.FilePath());
    log.Write(u"b");
    EXPECT_EQ(ReadFileBytes(log.FilePath()).substr(0, 2), "\xFF\xFE");

    clSimpleLog lost(dir.file("missing-folder/log.txt"));
    lost.Write(u"dropped"); // must not crash or throw
    EXPECT_FALSE(std::filesystem::exists(lost.FilePath()));
}

TEST(SimpleLog, NonAsciiTextIsStoredAsUtf16) {
    TempDir dir;
    clSimpleLog log(dir.file("log.txt"));
    log.Write(std::string_view("WorkingSetSize\xE5\xA4\x89\xE6\x9B\xB4\xE5\xA4\xB1\xE6\x95\x97"));
    std::u16string text = DecodeUtf16Le(ReadFileBytes(log.FilePath()).substr(2));
    EXPECT_NE(text.find(u"WorkingSetSize変更失敗\r\n"), std::u16string::npos);
    // U+10000, the first character beyond the BMP, from either form of text.
    log.Write(std::u16string_view(u"a\U00010000z"));
    log.Write(std::string_view("b\xF0\x90\x80\x80y"));
    const std::string bytes = ReadFileBytes(log.FilePath());
    EXPECT_NE(bytes.find(std::string("a\0\x00\xD8\x00\xDCz\0\r\0\n\0", 12)), std::string::npos);
    EXPECT_NE(bytes.find(std::string("b\0\x00\xD8\x00\xDCy\0\r\0\n\0", 12)), std::string::npos);
}

TEST(SimpleLog, ConcurrentWritersProduceWholeLines) {
    TempDir dir;
    clSimpleLog log(dir.file("log.txt"));
    constexpr int kLines = 200;
    auto writer = [&](char16_t ch) {
        std::u16string line(60, ch);
        for (int i = 0; i < kLines; ++i)
            log.Write(line);
    };
    std::thread a(writer, u'A'), b(writer, u'B');
    a.join();
    b.join();
    std::string text = Narrow(DecodeUtf16Le(ReadFileBytes(log.FilePath()).substr(2)));
    std::regex line(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} (A{60}|B{60})\r\n)");
    int count = 0;
    for (size_t pos = 0; pos < text.size();) {
        size_t end = text.find("\r\n", pos);
        ASSERT_NE(end, std::string::npos);
        ASSERT_TRUE(std::regex_match(text.substr(pos, end + 2 - pos), line));
        pos = end + 2;
        ++count;
    }
    EXPECT_EQ(count, 2 * kLines);
}
