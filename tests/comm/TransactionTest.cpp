#include "comm/EngineProbe.h"
#include "platform/Text.h"
#include "support/EngineRig.h"

#include <gtest/gtest.h>
#include <thread>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

std::string Hex(const std::string& bytes) {
    std::string out;
    char b[4];
    for (unsigned char c : bytes) {
        std::snprintf(b, sizeof b, "%02X ", c);
        out += b;
    }
    if (!out.empty())
        out.pop_back();
    return out;
}

int64_t MsSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

std::vector<std::u16string> RemainingLines(clCommunicateModel& engine) {
    return clCommunicateModelProbe::ReplyLines(engine);
}

struct ReplyCase {
    const char* name;
    std::vector<clScriptedCamera::Chunk> answer;
    int32_t status;
    int32_t replyCode;
    std::vector<std::u16string> remaining;
};

void PrintTo(const ReplyCase& c, std::ostream* os) {
    *os << c.name;
}

class ReplyCases : public ::testing::TestWithParam<ReplyCase> {};

} // namespace

TEST(Transaction, CommandGoesOutWithCrInTheLocaleCodeset) {
    EngineRig rig;
    rig.camera.Expect({{0, ">OK\r\n\x04"}});
    bool stop = false;
    EXPECT_EQ(clCommunicateModelProbe::RunTransaction(rig.engine, stop, u"ABC"), TRANSACTION_OK);
    EXPECT_EQ(Hex(rig.camera.Wire()), "41 42 43 0D");
    EXPECT_EQ(clCommunicateModelProbe::CommandLength(rig.engine), 4u);
    // The echo is sent before anything goes out, with the CR.
    ASSERT_EQ(rig.events.echoes.size(), 1u);
    EXPECT_EQ(rig.events.echoes[0], u"ABC\r");
    EXPECT_EQ(rig.engine.Phase(), PHASE_IDLE);
}

// Whoever submitted it, a text that would not go out as itself is not sent at all: the
// transaction fails before the port sees a byte, nothing is echoed as sent, and the box and the
// transaction's report say why.
TEST(Transaction, TextThatWouldNotGoOutAsItselfIsNotSent) {
    const struct {
        std::u16string command;
        const char16_t* box;
    } cases[] = {
        // The test process runs in the "C" locale: ASCII only.
        {u"a\u00e9b", u"Character 2 (U+00E9) cannot be written in the current codeset"},
        {u"uid AB\rtpn1", u"Character 7 is the control character U+000D"},
        {u"", u"The command is empty"},
    };
    for (const auto& c : cases) {
        EngineRig rig;
        rig.camera.Expect({{0, ">OK\r\n\x04"}});
        bool stop = false;
        EXPECT_EQ(clCommunicateModelProbe::RunTransaction(rig.engine, stop, c.command),
                  TRANSACTION_SEND_FAILED);
        EXPECT_EQ(rig.camera.Wire(), "");
        EXPECT_TRUE(rig.events.echoes.empty());
        EXPECT_EQ(clCommunicateModelProbe::Status(rig.engine), STATUS_SEND_FAILED);
        EXPECT_EQ(rig.engine.Phase(), PHASE_IDLE);
        clCommunicateModelProbe::ReportTransactionError(rig.engine);
        const std::vector<std::u16string> boxes = rig.events.Boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_NE(boxes[0].find(c.box), std::u16string::npos) << platform::Utf16ToUtf8(boxes[0]);
        EXPECT_NE(rig.LogText().find("Command refused"), std::string::npos);
    }
}

TEST_P(ReplyCases, StatusCodeAndRemainingLines) {
    const ReplyCase& c = GetParam();
    EngineRig rig;
    rig.camera.Expect(c.answer);
    bool stop = false;
    EXPECT_EQ(clCommunicateModelProbe::RunTransaction(rig.engine, stop, u"ABC"), TRANSACTION_OK);
    EXPECT_FALSE(stop);
    EXPECT_EQ(clCommunicateModelProbe::Status(rig.engine), c.status);
    clCommunicateModelProbe::ClassifyReply(rig.engine);
    EXPECT_EQ(clCommunicateModelProbe::ReplyCode(rig.engine), c.replyCode);
    EXPECT_EQ(RemainingLines(rig.engine), c.remaining);
}

