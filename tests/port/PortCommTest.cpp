// The built-in serial port on real pseudo-terminals, against the camera simulator.
#include "SerialRig.h"
#include "camdef/CamPropertyMgr.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

int CountOf(const std::vector<std::string>& lines, const std::string& text) {
    return static_cast<int>(std::count(lines.begin(), lines.end(), text));
}

// What the main window does with the reply lines of "sta" and of property replies.
void HandleReplyLines(clCommunicateModel& engine, clCamPropertyMgr* mgr,
                      const std::vector<std::u16string>& lines) {
    for (const std::u16string& line : lines) {
        if (line.rfind(u">Model=", 0) == 0)
            engine.SetCameraModel(line.substr(7));
        else if (line.rfind(u">Ver.=", 0) == 0)
            engine.SetCameraVersion(line.substr(6));
        else if (line.rfind(u">Serial=", 0) == 0)
            engine.SetCameraSerial(line.substr(8));
        else if (mgr) {
            int updated = 0;
            mgr->ParseReplyLine(std::u16string_view(line).substr(1), updated);
        }
    }
}

TEST(PortComm, StaAndPropertyJobThroughTheWholeEngine) {
    SerialRig rig;
    rig.Entry();
    EXPECT_EQ(rig.table->GetInterfaceName(), std::u16string(u"COM port(Build In)"));
    EXPECT_EQ(std::u16string(rig.table->GetPortName()),
              VorlixPortNameOfPath(platform::Utf8ToUtf16(rig.link)));
    EXPECT_EQ(rig.port.GetBaudRate(), 9600u);
    ASSERT_EQ(rig.ConnectHost(), 0);
    EXPECT_EQ(rig.port.IsConnected(), 1);

    // "sta": the identity lines come back and set the identity texts.
    ASSERT_TRUE(rig.RunCommand(u"sta"));
    EXPECT_EQ(rig.events.Last().status, STATUS_REPLY_COMPLETE);
    EXPECT_EQ(rig.events.Last().replyCode, 0);
    HandleReplyLines(rig.engine, nullptr, rig.events.Drained());
    EXPECT_EQ(rig.engine.CameraModel(), u"XC-100");
    EXPECT_EQ(rig.engine.CameraVersion(), u"1.00");
    EXPECT_EQ(rig.engine.CameraSerial(), u"12345");
    EXPECT_EQ(rig.server.Received(), "sta\r");

    // A property job writes a value; the simulator keeps it and reports it back.
    // The engine's own property manager and command source, as the program uses them.
    clCamPropertyMgr& mgr = rig.engine.PropertyManager();
    mgr.SetSchemaPathFormat(
        platform::Utf8ToUtf16(SourceFile("CamDefine/OrvaCamSchema_v%d_%d.xsd")));
    ASSERT_EQ(mgr.Load(platform::Utf8ToUtf16(SourceFile("CamDefine/XC-100.xml"))), 0);
    auto* gain = PropertyAs<clCamPropertyInteger>(mgr.FindProperty(u"Gain"));
    ASSERT_NE(gain, nullptr);
    const int64_t wanted = gain->value == 7 ? 8 : 7;
    mgr.SetIntegerValue(gain, wanted);
    rig.events.Clear();
    ASSERT_TRUE(rig.RunJob([&] { rig.engine.RunPropertyJob(gain); }));
    EXPECT_EQ(rig.events.Last().replyCode, 0);
    {
        std::lock_guard<std::mutex> g(rig.server.SimLock());
        int64_t simValue = -1;
        CamPropertyType type{};
        rig.sim.Manager().GetValueAsInteger(u"Gain", simValue, type);
        EXPECT_EQ(simValue, wanted);
    }
    // Asked for again, the camera reports the value it keeps.
    mgr.SetIntegerValue(gain, 0);
    rig.events.Clear();
    ASSERT_TRUE(rig.RunCommand(u"gai"));
    HandleReplyLines(rig.engine, &mgr, rig.events.Drained());
    EXPECT_EQ(gain->value, wanted);
    // Unknown commands are refused by the camera, not by the port.
    ASSERT_TRUE(rig.RunCommand(u"zzz"));
    EXPECT_EQ(rig.events.Last().replyCode, 1);

    // A second Connect changes nothing; the first connection keeps working.
    EXPECT_EQ(rig.port.Connect(), 1);
    ASSERT_TRUE(rig.RunCommand(u"sta"));
    EXPECT_EQ(rig.events.Last().replyCode, 0);

    rig.engine.StopWorker();
    rig.engine.DisconnectCamera();
    EXPECT_EQ(rig.port.IsConnected(), 0);
    EXPECT_FALSE(BuiltInComPort().ReceiveThreadRunning());
}

TEST(PortComm, DeviceThatCannotBeOpenedGivesEightAndStaysClosed) {
    SerialRig rig({}, false);
    rig.Entry();
    EXPECT_EQ(std::u16string(rig.table->GetPortName()), u"No settings");
    EXPECT_EQ(rig.ConnectHost(), PORT_OPEN_FAILED);
    EXPECT_EQ(rig.port.IsConnected(), 0);
    rig.port.Disconnect(); // nothing to do
    rig.port.Uninit();
    rig.port.Uninit();
    EXPECT_EQ(CountOf(rig.Log(), "Open COM port Fail"), 1);
}

