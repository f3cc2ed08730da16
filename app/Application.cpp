#include "app/Application.h"

#include "app/PortLinkGuard.h"
#include "app/PortReasonText.h"
#include "base/MessageTable.h"
#include "base/Messages.h"
#include "camdef/CamPropertyMgr.h"
#include "comm/CommunicateModel.h"
#include "comm/WatchThread.h"
#include "platform/DataFolders.h"
#include "platform/IniProfile.h"
#include "platform/ProgramFolder.h"
#include "platform/Text.h"
#include "platform/UiLanguage.h"
#include "port/PortComm.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <libxml/parser.h>
#include <libxml/xmlversion.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr char16_t kNoSettings[] = u"No settings";

std::u16string FormatNumbered(const char* format, int number) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, number);
    return platform::Utf8ToUtf16(buf);
}

std::string Path(const std::u16string& text) {
    return platform::Utf16ToPath(text);
}

// The log file is there from the first start on, holding its byte-order mark until the first
// line; an existing log is left as it is. A log that cannot be created loses its lines, as every
// later line would.
void CreateLogFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    (void)!::write(fd, "\xFF\xFE", 2);
    ::close(fd);
}

} // namespace

// The engine's window onto the application: every call reads or writes the application's own
// fields.
class clApplication::EngineContext : public clEngineContext {
public:
    explicit EngineContext(clApplication& app) : m_app(app) {}

    IUiTarget* UiTarget() override { return m_app.m_mainFrame; }
    clSimpleLog* Log() override { return m_app.m_appLog.get(); }
    platform::Event* StopEvent() override { return m_app.m_stopEvent.get(); }
    platform::Event* JobEvent() override { return m_app.m_jobEvent.get(); }
    clCamPort* CurrentPort() override { return m_app.m_currentPort; }
    clWatchThread* Watch() override { return m_app.m_watch.get(); }
    int32_t RequestMessageBox(std::u16string text, std::u16string caption,
                              uint32_t style) override {
        return m_app.RequestMessageBox(std::move(text), std::move(caption), style);
    }
    std::u16string LanguageCode() override { return m_app.m_languageCode; }
    std::u16string MessageText(int id) override { return Msg(id); }
    void ShowWaitDialog(std::u16string_view text, std::u16string_view caption) override {
        m_app.ShowWaitDialog(text, caption);
    }
    void HideWaitDialog() override { m_app.HideWaitDialog(); }

private:
    clApplication& m_app;
};

clApplication::clApplication() {
    // The process locale is the user's (LANG, LC_*): its codeset is the encoding of commands
    // and settings texts (platform::LocaleCodeset).
    std::setlocale(LC_ALL, "");
    m_channelSection = FormatNumbered("CAMERA_COMM_Ch%02d", 0);
    m_watchPeriodMs = 50;
    m_requestedInstanceNumber = -1;
    m_selectedInterfaceIndex = -1;
}

clApplication::~clApplication() {
    ShutDown();
}

// ---------------------------------------------------------------------------------------------
// Instance switch and instance number

int32_t clApplication::ParseInstanceSwitch(std::string_view commandLine) {
    commandLine = commandLine.substr(0, kMaxSwitchChars);
    if (commandLine.size() < 2 || (commandLine[0] != '-' && commandLine[0] != '/') ||
        commandLine[1] != 'i')
        return -1;
    std::string_view rest = commandLine.substr(2);
    rest = rest.substr(0, rest.find_first_of(" ,\r"));
    const std::string piece(rest);
    errno = 0;
    char* end = nullptr;
    long long value = std::strtoll(piece.c_str(), &end, 0);
    if (errno == ERANGE || value < 0 || value > INT32_MAX)
        return -1;
    return static_cast<int32_t>(value);
}

void clApplication::ReadInstanceSwitch(int argc, const char* const* argv) {
    if (argc < 2 || !argv)
        return;
    std::string line;
    for (int i = 1; i < argc && argv[i] && line.size() < kMaxSwitchChars; ++i) {
        if (i > 1)
            line.push_back(' ');
        line += argv[i];
    }
    m_requestedInstanceNumber = ParseInstanceSwitch(line);
}

