// The Camera Link plug-in Pivra02CL_64bit.so as the program meets it: a fresh copy per test in
// a program folder of its own, found by discovery or loaded with dlopen, driven through its
// InterfaceTable and PortOpTable and through the communication engine, against the simulated
// Camera Link serial libraries (API 1.1 and 1.0).
#include "app/Application.h"
#include "base/Messages.h"
#include "base/SimpleLog.h"
#include "camdef/CamPropertyMgr.h"
#include "comm/CommunicateModel.h"
#include "components/quastor/Quastor.h"
#include "platform/IniProfile.h"
#include "platform/Module.h"
#include "platform/Text.h"
#include "port/InterfaceRegistry.h"
#include "port/PortReason.h"
#include "support/AppEnvironment.h"
#include "support/Deadline.h"
#include "support/EngineRig.h" // RecordingUi
#include "support/FakeWorkingSet.h"
#include "support/LogText.h"
#include "support/TempDir.h"

#include <atomic>
#include <chrono>
#include <dlfcn.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <thread>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

void PrintTo(const PortReasonInfo& r, std::ostream* os) {
    *os << "{kind " << r.kind << ", number " << r.number << ", count " << r.count << ", name \""
        << platform::Utf16ToUtf8(r.name) << "\", detail \"" << platform::Utf16ToUtf8(r.detail)
        << "\"}";
}

// The settings dialog this process offers the plug-in (found by name, as in the program).
namespace {
enum class DialogAnswer { Cancel, Confirm };
DialogAnswer g_answer = DialogAnswer::Cancel;
int g_dialogs = 0;
// What the last dialog was told each channel offers: "<library>#<index>" -> speeds.
std::map<std::string, std::vector<uint32_t>> g_offered;
} // namespace

extern "C" __attribute__((visibility("default"))) int32_t
QuillonQuastorSettingDialog(QuastorDialogRequest* r) {
    ++g_dialogs;
    g_offered.clear();
    for (uint32_t c = 0; r->structSize >= sizeof *r && r->channelRates && c < r->channelCount;
         ++c) {
        const QuastorChannelEntry& ch = r->channels[c];
        std::vector<uint32_t>& speeds =
            g_offered[platform::Utf16ToUtf8(r->libraries[ch.library].fileName) + "#" +
                      std::to_string(ch.serialIndex)];
        for (uint32_t i = 0; i < r->baudRateCount; ++i)
            if (r->channelRates[c] & (1u << i))
                speeds.push_back(r->baudRates[i]);
    }
    if (g_answer == DialogAnswer::Cancel) {
        r->library = 0;
        r->serialIndex = 1;
        return 0;
    }
    for (uint32_t i = 0; i < r->libraryCount; ++i)
        if (std::u16string(r->libraries[i].fileName) == u"libclsersim.so")
            r->library = static_cast<int32_t>(i);
    r->serialIndex = 1;
    r->baudRate = 38400;
    return 1;
}

namespace {

const std::string kSimFolder = QUILLON_BIN_DIR "/clserial";
const std::string kDefinition = QUILLON_SOURCE_DIR "/CamDefine/XC-100.xml";

std::u16string U(const std::string& s) {
    return platform::Utf8ToUtf16(s);
}
std::string A(const char16_t* s) {
    return s ? platform::Utf16ToUtf8(s) : std::string("(null)");
}

// The simulated library's test controls (the same loaded object the plug-in uses).
struct SimControl {
    void* handle = nullptr;
    int32_t (*control)(const char*, int64_t) = nullptr;
    int64_t (*stat)(const char*) = nullptr;
    explicit SimControl(const char* name = "libclsersim.so") {
        handle = dlopen((kSimFolder + "/" + name).c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle) {
            control = reinterpret_cast<int32_t (*)(const char*, int64_t)>(
                dlsym(handle, "clsersim_Control"));
            stat = reinterpret_cast<int64_t (*)(const char*)>(dlsym(handle, "clsersim_Stat"));
        }
        if (control)
            control("reset", 0);
    }
    ~SimControl() {
        if (control)
            control("reset", 0);
        if (handle)
            dlclose(handle);
    }
};

class CameraLinkTest : public ::testing::Test {
protected:
    CameraLinkTest() {
        setenv("CLSERIALPATH", kSimFolder.c_str(), 1);
        setenv("CLSERSIM_DEFINITION", kDefinition.c_str(), 1);
        g_answer = DialogAnswer::Cancel;
        g_dialogs = 0;
        params.programFolder = programFolder.c_str();
        params.settingsFilePath = settings.c_str();
        params.channelSectionName = u"CAMERA_COMM_Ch00";
        params.firstReceiveTimeout = 2000;
        params.nextReceiveTimeout = 2000;
        params.sendTimeout = 20000;
    }
    ~CameraLinkTest() override {
        if (ops) {
            ops->Disconnect();
            ops->Uninit();
        }
    }

