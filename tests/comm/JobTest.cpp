#include "camdef/CamPropertyMgr.h"
#include "comm/EngineProbe.h"
#include "support/Deadline.h"
#include "support/EngineRig.h"

#include <atomic>
#include <gtest/gtest.h>
#include <map>
#include <thread>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// Property records belong to the camera definition model; the engine only carries pointers to
// them and asks its command source about them. The tests' records are these.
struct FakeProperty {
    std::vector<std::u16string> commandNames;
    bool prompt = false;
    std::map<std::u16string, std::u16string> promptTexts; // by language code

    const clCamProperty* Record() const { return reinterpret_cast<const clCamProperty*>(this); }
};

const FakeProperty& Fake(const clCamProperty* p) {
    return *reinterpret_cast<const FakeProperty*>(p);
}

// Composes "<name> 1" for every name except those marked unknown or failing.
class FakeCommandSource : public IPropertyCommandSource {
public:
    std::vector<std::u16string> unknown, failing;

    std::vector<std::u16string> CommandNames(const clCamProperty* p) override {
        return Fake(p).commandNames;
    }
    int ComposeCommand(const clCamProperty*, std::u16string_view name,
                       std::u16string& text) override {
        for (const auto& u : unknown)
            if (u == name)
                return kUnknownCommand;
        for (const auto& f : failing)
            if (f == name)
                return kComposeFailed;
        text = std::u16string(name) + u" 1";
        return kComposed;
    }
    bool ConfirmationPrompt(const clCamProperty* record, std::u16string_view lang,
                            std::u16string& prompt) override {
        const FakeProperty& p = Fake(record);
        if (!p.prompt)
            return false;
        auto it = p.promptTexts.find(std::u16string(lang));
        if (it == p.promptTexts.end() || it->second.empty())
            it = p.promptTexts.find(u"en");
        prompt = it == p.promptTexts.end() ? u"" : it->second;
        return true;
    }
};

struct JobRig : EngineRig {
    FakeCommandSource source;
    explicit JobRig(uint32_t first = 2000) : EngineRig(first, 2000) {
        engine.SetPropertySource(&source);
        engine.StartWorker();
    }
    // Waits for the end frame of the n-th job.
    bool WaitJobEnd(int n = 1, int timeoutMs = 5000) {
        return events.WaitFor(Ev::JobEnded, n, timeoutMs);
    }
};

} // namespace

TEST(Job, ConsoleCommandEventsInOrderWithTheirData) {
    JobRig rig;
    rig.camera.Expect({{20, "sta\r\n>OK\r\n>Model=X1\r\n\x04"}});
    rig.engine.SubmitCommandJob(u"sta");
    ASSERT_TRUE(rig.events.WaitFor(Ev::JobEnded));
    const std::vector<Ev> expected = {Ev::JobStarted, Ev::CommandSent, Ev::TransactionEnded,
                                      Ev::JobEnded};
    ASSERT_EQ(rig.events.Kinds(), expected);
    EXPECT_EQ(rig.events.echoes, std::vector<std::u16string>{u"sta\r"});
    const TransactionReport r = rig.events.Reports().at(0);
    EXPECT_EQ(r.command, u"sta");
    EXPECT_EQ(r.result, TRANSACTION_OK);
    EXPECT_EQ(r.status, STATUS_REPLY_COMPLETE);
    EXPECT_EQ(r.replyCode, kReplyCodeOk);
    EXPECT_EQ(r.replyLines, std::vector<std::u16string>{u">Model=X1"});
    EXPECT_GE(r.elapsedMs, 15);
    const JobReport job = rig.events.Jobs().at(0);
    EXPECT_EQ(job.kind, JOB_SINGLE_COMMAND);
    EXPECT_EQ(job.outcome, JobOutcome::kDone);
    EXPECT_EQ(job.transactions, 1u);
    // The end is told once the engine is ready again.
    EXPECT_TRUE(rig.engine.IsReady());
}

