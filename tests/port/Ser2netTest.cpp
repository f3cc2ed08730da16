// End to end through a real serial device server: Debian's ser2net, started here on the
// loopback with a configuration the test writes, in front of the camera simulator's
// pseudo-terminal, once raw (tcp://) and once with the COM-PORT-OPTION (rfc2217://).
#include "SerialRig.h"
#include "app/PortReasonText.h"
#include "platform/SerialDevice.h"

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

const char kSer2net[] = "/usr/sbin/ser2net";

uint16_t FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

// Whether something listens on the loopback port (read from /proc, without connecting: a
// connection would make ser2net open the device).
bool Listening(uint16_t port) {
    char local[32];
    std::snprintf(local, sizeof local, "0100007F:%04X", port);
    std::ifstream in("/proc/net/tcp");
    std::string line;
    while (std::getline(in, line))
        if (line.find(local) != std::string::npos && line.find(" 0A ") != std::string::npos)
            return true;
    return false;
}

class Ser2net {
public:
    Ser2net(const TempDir& dir, const std::string& device)
        : m_config(dir.file("ser2net.yaml")), m_out(dir.file("ser2net.out")) {
        std::ofstream out(m_config);
        out << "%YAML 1.1\n---\n";
        for (const auto& [accepter, port] : {std::pair{"", m_raw}, {"telnet(rfc2217),", m_rfc}})
            out << "connection: &c" << port << "\n    accepter: " << accepter << "tcp,127.0.0.1,"
                << port << "\n    connector: serialdev," << device << ",9600n81,local\n";
    }
    ~Ser2net() { Kill(); }

    bool Start() {
        std::vector<std::string> args = {kSer2net, "-n", "-u", "-c", m_config};
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, m_out.c_str(), O_WRONLY | O_CREAT, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        const bool spawned =
            ::posix_spawn(&m_pid, kSer2net, &actions, nullptr, argv.data(), environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        return spawned && WaitUntil([&] { return Listening(m_raw) && Listening(m_rfc); });
    }
    void Kill() {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    std::string Raw() const { return "tcp://127.0.0.1:" + std::to_string(m_raw); }
    std::string Rfc2217() const { return "rfc2217://127.0.0.1:" + std::to_string(m_rfc); }

private:
    std::string m_config, m_out;
    uint16_t m_raw = FreePort();
    uint16_t m_rfc = FreePort();
    pid_t m_pid = -1;
};

class Ser2netTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::access(kSer2net, X_OK), 0)
            << kSer2net << " is missing: scripts/install-deps.sh installs it";
    }
    // The host's connect sequence on address, with the parameters stored for its name; a
    // server still closing the last connection may refuse a moment.
    static bool ConnectTo(SerialRig& rig, const std::string& address) {
        clPortComm& com = BuiltInComPort();
        com.identity.portName = VorlixPortNameOfPath(platform::Utf8ToUtf16(address));
        com.identity.devicePath = platform::Utf8ToUtf16(address);
        return rig.ConnectHostRetrying();
    }
    static void Close(SerialRig& rig) {
        rig.engine.StopWorker();
        rig.engine.DisconnectCamera();
    }
};