    // A fresh copy of the plug-in in the test's program folder, loaded; false when it failed.
    bool Load() {
        fs::copy_file(QUILLON_BIN_DIR "/Pivra02CL_64bit.so", plugin);
        if (!module.Load(plugin))
            return false;
        entry = reinterpret_cast<GetPivraInterfaceWFn>(module.Symbol("GetPivraInterfaceW"));
        return entry != nullptr;
    }
    // Load, entry and port table.
    InterfaceTable* Start() {
        if (!Load())
            return nullptr;
        table = entry(&params);
        if (table)
            ops = table->GetSelectedPortIF();
        return table;
    }
    void Choose(const char16_t* library, uint32_t index) {
        platform::WriteSetting(u"CAMERA_COMM_Ch00", u"CameraLink DLL", library, settings);
        platform::WriteSetting(u"CAMERA_COMM_Ch00", u"CameraLink Serial Index",
                               U(std::to_string(index)), settings);
    }
    std::vector<std::string> Log() { return LogLines(logPath); }

    TempDir dir;
    std::string plugin = dir.file("Pivra02CL_64bit.so");
    std::string logPath = dir.file("Pivra02CLLog.txt");
    std::u16string programFolder = U(dir.str() + "/");
    std::u16string settings = U(dir.file("Quillon_00.ini"));
    PortParamBlock params{};
    platform::Module module;
    GetPivraInterfaceWFn entry = nullptr;
    InterfaceTable* table = nullptr;
    PortOpTable* ops = nullptr;
};

// Collects what the receive callback delivers.
struct Received {
    std::mutex lock;
    std::string bytes;
    static void Callback(const uint8_t* b, uint32_t n, void* user) {
        auto* self = static_cast<Received*>(user);
        std::lock_guard<std::mutex> g(self->lock);
        self->bytes.append(reinterpret_cast<const char*>(b), n);
    }
    bool WaitFor(char last, int timeoutMs = 3000) {
        return WaitUntil(
            [&] {
                std::lock_guard<std::mutex> g(lock);
                return !bytes.empty() && bytes.back() == last;
            },
            std::chrono::milliseconds(timeoutMs));
    }
    std::string Take() {
        std::lock_guard<std::mutex> g(lock);
        return std::exchange(bytes, {});
    }
};

} // namespace

TEST_F(CameraLinkTest, DiscoveryListsTheInterfaceWithItsVersionAndFirstUseLogsNothing) {
    fs::copy_file(QUILLON_BIN_DIR "/Pivra02CL_64bit.so", plugin);
    clInterfaceRegistry registry;
    registry.Discover(&params, dir.str() + "/", plugin, nullptr);
    ASSERT_EQ(registry.Count(), 1u);
    EXPECT_EQ(A(registry.versionTexts[0].c_str()), "Camera Link API Ver.1.0.1");
    InterfaceTable* t = registry.interfaces[0];
    EXPECT_EQ(t->Check(), 1);
    EXPECT_EQ(A(t->GetInterfaceName()), "Camera Link API");
    EXPECT_EQ(A(t->GetPortName()), "No settings");
    EXPECT_EQ(A(t->GetPortDescription()), "");
    PortOpTable* p = t->GetSelectedPortIF();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->GetBaudRate(), 9600u);
    // Without a library the port cannot open: code 8, logged with the component's reason.
    EXPECT_EQ(p->Init(), 0);
    EXPECT_EQ(p->Connect(), 8);
    EXPECT_EQ(p->IsConnected(), 0);
    p->Uninit();
    EXPECT_EQ(Log(), (std::vector<std::string>{"SafeSerialInit = -10098, 1"}));
    EXPECT_EQ(ReadFileBytes(logPath).substr(0, 2), "\xFF\xFE");
}

TEST_F(CameraLinkTest, FirstUseWritesNoLogLine) {
    // The default settings file names no library.
    Choose(u"", 0);
    ASSERT_NE(Start(), nullptr);
    EXPECT_EQ(A(table->GetPortName()), "No settings");
    EXPECT_FALSE(fs::exists(logPath));
}