bool clApplication::ChooseInstanceNumber() {
    // A number above the range is tried alone; the step to the next number is taken only
    // below the top, so the largest number never overflows.
    for (int32_t n = m_requestedInstanceNumber >= 0 ? m_requestedInstanceNumber : 0;; ++n) {
        char name[48];
        std::snprintf(name, sizeof name, "Quillon_%02d.lock", n);
        if (m_instanceLock.Acquire(name, m_environment.lockFolder)) {
            m_instanceNumber = n;
            return true;
        }
        if (n >= kMaxSearchedInstance)
            return false;
    }
}

// ---------------------------------------------------------------------------------------------
// Settings

uint32_t clApplication::ApplyTimeoutRule(uint32_t value) {
    if (value < 100)
        return 100;
    if (value == 4294967295u)
        return 4294967294u;
    return value;
}

int32_t clApplication::PortTimeout(uint32_t value) {
    return value > static_cast<uint32_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(value);
}

bool clApplication::WriteDefaultSettings(const std::u16string& settingsFilePath) {
    struct Entry {
        const char16_t* section;
        const char16_t* key;
        const char16_t* value;
    };
    static constexpr char16_t kChannel[] = u"CAMERA_COMM_Ch00";
    static constexpr Entry kEntries[] = {
        {u"App", u"Console Rows", u"2000"},
        {u"App", u"Receive Buffer Bytes", u""},
        {u"App", u"LastConfig", u""},
        {u"WindowPlace", u"Left", u""},
        {u"WindowPlace", u"Top", u""},
        {u"WindowPlace", u"Right", u""},
        {u"WindowPlace", u"Bottom", u""},
        {u"WindowPlace", u"State", u""},
        {u"WindowPlace", u"Split", u""},
        {u"Internationalize", u"Force English", u"0"},
        {u"Path", u"CameraLink DLL", u""},
        {u"Path", u"Text Load", u""},
        {u"Path", u"Text Save", u""},
        {kChannel, u"SelectInterface", kNoSettings},
        {kChannel, u"COM Port Name", kNoSettings},
        {kChannel, u"CameraLink DLL", u""},
        {kChannel, u"CameraLink Serial Index", u"0"},
        {kChannel, u"Reconnect", u"1"},
        {u"TARN_Timeouts", u"First Recv", u"20000"},
        {u"TARN_Timeouts", u"Next Recv", u"20000"},
        {u"TARN_Timeouts", u"Send", u"20000"},
        {u"TARN_Timeouts", u"Command Gap", u"50"},
    };
    bool ok = true;
    for (const Entry& e : kEntries)
        ok = platform::WritePrivateProfileString(e.section, e.key, e.value, settingsFilePath) && ok;
    return ok;
}

// ---------------------------------------------------------------------------------------------
// Start-up and shutdown

