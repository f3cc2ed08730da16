// The built-in serial port on real pseudo-terminals: exclusive access between two programs,
// the reasons of a refused open, exact line speeds, when DTR moves, and a device that goes away.
#include "SerialRig.h"
#include "app/PortReasonText.h"
#include "base/MessageTable.h"
#include "platform/SerialDevice.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

const std::string kProbe = QUILLON_TEST_BIN_DIR "/port_probe";

// The probe program (a second process on the device), optionally as another user.
class Probe {
public:
    explicit Probe(std::vector<std::string> args) {
        int out[2], in[2];
        EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
        EXPECT_EQ(::pipe2(in, O_CLOEXEC), 0);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&fa, in[0], STDIN_FILENO);
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        EXPECT_EQ(::posix_spawn(&m_pid, argv[0], &fa, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&fa);
        ::close(out[1]);
        ::close(in[0]);
        m_out = out[0];
        m_in = in[1];
    }
    ~Probe() {
        Release();
        Wait();
        ::close(m_out);
    }
    // Its one line: the Connect result and the reason.
    std::string Line() {
        std::string line;
        char c;
        while (::read(m_out, &c, 1) == 1 && c != '\n')
            line.push_back(c);
        return line;
    }
    void Release() {
        if (m_in >= 0)
            ::close(m_in);
        m_in = -1;
    }
    int Wait() {
        if (m_pid > 0) {
            int status = 0;
            ::waitpid(m_pid, &status, 0);
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            m_pid = -1;
        }
        return m_status;
    }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    int m_in = -1;
    int m_status = -1;
};

struct EnglishTexts {
    EnglishTexts() { SetUiLanguage(1, 1033); }
};

// The ports as the settings dialog would list them.
std::vector<VorlixPort> g_listed;
int ListOnly(VorlixDialogRequest& r) {
    g_listed = r.ports;
    return 0;
}
bool ListedInUse(const std::u16string& name) {
    for (const VorlixPort& p : g_listed)
        if (p.name == name)
            return p.inUse;
    ADD_FAILURE() << "not listed";
    return false;
}

TEST(PortAccess, OneDeviceServesOneProgramAtATime) {
    EnglishTexts english;
    SerialRig rig;
    rig.Entry();
    const std::u16string name = VorlixPortNameOfPath(platform::Utf8ToUtf16(rig.link));
    VorlixSetDialogHook(&ListOnly);
    ComPortParams p;
    int32_t result = 2;
    VorlixSettingDlgExW(rig.settings.c_str(), u"", name.c_str(), &p, &result, 0);
    EXPECT_FALSE(ListedInUse(name));

    // This program holds it: another one is refused, and says why.
    ASSERT_EQ(rig.ConnectHost(), 0);
    {
        Probe other({kProbe, rig.link});
        EXPECT_EQ(other.Line(), "8 " + rig.link + " is in use by another program.");
        EXPECT_EQ(other.Wait(), 8);
    }
    VorlixSettingDlgExW(rig.settings.c_str(), u"", name.c_str(), &p, &result, 0);
    EXPECT_TRUE(ListedInUse(name));
    rig.engine.StopWorker();
    rig.engine.DisconnectCamera();

    // Another program holds it: Connect gives 8 with the reason, the port stays closed.
    {
        Probe other({kProbe, rig.link, "--hold"});
        ASSERT_EQ(other.Line(), "0 ");
        VorlixSettingDlgExW(rig.settings.c_str(), u"", name.c_str(), &p, &result, 0);
        EXPECT_TRUE(ListedInUse(name));
        rig.port.Init();
        EXPECT_EQ(rig.port.Connect(), PORT_OPEN_FAILED);
        EXPECT_EQ(rig.port.IsConnected(), 0);
        EXPECT_EQ(BuiltInComPort().LastProblem().kind, platform::DeviceRefusal::Busy);
        other.Release();
        EXPECT_EQ(other.Wait(), 0);
    }
    VorlixSetDialogHook(nullptr);
    // Free again once the other program has let go.
    EXPECT_EQ(rig.port.Connect(), 0);
    EXPECT_EQ(BuiltInComPort().LastProblem().kind, platform::DeviceRefusal::None);
    rig.port.Disconnect();
}

// A device the user may not open: the refusal names what blocks. A node its group may open
// names the group to join; a node only its owner may open (0600) names the owner and the udev
// rule that gives it to a group.
struct PermissionCase {
    const char* name;
    mode_t mode;
    const char* group;
    std::string expected; // with %DEV% for the device
};

void PrintTo(const PermissionCase& c, std::ostream* os) {
    *os << c.name;
}

class PortPermission : public ::testing::TestWithParam<PermissionCase> {};