TEST_F(CameraLinkTest, LibraryThatCannotBeLoadedIsLoggedAtEntryAndAtSelection) {
    Choose(u"libmissing.so", 0);
    ASSERT_NE(Start(), nullptr);
    EXPECT_EQ(A(table->GetPortName()), "No settings");
    EXPECT_EQ(A(table->GetPortDescription()), "");
    EXPECT_EQ(Log(), (std::vector<std::string>{
                         "Error in GetPivraInterface = libmissing.so ", "CameraLink DLL Lost.",
                         "Error in GetSelectedPortIF = libmissing.so", "CameraLink DLL Lost.."}));
    EXPECT_EQ(ops->Init(), 0);
    EXPECT_EQ(ops->Connect(), 8);
    ops->Uninit();
}

TEST_F(CameraLinkTest, ModuleWhoseLogCannotBeCreatedRefusesItsEntry) {
    fs::create_directory(logPath); // the log path is taken by a folder
    ASSERT_TRUE(Load());
    EXPECT_EQ(entry(&params), nullptr);
    EXPECT_EQ(entry(nullptr), nullptr);
}

TEST_F(CameraLinkTest, SettingsDialogCancelledChangesNothingConfirmedStoresTheChoice) {
    Choose(u"libclsersim10.so", 0);
    ASSERT_NE(Start(), nullptr);
    EXPECT_EQ(A(table->GetPortName()), "CL_libclsersim10_0");
    const std::string before = ReadFileBytes(platform::Utf16ToUtf8(settings));

    EXPECT_EQ(table->SettingDialog(), 0);
    EXPECT_EQ(g_dialogs, 1);
    EXPECT_EQ(A(table->GetPortName()), "CL_libclsersim10_0");
    EXPECT_EQ(ReadFileBytes(platform::Utf16ToUtf8(settings)), before);
    EXPECT_EQ(ops->GetBaudRate(), 9600u);

    g_answer = DialogAnswer::Confirm;
    EXPECT_EQ(table->SettingDialog(), 1);
    EXPECT_EQ(A(table->GetPortName()), "CL_libclsersim_1");
    // Described by the library just chosen, not by the one still in use.
    EXPECT_EQ(A(table->GetPortDescription()), "SIM-CL channel 1");
    EXPECT_EQ(platform::ReadSetting(u"CAMERA_COMM_Ch00", u"CameraLink DLL", u"", settings),
              u"libclsersim.so");
    EXPECT_EQ(
        platform::ReadSettingInt(u"CAMERA_COMM_Ch00", u"CameraLink Serial Index", 0, settings), 1u);
    EXPECT_EQ(platform::ReadSettingInt(u"CL_libclsersim_1", u"BaudRate", 0, settings), 38400u);
    ops = table->GetSelectedPortIF();
    EXPECT_EQ(ops->GetBaudRate(), 38400u);
    EXPECT_TRUE(Log().empty());
}

TEST_F(CameraLinkTest, FailingPortIdentifierGivesAnEmptyDescription) {
    SimControl sim;
    ASSERT_NE(sim.control, nullptr);
    Choose(u"libclsersim.so", 1);
    sim.control("fail_identifier", 1);
    ASSERT_NE(Start(), nullptr);
    EXPECT_EQ(A(table->GetPortName()), "CL_libclsersim_1");
    EXPECT_EQ(A(table->GetPortDescription()), "");
    sim.control("fail_identifier", 0);
    table->GetSelectedPortIF();
    EXPECT_EQ(A(table->GetPortDescription()), "SIM-CL channel 1");
}

TEST_F(CameraLinkTest, BaudRateWithoutCodeIsSentAsAllOnesAndRefusedWithTen) {
    SimControl sim;
    ASSERT_NE(sim.stat, nullptr);
    Choose(u"libclsersim.so", 0);
    platform::WriteSetting(u"CL_libclsersim_0", u"BaudRate", u"14400", settings);
    ASSERT_NE(Start(), nullptr);
    ASSERT_EQ(ops->Init(), 0);
    EXPECT_EQ(ops->GetBaudRate(), 14400u);
    EXPECT_EQ(ops->Connect(), 10);
    EXPECT_EQ(sim.stat("last_baud_code"), 0xFFFFFFFFll);
    // The channel stays open until the host's disconnect sequence.
    EXPECT_EQ(ops->IsConnected(), 1);
    EXPECT_EQ(sim.stat("open"), 1);
    ops->Disconnect();
    ops->Uninit();
    EXPECT_EQ(ops->IsConnected(), 0);
    EXPECT_EQ(sim.stat("open"), 0);
    EXPECT_EQ(Log(), (std::vector<std::string>{"clSetBaudRate = -10008, 10"}));
}