TEST(Job, ReplyCodeOtherThanOkCarriesNoReplyLines) {
    JobRig rig;
    rig.camera.Expect({{0, ">VAL ERR!\r\n>X 1\r\n\x04"}});
    rig.engine.SubmitCommandJob(u"xyz 99");
    ASSERT_TRUE(rig.events.WaitFor(Ev::JobEnded));
    ASSERT_EQ(rig.events.Results().size(), 1u);
    EXPECT_EQ(rig.events.Results()[0], std::make_pair(int32_t{STATUS_REPLY_COMPLETE}, int32_t{3}));
    EXPECT_TRUE(rig.events.Reports()[0].replyLines.empty());
    EXPECT_EQ(rig.events.Jobs().at(0).outcome, JobOutcome::kDone);
}

TEST(Job, AutoSelectWithoutRecognisedModelShowsOneMessage) {
    JobRig rig;
    rig.camera.Expect({{0, ">OK\r\n>Model=Unknown\r\n\x04"}});
    rig.engine.SubmitCommandJob(u"sta", true);
    ASSERT_TRUE(rig.events.WaitFor(Ev::JobEnded));
    EXPECT_EQ(rig.events.Boxes(), std::vector<std::u16string>{u"Model not detect"});
    EXPECT_EQ(rig.engine.AutoSelectRequested(), 0);

    // The reply-line handling recognised the model while draining: no message.
    rig.events.onEvent = [&](Ev msg) {
        if (msg == Ev::TransactionEnded)
            rig.engine.NoteModelDetected();
    };
    rig.camera.Expect({{0, ">OK\r\n>Model=X1\r\n\x04"}});
    rig.engine.SubmitCommandJob(u"sta", true);
    ASSERT_TRUE(rig.events.WaitFor(Ev::JobEnded, 2));
    EXPECT_EQ(rig.events.Boxes().size(), 1u);
}

TEST(Job, PropertyJobStopsAtTheCommandThatTimesOut) {
    JobRig rig(200);
    FakeProperty p;
    p.commandNames = {u"ga", u"gb", u"gc"};
    rig.camera.Expect({{0, ">OK\r\n\x04"}});
    rig.camera.Expect({}); // silence
    ASSERT_EQ(rig.engine.RunPropertyJob(p.Record()), SUBMIT_OK);
    ASSERT_TRUE(rig.WaitJobEnd());
    EXPECT_EQ(rig.camera.Wire(), "ga 1\rgb 1\r");
    EXPECT_EQ(rig.events.Boxes(), std::vector<std::u16string>{u"(host side)Receive timeout"});
    // One console pause between the first and second command.
    EXPECT_EQ(rig.events.Count(Ev::ConsoleFlush), 1);
    EXPECT_EQ(rig.events.Count(Ev::TransactionEnded), 2);
    EXPECT_EQ(rig.events.Jobs().at(0).outcome, JobOutcome::kFailed);
}

TEST(Job, PropertyJobSkipsUnknownAndUncomposableCommandsAndGoesOnAfterAnErrorCode) {
    JobRig rig;
    rig.source.unknown = {u"nope"};
    rig.source.failing = {u"bad"};
    FakeProperty p;
    p.commandNames = {u"nope", u"ga", u"bad", u"gb"};
    rig.camera.Expect({{0, ">CMD ERR!\r\n\x04"}});
    rig.camera.Expect({{0, ">OK\r\n\x04"}});
    ASSERT_EQ(rig.engine.RunPropertyJob(p.Record()), SUBMIT_OK);
    ASSERT_TRUE(rig.WaitJobEnd());
    EXPECT_EQ(rig.camera.Wire(), "ga 1\rgb 1\r");
    EXPECT_TRUE(rig.events.Boxes().empty());
}