int32_t clApplication::StartUp() {
    // Program folder, the folders of settings and logs; the log folder is made current.
    std::string folder = m_environment.programFolder.empty() ? platform::ProgramFolder()
                                                             : m_environment.programFolder;
    if (folder.empty())
        return 1;
    if (folder.back() != '/')
        folder.push_back('/');
    m_programFolder = platform::PathToUtf16(folder);
    const platform::DataFolders data = platform::ChooseDataFolders(
        folder, platform::SystemEnv,
        m_environment.folderWritable ? m_environment.folderWritable : platform::FolderWritable);
    if (!data.portable) {
        platform::MakeFolders(data.settingsFolder);
        platform::MakeFolders(data.stateFolder);
        platform::MakeFolders(data.userDefinitionFolder);
    }
    m_userCamDefineFolder = platform::PathToUtf16(data.userDefinitionFolder);
    // The port logs are written relative to the current directory.
    if (m_environment.changeCurrentDirectory)
        (void)!::chdir(data.stateFolder.c_str()); // paths below are absolute; failure is harmless

    // Instance number.
    if (!ChooseInstanceNumber())
        return 1;

    // Settings file, created with the defaults when there is none.
    m_settingsFilePath = platform::PathToUtf16(data.settingsFolder) +
                         FormatNumbered("Quillon_%02d.ini", m_instanceNumber);
    struct stat st {};
    if (::stat(Path(m_settingsFilePath).c_str(), &st) != 0 && errno == ENOENT)
        WriteDefaultSettings(m_settingsFilePath);

    // Application log.
    m_logFilePath = platform::PathToUtf16(data.stateFolder) +
                    FormatNumbered("Quillon_%02d_Log.txt", m_instanceNumber);
    m_appLog = std::make_unique<clSimpleLog>(Path(m_logFilePath));
    CreateLogFile(Path(m_logFilePath));

    // Settings values.
    const std::u16string& ini = m_settingsFilePath;
    m_forceEnglish = platform::GetPrivateProfileInt(u"Internationalize", u"Force English", 0, ini);
    m_timeoutFirstRecv = ApplyTimeoutRule(
        platform::GetPrivateProfileInt(u"TARN_Timeouts", u"First Recv", kDefaultTimeoutMs, ini));
    m_timeoutNextRecv = ApplyTimeoutRule(
        platform::GetPrivateProfileInt(u"TARN_Timeouts", u"Next Recv", kDefaultTimeoutMs, ini));
    m_timeoutSend = ApplyTimeoutRule(
        platform::GetPrivateProfileInt(u"TARN_Timeouts", u"Send", kDefaultTimeoutMs, ini));
    m_commandGap = platform::GetPrivateProfileInt(u"TARN_Timeouts", u"Command Gap",
                                                  clCommunicateModel::kDefaultCommandGapMs, ini);
    m_selectedInterfaceName = platform::GetPrivateProfileString(
        m_channelSection, u"SelectInterface", kNoSettings, ini, kMaxInterfaceNameChars);
    m_consoleRows = static_cast<int32_t>(
        platform::GetPrivateProfileInt(u"App", u"Console Rows", kDefaultConsoleRows, ini));
    m_receiveBufferBytes = platform::GetPrivateProfileInt(u"App", u"Receive Buffer Bytes",
                                                          kDefaultReceiveBufferBytes, ini);

    // XML library.
    xmlCheckVersion(20903);
    xmlKeepBlanksDefault(0);
    m_xmlInitialised = true;

    // UI language.
    SetUiLanguage(m_forceEnglish, platform::UserDefaultUiLanguage());
    m_languageCode = UiLanguageCode();

    // Wait dialog.
    CreateWaitDialog();

    // Program folder, settings file, channel section and time-outs for every interface.
    FillPortParams();

    // Plug-in discovery.
    DiscoverInterfaces();

    // Selected interface.
    m_selectedInterfaceIndex = FindInterfaceIndex(m_selectedInterfaceName);
    ApplySelectedInterface();

    // Button images of the dialog bars.
    CreateImageList();

    // Camera definition folder.
    m_camDefineFolder = m_programFolder + u"CamDefine/";

    // Communication engine.
    if (!CreateEngine())
        return 1;

    // Schema file pattern, receive ring and receive time-outs of the engine.
    if (!PrepareEngine())
        return 1;

    // Working set.
    if (!ReserveWorkingSet())
        return 1;

    // Events of the worker thread.
    try {
        m_stopEvent = std::make_unique<platform::Event>(platform::Event::Reset::Manual, false);
        m_jobEvent = std::make_unique<platform::Event>(platform::Event::Reset::Auto, false);
    } catch (const std::exception&) {
        m_appLog->Write(std::string_view("Can not create events"));
        return 1;
    }
    return 0;
}

