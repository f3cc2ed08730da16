#include "TextFilesRig.h"
#include "textfiles/BatchText.h"

#include <gtest/gtest.h>

namespace {

struct EncodingCase {
    const char* name;
    std::string bytes;
    int expected;
};

class DetectEncoding : public ::testing::TestWithParam<EncodingCase> {};

// "ゲイン" and "露光" in Shift-JIS, and the same in UTF-8.
const std::string kSjisKana = "\x83\x51\x83\x43\x83\x93";
const std::string kSjisKanji = "\x98\x49\x8C\xF5";
const std::string kUtf8Japanese = "\xE3\x82\xB2\xE3\x82\xA4\xE3\x83\xB3 \xE9\x9C\xB2\xE5\x85\x89";

std::string Ascii(size_t n) {
    return std::string(n, 'a');
}

TEST_P(DetectEncoding, OnRealFile) {
    TempDir dir;
    WriteFileBytes(dir.file("f.txt"), GetParam().bytes);
    EXPECT_EQ(DetectTextEncoding(dir.file("f.txt")), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Files, DetectEncoding,
    ::testing::Values(
        EncodingCase{"Utf8JapaneseWithoutMark", "// " + kUtf8Japanese + "\r\ngai 3\r\n", 3},
        EncodingCase{"PlainAsciiTiesToUtf8", "gai 3\r\nblk 10\r\n", 3},
        EncodingCase{"ShiftJisKana", "// " + kSjisKana + "\r\ngai 3\r\n", 4},
        EncodingCase{"ShiftJisKanji", "// " + kSjisKanji + "\r\n", 4},
        EncodingCase{"Utf8Mark", "\xEF\xBB\xBFgai 3\r\n", 1},
        EncodingCase{"Utf16Mark", std::string("\xFF\xFEg\0a\0", 6), 0},
        EncodingCase{"Utf16MarkOnly", "\xFF\xFE", 0},
        EncodingCase{"Utf16MarkOddLength", "\xFF\xFEg", 0},
        // A first character with a zero low byte does not make the mark one of UTF-32LE.
        EncodingCase{"Utf16MarkThenU3000", std::string("\xFF\xFE\x00\x30g\0", 6), 0},
        EncodingCase{"Utf16MarkThenU4E00", std::string("\xFF\xFE\x00\x4E", 4), 0},
        EncodingCase{"Utf16MarkThenU0100", std::string("\xFF\xFE\x00\x01g\0", 6), 0},
        EncodingCase{"Utf32Mark", std::string("\xFF\xFE\0\0g\0\0\0", 8), 2},
        EncodingCase{"Utf16BeMark", std::string("\xFE\xFF\0g\0a", 6), 7},
        EncodingCase{"Utf32BeMark", std::string("\0\0\xFE\xFF\0\0\0g", 8), 8},
        EncodingCase{"Utf16LeByZeroBytes",
                     std::string("g\0a\0i\0 \0"
                                 "3\0\r\0\n\0",
                                 14),
                     0},
        EncodingCase{"Utf16BeByZeroBytes",
                     std::string("\0g\0a\0i\0 \0"
                                 "3\0\r\0\n",
                                 14),
                     7},
        // Japanese text in UTF-16 with its ASCII commands: the zero bytes still show the order.
        EncodingCase{"Utf16LeJapaneseAndAscii", std::string("\xB2\x30\xA4\x30g\0a\0i\0\n\0", 12),
                     0},
        // UTF-32 without mark has zero bytes on both sides: not UTF-16.
        EncodingCase{"Utf32WithoutMarkIsNotUtf16", std::string("g\0\0\0a\0\0\0", 8), 3},
        // "→→→" rules Shift-JIS out (its last byte opens a pair that never closes), although
        // Shift-JIS scores more: UTF-8 wins, as Shift-JIS wins where UTF-8 is ruled out.
        EncodingCase{"ShiftJisRuledOutUtf8Wins", "\xE2\x86\x92\xE2\x86\x92\xE2\x86\x92", 3},
        EncodingCase{"Empty", "", 6}, EncodingCase{"BinaryFitsNeither", "\x80\xFF\x00\xFE\x01", 6},
        // Half-width kana alone cannot be UTF-8; Shift-JIS scores 0 but stays possible.
        EncodingCase{"HalfWidthKanaOnly", "\xB6\xD2\xD7", 4},
        // A character across the 10240th byte is whole, and UTF-8 ...
        EncodingCase{"Utf8AcrossTenKilobytes", Ascii(10239) + "\xE3\x81\x82", 3},
        // ... but a file that really ends inside one is not.
        EncodingCase{"Utf8CutAtEndOfFile", Ascii(10238) + "\xE3\x81", 4},
        // The whole file counts, not only its first 10240 bytes.
        EncodingCase{"ShiftJisBeyondTenKilobytes", Ascii(10240) + kSjisKanji, 4},
        EncodingCase{"Utf8BeyondTenKilobytes", Ascii(20000) + kUtf8Japanese, 3}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DetectEncodingFile, VanishedFileIsUnknown) {
    TempDir dir;
    EXPECT_EQ(DetectTextEncoding(dir.file("gone.txt")), kTextUnknown);
    EXPECT_EQ(DetectTextEncoding(dir.str()), kTextUnknown); // a folder is no text file
}

std::vector<std::u16string> Lines(std::u16string_view text) {
    std::vector<std::u16string> lines;
    SplitBatchLines(text, lines);
    return lines;
}

TEST(BatchLines, CommentsAndEmptyLinesDroppedLineFeedsKept) {
    EXPECT_EQ(Lines(u"// header\n\ngai 3\n/x\n  blk 1\nlast"),
              (std::vector<std::u16string>{u"gai 3\n", u"  blk 1\n", u"last"}));
    EXPECT_TRUE(Lines(u"").empty());
    EXPECT_TRUE(Lines(u"//a\n\n\n/b\n").empty());
    std::vector<std::u16string> lines;
    std::vector<size_t> numbers;
    SplitBatchLines(u"// header\n\ngai 3\n/x\n  blk 1\nlast", lines, &numbers);
    EXPECT_EQ(numbers, (std::vector<size_t>{3, 5, 6})); // the file's lines, for messages
}

TEST(BatchLines, LongLineIsCutIntoPiecesOf499) {
    const std::u16string line(1200, u'x');
    const auto lines = Lines(line + u"\nnext\n");
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].size(), 499u);
    EXPECT_EQ(lines[1].size(), 499u);
    EXPECT_EQ(lines[2], std::u16string(202, u'x') + u"\n");
    EXPECT_EQ(lines[3], u"next\n");
    // Exactly 499 characters: the line feed alone follows as an empty piece, which is dropped.
    EXPECT_EQ(Lines(std::u16string(499, u'y') + u"\nz").size(), 2u);
}

TEST(BatchLines, SurrogatePairIsNotCut) {
    std::u16string line(498, u'x');
    line += u"\U0001F600tail";
    const auto lines = Lines(line);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].size(), 498u);
    EXPECT_EQ(lines[1].substr(0, 2), u"\U0001F600");
}

