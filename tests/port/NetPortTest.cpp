// The built-in port on network addresses: the camera simulator served on TCP, and Telnet
// servers of the test's own for what a real serial device server does not do on request
// (another line speed, no COM-PORT-OPTION, Telnet and 0xFF in the replies, silence).
#include "SerialRig.h"
#include "app/PortReasonText.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// A listening socket on a free port of the loopback that never accepts (the kernel completes
// connections into its backlog), or, closed at once, a port where nothing listens.
struct Listener {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    uint16_t port = 0;
    Listener() {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(::listen(fd, 4), 0);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~Listener() { Close(); }
    void Close() {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    std::string Address(const char* scheme) const {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(port);
    }
};

// A Telnet server with the COM-PORT-OPTION for one client: agrees to the option (unless
// refuseComPort), answers every request as asked (the speed as setBaud when that is not 0) and
// every command line with reply, bytes as they are. Data it received, Telnet taken out, in data.
class TelnetServer {
public:
    uint32_t setBaud = 0;
    bool refuseComPort = false;
    std::string reply;

    ~TelnetServer() {
        m_stop.Set();
        if (m_thread.joinable())
            m_thread.join();
    }
    std::string Address() const { return m_listener.Address("rfc2217"); }
    void Start() {
        m_thread = std::thread([this] { Serve(); });
    }
    std::string Data() {
        std::lock_guard<std::mutex> g(m_lock);
        return m_data;
    }

private:
    static std::string B(std::initializer_list<int> bytes) {
        std::string s;
        for (int b : bytes)
            s.push_back(static_cast<char>(b));
        return s;
    }
    void Send(int fd, const std::string& bytes) {
        (void)::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    void Answer(int fd, std::string sub) {
        if (sub.size() < 2 || static_cast<uint8_t>(sub[0]) != 44)
            return;
        if (sub[1] == 1 && setBaud != 0)
            sub = B({44, 1, int(setBaud >> 24) & 255, int(setBaud >> 16) & 255,
                     int(setBaud >> 8) & 255, int(setBaud) & 255});
        sub[1] = static_cast<char>(sub[1] + 100);
        std::string escaped;
        for (char c : sub.substr(1))
            escaped += c == '\xff' ? std::string("\xff\xff") : std::string(1, c);
        Send(fd, B({255, 250, 44}) + escaped + B({255, 240}));
    }
    void Serve() {
        pollfd p[2] = {{m_stop.Fd(), POLLIN, 0}, {m_listener.fd, POLLIN, 0}};
        if (::poll(p, 2, ScaledMs(10000)) <= 0 || (p[0].revents & POLLIN))
            return;
        const int fd = ::accept4(m_listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
        Send(fd, B({255, refuseComPort ? 254 : 253, 44, 255, 251, 0, 255, 253, 0}));
        enum { Data, Iac, Verb, Sub, SubIac } state = Data;
        std::string sub;
        char buf[512];
        for (;;) {
            pollfd q[2] = {{m_stop.Fd(), POLLIN, 0}, {fd, POLLIN, 0}};
            if (::poll(q, 2, -1) <= 0 || (q[0].revents & POLLIN))
                break;
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            for (ssize_t i = 0; i < n; ++i) {
                const uint8_t b = static_cast<uint8_t>(buf[i]);
                if (state == Data && b == 255) {
                    state = Iac;
                } else if (state == Data) {
                    std::lock_guard<std::mutex> g(m_lock);
                    m_data.push_back(static_cast<char>(b));
                    if (b == '\r')
                        Send(fd, reply);
                } else if (state == Iac) {
                    if (b == 255) {
                        std::lock_guard<std::mutex> g(m_lock);
                        m_data.push_back(static_cast<char>(b));
                    }
                    state = b == 250 ? Sub : b >= 251 && b <= 254 ? Verb : Data;
                    sub.clear();
                } else if (state == Verb) {
                    state = Data;
                } else if (state == Sub) {
                    state = b == 255 ? SubIac : Sub;
                    if (b != 255)
                        sub.push_back(static_cast<char>(b));
                } else {
                    if (b == 240)
                        Answer(fd, sub);
                    else
                        sub.push_back(static_cast<char>(b));
                    state = b == 240 ? Data : Sub;
                }
            }
        }
        ::close(fd);
    }

    Listener m_listener;
    platform::Event m_stop{platform::Event::Reset::Manual};
    std::thread m_thread;
    std::mutex m_lock;
    std::string m_data;
};

TEST(NetPort, SimulatorOnTcpIsAPortOfItsOwnNameAndRunsTransactions) {
    SerialRig rig({}, true, SerialRig::Link::Tcp);
    rig.Entry();
    EXPECT_EQ(std::u16string(rig.table->GetPortName()),
              u"tcp-127.0.0.1-" + platform::Utf8ToUtf16(std::to_string(rig.server.ListenPort())));
    EXPECT_EQ(BuiltInComPort().identity.devicePath, platform::Utf8ToUtf16(rig.link));
    ASSERT_EQ(rig.ConnectHost(), 0);
    ASSERT_TRUE(rig.RunCommand(u"sta"));
    EXPECT_EQ(rig.events.Last().replyCode, 0);
    EXPECT_EQ(rig.events.Drained().front(), u">Model=XC-100");
    EXPECT_EQ(rig.server.Received(), "sta\r");
}

// How a connection to each kind of bad server ends: the Connect result, the reason (which
// names the address) and whether the host's disconnect still has something to close.
struct RefusalCase {
    const char* name;
    enum Server { None, Unknown, Malformed, Full, Silent, NoComPort, OtherSpeed } server;
    int32_t code;
    int32_t kind;
};

class NetPortRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(NetPortRefusal, FailsConnectWithTheReasonNamingTheAddress) {
    const RefusalCase& c = GetParam();
    SerialRig rig({}, true, SerialRig::Link::Tcp);
    rig.params.sendTimeout = 500;
    Listener listener;
    TelnetServer telnet;
    telnet.refuseComPort = c.server == RefusalCase::NoComPort;
    telnet.setBaud = c.server == RefusalCase::OtherSpeed ? 9600 : 0;
    std::string address = listener.Address("tcp");
    int client = -1;
    switch (c.server) {
    case RefusalCase::None:
        listener.Close();
        break;
    case RefusalCase::Unknown:
        address = "tcp://nohost.invalid:4001";
        break;
    case RefusalCase::Malformed:
        address = "tcp://127.0.0.1";
        break;
    case RefusalCase::Full:
        // Another client holds the simulator.
        address = rig.link;
        client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        {
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(rig.server.ListenPort());
            ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        }
        ASSERT_TRUE(WaitUntil([&] { return rig.server.Connections() == 1; }));
        break;
    case RefusalCase::Silent:
        address = listener.Address("rfc2217");
        break;
    case RefusalCase::NoComPort:
    case RefusalCase::OtherSpeed:
        telnet.Start();
        address = telnet.Address();
        break;
    }
    // The stored parameters of the port apply: 115200 bps.
    ComPortParams params;
    params.baudRate = 115200;
    VorlixSaveCOMportParaW(rig.settings.c_str(),
                           VorlixPortNameOfPath(platform::Utf8ToUtf16(address)).c_str(), &params);
    rig.Entry();
    clPortComm& com = BuiltInComPort();
    com.identity.portName = VorlixPortNameOfPath(platform::Utf8ToUtf16(address));
    com.identity.devicePath = platform::Utf8ToUtf16(address);
    const auto start = Clock::now();
    EXPECT_EQ(rig.ConnectHost(), c.code);
    const auto took = Clock::now() - start;
    EXPECT_EQ(rig.port.IsConnected(), c.code == PORT_SET_STATE_FAILED ? 1 : 0);
    const PortReasonInfo reason = BuiltInComPortReason();
    EXPECT_EQ(reason.kind, c.kind);
    EXPECT_NE(PortReasonText(reason).find(platform::Utf8ToUtf16(address)), std::u16string::npos)
        << platform::Utf16ToUtf8(PortReasonText(reason));
    if (c.server == RefusalCase::Silent) {
        EXPECT_GE(took, std::chrono::milliseconds(500)) << "waits out the send time-out";
    }
    if (c.server == RefusalCase::OtherSpeed) {
        EXPECT_EQ(reason.number, 115200u);
        EXPECT_EQ(reason.count, 9600u);
        const std::vector<std::string> log = rig.Log();
        EXPECT_NE(std::find(log.begin(), log.end(),
                            address + ": line speed 115200 asked, the server set 9600"),
                  log.end());
    }
    rig.port.Disconnect();
    rig.port.Uninit();
    if (client >= 0)
        ::close(client);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NetPortRefusal,
    ::testing::Values(
        RefusalCase{"NothingListens", RefusalCase::None, PORT_OPEN_FAILED,
                    PORT_REASON_CONNECTION_REFUSED},
        RefusalCase{"HostUnknown", RefusalCase::Unknown, PORT_OPEN_FAILED,
                    PORT_REASON_HOST_UNKNOWN},
        RefusalCase{"Malformed", RefusalCase::Malformed, PORT_OPEN_FAILED, PORT_REASON_BAD_ADDRESS},
        RefusalCase{"ServerFull", RefusalCase::Full, PORT_OPEN_FAILED, PORT_REASON_SERVER_FULL},
        RefusalCase{"AcceptsAndNeverAnswers", RefusalCase::Silent, PORT_OPEN_FAILED,
                    PORT_REASON_NO_ANSWER},
        RefusalCase{"NoComPortOption", RefusalCase::NoComPort, PORT_SET_STATE_FAILED,
                    PORT_REASON_NO_COM_PORT_OPTION},
        RefusalCase{"ServerSetsAnotherSpeed", RefusalCase::OtherSpeed, PORT_SET_STATE_FAILED,
                    PORT_REASON_SPEED_CHANGED}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(NetPort, TelnetAmongRepliesNeverReachesTheRingAndFfGoesBothWays) {
    SerialRig rig({}, true, SerialRig::Link::Tcp);
    TelnetServer telnet;
    // ">V=" 0xFF, with a Telnet command, an answer and a stray negotiation in the middle.
    telnet.reply = std::string(">OK\r\n>V=\xff\xff\xff\xf1\r") + "\xff\xfa\x2c\x6b\x00\xff\xf0" +
                   "\xff\xfb\x01" + "\n\x04";
    telnet.Start();
    rig.Entry();
    BuiltInComPort().identity.devicePath = platform::Utf8ToUtf16(telnet.Address());
    ASSERT_EQ(rig.ConnectHost(), 0);
    ASSERT_TRUE(rig.RunCommand(u"sta"));
    EXPECT_EQ(rig.events.Last().replyCode, 0);
    EXPECT_EQ(rig.events.Drained(), std::vector<std::u16string>{u">V=\u00ff"});
    const uint8_t raw[] = {'x', 0xff, 'y', '\r'};
    ASSERT_EQ(rig.port.SendData(raw, sizeof raw), 0);
    EXPECT_TRUE(WaitUntil([&] { return telnet.Data() == "sta\rx\xffy\r"; })) << telnet.Data();
}

TEST(NetPort, ConnectionThatEndsIsLostAndTheServerIsTriedUntilItTakesAClientAgain) {
    CamSimFaults faults;
    faults.closeAfterCommands = 2; // each connection is dropped at its second command
    SerialRig rig(faults, true, SerialRig::Link::Tcp);
    rig.Entry();
    WatchedLink link;
    clPortLinkWatch& watch = link.watch;
    LinkNews& news = link.news;
    ASSERT_EQ(rig.ConnectHost(20000, 20000), 0);
    watch.Connected();
    ASSERT_TRUE(rig.RunCommand(u"sta"));

    // The server drops the connection on "gai 1": lost at once, the command ends, not resent.
    rig.engine.SubmitCommandJob(u"gai 1");
    ASSERT_TRUE(news.Wait(news.lost, 1, 1000));
    rig.engine.CancelReceiving(); // what the host does on the news
    ASSERT_TRUE(rig.events.WaitFor(Ev::JobEnded, 2));
    EXPECT_EQ(rig.events.Last().status, STATUS_RECEIVE_CANCELLED);
    rig.engine.StopWorker();
    rig.engine.DisconnectCamera();

    // Meanwhile the server is away for a while; the watch keeps trying.
    const uint16_t port = rig.server.ListenPort();
    rig.server.CloseListener();
    watch.Disconnected(true);
    EXPECT_TRUE(watch.AwaitingReturn());
    EXPECT_FALSE(news.Wait(news.returned, 1, 1500));
    rig.server.Stop();
    ASSERT_TRUE(rig.server.Listen("127.0.0.1:" + std::to_string(port)));
    ASSERT_TRUE(rig.server.Start());
    ASSERT_TRUE(news.Wait(news.returned, 1));
    EXPECT_EQ(news.returned.front(), platform::Utf8ToUtf16(rig.link));
    ASSERT_TRUE(rig.ConnectHostRetrying());
    ASSERT_TRUE(rig.RunCommand(u"sta"));
    EXPECT_EQ(rig.events.Last().replyCode, 0);
    const std::string received = rig.server.Received();
    EXPECT_EQ(received, "sta\rgai 1\rsta\r");
}

TEST(NetPort, SendThatCannotGoOutInTimeDropsTheConnection) {
    CamSimFaults faults;
    faults.readNothing = true;
    SerialRig rig(faults, true, SerialRig::Link::Tcp);
    rig.params.sendTimeout = 300;
    rig.Entry();
    LinkNews news;
    BuiltInComPort().SetLossHandler([&](const std::u16string& d) { news.Add(news.lost, d); });
    ASSERT_EQ(rig.ConnectHost(), 0);
    const std::vector<uint8_t> flood(64u << 20, 'x');
    EXPECT_EQ(rig.port.SendData(flood.data(), static_cast<uint32_t>(flood.size())),
              PORT_SEND_FAILED);
    ASSERT_TRUE(news.Wait(news.lost, 1));
    const uint8_t b = 'a';
    EXPECT_EQ(rig.port.SendData(&b, 1), PORT_SEND_FAILED);
}

} // namespace