TEST(Job, PromptDecidesWhetherThePropertyJobRuns) {
    JobRig rig;
    FakeProperty p;
    p.commandNames = {u"rst"};
    p.prompt = true;
    p.promptTexts = {{u"en", u"Reset the camera?"}, {u"ja", u""}};
    rig.ctx.languageCode = u"ja";
    rig.events.boxAnswer = IDCANCEL;
    EXPECT_EQ(rig.engine.RunPropertyJob(p.Record()), SUBMIT_DECLINED);
    ASSERT_EQ(rig.events.Boxes().size(), 1u);
    EXPECT_EQ(rig.events.Boxes()[0], u"Reset the camera?"); // empty Japanese text: the English one
    EXPECT_EQ(rig.events.styles.back(), MB_OKCANCEL | MB_ICONQUESTION | kMbDefaultButton2);
    EXPECT_EQ(rig.camera.Commands(), 0); // and the wire below holds the second job's only

    rig.events.boxAnswer = IDOK;
    rig.camera.Expect({{0, ">OK\r\n\x04"}});
    EXPECT_EQ(rig.engine.RunPropertyJob(p.Record()), SUBMIT_OK);
    ASSERT_TRUE(rig.WaitJobEnd());
    EXPECT_EQ(rig.camera.Wire(), "rst 1\r");
}

TEST(Job, CancelDuringAReplyEndsThePropertyJobWithoutMessage) {
    JobRig rig;
    FakeProperty p;
    p.commandNames = {u"ga", u"gb"};
    rig.camera.Expect({{0, ">OK\r\n"}, {3000, "\x04"}});
    ASSERT_EQ(rig.engine.RunPropertyJob(p.Record()), SUBMIT_OK);
    ASSERT_TRUE(WaitUntil([&] { return rig.engine.Phase() == PHASE_RECEIVING; }));
    rig.engine.CancelReceiving();
    ASSERT_TRUE(rig.WaitJobEnd(1, 1000));
    EXPECT_EQ(rig.camera.Wire(), "ga 1\r");
    EXPECT_TRUE(rig.events.Boxes().empty());
    EXPECT_EQ(rig.events.Results().at(0).first, STATUS_RECEIVE_CANCELLED);
}

TEST(Job, CancelBetweenCommandsEndsThePropertyJob) {
    JobRig rig;
    FakeProperty p;
    p.commandNames = {u"ga", u"gb"};
    rig.camera.Expect({{0, ">OK\r\n\x04"}});
    rig.events.onEvent = [&](Ev msg) {
        if (msg == Ev::ConsoleFlush)
            rig.engine.CancelReceiving();
    };
    ASSERT_EQ(rig.engine.RunPropertyJob(p.Record()), SUBMIT_OK);
    ASSERT_TRUE(rig.WaitJobEnd());
    EXPECT_EQ(rig.camera.Wire(), "ga 1\r");
}

// The moments the commands of a property job went out (their echo comes just before).
std::vector<Clock::time_point> RunTimedPropertyJob(JobRig& rig, int commands) {
    FakeProperty p;
    std::vector<Clock::time_point> sent;
    for (int i = 0; i < commands; ++i) {
        p.commandNames.push_back(u"g" + std::u16string(1, char16_t(u'a' + i)));
        rig.camera.Expect({{0, ">OK\r\n\x04"}});
    }
    rig.events.onEvent = [&](Ev msg) {
        if (msg == Ev::CommandSent)
            sent.push_back(Clock::now());
    };
    EXPECT_EQ(rig.engine.RunPropertyJob(p.Record()), SUBMIT_OK);
    EXPECT_TRUE(rig.WaitJobEnd());
    rig.events.onEvent = nullptr;
    return sent;
}

TEST(Job, PropertyCommandsKeepTheDefaultGapOf50Ms) {
    JobRig rig;
    EXPECT_EQ(rig.engine.CommandGap(), 50u);
    const auto sent = RunTimedPropertyJob(rig, 3);
    ASSERT_EQ(sent.size(), 3u);
    for (size_t i = 1; i < sent.size(); ++i)
        EXPECT_GE(sent[i] - sent[i - 1], 45ms) << "between command " << i << " and " << i + 1;
}

TEST(Job, GapOfZeroStillRunsEveryCommandInOrder) {
    JobRig rig;
    rig.engine.SetCommandGap(0);
    EXPECT_EQ(RunTimedPropertyJob(rig, 4).size(), 4u);
    EXPECT_EQ(rig.camera.Wire(), "ga 1\rgb 1\rgc 1\rgd 1\r");
}