void clApplication::ShutDown() {
    // Elapsed-time watch (and the watch of the serial device).
    StopPortLink();
    StopWatch();
    // Worker thread: the stop event ends every wait of it.
    if (m_stopEvent)
        m_stopEvent->Set();
    StopWorkerThread();
    if (m_workerLeftRunning || (m_engine && m_engine->WorkerExists())) {
        // The worker still runs: nothing it may use is freed, neither the events, the engine
        // and its context, the watch, nor the modules (its port operations live there) or the
        // log.
        m_workerLeftRunning = true;
        KeepForRunningWorker();
        if (m_xmlInitialised)
            m_xmlInitialised = false;
        DestroyWaitDialog();
        RestoreWorkingSet();
        (void)m_appLog.release();
        m_instanceLock.Release();
        return;
    }
    // Events.
    m_stopEvent.reset();
    m_jobEvent.reset();
    // Communication engine.
    DestroyEngine();
    // XML library.
    if (m_xmlInitialised) {
        xmlCleanupParser();
        m_xmlInitialised = false;
    }
    // Plug-in modules and the interface lists.
    UnloadModules();
    // Wait dialog.
    DestroyWaitDialog();
    // Working-set limits.
    RestoreWorkingSet();
    // Application log.
    m_appLog.reset();
    // Instance number.
    m_instanceLock.Release();
}

void clApplication::ApplySelectedInterface() {
    const int32_t index = m_selectedInterfaceIndex;
    if (index < 0 || static_cast<size_t>(index) >= m_interfaces.Count() ||
        !m_interfaces.interfaces[static_cast<size_t>(index)]) {
        m_portNameText = kNoSettings;
        m_portDescriptionText.clear();
        m_currentPort = nullptr;
        m_lineSpeedText = kNoSettings;
        return;
    }
    InterfaceTable* table = m_interfaces.interfaces[static_cast<size_t>(index)];
    auto text = [](const char16_t* (*get)()) {
        const char16_t* value = get ? get() : nullptr;
        return std::u16string(value ? value : u"");
    };
    m_portNameText = text(table->GetPortName);
    m_portDescriptionText = text(table->GetPortDescription);
    m_plugInPort.opTable = table->GetSelectedPortIF ? table->GetSelectedPortIF() : nullptr;
    m_currentPort = &m_plugInPort;
    char speed[32];
    std::snprintf(speed, sizeof speed, "%ld bps", static_cast<long>(m_plugInPort.GetBaudRate()));
    m_lineSpeedText = platform::Utf8ToUtf16(speed);
    // An interface whose library is gone says so on the port line; its speed means nothing.
    const PortReasonInfo reason = m_interfaces.Reason(index);
    if (PortLibraryUnavailable(reason)) {
        m_portDescriptionText = PortLineReasonText(reason);
        m_lineSpeedText = kNoSettings;
    }
}

std::u16string clApplication::SelectInterface(int32_t index) {
    m_selectedInterfaceIndex = index;
    std::u16string name;
    const auto i = static_cast<size_t>(index);
    if (index >= 0 && i < m_interfaces.Count()) {
        InterfaceTable* table = m_interfaces.interfaces[i];
        const char16_t* text =
            table && table->GetInterfaceName ? table->GetInterfaceName() : nullptr;
        name = text ? text : u"";
    }
    if (!name.empty())
        m_selectedInterfaceName = name;
    ApplySelectedInterface();
    return name;
}

void clApplication::SetTimeouts(uint32_t firstReceive, uint32_t nextReceive, uint32_t send) {
    m_timeoutFirstRecv = firstReceive;
    m_timeoutNextRecv = nextReceive;
    m_timeoutSend = send;
    m_portParams.firstReceiveTimeout = PortTimeout(firstReceive);
    m_portParams.nextReceiveTimeout = PortTimeout(nextReceive);
    m_portParams.sendTimeout = PortTimeout(send);
    if (m_engine)
        m_engine->SetReceiveTimeouts(firstReceive, nextReceive);
}

void clApplication::UseProgramFolder(std::u16string programFolder,
                                     std::u16string settingsFilePath) {
    m_programFolder = std::move(programFolder);
    m_settingsFilePath = std::move(settingsFilePath);
    // A block handed out already would point at the texts just replaced.
    if (m_portParams.programFolder)
        m_portParams.programFolder = m_programFolder.c_str();
    if (m_portParams.settingsFilePath)
        m_portParams.settingsFilePath = m_settingsFilePath.c_str();
}