INSTANTIATE_TEST_SUITE_P(
    Transaction, ReplyCases,
    ::testing::Values(
        ReplyCase{"PlainOk", {{0, ">OK\r\n\x04"}}, 4, 0, {}},
        ReplyCase{"EchoFirst", {{0, "ABC\r\n>OK\r\n>ABC 5\r\n\x04"}}, 4, 0, {u">ABC 5"}},
        ReplyCase{"CmdErr", {{0, ">CMD ERR!\r\n\x04"}}, 4, 1, {}},
        ReplyCase{"BracketLineBeforeResult", {{0, ">(busy)\r>OK\r\n\x04"}}, 4, 0, {}},
        ReplyCase{"NoLineEndBeforeEot", {{0, ">OK\x04"}}, 4, -1, {}},
        ReplyCase{"EotAlone", {{0, "\x04"}}, 4, -1, {}},
        ReplyCase{"UnknownResultText", {{0, ">ok\r\n>V 1\r\n\x04"}}, 4, -1, {u">V 1"}},
        ReplyCase{"LoneGreaterThan", {{0, ">\r\n\x04"}}, 4, -1, {}},
        ReplyCase{"NulBytesAddNothing", {{0, std::string(">O\0K\r\n\x04", 7)}}, 4, 0, {}},
        // Nor to a reply line, wherever it falls: inside, first, between '>' and '(', alone.
        ReplyCase{"NulBytesAddNothingToReplyLines",
                  {{0, std::string(">OK\r\n>V\0 1\0\r\n\0>W 2\r\n>\0(x)\r\n\0\r\n\x04", 31)}},
                  4,
                  0,
                  {u">V 1", u">W 2"}},
        ReplyCase{"HighBytesAreOneCharacterEach",
                  {{0, ">OK\r\n>\xE9\xFF\r\n\x04"}},
                  4,
                  0,
                  {u">\u00e9\u00ff"}},
        ReplyCase{"ByteByByteAcrossBatches",
                  {{10, ">"}, {60, "O"}, {60, "K\r"}, {60, "\n>X 1\r"}, {60, "\x04"}},
                  4,
                  0,
                  {u">X 1"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Transaction, FirstReceiveTimeoutAgainstALateAnswer) {
    EngineRig rig(100, 2000);
    rig.camera.Expect({{150, ">OK\r\n\x04"}});
    bool stop = false;
    const auto t0 = Clock::now();
    EXPECT_EQ(clCommunicateModelProbe::RunTransaction(rig.engine, stop, u"ABC"),
              TRANSACTION_TIMEOUT);
    const int64_t ms = MsSince(t0);
    EXPECT_EQ(clCommunicateModelProbe::Status(rig.engine), STATUS_RECEIVE_TIMEOUT);
    EXPECT_GE(ms, 100);
    EXPECT_LT(ms, ScaledMs(1500)) << "the time-out, not the late answer, ended the wait";
    clCommunicateModelProbe::ReportTransactionError(rig.engine);
    ASSERT_EQ(rig.events.Boxes().size(), 1u);
    EXPECT_EQ(rig.events.Boxes()[0], u"(host side)Receive timeout");
}

TEST(Transaction, NextReceiveTimeoutMeasuresTheGapBetweenBatches) {
    EngineRig rig(2000, 150);
    rig.camera.Expect({{0, ">OK\r\n"}, {100, ">A 1\r\n"}, {400, "\x04"}});
    bool stop = false;
    EXPECT_EQ(clCommunicateModelProbe::RunTransaction(rig.engine, stop, u"ABC"),
              TRANSACTION_TIMEOUT);
    EXPECT_EQ(clCommunicateModelProbe::Status(rig.engine), STATUS_RECEIVE_TIMEOUT);
    clCommunicateModelProbe::ClassifyReply(rig.engine); // only a complete reply is classified
    EXPECT_EQ(clCommunicateModelProbe::ReplyCode(rig.engine), -1);
}

TEST(Transaction, ChunksCloserThanTheNextReceiveTimeoutComplete) {
    // 5-byte chunks 30 ms apart take 150 ms in all: only a timer restarted for every chunk
    // taken lets a 100 ms next-receive time-out pass them.
    EngineRig rig(2000, 100);
    const std::string reply = ">OK\r\n>GAIN 12\r\n>MODE A\r\n\x04";
    clScriptedCamera::Answer answer;
    for (size_t i = 0; i < reply.size(); i += 5)
        answer.push_back({i == 0 ? 0 : 30, reply.substr(i, 5)});
    ASSERT_GE(answer.size(), 5u);
    rig.camera.Expect(answer);
    bool stop = false;
    EXPECT_EQ(clCommunicateModelProbe::RunTransaction(rig.engine, stop, u"ABC"), TRANSACTION_OK);
    EXPECT_EQ(clCommunicateModelProbe::Status(rig.engine), STATUS_REPLY_COMPLETE);
    clCommunicateModelProbe::ClassifyReply(rig.engine);
    EXPECT_EQ(clCommunicateModelProbe::ReplyCode(rig.engine), 0);
    EXPECT_EQ(RemainingLines(rig.engine), (std::vector<std::u16string>{u">GAIN 12", u">MODE A"}));
}

TEST(Transaction, NoTimeLimitWaitsForALateAnswer) {
    EngineRig rig(clCommunicateModel::kNoTimeLimit, clCommunicateModel::kNoTimeLimit);
    rig.camera.Expect({{300, ">OK\r\n"}, {300, "\x04"}});
    bool stop = false;
    EXPECT_EQ(clCommunicateModelProbe::RunTransaction(rig.engine, stop, u"ABC"), TRANSACTION_OK);
}

TEST(Transaction, SendFailureIsLoggedAndReported) {
    EngineRig rig;
    clWatchThread watch;
    watch.Start();
    rig.ctx.watch = &watch;
    rig.camera.sendResult = 1;
    bool stop = false;
    EXPECT_EQ(clCommunicateModelProbe::RunTransaction(rig.engine, stop, u"ABC"),
              TRANSACTION_SEND_FAILED);
    EXPECT_EQ(clCommunicateModelProbe::Status(rig.engine), STATUS_SEND_FAILED);
    EXPECT_EQ(rig.engine.Phase(), PHASE_IDLE);
    EXPECT_NE(rig.LogText().find("SendData failed"), std::string::npos);
    clCommunicateModelProbe::ReportTransactionError(rig.engine);
    ASSERT_EQ(rig.events.Boxes().size(), 1u);
    EXPECT_EQ(rig.events.Boxes()[0], u"(host side)Transmit timeout");
    // Halt without start: the watch shows a duration of zero.
    ASSERT_TRUE(WaitUntil([&] { return !watch.ElapsedText().empty(); }));
    EXPECT_EQ(watch.ElapsedText(), u"00:00");
    watch.Stop();
}

TEST(Transaction, CancelDuringTheReply) {
    EngineRig rig;
    rig.camera.Expect({{0, ">OK\r\n"}, {2000, "\x04"}});
    std::thread canceller([&] {
        // Once the first bytes are in, the reply is under way.
        WaitUntil([&] { return rig.engine.Phase() == PHASE_RECEIVING; });
        rig.engine.CancelReceiving();
    });
    bool stop = false;
    EXPECT_EQ(clCommunicateModelProbe::RunTransaction(rig.engine, stop, u"ABC"),
              TRANSACTION_CANCELLED);
    canceller.join();
    EXPECT_EQ(clCommunicateModelProbe::Status(rig.engine), STATUS_RECEIVE_CANCELLED);
    clCommunicateModelProbe::ReportTransactionError(rig.engine);
    EXPECT_TRUE(rig.events.Boxes().empty()); // a cancel shows no message
}

TEST(Transaction, EndOfReplyResetsAPendingCancel) {
    EngineRig rig;
    const std::string reply = ">OK\r\n\x04";
    rig.engine.Ring().Append(reinterpret_cast<const uint8_t*>(reply.data()), reply.size());
    clCommunicateModelProbe::SetPhase(rig.engine, PHASE_WAIT_FIRST);
    rig.engine.CancelReceiving(); // pressed in the same moment the reply completed
    EXPECT_TRUE(clCommunicateModelProbe::TakeReplyBytes(rig.engine));
    EXPECT_FALSE(clCommunicateModelProbe::CancelEvent(rig.engine).IsSignalled());
    EXPECT_EQ(clCommunicateModelProbe::Status(rig.engine), STATUS_REPLY_COMPLETE);
}

TEST(Transaction, StopEventEndsAWaitWithoutTimeLimit) {
    EngineRig rig(clCommunicateModel::kNoTimeLimit);
    std::thread stopper([&] {
        WaitUntil([&] { return rig.engine.Phase() == PHASE_WAIT_FIRST; });
        rig.stopEvent.Set();
    });
    bool stop = false;
    EXPECT_EQ(clCommunicateModelProbe::RunTransaction(rig.engine, stop, u"ABC"), TRANSACTION_OK);
    stopper.join();
    EXPECT_TRUE(stop);
    EXPECT_EQ(rig.engine.Phase(), PHASE_IDLE);
}

TEST(Transaction, BytesBetweenTransactionsAndAfterEotAreNotPartOfTheNextReply) {
    EngineRig rig;
    rig.camera.Expect({{0, ">OK\r\n\x04>LEFT 1\r\n"}});
    rig.camera.Expect({{0, ">CMD ERR!\r\n\x04"}});
    bool stop = false;
    EXPECT_EQ(clCommunicateModelProbe::RunTransaction(rig.engine, stop, u"A"), TRANSACTION_OK);
    rig.camera.Inject(">STRAY 2\r\n\x04");
    ASSERT_TRUE(rig.camera.WaitDelivered());
    EXPECT_EQ(clCommunicateModelProbe::RunTransaction(rig.engine, stop, u"B"), TRANSACTION_OK);
    clCommunicateModelProbe::ClassifyReply(rig.engine);
    EXPECT_EQ(clCommunicateModelProbe::ReplyCode(rig.engine), 1);
    EXPECT_TRUE(RemainingLines(rig.engine).empty());
    // The console reader saw everything.
    EXPECT_EQ(rig.engine.Ring().Pending(clRingBuffer::kConsoleReader),
              std::string(">OK\r\n\x04>LEFT 1\r\n>STRAY 2\r\n\x04>CMD ERR!\r\n\x04").size());
}

TEST(Transaction, ReplyCodeTable) {
    EXPECT_EQ(ReplyCodeOf(u">OK"), 0);
    EXPECT_EQ(ReplyCodeOf(u">CRC ERR!"), 17);
    EXPECT_EQ(ReplyCodeOf(u">CAN NOT WRITE"), 14);
    EXPECT_EQ(ReplyCodeOf(u"xOK"), 0); // the first character is not compared
    EXPECT_EQ(ReplyCodeOf(u">OK "), -1);
    EXPECT_EQ(ReplyCodeOf(u">"), -1);
    EXPECT_EQ(ReplyCodeText(-1), u"???");
    EXPECT_EQ(ReplyCodeText(15), u"BUSY");
}

TEST(Transaction, OverlongLineIsCutNotGrown) {
    clReplyCollector c;
    c.Feed('>');
    for (size_t i = 0; i < 2 * clReplyCollector::kMaxLineChars; ++i)
        c.Feed('x');
    ASSERT_EQ(c.Feed('\n'), clReplyCollector::Result::kLine);
    EXPECT_EQ(c.TakeLine().size(), clReplyCollector::kMaxLineChars);
}