TEST(PortComm, FailureAfterOpenKeepsThePortOpenUntilDisconnect) {
    SerialRig rig;
    rig.Entry();
    // Not a terminal: the line settings cannot be read.
    BuiltInComPort().identity.devicePath = u"/dev/null";
    EXPECT_EQ(rig.ConnectHost(), PORT_GET_STATE_FAILED);
    EXPECT_EQ(rig.port.IsConnected(), 1);
    rig.port.Disconnect();
    EXPECT_EQ(rig.port.IsConnected(), 0);
    EXPECT_EQ(CountOf(rig.Log(), "GetCommState Fail"), 1);
}

TEST(PortComm, DtrOnPseudoTerminalFailsWithFourteenAfterTheThreadStarted) {
    SerialRig rig;
    platform::WriteSetting(u"COM port(Build In)", u"DTR Control", u"1", rig.settings);
    rig.Entry();
    EXPECT_EQ(BuiltInComPort().dtrFlag, 1);
    EXPECT_EQ(rig.ConnectHost(), PORT_DTR_FAILED);
    EXPECT_EQ(rig.port.IsConnected(), 1);
    EXPECT_TRUE(BuiltInComPort().ReceiveThreadRunning());
    EXPECT_EQ(CountOf(rig.Log(), "Set DTR  Fail"), 1);
    // The host's disconnect sequence closes it.
    rig.port.Disconnect();
    rig.port.Uninit();
    EXPECT_EQ(rig.port.IsConnected(), 0);
    EXPECT_FALSE(BuiltInComPort().ReceiveThreadRunning());
}

TEST(PortComm, SendThatCannotCompleteReturnsFiveWithinTheTimeOut) {
    CamSimFaults faults;
    faults.readNothing = true; // the terminal's buffers fill up
    SerialRig rig(faults);
    rig.Entry();
    rig.params.sendTimeout = 300;
    ASSERT_EQ(rig.ConnectHost(), 0);
    EXPECT_EQ(BuiltInComPort().sendTimeout, 300);
    const std::string big(4 << 20, 'x');
    const auto start = Clock::now();
    EXPECT_EQ(rig.port.SendData(reinterpret_cast<const uint8_t*>(big.data()),
                                static_cast<uint32_t>(big.size())),
              5);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_GE(ms, 250);
    EXPECT_LT(ms, 3000);
    rig.port.Disconnect();
    EXPECT_EQ(rig.port.IsConnected(), 0);
    // Not connected: nothing can go out.
    const uint8_t b = 'a';
    EXPECT_EQ(rig.port.SendData(&b, 1), 5);
}

TEST(PortComm, UnknownStoredPortIsReportedOnceAtStartAndMissingKeyNever) {
    {
        SerialRig rig({}, false);
        platform::WriteSetting(u"CAMERA_COMM_Ch00", u"COM Port Name", u"ttyGONE9", rig.settings);
        rig.Entry();
        EXPECT_EQ(std::u16string(rig.table->GetPortName()), u"No settings");
        EXPECT_EQ(BuiltInComPort().identity.index, -1);
        const auto lines = rig.Log();
        EXPECT_EQ(CountOf(lines, "COMport Lost."), 1);
        EXPECT_EQ(CountOf(lines, "COMport Lost.."), 0); // "No settings" now: nothing more
    }
    {
        SerialRig rig({}, false);
        rig.Entry(); // no key at all
        EXPECT_EQ(std::u16string(rig.table->GetPortName()), u"No settings");
        EXPECT_EQ(rig.Log().size(), 0u);
    }
}

TEST(PortComm, PortThatVanishesBeforeSelectionIsReportedAtSelection) {
    SerialRig rig;
    rig.table = GetBuiltInComInterface(&rig.params);
    EXPECT_NE(std::u16string(rig.table->GetPortName()), u"No settings");
    rig.server.Stop();
    rig.server.CloseTerminal(); // the link goes away with the terminal
    rig.port.opTable = rig.table->GetSelectedPortIF();
    EXPECT_EQ(std::u16string(rig.table->GetPortName()), u"No settings");
    EXPECT_EQ(CountOf(rig.Log(), "COMport Lost.."), 1);
}

TEST(PortComm, DeviceVanishingMidReplyEndsByTimeOutAndDisconnects) {
    CamSimFaults faults;
    faults.closeMidReply = true;
    SerialRig rig(faults);
    rig.Entry();
    ASSERT_EQ(rig.ConnectHost(600, 600), 0);
    const auto start = Clock::now();
    ASSERT_TRUE(rig.RunCommand(u"sta"));
    EXPECT_EQ(rig.events.Last().status, STATUS_RECEIVE_TIMEOUT);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(),
              5000);
    // The receive thread ended on its own; the port stays open until the host disconnects.
    EXPECT_TRUE(WaitUntil([] { return !BuiltInComPort().ReceiveThreadRunning(); }));
    EXPECT_EQ(rig.port.IsConnected(), 1);
    EXPECT_GT(BuiltInComPort().totalReceived, 0u);
    rig.engine.StopWorker();
    rig.engine.DisconnectCamera();
    EXPECT_EQ(rig.port.IsConnected(), 0);
    EXPECT_EQ(CountOf(rig.Log(), "COM port receive ended: device lost"), 1);
}

