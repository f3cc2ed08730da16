#include "TextFilesRig.h"
#include "comm/EngineProbe.h"
#include "support/LocaleScope.h"
#include "textfiles/BatchText.h"

#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kOk = ">OK\r\n\x04";

struct BatchRig : TextFilesRig {
    BatchRig() { engine.StartWorker(); }

    // Reads the file into the batch lines and starts the job.
    void RunFile(const std::string& bytes) {
        WriteFileBytes(dir.file("batch.txt"), bytes);
        ASSERT_EQ(files->ReadBatchText(U16(dir.file("batch.txt"))), 0);
        ASSERT_EQ(engine.SubmitBatchJob(files->BatchLines()), SUBMIT_OK);
    }
    bool WaitJobEnd(int timeoutMs = 10000) { return events.WaitFor(Ev::JobEnded, 1, timeoutMs); }
    // What a batch left when it stopped (the engine keeps it for the record).
    std::vector<std::u16string> LeftOver() {
        return clCommunicateModelProbe::Mailbox(engine).BatchLines();
    }
    bool NoBox() { return appBoxes.boxes.empty() && events.Boxes().empty(); }
    void AnswerOk(int n) {
        for (int i = 0; i < n; ++i)
            camera.Expect({{5, kOk}});
    }
};

TEST(BatchJob, TextSaveFileReplaysLineForLine) {
    BatchRig rig;
    rig.CopyIntoCamDefine("XC-100.xml");
    ASSERT_EQ(rig.files->OpenDefinitionFile(rig.app.CamDefineFolder() + u"XC-100.xml"), 0);
    const std::string saved = rig.dir.file("settings.txt");
    ASSERT_EQ(rig.files->WriteSettingsText(U16(saved)), 0);

    // What the save wrote after its header is what the camera must receive.
    const std::string text = ReadFileBytes(saved);
    std::string expectedWire;
    int commands = 0, lineNo = 0;
    for (size_t pos = 0; pos < text.size();) {
        const size_t end = text.find("\r\n", pos);
        ASSERT_NE(end, std::string::npos) << "every line ends in CR LF";
        if (++lineNo > 7) {
            expectedWire += text.substr(pos, end - pos) + "\r";
            ++commands;
        }
        pos = end + 2;
    }
    ASSERT_GT(commands, 3);
    rig.AnswerOk(commands);
    rig.RunFile(text);
    ASSERT_TRUE(rig.WaitJobEnd());
    EXPECT_EQ(rig.camera.Wire(), expectedWire);
    EXPECT_TRUE(rig.LeftOver().empty());
    EXPECT_TRUE(rig.NoBox());
}

TEST(BatchJob, TokensCommentsAndLeadingSpaces) {
    BatchRig rig;
    rig.AnswerOk(3);
    rig.RunFile("gai 3\tgain for the first tap\r\n\t\tblk 2\r\n\t\r\n  tpn 1\r\n@pause\r\n");
    ASSERT_TRUE(rig.WaitJobEnd());
    EXPECT_EQ(rig.camera.Wire(), "gai 3\rblk 2\r  tpn 1\r");
}

TEST(BatchJob, LongLineIsSentAsThreeCommands) {
    BatchRig rig;
    rig.AnswerOk(3);
    rig.RunFile(std::string(1200, 'x') + "\r\n");
    ASSERT_TRUE(rig.WaitJobEnd());
    EXPECT_EQ(rig.camera.Wire(), std::string(499, 'x') + "\r" + std::string(499, 'x') + "\r" +
                                     std::string(202, 'x') + "\r");
}

TEST(BatchJob, PauseLineWaitsBetweenCommands) {
    BatchRig rig;
    rig.AnswerOk(2);
    rig.RunFile("a\r\n@pause 1500\r\nb\r\n");
    ASSERT_TRUE(rig.camera.WaitForCommands(1));
    const auto first = Clock::now();
    ASSERT_TRUE(rig.camera.WaitForCommands(2, 10000));
    EXPECT_GE(Clock::now() - first, 1500ms);
    ASSERT_TRUE(rig.WaitJobEnd());
    EXPECT_EQ(rig.camera.Wire(), "a\rb\r");
}