TEST(Job, CancelEndsALongGapAndThePropertyJob) {
    JobRig rig;
    rig.engine.SetCommandGap(600000);
    FakeProperty p;
    p.commandNames = {u"ga", u"gb"};
    rig.camera.Expect({{0, ">OK\r\n\x04"}});
    ASSERT_EQ(rig.engine.RunPropertyJob(p.Record()), SUBMIT_OK);
    ASSERT_TRUE(rig.events.WaitFor(Ev::ConsoleFlush));
    rig.engine.CancelReceiving();
    ASSERT_TRUE(rig.WaitJobEnd(1, 10000)) << "the cancel must not wait for the gap";
    EXPECT_EQ(rig.camera.Wire(), "ga 1\r");
}

// Waits until the ring holds n bytes in all.
bool WaitWritten(clCommunicateModel& engine, uint64_t n) {
    return WaitUntil([&] { return engine.Ring().WrittenCount() >= n; });
}

TEST(Engine, ActivityEventsTellOfReceivedBytesAndPhaseChanges) {
    EngineRig rig;
    struct Activity : RecordingEvents {
        std::atomic<int> received{0}, changed{0};
        void BytesReceived() override { ++received; }
        void StateChanged() override { ++changed; }
    } activity;
    rig.engine.SetEvents(&activity);
    rig.camera.Expect({{0, ">OK\r\n\x04"}});
    bool stop = false;
    EXPECT_EQ(clCommunicateModelProbe::RunTransaction(rig.engine, stop, u"a"), TRANSACTION_OK);
    EXPECT_EQ(activity.changed, 4) << "sending, waiting, receiving, idle";
    // The receive thread tells of the bytes after the ring holds them, and the transaction may
    // have ended on the ring's data before that.
    EXPECT_TRUE(WaitUntil([&] { return activity.received >= 1; }));

    // Once the events are taken away, nothing more reaches them.
    rig.engine.SetEvents(nullptr);
    const int before = activity.received;
    const uint64_t written = rig.engine.Ring().WrittenCount();
    rig.camera.Inject("y");
    ASSERT_TRUE(WaitWritten(rig.engine, written + 1));
    EXPECT_EQ(activity.received, before);
}

TEST(Job, CancelWhileIdleIsForgottenByTheNextJob) {
    JobRig rig;
    rig.engine.CancelReceiving();
    rig.camera.Expect({{100, ">OK\r\n\x04"}});
    rig.engine.SubmitCommandJob(u"a");
    ASSERT_TRUE(rig.events.WaitFor(Ev::JobEnded));
    EXPECT_EQ(rig.events.Results().at(0),
              std::make_pair(int32_t{STATUS_REPLY_COMPLETE}, int32_t{0}));
}

TEST(Job, ConsolePauseWaitsWhileTheConsoleHasABacklog) {
    JobRig rig;
    FakeProperty p;
    p.commandNames = {u"ga", u"gb"};
    rig.camera.Expect({{0, ">OK\r\n\x04"}});
    rig.camera.Expect({{0, ">OK\r\n\x04"}});
    rig.engine.SetConsoleBacklog(10);
    const auto t0 = Clock::now();
    ASSERT_EQ(rig.engine.RunPropertyJob(p.Record()), SUBMIT_OK);
    ASSERT_TRUE(rig.WaitJobEnd());
    // Two pauses of 50 ms plus 50 ms for the backlog each, besides the polls.
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count(),
              200);
}

TEST(Job, ShutdownDuringALongJobEndsTheWorkerQuickly) {
    JobRig rig(clCommunicateModel::kNoTimeLimit);
    rig.engine.SubmitCommandJob(u"slow");
    ASSERT_TRUE(WaitUntil([&] { return rig.engine.Phase() == PHASE_WAIT_FIRST; }));
    const auto t0 = Clock::now();
    EXPECT_TRUE(rig.engine.StopWorker(5000));
    // Well within the 5 s after which StopWorker gives up on the thread.
    EXPECT_LT(Clock::now() - t0, 2s);
    EXPECT_FALSE(rig.engine.WorkerExists());
    // The job still told its end; no report for the abandoned transaction.
    EXPECT_EQ(rig.events.Count(Ev::JobEnded), 1);
    EXPECT_EQ(rig.events.Count(Ev::TransactionEnded), 0);
    EXPECT_EQ(rig.events.Jobs().at(0).outcome, JobOutcome::kStopped);
    EXPECT_EQ(rig.engine.IsBusy(), false);
}