TEST(PortComm, StagingChunksEndAtTheBufferEndAndWrap) {
    SerialRig rig;
    rig.Entry();
    struct Seen {
        std::mutex lock;
        std::vector<std::pair<size_t, uint32_t>> chunks; // offset in staging, length
        std::string bytes;
        const uint8_t* base = nullptr;
    } seen;
    ASSERT_EQ(rig.port.SetReceiveCallback(
                  [](const uint8_t* b, uint32_t n, void* user) {
                      auto* s = static_cast<Seen*>(user);
                      std::lock_guard<std::mutex> g(s->lock);
                      s->chunks.emplace_back(static_cast<size_t>(b - s->base), n);
                      s->bytes.append(reinterpret_cast<const char*>(b), n);
                  },
                  &seen),
              0);
    ASSERT_EQ(rig.port.Init(), 0);
    ASSERT_EQ(rig.port.Connect(), 0);
    seen.base = BuiltInComPort().staging.get();
    // Commands the camera refuses: 13 bytes each, until the staging buffer has wrapped.
    std::string expected;
    const std::string cmd = "zzz\r";
    for (int i = 0; i < 300; ++i) {
        rig.port.SendData(reinterpret_cast<const uint8_t*>(cmd.data()), 4);
        expected += ">CMD ERR!\r\n\x04";
        if (i % 20 == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    WaitUntil([&] {
        std::lock_guard<std::mutex> g(seen.lock);
        return seen.bytes.size() >= expected.size();
    });
    rig.port.Disconnect();
    std::lock_guard<std::mutex> g(seen.lock);
    EXPECT_EQ(seen.bytes, expected);
    bool wrapped = false;
    size_t next = 0;
    for (const auto& [offset, n] : seen.chunks) {
        EXPECT_EQ(offset, next);
        EXPECT_LE(offset + n, 3072u);
        next = (offset + n) % 3072;
        wrapped = wrapped || (offset + n == 3072);
    }
    EXPECT_TRUE(wrapped);
}

} // namespace

namespace {

TEST(PortComm, ReceiveErrorsGoToThePortLogOnceAtDisconnect) {
    SerialRig rig;
    rig.Entry();
    const std::string portLog = rig.PortLogInRigFolder();
    ASSERT_FALSE(portLog.empty());

    // Without errors no file is touched.
    ASSERT_EQ(rig.ConnectHost(), 0);
    rig.port.Disconnect();
    EXPECT_FALSE(std::filesystem::exists(portLog));

    // Errors counted by the receive thread (pseudo-terminals report none themselves).
    ASSERT_EQ(rig.port.Connect(), 0);
    BuiltInComPort().commErr.count = 3;
    rig.port.Disconnect();
    EXPECT_EQ(LogLines(portLog), (std::vector<std::string>{"OverRun cnt=3"}));
    // The next connection starts from 0 again, and can reopen the device.
    ASSERT_EQ(rig.port.Connect(), 0);
    rig.port.Disconnect();
    EXPECT_EQ(LogLines(portLog).size(), 1u);
}

} // namespace

namespace {

int PickSimulator(VorlixDialogRequest& r) {
    for (size_t i = 0; i < r.ports.size(); ++i)
        if (r.ports[i].added)
            r.selected = static_cast<int32_t>(i);
    r.params.baudRate = 19200;
    return 1;
}

TEST(PortComm, ConfirmedSettingDialogStoresThePortAndItsParameters) {
    SerialRig rig({}, false);
    rig.Entry();
    EXPECT_EQ(std::u16string(rig.table->GetPortName()), u"No settings");
    VorlixSetDialogHook(nullptr);
    EXPECT_EQ(rig.table->SettingDialog(), 0); // no dialog: nothing changes
    VorlixSetDialogHook(&PickSimulator);
    EXPECT_EQ(rig.table->SettingDialog(), 1);
    VorlixSetDialogHook(nullptr);
    const std::u16string name = VorlixPortNameOfPath(platform::Utf8ToUtf16(rig.link));
    EXPECT_EQ(std::u16string(rig.table->GetPortName()), name);
    EXPECT_EQ(platform::ReadSetting(u"CAMERA_COMM_Ch00", u"COM Port Name", u"", rig.settings),
              name);
    // Selection resolves it again; the stored parameters come with it.
    rig.port.opTable = rig.table->GetSelectedPortIF();
    EXPECT_EQ(rig.port.GetBaudRate(), 19200u);
    ASSERT_EQ(rig.ConnectHost(), 0);
    ASSERT_TRUE(rig.RunCommand(u"sta"));
    EXPECT_EQ(rig.events.Last().replyCode, 0);
}

} // namespace
