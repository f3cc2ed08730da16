// The application's engine: created and prepared by start-up, its worker thread driven through
// the application's own fields, reply lines handed on, and everything stopped again.
#include "app/Application.h"
#include "base/Messages.h"
#include "camdef/CamPropertyMgr.h"
#include "comm/CommunicateModel.h"
#include "comm/EngineProbe.h"
#include "comm/WatchThread.h"
#include "platform/IniProfile.h"
#include "platform/Text.h"
#include "platform/WorkingSet.h"
#include "support/AppEnvironment.h"
#include "support/Deadline.h"
#include "support/EngineRig.h"
#include "support/FakeWorkingSet.h"
#include "support/TempDir.h"

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Records every message; a message box is answered with OK.
class Recorder : public IUiTarget {
public:
    explicit Recorder(clApplication& app) : m_app(app) {}
    intptr_t SendUiMessage(uint32_t msg, uintptr_t, intptr_t) override {
        if (msg == UM_MESSAGE_BOX)
            m_app.SetMessageBoxResult(IDOK);
        std::lock_guard<std::mutex> guard(m_lock);
        m_messages.push_back(msg);
        return 0;
    }
    void PostUiMessage(uint32_t msg, uintptr_t, intptr_t) override {
        std::lock_guard<std::mutex> guard(m_lock);
        m_messages.push_back(msg);
    }
    std::vector<uint32_t> Messages() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_messages;
    }

private:
    clApplication& m_app;
    std::mutex m_lock;
    std::vector<uint32_t> m_messages;
};

class EngineWiringTest : public ::testing::Test {
protected:
    void Start() {
        app.SetEnvironment(TestEnvironment(folder.str(), locks.str(), &workingSet));
        ASSERT_EQ(app.StartUp(), 0);
    }
    std::u16string Settings() { return platform::Utf8ToUtf16(folder.file("Quillon_00.ini")); }

    TempDir folder, locks;
    FakeWorkingSet workingSet;
    clApplication app;
};

} // namespace

TEST_F(EngineWiringTest, StartUpPreparesTheEngine) {
    ASSERT_TRUE(clApplication::WriteDefaultSettings(Settings()));
    platform::WriteSetting(u"App", u"Receive Buffer Bytes", u"4096", Settings());
    platform::WriteSetting(u"TARN_Timeouts", u"First Recv", u"50", Settings());
    platform::WriteSetting(u"TARN_Timeouts", u"Next Recv", u"1234", Settings());
    platform::WriteSetting(u"TARN_Timeouts", u"Command Gap", u"0", Settings());
    Start();
    EXPECT_EQ(app.Engine()->CommandGap(), 0u) << "a gap of 0 is kept";
    ASSERT_NE(app.Engine(), nullptr);
    EXPECT_EQ(app.Engine()->Ring().Size(), 4096u);
    EXPECT_EQ(app.Engine()->FirstReceiveTimeout(), 100u);
    EXPECT_EQ(app.Engine()->NextReceiveTimeout(), 1234u);
    EXPECT_EQ(app.Engine()->PropertyManager().SchemaPathFormat(),
              platform::Utf8ToUtf16(folder.str() + "/CamDefine/OrvaCamSchema_v%d_%d.xsd"));
    EXPECT_EQ(app.Engine()->Phase(), PHASE_NOT_CONNECTED);
    EXPECT_FALSE(app.IsConnected());
    EXPECT_FALSE(app.IsEngineReady());
    EXPECT_EQ(app.ConnectCamera(), 1) << "no interface selected";
    app.ShutDown();
    EXPECT_EQ(app.Engine(), nullptr);
    app.ShutDown();
}

TEST_F(EngineWiringTest, AReceiveBufferOfZeroBytesTakesTheDefaultSize) {
    ASSERT_TRUE(clApplication::WriteDefaultSettings(Settings()));
    platform::WriteSetting(u"App", u"Receive Buffer Bytes", u"0", Settings());
    Start();
    EXPECT_EQ(app.Engine()->Ring().Size(), clApplication::kDefaultReceiveBufferBytes);
}