TEST(Job, UnknownKindRunsNothing) {
    JobRig rig;
    clCommunicateModelProbe::Mailbox(rig.engine).Post(static_cast<JobKind>(9));
    rig.jobEvent.Set();
    // The worker woke, took the job and told its end without running anything.
    ASSERT_TRUE(rig.events.WaitFor(Ev::JobEnded));
    EXPECT_EQ(rig.events.Kinds(), std::vector<Ev>{Ev::JobEnded});
    ASSERT_TRUE(WaitUntil([&] { return rig.engine.IsReady(); }));
    // The worker runs jobs one after the other: the next one's events are all there are.
    rig.events.Clear();
    rig.camera.Expect({{0, ">OK\r\n\x04"}});
    ASSERT_EQ(rig.engine.SubmitCommandJob(u"sta"), SUBMIT_OK);
    ASSERT_TRUE(rig.events.WaitFor(Ev::JobEnded));
    EXPECT_EQ(rig.events.Kinds(), (std::vector<Ev>{Ev::JobStarted, Ev::CommandSent,
                                                   Ev::TransactionEnded, Ev::JobEnded}));
    EXPECT_EQ(rig.camera.Commands(), 1);
}

TEST(Engine, DisconnectWhileIdle) {
    EngineRig rig;
    clWatchThread watch;
    watch.Start();
    rig.ctx.watch = &watch;
    watch.SignalHalt();
    ASSERT_TRUE(WaitUntil([&] { return !watch.ElapsedText().empty(); }));
    std::vector<std::pair<std::u16string, std::u16string>> shown;
    int hidden = 0;
    rig.ctx.showWaitDialog = [&](std::u16string_view t, std::u16string_view c) {
        shown.emplace_back(t, c);
    };
    rig.ctx.hideWaitDialog = [&] { ++hidden; };
    rig.engine.DisconnectCamera();
    EXPECT_EQ(rig.engine.Phase(), PHASE_NOT_CONNECTED);
    EXPECT_EQ(rig.engine.IsConnected(), 0);
    EXPECT_EQ(rig.camera.IsConnected(), 0);
    EXPECT_EQ(rig.camera.uninitCalls, 1);
    EXPECT_EQ(watch.ElapsedText(), u"");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].first, u"Please wait.");
    EXPECT_EQ(shown[0].second, u"Disconnecting");
    EXPECT_EQ(hidden, 1);
    watch.Stop();
}

// Disconnect while a reply is awaited (a camera that would answer only after the time-out):
// the transaction ends cancelled, without a message box, before the port closes; the engine
// then stays "not connected" and refuses jobs.
TEST(Engine, DisconnectDuringAJobCancelsItFirst) {
    JobRig rig(20000);
    rig.camera.Expect({{6000, ">OK\r\n\x04"}});
    ASSERT_EQ(rig.engine.SubmitCommandJob(u"sta"), SUBMIT_OK);
    ASSERT_TRUE(WaitUntil([&] { return rig.engine.Phase() == PHASE_WAIT_FIRST; }));
    rig.engine.DisconnectCamera();
    // The job had ended its frame when the port closed.
    EXPECT_TRUE(rig.events.WaitFor(Ev::JobEnded, 1, 0));
    ASSERT_FALSE(rig.events.Results().empty());
    EXPECT_EQ(rig.events.Results().back().first, STATUS_RECEIVE_CANCELLED);
    EXPECT_TRUE(rig.events.Boxes().empty());
    EXPECT_EQ(rig.camera.IsConnected(), 0);
    EXPECT_EQ(rig.engine.Phase(), PHASE_NOT_CONNECTED);
    EXPECT_FALSE(rig.engine.IsReady());
    EXPECT_FALSE(rig.engine.IsBusy());
    EXPECT_EQ(rig.engine.SubmitCommandJob(u"sta"), SUBMIT_NOT_CONNECTED);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(rig.camera.Commands(), 1) << "nothing is sent after the disconnect";
}