TEST(BatchLines, NulEndsThePiece) {
    EXPECT_EQ(Lines(std::u16string(u"ab\0cd\nef\n", 9)),
              (std::vector<std::u16string>{u"ab", u"ef\n"}));
}

TEST(BatchDecode, TextModeAndMarks) {
    EXPECT_EQ(DecodeBatchText("\xEF\xBB\xBF"
                              "a\r\nb\rc\n",
                              kTextUtf8Marked),
              u"a\nb\rc\n");
    EXPECT_EQ(DecodeBatchText(std::string("\xFF\xFEz\0\r\0\n\0", 8), kTextUtf16Le), u"z\n");
    EXPECT_EQ(DecodeBatchText(kSjisKana + kSjisKanji, kTextShiftJis), u"ゲイン露光");
    EXPECT_EQ(DecodeBatchText(kUtf8Japanese, kTextUtf8), u"ゲイン 露光");
    // An odd trailing byte of UTF-16 does not disturb what comes before it.
    bool clean = true;
    EXPECT_EQ(DecodeBatchText(std::string("\xFF\xFEq\0\n\0r", 7), kTextUtf16Le, &clean),
              u"q\n\uFFFD");
    EXPECT_FALSE(clean);
    // Marks of the other encodings are skipped too.
    EXPECT_EQ(DecodeBatchText(std::string("\xFE\xFF\0z", 4), kTextUtf16Be), u"z");
    EXPECT_EQ(DecodeBatchText(std::string("\0\0\xFE\xFF\0\0\0z", 8), kTextUtf32Be), u"z");
}

// U+10000, the first character beyond the BMP, in every encoding a batch file may have.
TEST(BatchDecode, FirstSupplementaryCharacterInEveryEncoding) {
    const std::string utf8 = "a\xF0\x90\x80\x80z";
    EXPECT_EQ(DecodeBatchText(utf8, kTextUtf8), u"a\U00010000z");
    EXPECT_EQ(DecodeBatchText("\xEF\xBB\xBF" + utf8, kTextUtf8Marked), u"a\U00010000z");
    EXPECT_EQ(DecodeBatchText(std::string("\xFF\xFE"
                                          "a\0\x00\xD8\x00\xDCz\0",
                                          10),
                              kTextUtf16Le),
              u"a\U00010000z");
    EXPECT_EQ(
        DetectTextEncodingOf(reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size(), true),
        kTextUtf8);
}

struct LineCase {
    const char* name;
    std::u16string line;
    BatchStep::Kind kind;
    int64_t pauseMs;
    std::u16string command;
};

class BatchLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(BatchLine, Token) {
    const BatchStep step = ParseBatchLine(GetParam().line);
    EXPECT_EQ(step.kind, GetParam().kind);
    EXPECT_EQ(step.pauseMs, GetParam().pauseMs);
    EXPECT_EQ(step.command, GetParam().command);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, BatchLine,
    ::testing::Values(
        LineCase{"Command", u"gai 3\n", BatchStep::kCommand, 0, u"gai 3"},
        LineCase{"TabStartsComment", u"gai 3\tgain of tap 1\n", BatchStep::kCommand, 0, u"gai 3"},
        LineCase{"LeadingTabsSkipped", u"\t\tblk 2\n", BatchStep::kCommand, 0, u"blk 2"},
        LineCase{"LeadingSpacesKept", u"  blk 2\n", BatchStep::kCommand, 0, u"  blk 2"},
        LineCase{"OnlyTabs", u"\t\t\n", BatchStep::kNothing, 0, u""},
        LineCase{"PauseWithSpace", u"@pause 1500\n", BatchStep::kPause, 1500, u""},
        LineCase{"PauseWithoutSpaceLosesFirstDigit", u"@pause1500\n", BatchStep::kPause, 500, u""},
        LineCase{"PauseAlone", u"@pause\n", BatchStep::kPause, 0, u""},
        LineCase{"PauseSpacesAndSign", u"@pause  +20\tnote", BatchStep::kPause, 20, u""},
        LineCase{"PauseWithoutDigits", u"@pause abc", BatchStep::kPause, 0, u""},
        LineCase{"NegativePauseWaitsNothing", u"@pause -5000", BatchStep::kPause, 0, u""},
        LineCase{"HugePauseSaturates", u"@pause 99999999999999999999", BatchStep::kPause,
                 2147483647, u""},
        LineCase{"PauseWordInsideCommand", u"x@pause 5", BatchStep::kCommand, 0, u"x@pause 5"}),
    [](const auto& info) { return std::string(info.param.name); });

// ReadBatchText on real files of every encoding, and on bad input.
class ReadBatch : public ::testing::Test {
protected:
    ReadBatch() : files(app, rig.engine, &ui) { SetUiLanguage(1, 1033); }
    int32_t Read(const std::string& bytes) {
        WriteFileBytes(dir.file("batch.txt"), bytes);
        return files.ReadBatchText(U16(dir.file("batch.txt")));
    }
    const std::vector<std::u16string>& Lines() { return files.BatchLines(); }

    TempDir dir;
    EngineRig rig;
    clApplication app;
    BoxRecorder boxes{app};
    ScriptedTextFilesUi ui;
    clTextFiles files;
};

TEST_F(ReadBatch, EveryEncodingGivesTheSameLines) {
    const std::vector<std::u16string> expected = {u"ゲイン 3\n", u"blk 1"};
    ASSERT_EQ(Read("// c\r\n" + kSjisKana + " 3\r\nblk 1"), 0);
    EXPECT_EQ(Lines(), expected);
    ASSERT_EQ(Read("// c\r\n\xE3\x82\xB2\xE3\x82\xA4\xE3\x83\xB3 3\r\nblk 1"), 0);
    EXPECT_EQ(Lines(), expected);
    ASSERT_EQ(Read("\xEF\xBB\xBF// c\r\n\xE3\x82\xB2\xE3\x82\xA4\xE3\x83\xB3 3\r\nblk 1"), 0);
    EXPECT_EQ(Lines(), expected);
    std::string utf16 = "\xFF\xFE";
    for (char16_t c : std::u16string(u"// c\r\nゲイン 3\r\nblk 1")) {
        utf16.push_back(static_cast<char>(c & 0xFF));
        utf16.push_back(static_cast<char>(c >> 8));
    }
    ASSERT_EQ(Read(utf16), 0);
    EXPECT_EQ(Lines(), expected);
}

TEST_F(ReadBatch, BadInputIsReadWithoutHarm) {
    EXPECT_EQ(Read(""), 0);
    EXPECT_TRUE(Lines().empty());
    EXPECT_EQ(Read("// only\r\n// comments\r\n\r\n"), 0);
    EXPECT_TRUE(Lines().empty());
    // 10 MB of command lines.
    std::string big;
    while (big.size() < 10u * 1024 * 1024)
        big += "gai 12345\r\n";
    EXPECT_EQ(Read(big), 0);
    EXPECT_EQ(Lines().size(), big.size() / 11);
    EXPECT_TRUE(boxes.boxes.empty());
    // What cannot be read as written is refused, and the lines read before stay.
    EXPECT_EQ(Read(std::string("\xFF\xFEg\0h", 5)), 1); // UTF-16 of odd length
    std::string binary;
    for (int i = 0; i < 4096; ++i)
        binary.push_back(static_cast<char>((i * 131) & 0xFF));
    EXPECT_EQ(Read(binary), 1);
    EXPECT_EQ(Lines().size(), big.size() / 11);
    EXPECT_EQ(boxes.boxes.size(), 2u);
}

TEST_F(ReadBatch, VanishedFileKeepsThePreviousLines) {
    ASSERT_EQ(Read("gai 1\r\n"), 0);
    EXPECT_EQ(files.ReadBatchText(U16(dir.file("gone.txt"))), 1);
    EXPECT_EQ(boxes.boxes,
              std::vector<std::u16string>{u"Fail open batch text file\nNo such file or directory"});
    EXPECT_EQ(Lines(), std::vector<std::u16string>{u"gai 1\n"});
}

} // namespace