TEST_P(PortPermission, RefusalNamesWhatBlocks) {
    const PermissionCase& c = GetParam();
    if (::geteuid() != 0)
        GTEST_SKIP() << "giving the device to another owner needs root";
    EnglishTexts english;
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string slave = ::ptsname(master);
    // The probe runs as nobody, in no group; the node belongs to root and the case's group.
    const struct group* group = ::getgrnam(c.group);
    ASSERT_NE(group, nullptr);
    ASSERT_EQ(::chown(slave.c_str(), 0, group->gr_gid), 0);
    ASSERT_EQ(::chmod(slave.c_str(), c.mode), 0);
    Probe other({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--",
                 kProbe, slave});
    std::string expected = c.expected;
    expected.replace(expected.find("%DEV%"), 5, slave);
    EXPECT_EQ(other.Line(), "8 " + expected);
    EXPECT_EQ(other.Wait(), 8);
    ::close(master);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, PortPermission,
    ::testing::Values(
        PermissionCase{"GroupMayOpen", 0660, "dialout",
                       "No permission to open %DEV% (group dialout). Add your user to the group "
                       "dialout and log in again."},
        PermissionCase{"OnlyTheOwnerMayOpen", 0600, "root",
                       "No permission to open %DEV%: only its owner root may open it. Give the "
                       "device to a group (dialout, for example) with a udev rule, add your user "
                       "to that group and log in again."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PortAccess, MissingDeviceIsToldApartFromABusyOne) {
    EnglishTexts english;
    SerialRig rig;
    rig.Entry();
    const std::string gone = rig.dir.file("no-such-tty");
    BuiltInComPort().identity.devicePath = platform::Utf8ToUtf16(gone);
    rig.port.Init();
    EXPECT_EQ(rig.port.Connect(), PORT_OPEN_FAILED);
    const platform::DeviceProblem problem = BuiltInComPort().LastProblem();
    EXPECT_EQ(problem.kind, platform::DeviceRefusal::Missing);
    EXPECT_EQ(PortReasonText(BuiltInComPortReason()),
              platform::Utf8ToUtf16(gone + " does not exist: the device is not plugged in."));
    const std::vector<std::string> log = rig.Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "Open COM port Fail"), 1);
    SetUiLanguage(0, 1041);
    EXPECT_EQ(PortReasonText(BuiltInComPortReason()),
              platform::Utf8ToUtf16(gone) + u" がありません。デバイスがつながっていません。");
    SetUiLanguage(1, 1033);
}

class PortSpeed : public ::testing::TestWithParam<uint32_t> {};

TEST_P(PortSpeed, SpeedOutsideTheClassicTableIsSetExactly) {
    SerialRig rig;
    const std::u16string name = VorlixPortNameOfPath(platform::Utf8ToUtf16(rig.link));
    ComPortParams p;
    p.baudRate = GetParam();
    ASSERT_TRUE(VorlixSaveCOMportParaW(rig.settings.c_str(), name.c_str(), &p));
    rig.Entry();
    ASSERT_EQ(rig.ConnectHost(), 0);
    uint32_t in = 0, out = 0;
    ASSERT_TRUE(platform::ReadExactSpeed(BuiltInComPort().fd, in, out));
    EXPECT_EQ(in, GetParam());
    EXPECT_EQ(out, GetParam());
    EXPECT_EQ(rig.port.GetBaudRate(), GetParam());
    // And the camera still understands us.
    ASSERT_TRUE(rig.RunCommand(u"sta"));
    EXPECT_EQ(rig.events.Last().replyCode, 0);
}

INSTANTIATE_TEST_SUITE_P(OddSpeeds, PortSpeed, ::testing::Values(14400u, 100000u, 250000u, 9600u));

// A driver that does not take the rate it is asked for: it refuses it, or sets another one.
struct DriverSpeed {
    const char* name;
    int result; // of the speed call
    const char* logLine;
};

DriverSpeed g_driver;

int DriverSetsSpeed(int fd, uint32_t, uint32_t& in, uint32_t& out) {
    if (g_driver.result > 0)
        platform::SetExactSpeed(fd, 115200, in, out);
    return g_driver.result;
}

class DriverSpeedTest : public ::testing::TestWithParam<DriverSpeed> {
protected:
    DriverSpeedTest() { clPortComm::speedControl = &DriverSetsSpeed; }
    ~DriverSpeedTest() override { clPortComm::speedControl = saved; }
    clPortComm::SpeedControl saved = clPortComm::speedControl;
};

TEST_P(DriverSpeedTest, RateNotTakenFailsTheLineSettings) {
    g_driver = GetParam();
    SerialRig rig;
    rig.Entry();
    EXPECT_EQ(rig.ConnectHost(), PORT_SET_STATE_FAILED);
    const std::vector<std::string> log = rig.Log();
    EXPECT_NE(std::find(log.begin(), log.end(), g_driver.logLine), log.end()) << g_driver.logLine;
}

INSTANTIATE_TEST_SUITE_P(
    Drivers, DriverSpeedTest,
    ::testing::Values(DriverSpeed{"Refused", -1, "Line speed 9600 bps refused by the driver"},
                      DriverSpeed{"Changed", 1,
                                  "Line speed 9600 bps asked, the driver set 115200/115200 bps"}),
    [](const auto& info) { return std::string(info.param.name); });