// A batch or property job between two commands when the connection closes sends nothing more.
TEST(Engine, DisconnectBetweenCommandsSendsNothingMore) {
    JobRig rig;
    FakeProperty p{{u"a", u"b", u"c"}, false, {}};
    rig.camera.Expect({{0, ">OK\r\n\x04"}});
    rig.camera.Expect({{3000, ">OK\r\n\x04"}});
    rig.camera.Expect({{0, ">OK\r\n\x04"}});
    ASSERT_EQ(rig.engine.RunPropertyJob(p.Record()), SUBMIT_OK);
    ASSERT_TRUE(rig.camera.WaitForCommands(2));
    rig.engine.DisconnectCamera();
    EXPECT_TRUE(WaitUntil([&] { return !rig.engine.IsBusy(); }));
    EXPECT_EQ(rig.camera.Commands(), 2);
    EXPECT_EQ(rig.camera.Wire(), "a 1\rb 1\r");
    EXPECT_TRUE(rig.events.Boxes().empty());
}

// A second submission while the first waits for the worker is refused, not merged into it;
// a stale or foreign record is refused before anything is read from it.
TEST(Engine, SubmissionsAreRefusedWithACodeUnlessReadyAndConnected) {
    JobRig rig;
    FakeProperty first{{u"a"}, false, {}}, second{{u"b"}, false, {}};
    rig.camera.Expect({{300, ">OK\r\n\x04"}});
    ASSERT_EQ(rig.engine.RunPropertyJob(first.Record()), SUBMIT_OK);
    EXPECT_FALSE(rig.engine.IsReady());
    EXPECT_EQ(rig.engine.RunPropertyJob(second.Record()), SUBMIT_BUSY);
    EXPECT_EQ(rig.engine.SubmitCommandJob(u"sta"), SUBMIT_BUSY);
    EXPECT_EQ(rig.engine.SubmitBatchJob({u"x\n"}), SUBMIT_BUSY);
    ASSERT_TRUE(rig.WaitJobEnd());
    ASSERT_TRUE(rig.events.WaitFor(Ev::JobEnded));
    EXPECT_TRUE(WaitUntil([&] { return rig.engine.IsReady(); }));
    EXPECT_EQ(rig.camera.Wire(), "a 1\r") << "the first job ran once, with its own record";
    EXPECT_EQ(rig.engine.RunPropertyJob(nullptr), SUBMIT_STALE_RECORD);
    EXPECT_EQ(rig.engine.SubmitPropertyJob(rig.engine.PropertyManager().LoadGeneration() + 1, 0),
              SUBMIT_STALE_RECORD);
}

// Shutdown with the worker blocked in a synchronous send to a window that does not answer:
// reported as still running, and afterwards no message reaches the window.
TEST(Engine, ShutDownLeavesAStuckWorkerAndClosesTheWayToTheWindow) {
    JobRig rig(20000);
    std::mutex lock;
    std::condition_variable cv;
    bool release = false;
    std::atomic<bool> blocked{false};
    rig.events.onEvent = [&](Ev msg) {
        if (msg != Ev::CommandSent)
            return;
        std::unique_lock<std::mutex> g(lock);
        blocked = true;
        cv.wait(g, [&] { return release; });
    };
    ASSERT_EQ(rig.engine.SubmitCommandJob(u"sta"), SUBMIT_OK);
    ASSERT_TRUE(WaitUntil([&] { return blocked.load(); }));
    EXPECT_FALSE(rig.engine.ShutDown({}, 100));
    EXPECT_FALSE(clCommunicateModelProbe::EventsOpen(rig.engine));
    const size_t seen = rig.events.Kinds().size();
    {
        std::lock_guard<std::mutex> g(lock);
        release = true;
    }
    cv.notify_all();
    // The detached worker finishes its job on its own; the rig outlives it.
    ASSERT_TRUE(rig.events.WaitFor(Ev::CommandSent));
    EXPECT_TRUE(WaitUntil([&] { return !rig.engine.IsBusy(); }));
    std::this_thread::sleep_for(200ms); // its last steps after the job: a stop-event check
    EXPECT_EQ(rig.events.Kinds().size(), seen + 1) << "only the event under way was delivered";
}
