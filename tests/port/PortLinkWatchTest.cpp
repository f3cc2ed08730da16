// The connected device going away and coming back: real pseudo-terminals for the hang-up and
// the link that comes back, a source fed by the test for udev's removal and return (udev cannot
// be driven here).
#include "port/PortLinkWatch.h"

#include "SerialRig.h"
#include "app/PortLinkGuard.h"
#include "base/Messages.h"
#include "support/FakeDeviceSource.h"

#include <condition_variable>
#include <filesystem>

namespace {

using News = LinkNews;

TEST(PortLinkWatch, HangUpIsLostOnceAndTheLinkComingBackIsTheReturn) {
    SerialRig rig;
    rig.Entry();
    clDeviceMonitor monitor(nullptr);
    clPortLinkWatch watch(monitor, BuiltInComPort());
    News news;
    watch.SetCallbacks(news.Callbacks());
    ASSERT_TRUE(monitor.Start());
    ASSERT_EQ(rig.ConnectHost(), 0);
    watch.Connected();

    // The simulator's side closes: the descriptor hangs up and the link goes.
    rig.server.Stop();
    rig.server.CloseTerminal();
    const std::u16string device = platform::Utf8ToUtf16(rig.link);
    ASSERT_TRUE(news.Wait(news.lost, 1));
    rig.engine.StopWorker();
    rig.engine.DisconnectCamera();
    watch.Disconnected(true);
    EXPECT_TRUE(watch.AwaitingReturn());

    // The link is made again: one return, and the port connects to it.
    ASSERT_TRUE(rig.server.Open(rig.link));
    ASSERT_TRUE(rig.server.Start());
    ASSERT_TRUE(news.Wait(news.returned, 1));
    EXPECT_FALSE(watch.AwaitingReturn());
    rig.port.Init();
    EXPECT_EQ(rig.port.Connect(), 0);
    monitor.Stop();
    std::lock_guard<std::mutex> g(news.lock);
    EXPECT_EQ(news.lost, std::vector<std::u16string>{device});
    EXPECT_EQ(news.returned, std::vector<std::u16string>{device});
}

TEST(PortLinkWatch, RemovalReportedByUdevIsALossAndItsByIdNameIsWhatComesBack) {
    SerialRig rig;
    // A stable name for the simulator's terminal, as /dev/serial/by-id would hold it.
    const std::string byId = rig.dir.file("by-id");
    std::filesystem::create_directories(byId);
    const std::string stable = byId + "/usb-FTDI_FT232R_A1B2-if00-port0";
    std::filesystem::create_symlink(std::filesystem::read_symlink(rig.link), stable);
    clPortComm::byIdRoot = byId;
    rig.Entry();
    auto feed = std::make_shared<FakeDeviceSource::Feed>();
    clDeviceMonitor monitor(std::make_unique<FakeDeviceSource>(feed));
    clPortLinkWatch watch(monitor, BuiltInComPort());
    News news;
    watch.SetCallbacks(news.Callbacks());
    // Listeners run in the order they were added: once this one has seen an event, the
    // watch has handled it.
    std::vector<std::u16string> dispatched;
    monitor.AddListener([&](const DeviceEvent&) { news.Add(dispatched, u""); });
    ASSERT_TRUE(monitor.Start());
    ASSERT_EQ(rig.ConnectHost(), 0);
    watch.Connected();

    // Another device going is nothing to us; ours going is a loss, though the terminal is alive.
    feed->Push(DeviceEvent::Kind::Removed, "/dev/ttyUSB5", {byId + "/usb-other"});
    feed->Push(DeviceEvent::Kind::Removed, "/dev/ttyUSB0", {stable});
    ASSERT_TRUE(news.Wait(news.lost, 1));
    EXPECT_TRUE(BuiltInComPort().LinkLost());
    const uint8_t b = 'a';
    EXPECT_EQ(rig.port.SendData(&b, 1), 5);
    rig.engine.StopWorker();
    rig.engine.DisconnectCamera();

    // Without waiting for it, a return is not reported.
    watch.Disconnected(false);
    feed->Push(DeviceEvent::Kind::Added, "/dev/ttyUSB0", {stable});
    ASSERT_TRUE(news.Wait(dispatched, 3));
    EXPECT_TRUE(news.returned.empty());
    // Waiting: the same adapter back under another node is opened by its by-id name.
    watch.Disconnected(true);
    EXPECT_FALSE(watch.AwaitingReturn()); // nothing was connected any more
    rig.port.Init();
    ASSERT_EQ(rig.port.Connect(), 0);
    watch.Connected();
    clPortComm::byIdRoot = "/dev/serial/by-id";
    rig.port.Disconnect();
    std::filesystem::remove(rig.link); // the old name is not there
    watch.Disconnected(true);
    feed->Push(DeviceEvent::Kind::Added, "/dev/ttyUSB1", {stable});
    ASSERT_TRUE(news.Wait(news.returned, 1));
    monitor.Stop();
    std::lock_guard<std::mutex> g(news.lock);
    EXPECT_EQ(news.lost.size(), 1u);
    EXPECT_EQ(news.returned, std::vector<std::u16string>{platform::Utf8ToUtf16(stable)});
}

} // namespace

namespace {

TEST(PortLinkWatch, RunningJobEndsAsCancelledWithinAPollOfTheLoss) {
    CamSimFaults faults;
    faults.noAnswer = true; // the camera takes "sta" and says nothing
    SerialRig rig(faults);
    rig.Entry();
    clPortLinkGuard guard(BuiltInComPort(), nullptr);
    std::vector<clPortLinkGuard::News> posted;
    std::mutex lock;
    guard.SetHost([&](clPortLinkGuard::News news, const std::u16string& device) {
        if (news == clPortLinkGuard::kLost)
            rig.engine.PortLost(device);
        std::lock_guard<std::mutex> g(lock);
        posted.push_back(news);
    });
    ASSERT_TRUE(guard.Start());
    ASSERT_EQ(rig.ConnectHost(20000, 20000), 0);
    guard.Connected();
    const int before = rig.events.Count(Ev::JobEnded);
    ASSERT_EQ(rig.engine.SubmitCommandJob(u"sta"), 0);
    ASSERT_TRUE(WaitUntil([&] { return rig.engine.Phase() == PHASE_WAIT_FIRST; }));
    const auto start = std::chrono::steady_clock::now();
    rig.server.Stop();
    rig.server.CloseTerminal();
    ASSERT_TRUE(rig.events.WaitFor(Ev::JobEnded, before + 1, 10000));
    // Far below the 20 s receive time-out; the bound is generous for a loaded machine.
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now() - start)
                  .count(),
              5000);
    EXPECT_EQ(rig.events.Last().status, STATUS_RECEIVE_CANCELLED);
    EXPECT_EQ(rig.events.Last().lostDevice, platform::Utf8ToUtf16(rig.link));
    EXPECT_EQ(rig.events.Jobs().back().outcome, JobOutcome::kLost);
    // The window hears of it after the cancel.
    WaitUntil([&] {
        std::lock_guard<std::mutex> g(lock);
        return !posted.empty();
    });
    {
        std::lock_guard<std::mutex> g(lock);
        EXPECT_EQ(posted, std::vector<clPortLinkGuard::News>{clPortLinkGuard::kLost});
    }
    EXPECT_EQ(guard.NewsDevice(), platform::Utf8ToUtf16(rig.link));
    guard.Stop();
}

} // namespace