// Pseudo-terminals have no modem lines (TIOCMGET/TIOCMBIS fail on them), so what DTR does is
// recorded at the port's modem-control call instead of read back from a line.
struct DtrStep {
    unsigned long request;
    bool receiveThreadRunning;
};
std::vector<DtrStep> g_dtr;
int RecordDtr(int, unsigned long request, int* bits) {
    if (bits && (*bits & TIOCM_DTR))
        g_dtr.push_back({request, BuiltInComPort().ReceiveThreadRunning()});
    return 0;
}

struct DtrRecorder {
    DtrRecorder() {
        g_dtr.clear();
        clPortComm::modemControl = &RecordDtr;
    }
    ~DtrRecorder() { clPortComm::modemControl = saved; }
    clPortComm::ModemControl saved = clPortComm::modemControl;
};

TEST(PortAccess, DtrFollowsDtrControl) {
    {
        SerialRig rig; // "DTR Control" 0: lowered right after the open, never raised
        DtrRecorder recorder;
        rig.Entry();
        ASSERT_EQ(rig.ConnectHost(), 0);
        ASSERT_EQ(g_dtr.size(), 1u);
        EXPECT_EQ(g_dtr[0].request, static_cast<unsigned long>(TIOCMBIC));
        EXPECT_FALSE(g_dtr[0].receiveThreadRunning);
        rig.engine.StopWorker();
        rig.engine.DisconnectCamera();
        EXPECT_EQ(g_dtr.size(), 1u);
    }
    {
        SerialRig rig; // 1: raised once the receive thread runs, lowered before it stops
        platform::WriteSetting(u"COM port(Build In)", u"DTR Control", u"1", rig.settings);
        DtrRecorder recorder;
        rig.Entry();
        ASSERT_EQ(rig.ConnectHost(), 0);
        ASSERT_EQ(g_dtr.size(), 1u);
        EXPECT_EQ(g_dtr[0].request, static_cast<unsigned long>(TIOCMBIS));
        EXPECT_TRUE(g_dtr[0].receiveThreadRunning);
        rig.engine.StopWorker();
        rig.engine.DisconnectCamera();
        ASSERT_EQ(g_dtr.size(), 2u);
        EXPECT_EQ(g_dtr[1].request, static_cast<unsigned long>(TIOCMBIC));
        EXPECT_TRUE(g_dtr[1].receiveThreadRunning);
    }
}

TEST(PortAccess, VanishedDeviceIsReportedOnceAndSendsFailAtOnce) {
    SerialRig rig;
    rig.Entry();
    std::mutex lock;
    std::vector<std::u16string> lost;
    BuiltInComPort().SetLossHandler([&](const std::u16string& device) {
        std::lock_guard<std::mutex> g(lock);
        lost.push_back(device);
    });
    ASSERT_EQ(rig.ConnectHost(), 0);
    EXPECT_EQ(BuiltInComPort().ConnectedDevice(), platform::Utf8ToUtf16(rig.link));
    ASSERT_TRUE(rig.RunCommand(u"sta"));
    // The simulator's side closes: the terminal hangs up under the open descriptor.
    rig.server.Stop();
    rig.server.CloseTerminal();
    EXPECT_TRUE(WaitUntil([] { return BuiltInComPort().LinkLost(); }));
    BuiltInComPort().MarkLost(); // the device monitor may report it too: still once
    {
        std::lock_guard<std::mutex> g(lock);
        EXPECT_EQ(lost, (std::vector<std::u16string>{platform::Utf8ToUtf16(rig.link)}));
    }
    const uint8_t b = 'a';
    EXPECT_EQ(rig.port.SendData(&b, 1), 5);
    rig.engine.StopWorker();
    rig.engine.DisconnectCamera();
    EXPECT_FALSE(BuiltInComPort().LinkLost() && rig.port.IsConnected());
}

TEST(PortAccess, ReturnedDeviceServesAgainAfterDisconnectAndConnect) {
    SerialRig rig;
    rig.Entry();
    ASSERT_EQ(rig.ConnectHost(), 0);
    rig.engine.StopWorker();
    rig.server.Stop();
    rig.server.CloseTerminal();
    ASSERT_TRUE(WaitUntil([] { return BuiltInComPort().LinkLost(); }));
    // The device comes back under the same name; the port is closed and opened again.
    ASSERT_TRUE(rig.server.Open(rig.link));
    ASSERT_TRUE(rig.server.Start());
    rig.port.Disconnect();
    rig.port.Uninit();
    rig.port.Init();
    ASSERT_EQ(rig.port.Connect(), 0);
    EXPECT_FALSE(BuiltInComPort().LinkLost());
    const std::string command = "sta\r";
    EXPECT_EQ(rig.port.SendData(reinterpret_cast<const uint8_t*>(command.data()),
                                static_cast<uint32_t>(command.size())),
              0);
    EXPECT_TRUE(
        WaitUntil([&] { return rig.server.Received().find(command) != std::string::npos; }));
}

} // namespace
