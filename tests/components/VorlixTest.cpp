// The serial-port utility component: listing, stored parameters, termios form, dialog hook.
#include "components/vorlix/Vorlix.h"

#include "platform/IniProfile.h"
#include "platform/Text.h"
#include "support/TempDir.h"

#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class VorlixTest : public ::testing::Test {
protected:
    VorlixTest() {
        // A tty class tree: two ports with a driver, one virtual terminal without.
        for (const char* name : {"ttyUSB0", "ttyS1", "tty0"})
            fs::create_directories(dir.path() / "sys" / name);
        fs::create_directories(dir.path() / "drivers" / "ftdi_sio");
        fs::create_directories(dir.path() / "drivers" / "serial8250");
        fs::create_directories(dir.path() / "devices" / "usb0");
        fs::create_directories(dir.path() / "devices" / "s1");
        fs::create_directory_symlink(dir.path() / "drivers" / "ftdi_sio",
                                     dir.path() / "devices" / "usb0" / "driver");
        fs::create_directory_symlink(dir.path() / "drivers" / "serial8250",
                                     dir.path() / "devices" / "s1" / "driver");
        fs::create_directory_symlink(dir.path() / "devices" / "usb0",
                                     dir.path() / "sys" / "ttyUSB0" / "device");
        fs::create_directory_symlink(dir.path() / "devices" / "s1",
                                     dir.path() / "sys" / "ttyS1" / "device");
        fs::create_directories(dir.path() / "by-id");
        fs::create_symlink("../../ttyUSB0", dir.path() / "by-id" / "usb-FTDI_Cable_A1-if00-port0");
        VorlixSetScanRoots(dir.file("sys"), dir.file("by-id"));
        VorlixSetDialogHook(nullptr);
    }
    ~VorlixTest() override {
        VorlixSetScanRoots("", "");
        VorlixSetDialogHook(nullptr);
    }

    std::u16string Str(const char16_t* s) { return s ? s : u"(null)"; }

    TempDir dir;
    std::u16string ini = platform::Utf8ToUtf16(dir.file("Quillon_00.ini"));
};

TEST_F(VorlixTest, ListsPortsWithDriverAndAddedDevicesThatExist) {
    const std::u16string present = platform::Utf8ToUtf16(dir.file("sim link"));
    WriteFileBytes(dir.file("sim link"), "");
    // A server's address is listed whether it answers or not; a malformed one is not kept.
    const std::u16string server = u"rfc2217://10.0.0.5:4001";
    ASSERT_TRUE(VorlixSaveAddedDevices(
        ini, {present, u"/nonexistent/pty", u"relative/path", server, u"tcp://10.0.0.5"}));
    EXPECT_EQ(VorlixLoadAddedDevices(ini),
              (std::vector<std::u16string>{present, u"/nonexistent/pty", server}));
    VorlixInitW(ini.c_str());
    const int32_t net = VorlixGetIndexW(u"rfc2217-10.0.0.5-4001");
    ASSERT_GE(net, 0);
    EXPECT_EQ(Str(VorlixGetFileNameW(net)), server);

    EXPECT_EQ(VorlixGetIndexW(u"tty0"), -1);
    EXPECT_EQ(VorlixGetIndexW(u"nonexistent-pty"), -1);
    EXPECT_EQ(VorlixGetIndexW(u""), -1);
    const int32_t s1 = VorlixGetIndexW(u"ttyS1");
    const int32_t usb = VorlixGetIndexW(u"ttyUSB0");
    ASSERT_GE(s1, 0);
    ASSERT_GE(usb, 0);
    EXPECT_EQ(Str(VorlixGetFileNameW(usb)), u"/dev/ttyUSB0");
    EXPECT_EQ(Str(VorlixGetDescriptionW(usb)), u"usb-FTDI_Cable_A1-if00-port0");
    EXPECT_EQ(Str(VorlixGetDescriptionW(s1)), u"serial8250");
    const std::u16string addedName = VorlixPortNameOfPath(present);
    const int32_t added = VorlixGetIndexW(addedName.c_str());
    ASSERT_GE(added, 0);
    EXPECT_EQ(Str(VorlixGetPortNameW(added)), addedName);
    EXPECT_EQ(Str(VorlixGetFileNameW(added)), present);
    EXPECT_EQ(VorlixGetPortNameW(99), nullptr);
    EXPECT_EQ(VorlixGetFileNameW(-1), nullptr);
}

TEST_F(VorlixTest, PortNamesAreFileNameSafe) {
    EXPECT_EQ(VorlixPortNameOfPath(u"/dev/ttyUSB0"), u"ttyUSB0");
    EXPECT_EQ(VorlixPortNameOfPath(u"/dev/pts/3"), u"pts-3");
    EXPECT_EQ(VorlixPortNameOfPath(u"/tmp/sim pty"), u"tmp-sim_pty");
    EXPECT_EQ(VorlixPortNameOfPath(u"/tmp/../x"), u"tmp-..-x");
    EXPECT_EQ(VorlixPortNameOfPath(u"tcp://[::1]:4001"), u"tcp-__1-4001");
}