void clApplication::UseDefinitionFolders(std::u16string camDefineFolder,
                                         std::u16string userCamDefineFolder) {
    m_camDefineFolder = std::move(camDefineFolder);
    m_userCamDefineFolder = std::move(userCamDefineFolder);
}

std::u16string clApplication::PortReasonLine() const {
    if (!m_currentPort)
        return {};
    return PortReasonText(m_interfaces.Reason(m_selectedInterfaceIndex));
}

int32_t clApplication::RequestMessageBox(std::u16string text, std::u16string caption,
                                         uint32_t style) {
    m_messageBoxText = std::move(text);
    m_messageBoxCaption = std::move(caption);
    if (!m_mainFrame) {
        // Nobody could answer; a result left from an earlier box must not pass for this one's.
        m_messageBoxResult = 0;
        return 0;
    }
    m_mainFrame->SendUiMessage(UM_MESSAGE_BOX, 0, static_cast<intptr_t>(style));
    return m_messageBoxResult;
}

// ---------------------------------------------------------------------------------------------
// Working set

platform::IWorkingSet& clApplication::WorkingSet() {
    return m_environment.workingSet ? *m_environment.workingSet : m_systemWorkingSet;
}

bool clApplication::ReserveWorkingSet() {
    if (m_workingSetChanged != 0)
        return true;
    platform::IWorkingSet& ws = WorkingSet();
    auto fail = [this](const char* line) {
        if (line)
            m_appLog->Write(std::string_view(line));
        m_appLog->Write(std::string_view("WorkingSetSize変更失敗"));
        return false;
    };
    uint64_t available = 0;
    if (!ws.QueryAvailableVirtual(available))
        return fail("OS環境異常 GlobalMemoryStatusEx");
    const uint64_t limit =
        static_cast<uint64_t>(static_cast<double>(available) * static_cast<double>(0.9f));
    if (!ws.GetLimits(m_savedMinWorkingSet, m_savedMaxWorkingSet))
        return fail("OS環境異常 GetProcessWorkingSetSize");
    const uint64_t wanted = m_savedMinWorkingSet > UINT64_MAX - kWorkingSetReserve
                                ? UINT64_MAX
                                : m_savedMinWorkingSet + kWorkingSetReserve;
    if (wanted >= limit) {
        char line[128];
        std::snprintf(line, sizeof line, "要求メモリサイズがOS環境を超えている %6.1fMB",
                      static_cast<double>(wanted) / 1048576.0);
        return fail(line);
    }
    if (m_savedMaxWorkingSet < wanted) {
        if (!ws.SetLimits(wanted, wanted))
            return fail("OS環境異常 SetProcessWorkingSetSize");
        m_workingSetChanged = 1;
    }
    return true;
}

void clApplication::RestoreWorkingSet() {
    if (m_workingSetChanged != 1)
        return;
    WorkingSet().SetLimits(m_savedMinWorkingSet, m_savedMaxWorkingSet);
    m_workingSetChanged = 0;
}

// ---------------------------------------------------------------------------------------------
// Steps whose bodies the port, engine and user-interface work provide. Each keeps its place in
// the order of start-up and shutdown above.

// Start-up: the block every interface entry gets.
void clApplication::FillPortParams() {
    m_portParams = PortParamBlock{};
    m_portParams.firstReceiveTimeout = PortTimeout(m_timeoutFirstRecv);
    m_portParams.nextReceiveTimeout = PortTimeout(m_timeoutNextRecv);
    m_portParams.sendTimeout = PortTimeout(m_timeoutSend);
    m_portParams.programFolder = m_programFolder.c_str();
    m_portParams.settingsFilePath = m_settingsFilePath.c_str();
    m_portParams.channelSectionName = m_channelSection.c_str();
}