TEST(BatchJob, FailedTransactionEndsTheBatchButReplyErrorsDoNot) {
    BatchRig rig;
    rig.engine.SetReceiveTimeouts(200, rig.engine.NextReceiveTimeout());
    rig.camera.Expect({{5, ">CMD ERR!\r\n\x04"}}); // a reply code other than OK goes on
    rig.camera.Expect({});                         // no answer: receive time-out
    rig.RunFile("one\r\ntwo\r\nthree\r\nfour\r\n");
    ASSERT_TRUE(rig.WaitJobEnd());
    EXPECT_EQ(rig.camera.Wire(), "one\rtwo\r");
    EXPECT_EQ(rig.LeftOver(), (std::vector<std::u16string>{u"three\n", u"four\n"}));
    // The next Text Load replaces what was left.
    WriteFileBytes(rig.dir.file("next.txt"), "five\r\n");
    ASSERT_EQ(rig.files->ReadBatchText(U16(rig.dir.file("next.txt"))), 0);
    EXPECT_EQ(rig.files->BatchLines(), std::vector<std::u16string>{u"five\n"});
}

TEST(BatchJob, OnlyCommentsEndsAtOnce) {
    BatchRig rig;
    rig.RunFile("// nothing\r\n\r\n// to send\r\n");
    ASSERT_TRUE(rig.WaitJobEnd());
    EXPECT_EQ(rig.camera.Commands(), 0);
}

TEST(BatchJob, CancelBetweenCommandsEndsBeforeTheNextLine) {
    BatchRig rig;
    rig.AnswerOk(3);
    rig.RunFile("a\r\n@pause 400\r\nb\r\n");
    ASSERT_TRUE(rig.camera.WaitForCommands(1));
    rig.engine.CancelReceiving(); // during the pause, which itself runs to its end
    ASSERT_TRUE(rig.WaitJobEnd());
    EXPECT_EQ(rig.camera.Wire(), "a\r");
}

TEST(BatchJob, ShutdownDuringALongPauseEndsTheWorkerQuickly) {
    BatchRig rig;
    rig.AnswerOk(1);
    rig.RunFile("a\r\n@pause 60000\r\nb\r\n");
    ASSERT_TRUE(rig.camera.WaitForCommands(1));
    // The first command's transaction is over: the pause has begun.
    ASSERT_TRUE(WaitUntil([&] { return rig.engine.Phase() == PHASE_IDLE; }));
    EXPECT_TRUE(rig.engine.StopWorker(2000)); // not the 60 s of the pause
    EXPECT_EQ(rig.camera.Wire(), "a\r");
}

} // namespace

namespace {

// Text as UTF-16 or UTF-32 bytes in either order, optionally with its byte-order mark.
std::string Wide(std::u16string_view text, int unitBytes, bool bigEndian, bool mark) {
    std::u32string points;
    if (mark)
        points.push_back(0xFEFF);
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (unitBytes == 4 && c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size())
            points.push_back(0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00));
        else
            points.push_back(c);
    }
    std::string out;
    for (char32_t p : points) {
        for (int k = 0; k < unitBytes; ++k) {
            const int shift = 8 * (bigEndian ? unitBytes - 1 - k : k);
            out.push_back(static_cast<char>((p >> shift) & 0xFF));
        }
    }
    return out;
}

struct FileCase {
    const char* name;
    std::string bytes;
    std::string wire;  // what the camera receives; empty: the file is refused
    std::string where; // refused: the bad line the log names
};

class BatchFile : public ::testing::TestWithParam<FileCase> {};

const std::u16string kCommands = u"// saved\r\ngai 3\r\nblk 2\r\n@pause 1\r\ntpn 1\r\n";
const std::string kWire = "gai 3\rblk 2\rtpn 1\r";

// Comment lines of plain ASCII, more than 10 KB of them, then a command with a note in
// Shift-JIS ("露光").
std::string ShiftJisAfterTenKilobytes() {
    std::string bytes;
    while (bytes.size() <= 10240)
        bytes += "// padding line of a long header\r\n";
    return bytes + "gai 3\t\x98\x49\x8C\xF5\r\n";
}

// A UTF-16LE file with a lone low surrogate (bytes 00 DC) on its third line.
std::string LoneSurrogateFile() {
    std::string bytes = Wide(u"gai 3\r\nblk 2\r\n", 2, false, true);
    bytes += std::string("\x00\xDC", 2);
    bytes += Wide(u"x\r\ntpn 1\r\n", 2, false, false);
    return bytes;
}

std::string LastC1ControlFile() {
    return Wide(u"gai 3\r\nblk\u009F 2\r\n", 2, false, true);
}