TEST_F(CameraLinkTest, FlushFailureGivesTwelveAndOldLibrariesSetNoBaudRate) {
    SimControl sim;
    SimControl sim10("libclsersim10.so");
    Choose(u"libclsersim.so", 0);
    ASSERT_NE(Start(), nullptr);
    ASSERT_EQ(ops->Init(), 0);
    sim.control("fail_flush", 1);
    EXPECT_EQ(ops->Connect(), 12);
    EXPECT_EQ(ops->IsConnected(), 1);
    ops->Disconnect();
    EXPECT_EQ(Log(), (std::vector<std::string>{"clFlushPort in Connect = -10007, 12",
                                               "clFlushPort in Disconnect = -10007"}));
    ops->Uninit();

    // A 1.0 library with a speed that has no code: nothing is set, the byte reader runs.
    Choose(u"libclsersim10.so", 0);
    platform::WriteSetting(u"CL_libclsersim10_0", u"BaudRate", u"14400", settings);
    entry(&params);
    ops = table->GetSelectedPortIF();
    ASSERT_EQ(ops->Init(), 0);
    EXPECT_EQ(ops->Connect(), 0);
    EXPECT_EQ(sim10.stat("last_baud_code"), -1);
    ops->Disconnect();
    ops->Uninit();
}

TEST_F(CameraLinkTest, SendDataWritesByteByByteAndEmptySendFailsWithoutTheLibrary) {
    SimControl sim;
    Choose(u"libclsersim.so", 0);
    ASSERT_NE(Start(), nullptr);
    EXPECT_EQ(ops->SendData(reinterpret_cast<const uint8_t*>("sta\r"), 4), 1); // not connected
    Received rx;
    // A null callback is refused and the stored pair kept, with or without a user.
    EXPECT_EQ(ops->SetReceiveCallback(nullptr, nullptr), 3);
    EXPECT_EQ(ops->SetReceiveCallback(nullptr, &rx), 3);
    EXPECT_EQ(ops->SetReceiveCallback(&Received::Callback, &rx), 0);
    ASSERT_EQ(ops->Init(), 0);
    ASSERT_EQ(ops->Connect(), 0);
    EXPECT_EQ(ops->Connect(), 1);
    const int64_t writes = sim.stat("writes");
    EXPECT_EQ(ops->SendData(reinterpret_cast<const uint8_t*>(""), 0), 1);
    EXPECT_EQ(sim.stat("writes"), writes);
    const auto t0 = Clock::now();
    EXPECT_EQ(ops->SendData(reinterpret_cast<const uint8_t*>("sta\r"), 4), 0);
    EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(3)); // a pause between bytes
    EXPECT_EQ(sim.stat("writes"), writes + 4);
    ASSERT_TRUE(rx.WaitFor('\x04'));
    EXPECT_NE(rx.Take().find(">Model=XC-100\r\n"), std::string::npos);
    int32_t timeout = 0;
    EXPECT_EQ(ops->GetSendTimeout(nullptr), 3);
    EXPECT_EQ(ops->GetSendTimeout(&timeout), 0);
    EXPECT_EQ(timeout, 20000); // copied from the parameter block by Connect
}

// ---- What the frame grabber supports, and why a connection fails -------------------------------

namespace {

// The reason the loaded plug-in gives through its export.
PortReasonInfo ReasonOf(const platform::Module& module) {
    return QueryPortReason(
        reinterpret_cast<GetPivraPortReasonWFn>(module.Symbol(kPivraPortReasonSymbol)));
}

PortReasonInfo Reason(int32_t kind, uint32_t number, uint32_t count, std::u16string name,
                      std::u16string detail) {
    return {kind, number, count, std::move(name), std::move(detail)};
}

const std::vector<uint32_t> kUpTo115200{9600, 19200, 38400, 57600, 115200};
const std::vector<uint32_t> kEverySpeed{9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};

} // namespace