// Start-up: the built-in serial interface, then every "Pivra*.so" module of the program
// folder, into the interface, module and version text lists.
void clApplication::DiscoverInterfaces() {
    clCamCtrl& ctrl = HostPortCtrl();
    ctrl.log = m_appLog.get();
    ctrl.settingsPath = m_settingsFilePath;
    BuiltInComPort().Reset();
    m_plugInPort.owner = &ctrl;
    const std::string programFile =
        m_environment.programFile.empty() ? platform::ProgramFilePath() : m_environment.programFile;
    m_interfaces.Discover(&m_portParams, Path(m_programFolder), programFile,
                          &GetBuiltInComInterface, &GetBuiltInComPortReason);
}

// Start-up: the first interface whose name equals `name` exactly (letter case counts).
int32_t clApplication::FindInterfaceIndex(const std::u16string& name) const {
    return m_interfaces.FindInterfaceIndex(name);
}

// Start-up: the button images of the dialog bars live in the user interface.
void clApplication::CreateImageList() {}

// Start-up: the communication engine with its property manager, and the elapsed-time watch
// (started on UM_STARTUP).
bool clApplication::CreateEngine() {
    try {
        m_engineContext = std::make_unique<EngineContext>(*this);
        m_engine = std::make_unique<clCommunicateModel>(*m_engineContext);
        m_watch = std::make_unique<clWatchThread>();
    } catch (const std::exception&) {
        m_appLog->Write(std::string_view("Can not create the communication engine"));
        m_engine.reset();
        m_engineContext.reset();
        return false;
    }
    return true;
}

// Start-up: the schema pattern, the receive ring and the engine's copies of the receive
// time-outs. A "Receive Buffer Bytes" of 0 takes the default size; a size that cannot be
// allocated ends start-up (the engine cannot receive without its ring).
bool clApplication::PrepareEngine() {
    m_engine->PropertyManager().SetSchemaPathFormat(m_camDefineFolder +
                                                    u"OrvaCamSchema_v%d_%d.xsd");
    if (m_receiveBufferBytes == 0)
        m_receiveBufferBytes = kDefaultReceiveBufferBytes;
    if (!m_engine->Ring().Allocate(m_receiveBufferBytes)) {
        char line[96];
        std::snprintf(line, sizeof line, "Can not allocate the receive buffer (%llu bytes)",
                      static_cast<unsigned long long>(m_receiveBufferBytes));
        m_appLog->Write(std::string_view(line));
        return false;
    }
    // Property jobs compose their command texts with the manager's current values.
    m_engine->ManagerCommands().SetComposer(
        [](const clCamPropertyMgr& manager, const clCamCommand& command, std::u16string& text) {
            return static_cast<int32_t>(manager.ComposeCommand(&command, text));
        });
    m_engine->SetReceiveTimeouts(m_timeoutFirstRecv, m_timeoutNextRecv);
    m_engine->SetCommandGap(m_commandGap);
    return true;
}

// Shutdown: the elapsed-time watch.
void clApplication::StopWatch() {
    if (m_watch)
        m_watch->Stop();
}

// Shutdown: waits at most 5000 ms for the worker thread after the stop event was set; one
// that does not end is left running and logged.
void clApplication::StopWorkerThread() {
    if (m_engine && m_engine->WorkerExists() &&
        !m_engine->ShutDown({}, m_environment.threadStopTimeoutMs))
        m_workerLeftRunning = true;
}

void clApplication::KeepForRunningWorker() {
    // Reachable from here for as long as the process runs.
    struct Kept {
        std::unique_ptr<EngineContext> context;
        std::unique_ptr<clCommunicateModel> engine;
        std::unique_ptr<clWatchThread> watch;
        std::unique_ptr<platform::Event> stop, job;
    };
    static auto* kept = new std::vector<Kept>;
    kept->push_back({std::move(m_engineContext), std::move(m_engine), std::move(m_watch),
                     std::move(m_stopEvent), std::move(m_jobEvent)});
}

// Shutdown: the communication engine (a port still connected is closed first, so its receive
// thread never delivers into a freed ring), then the watch.
void clApplication::DestroyEngine() {
    if (m_engine && m_engine->IsConnected() && m_currentPort) {
        m_currentPort->Disconnect();
        m_currentPort->Uninit();
    }
    if (m_currentPort)
        m_currentPort->SetReceiveCallback(nullptr, nullptr);
    m_engine.reset();
    m_engineContext.reset();
    m_watch.reset();
}