std::string LongLineThenEscapeFile() {
    return "gai " + std::string(600, '1') + "\r\nblk\x1B 2\r\n";
}

TEST_P(BatchFile, WhatReachesTheCamera) {
    BatchRig rig;
    LocaleScope ascii("C"); // commands go out in ASCII
    ASSERT_TRUE(ascii.ok);
    rig.AnswerOk(3);
    const FileCase& c = GetParam();
    WriteFileBytes(rig.dir.file("batch.txt"), c.bytes);
    WriteFileBytes(rig.dir.file("earlier.txt"), "earlier\r\n");
    ASSERT_EQ(rig.files->ReadBatchText(U16(rig.dir.file("earlier.txt"))), 0);
    const int32_t read = rig.files->ReadBatchText(U16(rig.dir.file("batch.txt")));
    if (c.wire.empty()) {
        // Refused before anything is sent: message 71 with the line and why, in the box and
        // the log, and the previous lines untouched.
        EXPECT_EQ(read, 1);
        ASSERT_EQ(rig.appBoxes.boxes.size(), 1u);
        EXPECT_EQ(platform::Utf16ToUtf8(rig.appBoxes.boxes[0])
                      .find("Fail open batch text file\n" + c.where),
                  0u)
            << platform::Utf16ToUtf8(rig.appBoxes.boxes[0]);
        EXPECT_NE(rig.LogText().find(c.where), std::string::npos) << rig.LogText();
        EXPECT_EQ(rig.files->BatchLines(), std::vector<std::u16string>{u"earlier\n"});
        EXPECT_EQ(rig.camera.Wire(), "");
        return;
    }
    ASSERT_EQ(read, 0) << rig.LogText();
    ASSERT_EQ(rig.engine.SubmitBatchJob(rig.files->BatchLines()), SUBMIT_OK);
    ASSERT_TRUE(rig.WaitJobEnd());
    EXPECT_EQ(rig.camera.Wire(), c.wire);
    EXPECT_TRUE(rig.NoBox());
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, BatchFile,
    ::testing::Values(
        FileCase{"Utf16LeMarked", Wide(kCommands, 2, false, true), kWire, ""},
        FileCase{"Utf16BeMarked", Wide(kCommands, 2, true, true), kWire, ""},
        FileCase{"Utf32LeMarked", Wide(kCommands, 4, false, true), kWire, ""},
        FileCase{"Utf32BeMarked", Wide(kCommands, 4, true, true), kWire, ""},
        FileCase{"Utf16LeWithoutMark", Wide(kCommands, 2, false, false), kWire, ""},
        FileCase{"Utf16BeWithoutMark", Wide(kCommands, 2, true, false), kWire, ""},
        // A character beyond the basic plane in a comment decodes as a pair.
        FileCase{"Utf32PairInComment", Wide(u"// \U0001F600\r\ngai 3\r\n", 4, false, true),
                 "gai 3\r", ""},
        FileCase{"LoneSurrogateRefused", LoneSurrogateFile(), "",
                 "line 3: does not decode as UTF-16LE"},
        FileCase{"OddUtf16LengthRefused", Wide(u"gai 3\r\n", 2, false, true) + "g", "",
                 "line 2: does not decode as UTF-16LE"},
        FileCase{"InvalidUtf8Refused", "gai 3\r\nblk \xE3\x81\r\n\xFF\xFE\xFD\r\n", "",
                 "line 2: does not decode as"},
        FileCase{"ControlCharacterRefused", "gai 3\r\nblk\x1B[2\r\n", "",
                 "line 2: Character 4 is the control character U+001B"},
        FileCase{"LoneCarriageReturnRefused", "gai 3\rblk 2\r\n", "",
                 "line 1: Character 6 is the control character U+000D"},
        FileCase{"NulRefused", std::string("gai 3\r\nb\0k\r\n", 11), "",
                 "line 2: Character 2 is the control character U+0000"},
        FileCase{"DeleteRefused", "gai 3\r\nblk\x7F 2\r\n", "",
                 "line 2: Character 4 is the control character U+007F"},
        FileCase{"FirstC1ControlRefused", "gai 3\r\nblk\xC2\x80 2\r\n", "",
                 "line 2: Character 4 is the control character U+0080"},
        FileCase{"LastC1ControlRefused", LastC1ControlFile(), "",
                 "line 2: Character 4 is the control character U+009F"},
        // A line longer than one piece still counts as one line.
        FileCase{"FaultAfterALongLineNamesItsLine", LongLineThenEscapeFile(), "",
                 "line 2: Character 4 is the control character U+001B"},
        FileCase{"ReplacementCharacterRefused", "gai 3\r\nblk \xEF\xBF\xBD\r\n", "",
                 "line 2: holds the replacement character U+FFFD"},
        // What is never sent may hold anything that decodes.
        FileCase{"ControlCharacterInCommentKept", "// \x1B note\r\ngai 3\r\n", "gai 3\r", ""},
        FileCase{"ControlCharacterInNoteRefused", "gai 3\tnote\x01\r\n", "",
                 "line 1: Character 11 is the control character U+0001"},
        FileCase{"TabSeparatedNoteSent", "gai 3\tnote\r\n", "gai 3\r", ""},
        // The encoding is judged on the whole file, not on its first 10 KB.
        FileCase{"ShiftJisAfterTenKilobytes", ShiftJisAfterTenKilobytes(), "gai 3\r", ""},
        // A comment that decodes in no encoding is still never sent.
        FileCase{"UndecodableCommentKept", "// caf\xE9 \xFF\r\ngai 3\r\n", "gai 3\r", ""},
        // The test runs in the "C" locale: "ü" would go out as "?".
        FileCase{"CommandTheCodesetCannotHoldRefused", "gai 3\r\n\tuid M\xC3\xBCller\r\n", "",
                 "line 2: Character 7 (U+00FC) cannot be written in the current codeset"},
        FileCase{"NoteTheCodesetCannotHoldSent", "gai 3\tM\xC3\xBCller\r\n", "gai 3\r", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BatchFileType, FifoIsRefusedWithoutWaitingForAWriter) {
    BatchRig rig;
    const std::string fifo = rig.dir.file("pipe.txt");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    rig.textUi.dialogAnswers = {U16(fifo)};
    // No writer ever opens the pipe: a blocking open would never return.
    EXPECT_EQ(rig.files->LoadBatchText(), 1);
    EXPECT_EQ(rig.appBoxes.boxes,
              std::vector<std::u16string>{u"Fail open batch text file\nnot a regular file"});
    EXPECT_NE(rig.LogText().find("not a regular file"), std::string::npos) << rig.LogText();
    EXPECT_EQ(DetectTextEncoding(fifo), kTextUnknown);
    EXPECT_FALSE(rig.engine.IsBusy());
    EXPECT_EQ(rig.camera.Wire(), "");
}

} // namespace

// ---- progress reports of a running batch

namespace {

struct ProgressRig : BatchRig {
    bool WaitForReports(size_t n) { return events.WaitFor(Ev::Progress, static_cast<int>(n)); }
    std::vector<std::string> Texts() {
        std::vector<std::string> out;
        for (const BatchProgress& p : events.Progress())
            out.push_back(platform::Utf16ToUtf8(
                p.outcome == BatchProgress::kRunning ? BatchProgressText(p) : BatchOutcomeText(p)));
        return out;
    }
};

// Five lines, the second a pause.
const std::string kFiveLines = "a\r\n@pause 300\r\nb\r\nc\r\nd\r\n";

std::string Masked(std::string text) {
    // The time left depends on the machine: only its form is compared.
    const size_t at = text.rfind(" left");
    if (at != std::string::npos && at >= 5 && text.compare(at - 5, 5, "--:--") != 0)
        text.replace(at - 5, 5, "mm:ss");
    return text;
}

} // namespace

TEST(BatchProgress, EveryLineIsReportedAndTheEndSaysAllSent) {
    ProgressRig rig;
    rig.AnswerOk(4);
    rig.RunFile("// header\r\n" + kFiveLines);
    ASSERT_TRUE(rig.WaitJobEnd());
    std::vector<std::string> texts = rig.Texts();
    for (std::string& t : texts)
        t = Masked(t);
    EXPECT_EQ(texts, (std::vector<std::string>{
                         "Text Load: 0 of 5 lines done — line 1: a — --:-- left",
                         "Text Load: 1 of 5 lines done — line 2: @pause 300 — mm:ss left",
                         "Text Load: 2 of 5 lines done — line 3: b — mm:ss left",
                         "Text Load: 3 of 5 lines done — line 4: c — mm:ss left",
                         "Text Load: 4 of 5 lines done — line 5: d — mm:ss left",
                         "Text Load: all 5 lines sent.",
                     }));
    // The pause still to come is counted in the time left.
    const std::vector<BatchProgress> reports = rig.events.Progress();
    EXPECT_GE(BatchTimeLeftMs(reports[1]), 300);
    EXPECT_EQ(reports[1].pauseMsLeft, 300);
    EXPECT_EQ(reports[2].pauseMsLeft, 0);
    EXPECT_EQ(rig.camera.Wire(), "a\rb\rc\rd\r") << "the job's order is unchanged";
}

TEST(BatchProgress, AFailedTransactionAtLineThreeIsNamed) {
    ProgressRig rig;
    rig.engine.SetReceiveTimeouts(200, rig.engine.NextReceiveTimeout());
    rig.camera.Expect({{5, kOk}});
    rig.camera.Expect({}); // b: no answer, receive time-out
    rig.RunFile(kFiveLines);
    ASSERT_TRUE(rig.WaitJobEnd());
    const std::vector<std::string> texts = rig.Texts();
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts.back(), "Text Load stopped at line 3 (b): the transaction failed.");
    EXPECT_EQ(rig.camera.Wire(), "a\rb\r");
}