TEST_F(CameraLinkTest, DialogOffersWhatTheChannelSupportsAndConnectNamesARefusedSpeed) {
    SimControl sim;
    ASSERT_NE(sim.control, nullptr);
    ASSERT_EQ(sim.control("max_baud", 115200), 0);
    Choose(u"libclsersim.so", 0);
    platform::WriteSetting(u"CL_libclsersim_0", u"BaudRate", u"230400", settings);
    ASSERT_NE(Start(), nullptr);

    EXPECT_EQ(table->SettingDialog(), 0);
    EXPECT_EQ(g_offered["libclsersim.so#0"], kUpTo115200);
    EXPECT_EQ(g_offered["libclsersim.so#1"], kUpTo115200);
    EXPECT_EQ(g_offered["libclsersim10.so#0"], kEverySpeed); // 1.0: every speed
    EXPECT_EQ(sim.stat("open"), 0); // channels opened for the question are closed again

    ASSERT_EQ(ops->Init(), 0);
    EXPECT_EQ(ops->Connect(), 10);
    EXPECT_EQ(ReasonOf(module), Reason(PORT_REASON_SPEED_REFUSED, 230400, 0, u"",
                                       u"9600, 19200, 38400, 57600, 115200"));
    ops->Disconnect();
    ops->Uninit();
    EXPECT_EQ(Log(), (std::vector<std::string>{"clSetBaudRate = -10008, 10"}));

    // A supported speed connects, and the reason is gone.
    platform::WriteSetting(u"CL_libclsersim_0", u"BaudRate", u"115200", settings);
    ops = table->GetSelectedPortIF();
    ASSERT_EQ(ops->Init(), 0);
    EXPECT_EQ(ops->Connect(), 0);
    EXPECT_EQ(sim.stat("last_baud_code"), CL_BAUDRATE_115200);
    EXPECT_EQ(ReasonOf(module), PortReasonInfo{});
}

TEST_F(CameraLinkTest, ChannelPastThePortCountIsNamedWhenConnectFails) {
    Choose(u"libclsersim.so", 5);
    ASSERT_NE(Start(), nullptr);
    EXPECT_EQ(ReasonOf(module), PortReasonInfo{}); // the library is there
    ASSERT_EQ(ops->Init(), 0);
    EXPECT_EQ(ops->Connect(), 8);
    EXPECT_EQ(ops->IsConnected(), 0);
    EXPECT_EQ(ReasonOf(module), Reason(PORT_REASON_CHANNEL_MISSING, 5, 2, u"libclsersim.so", u""));
    ops->Uninit();
    EXPECT_EQ(Log(), (std::vector<std::string>{"SafeSerialInit = -10005, 1"}));
}

// A library folder of the test's own, so its files can be removed or spoilt.
struct LibraryCase {
    const char* name;
    const char* from; // file copied in as libgrabber.so; null: none
    bool removed;     // copied, then removed before the program starts
    PortReasonInfo reason;
};

void PrintTo(const LibraryCase& c, std::ostream* os) {
    *os << c.name;
}

class CameraLinkLibraryTest : public CameraLinkTest,
                              public ::testing::WithParamInterface<LibraryCase> {};

