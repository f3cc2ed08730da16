// Devices coming and going: the monitor with a source fed by the test (udev cannot be driven
// here) and with watched paths on real files.
#include "port/DeviceMonitor.h"

#include "support/FakeDeviceSource.h"
#include "support/TempDir.h"

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

using Kind = DeviceEvent::Kind;

struct Seen {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::pair<Kind, std::string>> events;
    void Add(const DeviceEvent& e) {
        std::lock_guard<std::mutex> g(lock);
        events.emplace_back(e.kind, e.node);
        changed.notify_all();
    }
    bool WaitFor(size_t n) {
        std::unique_lock<std::mutex> g(lock);
        return changed.wait_for(g, std::chrono::seconds(10), [&] { return events.size() >= n; });
    }
};

TEST(DeviceMonitor, EventsOfTheSourceAndOfWatchedPathsReachEveryListener) {
    TempDir dir;
    auto feed = std::make_shared<FakeDeviceSource::Feed>();
    clDeviceMonitor monitor(std::make_unique<FakeDeviceSource>(feed));
    Seen a, b;
    monitor.AddListener([&](const DeviceEvent& e) { a.Add(e); });
    const int idB = monitor.AddListener([&](const DeviceEvent& e) { b.Add(e); });
    const std::string link = dir.file("camsim");
    monitor.WatchPaths({link});
    ASSERT_TRUE(monitor.Start());

    feed->Push(Kind::Removed, "/dev/ttyUSB0");
    feed->Push(Kind::Added, "/dev/ttyUSB0");
    ASSERT_TRUE(a.WaitFor(2));
    ASSERT_TRUE(b.WaitFor(2));
    // A watched path that appears and goes again (a simulator's link).
    std::filesystem::create_symlink("/dev/null", link);
    ASSERT_TRUE(a.WaitFor(3));
    monitor.RemoveListener(idB);
    std::filesystem::remove(link);
    ASSERT_TRUE(a.WaitFor(4));
    monitor.Stop();
    monitor.Stop();
    const std::vector<std::pair<Kind, std::string>> expected = {{Kind::Removed, "/dev/ttyUSB0"},
                                                                {Kind::Added, "/dev/ttyUSB0"},
                                                                {Kind::Added, link},
                                                                {Kind::Removed, link}};
    EXPECT_EQ(a.events, expected);
    EXPECT_EQ(b.events.size(), 3u);
}

// The watched paths are looked at when their folders change, not on a clock: a path whose
// folder is not there yet, and a link whose device goes while the link stays.
TEST(DeviceMonitor, WatchedPathsFollowFoldersThatAppearAndLinksWhoseTargetGoes) {
    TempDir dir;
    clDeviceMonitor monitor(nullptr);
    Seen seen;
    monitor.AddListener([&](const DeviceEvent& e) { seen.Add(e); });
    const std::string later = dir.file("later/sub/camsim");
    const std::string link = dir.file("camsim");
    const std::string device = dir.file("devices/ttyX");
    std::filesystem::create_directories(dir.file("devices"));
    WriteFileBytes(device, "");
    std::filesystem::create_symlink(device, link);
    monitor.WatchPaths({later, link});
    ASSERT_TRUE(monitor.Start());
    EXPECT_TRUE(monitor.EventDriven());

    std::filesystem::create_directories(dir.file("later/sub"));
    WriteFileBytes(later, "");
    ASSERT_TRUE(seen.WaitFor(1));
    std::filesystem::remove(device); // the link stays, leading nowhere
    ASSERT_TRUE(seen.WaitFor(2));
    monitor.Stop();
    const std::vector<std::pair<Kind, std::string>> expected = {{Kind::Added, later},
                                                                {Kind::Removed, link}};
    EXPECT_EQ(seen.events, expected);
}

struct MatchCase {
    const char* name;
    DeviceEvent event;
    std::vector<std::string> knownLinks;
    bool matches;
};

class DeviceEventMatch : public ::testing::TestWithParam<MatchCase> {};

TEST_P(DeviceEventMatch, NamesTheDeviceByNodeOrLink) {
    const MatchCase& c = GetParam();
    EXPECT_EQ(DeviceEventMatches(c.event, "/dev/ttyUSB0", c.knownLinks), c.matches);
}

const std::string kById = "/dev/serial/by-id/usb-FTDI_FT232R_A1B2-if00-port0";

INSTANTIATE_TEST_SUITE_P(
    Cases, DeviceEventMatch,
    ::testing::Values(
        MatchCase{"SameNode", {Kind::Added, "/dev/ttyUSB0", {}}, {}, true},
        MatchCase{"OtherNode", {Kind::Added, "/dev/ttyUSB1", {}}, {}, false},
        // The adapter came back under another node: its by-id name tells it is the same.
        MatchCase{"SameByIdOtherNode", {Kind::Added, "/dev/ttyUSB1", {kById}}, {kById}, true},
        MatchCase{"OtherById", {Kind::Added, "/dev/ttyUSB1", {kById + "x"}}, {kById}, false},
        MatchCase{"OpenedByItsLink", {Kind::Removed, "/dev/ttyUSB3", {"/dev/ttyUSB0"}}, {}, true},
        MatchCase{"EmptyNode", {Kind::Removed, "", {}}, {}, false}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