// ---------------------------------------------------------------------------------------------
// The main window's calls

bool clApplication::StartWorkerThreads() {
    if (!m_engine || !m_watch)
        return false;
    bool ok = true;
    // A window that comes after an earlier one's shutdown is reached again.
    m_engineContext->UiLink().Open();
    if (!m_engine->WorkerExists() && !m_engine->StartWorker()) {
        m_appLog->Write(std::string_view("Can not start the worker thread"));
        ok = false;
    }
    StartPortLink();
    m_watch->target = m_mainFrame;
    m_watch->message = UM_REFRESH_VIEWS;
    m_watch->wParam = 0;
    m_watch->lParam = REFRESH_STATUS;
    m_watch->period = static_cast<int32_t>(m_watchPeriodMs);
    m_watch->log = m_appLog.get();
    bool started = false;
    try {
        m_watch->CreateEvents();
        started = m_watch->Start();
    } catch (const std::exception&) {
        // An event that cannot be created ends only the watch, never the program.
    }
    if (!started) {
        m_appLog->Write(std::string_view("Can not start the elapsed-time watch"));
        ok = false;
    }
    return ok;
}

void clApplication::StopThreads(const std::function<void()>& pumpMessages) {
    StopPortLink();
    StopWatch();
    if (m_stopEvent)
        m_stopEvent->Set();
    if (!m_engine)
        return;
    if (!m_engine->ShutDown(pumpMessages, m_environment.threadStopTimeoutMs))
        m_workerLeftRunning = true;
}

int32_t clApplication::ConnectCamera() {
    if (!m_currentPort || !m_engine)
        return PORT_ERROR;
    m_currentPort->SetReceiveCallback(&clCommunicateModel::OnReceiveData, m_engine.get());
    m_currentPort->Init();
    const int32_t result = m_currentPort->Connect();
    if (result == PORT_OK) {
        m_engine->MarkConnected();
        // The built-in interface is always entry 0; only its device is watched.
        if (m_portLink && m_selectedInterfaceIndex == 0)
            m_portLink->Connected();
    }
    return result;
}

void clApplication::AbandonConnect() {
    if (!m_currentPort)
        return;
    if (m_currentPort->IsConnected() == 1)
        DisconnectCamera();
    m_currentPort->Uninit();
}

void clApplication::DisconnectCamera(const std::function<void()>& pumpMessages) {
    if (m_portLink)
        m_portLink->Disconnected();
    if (m_engine)
        m_engine->DisconnectCamera(pumpMessages);
}

// ---------------------------------------------------------------------------------------------
// The built-in serial port's device going and coming back

void clApplication::StartPortLink() {
    if (m_portLink || !m_engine)
        return;
    bool started = false;
    try {
        std::unique_ptr<IDeviceEventSource> source =
            m_environment.deviceSource ? m_environment.deviceSource() : MakeUdevTtySource();
        m_portLink = std::make_unique<clPortLinkGuard>(BuiltInComPort(), std::move(source));
        clCommunicateModel* engine = m_engine.get();
        // Both run on the thread that noticed; the context's way to the window closes at
        // shutdown.
        m_portLink->SetHost(
            {[engine] { engine->CancelReceiving(); },
             [engine](uintptr_t news) { engine->Context().Post(UM_PORT_LINK, news); }});
        started = m_portLink->Start();
    } catch (const std::exception&) {
        // A watch that cannot get its event or device source ends only itself, never the
        // program.
    }
    if (!started)
        m_appLog->Write(std::string_view("Can not start the serial device watch"));
}

void clApplication::StopPortLink() {
    if (m_portLink)
        m_portLink->Stop();
    m_portLink.reset();
}

bool clApplication::ReconnectEnabled() const {
    return platform::GetPrivateProfileInt(m_channelSection, u"Reconnect", 1, m_settingsFilePath) !=
           0;
}