TEST_P(CameraLinkLibraryTest, UnusableLibraryIsNamedAtSelectionAndAtConnect) {
    const LibraryCase& c = GetParam();
    TempDir libraries;
    setenv("CLSERIALPATH", libraries.str().c_str(), 1);
    const std::string file = libraries.file("libgrabber.so");
    if (c.from)
        fs::copy_file(c.from, file);
    if (c.removed)
        fs::remove(file);
    if (std::string(c.name) == "NotALibrary")
        WriteFileBytes(file, "not an ELF file\n");
    Choose(u"libgrabber.so", 0);
    ASSERT_NE(Start(), nullptr);
    EXPECT_EQ(A(table->GetPortName()), "No settings");
    EXPECT_EQ(ReasonOf(module), c.reason);
    ASSERT_EQ(ops->Init(), 0);
    EXPECT_EQ(ops->Connect(), 8);
    EXPECT_EQ(ReasonOf(module), c.reason);
    ops->Uninit();
    // The log keeps its lines.
    EXPECT_EQ(Log(), (std::vector<std::string>{
                         "Error in GetPivraInterface = libgrabber.so ", "CameraLink DLL Lost.",
                         "Error in GetSelectedPortIF = libgrabber.so", "CameraLink DLL Lost..",
                         "SafeSerialInit = -10098, 1"}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CameraLinkLibraryTest,
    ::testing::Values(LibraryCase{"Removed", QUILLON_BIN_DIR "/clserial/libclsersim.so", true,
                                  Reason(PORT_REASON_LIBRARY_MISSING, 0, 0, u"libgrabber.so", u"")},
                      LibraryCase{"NotALibrary", nullptr, false,
                                  Reason(PORT_REASON_LIBRARY_MISSING, 0, 0, u"libgrabber.so", u"")},
                      // A shared library, but not a Camera Link serial one.
                      LibraryCase{"LacksFunctions", QUILLON_BIN_DIR "/libTallix.so", false,
                                  Reason(PORT_REASON_FUNCTION_MISSING, 0, 0, u"libgrabber.so",
                                         u"clSerialInit")}),
    [](const auto& info) { return std::string(info.param.name); });

// The program around the plug-in: the upper bar's texts and the connect failure's second line.
class CameraLinkAppTest : public CameraLinkTest {
protected:
    FakeWorkingSet workingSet;
    TempDir locks;

    void StartApp(clApplication& app) {
        fs::copy_file(QUILLON_BIN_DIR "/Pivra02CL_64bit.so", plugin);
        platform::WriteSetting(u"CAMERA_COMM_Ch00", u"SelectInterface", u"Camera Link API",
                               settings);
        platform::WriteSetting(u"Internationalize", u"Force English", u"1", settings);
        app.SetEnvironment(TestEnvironment(dir.str() + "/", locks.str(), &workingSet));
        ASSERT_EQ(app.StartUp(), 0);
        ASSERT_EQ(app.CurrentPort(), &app.PlugInPort());
    }
};

TEST_F(CameraLinkAppTest, MissingLibraryShowsOnThePortLineAndInTheConnectFailure) {
    clApplication::WriteDefaultSettings(settings);
    Choose(u"libgone.so", 0);
    clApplication app;
    StartApp(app);
    EXPECT_EQ(app.PortNameText(), u"No settings");
    EXPECT_EQ(app.PortDescriptionText(), u"Library missing: libgone.so");
    EXPECT_EQ(app.LineSpeedText(), u"No settings");
    EXPECT_EQ(app.ConnectCamera(), 8);
    EXPECT_EQ(app.PortReasonLine(),
              u"The Camera Link serial library libgone.so is missing or cannot be loaded.");
    app.AbandonConnect();
    app.ShutDown();
}

TEST_F(CameraLinkAppTest, RefusedSpeedIsTheSecondLineAndAUsableLibraryShowsItsSpeed) {
    SimControl sim;
    ASSERT_NE(sim.control, nullptr);
    sim.control("max_baud", 115200);
    clApplication::WriteDefaultSettings(settings);
    Choose(u"libclsersim.so", 1);
    platform::WriteSetting(u"CL_libclsersim_1", u"BaudRate", u"230400", settings);
    clApplication app;
    StartApp(app);
    EXPECT_EQ(app.PortNameText(), u"CL_libclsersim_1");
    EXPECT_EQ(app.PortDescriptionText(), u"SIM-CL channel 1");
    EXPECT_EQ(app.LineSpeedText(), u"230400 bps");
    EXPECT_EQ(app.PortReasonLine(), u"");
    EXPECT_EQ(app.ConnectCamera(), 10);
    EXPECT_EQ(app.PortReasonLine(),
              u"The library refused 230400 bps (it supports 9600, 19200, 38400, 57600, 115200 "
              u"bps).");
    app.AbandonConnect();
    EXPECT_EQ(sim.stat("open"), 0);
    app.ShutDown();
}

// ---- Through the communication engine, with both API versions --------------------------------

namespace {

class MgrCommandSource : public IPropertyCommandSource {
public:
    explicit MgrCommandSource(clCamPropertyMgr& mgr) : m_mgr(mgr) {}
    std::vector<std::u16string> CommandNames(const clCamProperty* p) override {
        return p->commandNames;
    }
    int ComposeCommand(const clCamProperty*, std::u16string_view name,
                       std::u16string& text) override {
        const clCamCommand* c = m_mgr.FindCommand(name);
        if (!c)
            return kUnknownCommand;
        return m_mgr.ComposeCommand(c, text) == 0 ? kComposed : kComposeFailed;
    }
    bool ConfirmationPrompt(const clCamProperty*, std::u16string_view, std::u16string&) override {
        return false;
    }

private:
    clCamPropertyMgr& m_mgr;
};

struct EngineHost {
    TempDir logDir;
    clSimpleLog log{logDir.file("Quillon_00_Log.txt")};
    platform::Event stopEvent{platform::Event::Reset::Manual};
    platform::Event jobEvent{platform::Event::Reset::Auto};
    clEngineContextStore ctx;
    RecordingEvents events;
    clCamCtrl ctrl{&log, u""};
    clPortPlugIn port{&ctrl};
    clCommunicateModel engine{ctx};

    explicit EngineHost(PortOpTable* ops) {
        WireEngine(*this, 3000, 3000);
        port.opTable = ops;
    }
    ~EngineHost() {
        engine.StopWorker();
        if (engine.IsConnected())
            engine.DisconnectCamera();
    }
    // The host's connect sequence.
    int32_t Connect() {
        port.SetReceiveCallback(&clCommunicateModel::OnReceiveData, &engine);
        port.Init();
        const int32_t code = port.Connect();
        if (code == 0) {
            engine.MarkConnected();
            engine.StartWorker();
        } else {
            if (port.IsConnected())
                port.Disconnect();
            port.Uninit();
        }
        return code;
    }
    template <class Submit>
    bool RunJob(Submit submit) {
        events.Clear();
        submit();
        return events.WaitFor(Ev::JobEnded, 1, 10000);
    }
    bool RunCommand(std::u16string_view command) {
        return RunJob([&] { engine.SubmitCommandJob(command); });
    }
    bool Drained(const std::u16string& line) {
        const std::vector<std::u16string> lines = events.Drained();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
};

class CameraLinkEngineTest : public CameraLinkTest,
                             public ::testing::WithParamInterface<const char16_t*> {};

} // namespace

TEST_P(CameraLinkEngineTest, StaAndPropertyJobThroughTheEngine) {
    const std::u16string library = GetParam();
    Choose(library.c_str(), 1);
    platform::WriteSetting(u"Camera Link API", u"Timeout one Read", u"200", settings);
    ASSERT_NE(Start(), nullptr);
    EXPECT_EQ(A(table->GetPortDescription()),
              library == u"libclsersim.so" ? "SIM-CL channel 1" : "");
    EngineHost host(ops);
    ASSERT_EQ(host.Connect(), 0);

    ASSERT_TRUE(host.RunCommand(u"sta"));
    EXPECT_EQ(host.events.Last().status, STATUS_REPLY_COMPLETE);
    EXPECT_EQ(host.events.Last().replyCode, 0);
    EXPECT_TRUE(host.Drained(u">Model=XC-100")) << host.events.Drained().size();
    EXPECT_TRUE(host.Drained(u">Serial=00000002"));

    clCamPropertyMgr mgr;
    mgr.SetSchemaPathFormat(U(QUILLON_SOURCE_DIR "/CamDefine/OrvaCamSchema_v%d_%d.xsd"));
    ASSERT_EQ(mgr.Load(U(kDefinition)), 0);
    MgrCommandSource source(mgr);
    host.engine.SetPropertySource(&source);
    auto* gain = PropertyAs<clCamPropertyInteger>(mgr.FindProperty(u"Gain"));
    ASSERT_NE(gain, nullptr);
    const int64_t wanted = gain->value == 7 ? 8 : 7;
    mgr.SetIntegerValue(gain, wanted);
    ASSERT_TRUE(host.RunJob([&] { host.engine.RunPropertyJob(gain); }));
    EXPECT_EQ(host.events.Last().replyCode, 0);
    // Asked again, the camera reports the value it keeps.
    mgr.SetIntegerValue(gain, 0);
    ASSERT_TRUE(host.RunCommand(u"gai"));
    EXPECT_EQ(host.events.Last().replyCode, 0);
    for (const std::u16string& line : host.events.Drained()) {
        int updated = 0;
        if (!line.empty() && line[0] == u'>')
            mgr.ParseReplyLine(std::u16string_view(line).substr(1), updated);
    }
    EXPECT_EQ(gain->value, wanted);

    // Disconnect ends the receive thread promptly: within one read time-out (200 ms) and
    // scheduling for the byte reader, at once for the availability reader.
    host.engine.StopWorker();
    const auto t0 = Clock::now();
    host.engine.DisconnectCamera();
    const auto took = Clock::now() - t0;
    EXPECT_LT(took, std::chrono::milliseconds(1500));
    EXPECT_EQ(ops->IsConnected(), 0);
    EXPECT_TRUE(Log().empty()) << Log()[0];
}

INSTANTIATE_TEST_SUITE_P(ApiVersions, CameraLinkEngineTest,
                         ::testing::Values(u"libclsersim.so", u"libclsersim10.so"),
                         [](const auto& info) {
                             return std::u16string(info.param) == u"libclsersim.so" ? "Api11"
                                                                                    : "Api10";
                         });

// "Timeout one Read" outside its bounds on an API 1.0 library (one byte per read, so the
// receive thread reads all the time): a read of 0 neither spins nor is passed on as 0, and a
// read of a minute is cut to the bound that keeps Disconnect's wait for the thread enough.
struct ReadTimeoutCase {
    const char16_t* setting;
    int64_t least; // the time-outs the library may be given
    int64_t most;
};

class CameraLinkReadTimeoutTest : public CameraLinkTest,
                                  public ::testing::WithParamInterface<ReadTimeoutCase> {};

TEST_P(CameraLinkReadTimeoutTest, StaysWithinItsBoundsAndNeverSpins) {
    SimControl sim("libclsersim10.so");
    ASSERT_NE(sim.stat, nullptr);
    Choose(u"libclsersim10.so", 0);
    platform::WriteSetting(u"Camera Link API", u"Timeout one Read", GetParam().setting, settings);
    ASSERT_NE(Start(), nullptr);
    Received rx;
    ASSERT_EQ(ops->SetReceiveCallback(&Received::Callback, &rx), 0);
    ASSERT_EQ(ops->Init(), 0);
    ASSERT_EQ(ops->Connect(), 0);
    // Counted over a period of the idle connection: every empty read waits at least the
    // lower bound, so there can be at most one read per kMinTimeout milliseconds. A spinning
    // thread makes thousands, however little of a core a loaded machine gives it.
    ASSERT_TRUE(WaitUntil([&] { return sim.stat("reads") >= 1; }));
    const int64_t readsBefore = sim.stat("reads");
    const auto wallBefore = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const int64_t reads = sim.stat("reads") - readsBefore;
    const auto wallMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - wallBefore).count();
    ops->Disconnect();
    ops->Uninit();
    EXPECT_LE(reads, wallMs / 5 + 2) << reads << " reads in " << wallMs << " ms";
    EXPECT_GE(sim.stat("min_read_timeout"), GetParam().least);
    EXPECT_LE(sim.stat("max_read_timeout"), GetParam().most);
}

INSTANTIATE_TEST_SUITE_P(Settings, CameraLinkReadTimeoutTest,
                         ::testing::Values(ReadTimeoutCase{u"0", 10, 10},
                                           ReadTimeoutCase{u"60000", 2000, 2000}),
                         [](const auto& info) { return "Setting" + A(info.param.setting); });

// A long send (one byte per library call, a millisecond apart) while Disconnect runs on
// another thread: the send stops after the byte it is writing and the channel is closed only
// then, so no write ever reaches the library with a closed reference.
TEST_F(CameraLinkTest, DisconnectDuringASendNeverWritesToTheClosedChannel) {
    SimControl sim;
    ASSERT_NE(sim.stat, nullptr);
    Choose(u"libclsersim.so", 1);
    ASSERT_NE(Start(), nullptr);
    Received rx;
    ASSERT_EQ(ops->SetReceiveCallback(&Received::Callback, &rx), 0);
    ASSERT_EQ(ops->Init(), 0);
    ASSERT_EQ(ops->Connect(), 0);
    const std::string line(400, 'x');
    std::atomic<int32_t> sent{-1};
    std::thread sender([&] {
        sent = ops->SendData(reinterpret_cast<const uint8_t*>(line.data()),
                             static_cast<uint32_t>(line.size()));
    });
    EXPECT_TRUE(WaitUntil([&] { return sim.stat("writes") >= 5; }));
    ops->Disconnect();
    sender.join();
    EXPECT_EQ(sim.stat("stale_writes"), 0);
    EXPECT_LT(sim.stat("writes"), static_cast<int64_t>(line.size())) << "the send went on";
    EXPECT_EQ(sent.load(), 1);
    EXPECT_EQ(sim.stat("open"), 0);
    // After the Disconnect nothing reaches the library at all.
    const uint8_t b = 'a';
    EXPECT_EQ(ops->SendData(&b, 1), 1);
    EXPECT_EQ(sim.stat("stale_writes"), 0);
    ops->Uninit();
}

// "Timeout one Write" is used as the user stored it, however long (a channel that needs more
// than two seconds a write), and 1000 ms when none is stored.
class CameraLinkWriteTimeoutTest : public CameraLinkTest,
                                   public ::testing::WithParamInterface<ReadTimeoutCase> {};

TEST_P(CameraLinkWriteTimeoutTest, IsTheStoredValue) {
    SimControl sim;
    ASSERT_NE(sim.stat, nullptr);
    Choose(u"libclsersim.so", 0);
    if (*GetParam().setting)
        platform::WriteSetting(u"Camera Link API", u"Timeout one Write", GetParam().setting,
                               settings);
    ASSERT_NE(Start(), nullptr);
    ASSERT_EQ(ops->Init(), 0);
    ASSERT_EQ(ops->Connect(), 0);
    const uint8_t b = 'x';
    EXPECT_EQ(ops->SendData(&b, 1), 0);
    EXPECT_EQ(sim.stat("last_write_timeout"), GetParam().least);
    ops->Disconnect();
    ops->Uninit();
}

INSTANTIATE_TEST_SUITE_P(Settings, CameraLinkWriteTimeoutTest,
                         ::testing::Values(ReadTimeoutCase{u"", 1000, 1000},
                                           ReadTimeoutCase{u"5000", 5000, 5000},
                                           ReadTimeoutCase{u"60000", 60000, 60000}),
                         [](const auto& info) {
                             return "Setting" + (*info.param.setting ? A(info.param.setting)
                                                                     : std::string("None"));
                         });
