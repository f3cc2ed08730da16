#include "TextFilesRig.h"
#include "textfiles/BatchText.h"

#include <chrono>
#include <gtest/gtest.h>

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
        std::vector<std::u16string> lines = std::move(engine.Mailbox().m_jobParam.batchLines);
        ASSERT_EQ(engine.SubmitBatchJob(std::move(lines)), SUBMIT_OK);
    }
    bool WaitJobEnd(int timeoutMs = 10000) {
        return ui.WaitFor(UM_CLOSE_WAIT_DIALOG, 1, timeoutMs) &&
               ui.WaitFor(UM_REFRESH_VIEWS, 2, timeoutMs);
    }
    void AnswerOk(int n) {
        for (int i = 0; i < n; ++i)
            camera.Expect({{5, kOk}});
    }
};

TEST(BatchJob, TextSaveFileReplaysLineForLine) {
    BatchRig rig;
    rig.CopyIntoCamDefine("XC-100.xml");
    ASSERT_EQ(rig.files->OpenDefinitionFile(rig.app.m_camDefineFolder + u"XC-100.xml"), 0);
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
    EXPECT_TRUE(rig.engine.Mailbox().m_jobParam.batchLines.empty());
    EXPECT_TRUE(rig.ui.boxes.empty());
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
    EXPECT_EQ(rig.engine.Mailbox().m_jobParam.batchLines,
              (std::vector<std::u16string>{u"three\n", u"four\n"}));
    // The next Text Load replaces what was left.
    WriteFileBytes(rig.dir.file("next.txt"), "five\r\n");
    ASSERT_EQ(rig.files->ReadBatchText(U16(rig.dir.file("next.txt"))), 0);
    EXPECT_EQ(rig.engine.Mailbox().m_jobParam.batchLines, std::vector<std::u16string>{u"five\n"});
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
    std::this_thread::sleep_for(100ms);
    const auto start = Clock::now();
    EXPECT_TRUE(rig.engine.StopWorker(2000));
    EXPECT_LT(Clock::now() - start, 1000ms);
    EXPECT_EQ(rig.camera.Wire(), "a\r");
}

} // namespace