TEST_F(EngineWiringTest, WorkerRunsJobsAndTheSessionHandsItsEventsOn) {
    Start();
    Recorder ui(app);
    app.SetMainFrame(&ui);
    RecordingEvents events;
    app.Session().SetEvents(&events);
    ASSERT_TRUE(app.StartWorkerThreads());
    EXPECT_TRUE(app.Engine()->WorkerExists());
    EXPECT_EQ(app.Watch()->target, &ui);
    EXPECT_EQ(app.Watch()->message, uint32_t(UM_REFRESH_VIEWS));
    EXPECT_EQ(app.Watch()->lParam, intptr_t(REFRESH_STATUS));

    // Refused while not connected; nothing reaches the worker.
    EXPECT_EQ(app.Engine()->SubmitCommandJob(u"sta"), SUBMIT_NOT_CONNECTED);
    // A single command without a port: the send fails and the job ends normally.
    app.Engine()->MarkConnected();
    ASSERT_EQ(app.Engine()->SubmitCommandJob(u"sta"), SUBMIT_OK);
    ASSERT_TRUE(events.WaitFor(Ev::JobEnded));
    EXPECT_EQ(events.Kinds(), (std::vector<Ev>{Ev::JobStarted, Ev::CommandSent,
                                               Ev::TransactionEnded, Ev::Ask, Ev::JobEnded}));
    EXPECT_EQ(events.echoes, std::vector<std::u16string>{u"sta\r"});
    EXPECT_EQ(events.Last().status, STATUS_SEND_FAILED);
    EXPECT_EQ(events.Boxes(), std::vector<std::u16string>{u"(host side)Transmit timeout"});
    EXPECT_EQ(events.Jobs().at(0).outcome, JobOutcome::kFailed);

    app.StopThreads();
    EXPECT_FALSE(app.Engine()->WorkerExists());
    app.SetMainFrame(nullptr);
    app.ShutDown();
}

TEST_F(EngineWiringTest, ReplyLinesGoToTheIdentityOrTheManager) {
    Start();
    std::vector<std::u16string> models;
    app.Session().SetModelHook([&](std::u16string_view model) { models.emplace_back(model); });
    uint32_t flags = 0;
    EXPECT_TRUE(app.HandleReplyLine(flags, u">Model=XC-100"));
    EXPECT_TRUE(app.HandleReplyLine(flags, u">Ver.=2.0 Serial=77"));
    EXPECT_EQ(app.Engine()->CameraModel(), u"XC-100");
    EXPECT_EQ(app.Engine()->CameraVersion(), u"2.0 Serial=77");
    EXPECT_EQ(flags, uint32_t(REFRESH_STATUS));
    EXPECT_TRUE(models.empty()) << "no auto-select query waits";
    // Without a definition the manager takes nothing; a bare marker and unmarked lines are
    // never handled.
    flags = 0;
    EXPECT_FALSE(app.HandleReplyLine(flags, u">gai 120"));
    EXPECT_FALSE(app.HandleReplyLine(flags, u">"));
    EXPECT_FALSE(app.HandleReplyLine(flags, u"Model=XC-100"));
    EXPECT_EQ(flags, 0u);
    // "Type=" is a model too; while the auto-select query waits it names the definition.
    app.Engine()->MarkConnected();
    clCommunicateModelProbe::Mailbox(*app.Engine()).RequestAutoSelect();
    EXPECT_TRUE(app.HandleReplyLine(flags, u">Type=ABC"));
    EXPECT_EQ(app.Engine()->CameraModel(), u"ABC");
    EXPECT_EQ(models, std::vector<std::u16string>{u"ABC"});
}

// Start-up of the threads when no event can be created (a child whose descriptor limit leaves
// no free number): the failure is caught and reported as false, the program goes on. The call
// runs where an escaping exception ends the process, as it does from a window's event handler.
TEST_F(EngineWiringTest, WorkerThreadsWithoutEventsFailWithoutEndingTheProgram) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // The sanitizer runtimes need descriptors of their own, which the child has none of: they
    // report faults of their own there, not of the code under test.
    GTEST_SKIP() << "not under the sanitizers: the child has no free descriptor for their runtime";
#endif
    Start();
    Recorder ui(app);
    app.SetMainFrame(&ui);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int lowestFree = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (lowestFree >= 0)
            ::close(lowestFree);
        rlimit limit{};
        ::getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = static_cast<rlim_t>(lowestFree < 0 ? 0 : lowestFree);
        if (lowestFree < 0 || ::setrlimit(RLIMIT_NOFILE, &limit) != 0)
            ::_exit(10);
        const bool started = [&]() noexcept { return app.StartWorkerThreads(); }();
        ::_exit(started ? 11 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the child ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