TEST(BatchProgress, CancelDuringAReplyAndBetweenLinesAreNamed) {
    {
        ProgressRig rig;
        rig.camera.Expect({{5, kOk}});
        rig.camera.Expect({{20000, kOk}}); // b: the reply is still awaited when cancel comes
        rig.RunFile(kFiveLines);
        ASSERT_TRUE(rig.camera.WaitForCommands(2, 10000));
        rig.engine.CancelReceiving();
        ASSERT_TRUE(rig.WaitJobEnd());
        EXPECT_EQ(rig.Texts().back(), "Text Load stopped at line 3 (b): Cancel receiving.");
    }
    {
        ProgressRig rig;
        rig.AnswerOk(4);
        rig.RunFile(kFiveLines);
        ASSERT_TRUE(rig.WaitForReports(2));
        rig.engine.CancelReceiving(); // during the pause: b is never sent
        ASSERT_TRUE(rig.WaitJobEnd());
        EXPECT_EQ(rig.Texts().back(), "Text Load stopped at line 3 (b): Cancel receiving.");
        EXPECT_EQ(rig.camera.Wire(), "a\r");
    }
}

TEST(BatchProgress, TimeLeftAndDurations) {
    BatchProgress p;
    p.commandsLeft = 4;
    p.pauseMsLeft = 1500;
    EXPECT_EQ(BatchTimeLeftMs(p), -1) << "unknown before the first command ends";
    p.commandsDone = 2;
    p.commandMs = 400;
    EXPECT_EQ(BatchTimeLeftMs(p), 4 * 200 + 1500);
    p.commandsLeft = 0;
    EXPECT_EQ(BatchTimeLeftMs(p), 1500) << "only pauses left";
    EXPECT_EQ(BatchDurationText(-1), u"--:--");
    EXPECT_EQ(BatchDurationText(0), u"00:00");
    EXPECT_EQ(BatchDurationText(1), u"00:01") << "rounded up: never 0 while something is left";
    EXPECT_EQ(BatchDurationText(61000), u"01:01");
    EXPECT_EQ(BatchDurationText(3723000), u"1:02:03");
}

// The example batch file of README.md sends what the README says it sends: the comment and
// the pause nothing, a "#" line itself, a TAB's note not.
TEST(BatchJob, ReadmeExampleSendsWhatTheReadmeSays) {
    std::ifstream readme(std::string(QUILLON_SOURCE_DIR) + "/README.md");
    ASSERT_TRUE(readme);
    std::string line, example;
    bool found = false;
    while (std::getline(readme, line)) {
        if (!found) {
            found = line.find("A Text Load file (a batch file)") == 0;
            continue;
        }
        if (line.rfind("    ", 0) == 0)
            example += line.substr(4) + "\r\n";
        else if (!example.empty())
            break;
    }
    ASSERT_FALSE(example.empty()) << "README.md describes the batch file with an example";
    BatchRig rig;
    rig.AnswerOk(4);
    rig.RunFile(example);
    ASSERT_TRUE(rig.WaitJobEnd());
    EXPECT_EQ(rig.camera.Wire(), "gai 12\rblk 0\r# sent as it is, not a comment\rsta\r");
}