std::u16string clApplication::HandlePortLost(const std::function<void()>& pumpMessages) {
    if (!m_portLink || !m_engine || !m_engine->IsConnected() || !BuiltInComPort().LinkLost())
        return {}; // closed meanwhile, or news of an earlier connection
    const std::u16string device = m_portLink->NewsDevice();
    m_engine->DisconnectCamera(pumpMessages);
    const bool reconnect = ReconnectEnabled();
    m_portLink->AfterLoss(reconnect);
    m_appLog->Write(FormatMsg(MSG_PORT_LOST, {device}));
    return device;
}

int32_t clApplication::HandlePortReturned() {
    if (!m_portLink || !m_engine || m_engine->IsConnected() || !ReconnectEnabled() ||
        m_selectedInterfaceIndex != 0 || !m_currentPort)
        return -1;
    const std::u16string device = m_portLink->NewsDevice();
    // Back under another node: opened by its stable name.
    BuiltInComPort().identity.devicePath = device;
    const int32_t result = ConnectCamera();
    if (result != PORT_OK) {
        // Just plugged in, udev may not have given the node its group yet, or a modem
        // manager probes it: the window tries again a few times.
        AbandonConnect();
        std::u16string line = FormatNumbered("Reconnect: Connect = %d", result);
        if (const std::u16string reason = PortReasonLine(); !reason.empty())
            line += u", " + reason;
        m_appLog->Write(line);
        return result;
    }
    m_appLog->Write(FormatMsg(MSG_PORT_RECONNECTED, {device}));
    // Nothing of the user's is sent again; only the identity is asked, to compare.
    m_portLink->BeginIdentityCheck(
        {m_engine->CameraModel(), m_engine->CameraVersion(), m_engine->CameraSerial()});
    m_engine->SetCameraIdentity({}, {}, {});
    m_engine->SubmitCommandJob(u"sta");
    return 0;
}

bool clApplication::CheckReconnectedIdentity(std::u16string& warning) {
    if (!m_portLink || !m_engine || !m_portLink->IdentityCheckPending())
        return false;
    const CameraIdentity now{m_engine->CameraModel(), m_engine->CameraVersion(),
                             m_engine->CameraSerial()};
    CameraIdentity before;
    if (!m_portLink->EndIdentityCheck(now, before))
        return false;
    warning =
        FormatMsg(MSG_PORT_OTHER_CAMERA, {m_portLink->NewsDevice(), before.Text(), now.Text()});
    m_appLog->Write(warning);
    return true;
}

bool clApplication::IsConnected() const {
    return m_engine && m_engine->IsConnected();
}

bool clApplication::IsEngineReady() const {
    return m_engine && m_engine->IsReady();
}

bool RouteReplyLine(uint32_t& flags, std::u16string_view line,
                    const clApplication::IdentityLineHook& identity, clCamPropertyMgr* manager) {
    if (line.size() < 2 || line.front() != u'>')
        return false;
    const std::u16string_view text = line.substr(1);
    if (identity && identity(flags, text))
        return true;
    if (!manager)
        return false;
    int updated = 0;
    if (!manager->ParseReplyLine(text, updated) || !updated)
        return false;
    flags |= REFRESH_PROPERTIES | REFRESH_RELOAD_VALUES;
    return true;
}

bool clApplication::HandleReplyLine(uint32_t& flags, std::u16string_view line) {
    return RouteReplyLine(flags, line, m_identityLineHook,
                          m_engine ? &m_engine->PropertyManager() : nullptr);
}

void clApplication::ShowWaitDialog(std::u16string_view, std::u16string_view) {}
void clApplication::HideWaitDialog() {}

// Shutdown: unloads every plug-in module and empties the three interface lists. The port
// object forgets the tables first: they are static data of the modules.
void clApplication::UnloadModules() {
    m_currentPort = nullptr;
    m_plugInPort.opTable = nullptr;
    m_selectedInterfaceIndex = -1;
    m_interfaces.UnloadModules();
    if (HostPortCtrl().log == m_appLog.get())
        HostPortCtrl().log = nullptr;
}