TEST_F(VorlixTest, ParametersRoundTripAndBadValuesFallBackToDefaults) {
    ComPortParams p;
    p.baudRate = 115200;
    p.dataBits = 7;
    p.parity = VORLIX_PARITY_EVEN;
    p.stopBits = VORLIX_STOP_TWO;
    p.flowControl = VORLIX_FLOW_RTSCTS;
    p.receiveQueue = 8192;
    p.transmitQueue = 1024;
    ASSERT_TRUE(VorlixSaveCOMportParaW(ini.c_str(), u"ttyUSB0", &p));
    ComPortParams back{};
    back.baudRate = 1;
    VorlixLoadCOMportParaW(ini.c_str(), u"ttyUSB0", &back);
    EXPECT_EQ(0, std::memcmp(&p, &back, sizeof p));

    // Unknown port, "No settings": 9600 8N1, no flow control.
    VorlixLoadCOMportParaW(ini.c_str(), u"No settings", &back);
    EXPECT_EQ(back.baudRate, 9600u);
    EXPECT_EQ(back.dataBits, 8u);
    EXPECT_EQ(back.parity, 0u);
    EXPECT_EQ(back.stopBits, 0u);
    EXPECT_EQ(back.flowControl, 0u);

    // A hand-edited file with nonsense: each bad word gets its default, good ones stay.
    platform::WriteSetting(u"Vorlix Port ttyS1", u"Data Bits", u"12", ini);
    platform::WriteSetting(u"Vorlix Port ttyS1", u"Baud Rate", u"19200", ini);
    platform::WriteSetting(u"Vorlix Port ttyS1", u"Receive Queue", u"0", ini);
    VorlixLoadCOMportParaW(ini.c_str(), u"ttyS1", &back);
    EXPECT_EQ(back.baudRate, 19200u);
    EXPECT_EQ(back.dataBits, 8u);
    EXPECT_EQ(back.receiveQueue, ComPortParams{}.receiveQueue);
    VorlixLoadCOMportParaW(ini.c_str(), u"ttyS1", nullptr); // ignored
    EXPECT_FALSE(VorlixSaveCOMportParaW(ini.c_str(), u"", &p));
}

TEST_F(VorlixTest, SetupDcbGivesRawLineSettings) {
    termios t{};
    t.c_lflag = ICANON | ECHO | ISIG;
    t.c_oflag = OPOST | ONLCR;
    t.c_iflag = ICRNL;
    ComPortParams p; // 9600 8N1
    VorlixSetupDCB(&p, &t);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_TRUE(t.c_cflag & CREAD);
    EXPECT_TRUE(t.c_cflag & CLOCAL);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_iflag & ICRNL, 0u);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);

    p.baudRate = 57600;
    p.dataBits = 7;
    p.parity = VORLIX_PARITY_ODD;
    p.stopBits = VORLIX_STOP_TWO;
    p.flowControl = VORLIX_FLOW_XONXOFF;
    VorlixSetupDCB(&p, &t);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CSTOPB),
              static_cast<tcflag_t>(PARENB | PARODD | CSTOPB));
    EXPECT_TRUE(t.c_iflag & IXON);
    EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B57600));
    p.baudRate = 100000; // no such termios rate: the fastest standard one below
    VorlixSetupDCB(&p, &t);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B57600));
}

int g_hookAnswer = 0;
VorlixDialogRequest g_seen;

int Hook(VorlixDialogRequest& r) {
    g_seen = r;
    if (g_hookAnswer == 1) {
        // Picks ttyS1 and 38400 baud.
        for (size_t i = 0; i < r.ports.size(); ++i)
            if (r.ports[i].name == u"ttyS1")
                r.selected = static_cast<int32_t>(i);
        r.params = r.loadParams(r.settingsPath, u"ttyS1");
        r.params.baudRate = 38400;
    }
    return g_hookAnswer;
}

TEST_F(VorlixTest, DialogRunsThroughTheHookAndReportsTheChoice) {
    ComPortParams p;
    int32_t result = 2;
    // No dialog registered: the call says so and changes nothing.
    EXPECT_EQ(VorlixSettingDlgExW(ini.c_str(), u"CAMERA_COMM_Ch00", u"ttyUSB0", &p, &result, 0), 1);
    EXPECT_EQ(result, 2);

    VorlixInitW(ini.c_str());
    VorlixSetDialogHook(&Hook);
    g_hookAnswer = 0; // cancelled
    EXPECT_EQ(VorlixSettingDlgExW(ini.c_str(), u"CAMERA_COMM_Ch00", u"ttyUSB0", &p, &result, 0), 0);
    EXPECT_EQ(result, 2);
    EXPECT_EQ(p.baudRate, 9600u);
    EXPECT_EQ(g_seen.ports[static_cast<size_t>(g_seen.selected)].name, u"ttyUSB0");
    int32_t last = 7;
    VorlixGetLastSelect(&last);
    EXPECT_EQ(last, -1);

    g_hookAnswer = 1;
    EXPECT_EQ(VorlixSettingDlgExW(ini.c_str(), u"CAMERA_COMM_Ch00", u"ttyUSB0", &p, &result, 0), 0);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(p.baudRate, 38400u);
    VorlixGetLastSelect(&last);
    EXPECT_EQ(Str(VorlixGetPortNameW(last)), u"ttyS1");
}

} // namespace