TEST_F(Ser2netTest, RawAndRfc2217CarryTransactionsAndTheSpeedReachesTheTerminal) {
    SerialRig rig;
    Ser2net server(rig.dir, rig.server.DevicePath());
    ASSERT_TRUE(server.Start());
    rig.Entry();

    ASSERT_TRUE(ConnectTo(rig, server.Raw()));
    ASSERT_TRUE(rig.RunCommand(u"sta"));
    EXPECT_EQ(rig.events.Last().replyCode, 0);
    Close(rig);

    // Any speed, stored for the port's name, and DTR raised.
    ComPortParams params;
    params.baudRate = 250000;
    params.dataBits = 7;
    params.parity = VORLIX_PARITY_EVEN;
    params.stopBits = VORLIX_STOP_TWO;
    VorlixSaveCOMportParaW(rig.settings.c_str(),
                           VorlixPortNameOfPath(platform::Utf8ToUtf16(server.Rfc2217())).c_str(),
                           &params);
    platform::WriteSetting(clPortComm::kSection, u"DTR Control", u"1", rig.settings);
    ASSERT_TRUE(ConnectTo(rig, server.Rfc2217()));
    // The line of the terminal, as ser2net set it on our request (a pseudo-terminal keeps 8
    // bits without parity whatever it is asked; speed and stop bits it takes).
    uint32_t in = 0, out = 0;
    ASSERT_TRUE(platform::ReadExactSpeed(rig.server.MasterFd(), in, out));
    EXPECT_EQ(out, 250000u);
    termios line{};
    ASSERT_EQ(::tcgetattr(rig.server.MasterFd(), &line), 0);
    EXPECT_TRUE(line.c_cflag & CSTOPB);
    EXPECT_EQ(rig.port.GetBaudRate(), 250000u);
    ASSERT_TRUE(rig.RunCommand(u"sta"));
    EXPECT_EQ(rig.events.Last().replyCode, 0);
    // A pseudo-terminal has no DTR: ser2net does not acknowledge it, which is only logged.
    const std::vector<std::string> log = rig.Log();
    EXPECT_NE(std::find(log.begin(), log.end(),
                        server.Rfc2217() +
                            ": the server acknowledged 1 of 2 control requests (flow control, "
                            "DTR on)"),
              log.end());

    // A second client: ser2net takes one at a time.
    platform::NetAddress address;
    ASSERT_EQ(platform::ParseNetAddress(server.Rfc2217(), address),
              platform::NetAddressError::None);
    clNetLink second(address);
    PortReasonInfo reason;
    EXPECT_EQ(second.Open(
                  params, false, 2000, [](const std::string&) {}, reason),
              PORT_OPEN_FAILED);
    EXPECT_EQ(reason.kind, PORT_REASON_SERVER_FULL);
    EXPECT_NE(PortReasonText(reason).find(u"Port already in use"), std::u16string::npos);
    ASSERT_TRUE(rig.RunCommand(u"sta"));
    EXPECT_EQ(rig.events.Last().replyCode, 0) << "the first client keeps working";
    Close(rig);
}

TEST_F(Ser2netTest, KilledMidReplyIsLostWithinASecondAndRestartedIsReconnected) {
    CamSimFaults faults;
    faults.chunkBytes = 4; // "sta" is answered over about half a second
    faults.chunkGapMs = 40;
    SerialRig rig(faults);
    Ser2net server(rig.dir, rig.server.DevicePath());
    ASSERT_TRUE(server.Start());
    rig.Entry();
    WatchedLink link;
    clPortLinkWatch& watch = link.watch;
    LinkNews& news = link.news;
    ASSERT_TRUE(ConnectTo(rig, server.Rfc2217()));
    watch.Connected();

    rig.engine.SubmitCommandJob(u"sta");
    ASSERT_TRUE(WaitUntil([&] { return rig.engine.Ring().WrittenCount() > 0; }));
    server.Kill();
    const auto killed = Clock::now();
    ASSERT_TRUE(news.Wait(news.lost, 1, 1000));
    EXPECT_LT(Clock::now() - killed, Scaled(std::chrono::milliseconds(1000)));
    rig.engine.CancelReceiving();
    ASSERT_TRUE(rig.events.WaitFor(Ev::JobEnded, 1));
    EXPECT_NE(rig.events.Last().status, STATUS_REPLY_COMPLETE);
    Close(rig);
    watch.Disconnected(true);

    ASSERT_TRUE(server.Start());
    ASSERT_TRUE(news.Wait(news.returned, 1));
    ASSERT_TRUE(rig.ConnectHostRetrying());
    ASSERT_TRUE(rig.RunCommand(u"sta"));
    EXPECT_EQ(rig.events.Last().replyCode, 0);
    EXPECT_EQ(rig.server.Commands(), 2) << "nothing sent twice";
}

} // namespace
