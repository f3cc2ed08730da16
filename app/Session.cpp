#include "app/Session.h"

#include "app/PortReasonText.h"
#include "base/MessageTable.h"
#include "base/Messages.h"
#include "base/SimpleLog.h"
#include "camdef/CamPropertyMgr.h"
#include "platform/IniProfile.h"
#include "platform/Text.h"
#include "port/PortComm.h"

#include <cstdio>
#include <libxml/parser.h>
#include <libxml/xmlversion.h>

const char16_t kChannelSection[] = u"CAMERA_COMM_Ch00";

namespace {

std::u16string Numbered(const char* format, int number) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, number);
    return platform::Utf8ToUtf16(buf);
}

} // namespace

std::u16string SettingsFileName(int instance) {
    return Numbered("Quillon_%02d.ini", instance);
}

std::u16string LogFileName(int instance) {
    return Numbered("Quillon_%02d_Log.txt", instance);
}

namespace {

// A time-out as the ports take it (signed 32 bits): above 2147483647 it is clamped.
int32_t PortTimeout(uint32_t value) {
    return value > static_cast<uint32_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(value);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Settings

uint32_t SessionSettings::ApplyTimeoutRule(uint32_t value) {
    if (value < 100)
        return 100;
    if (value == 4294967295u)
        return 4294967294u;
    return value;
}

SessionSettings SessionSettings::Read(const std::u16string& ini) {
    SessionSettings s;
    auto timeout = [&ini](const char16_t* key) {
        return ApplyTimeoutRule(
            platform::ReadSettingInt(u"TARN_Timeouts", key, kDefaultTimeoutMs, ini));
    };
    s.firstReceive = timeout(u"First Recv");
    s.nextReceive = timeout(u"Next Recv");
    s.send = timeout(u"Send");
    s.commandGap = platform::ReadSettingInt(u"TARN_Timeouts", u"Command Gap",
                                            clCommunicateModel::kDefaultCommandGapMs, ini);
    s.receiveBufferBytes =
        platform::ReadSettingInt(u"App", u"Receive Buffer Bytes", kDefaultReceiveBufferBytes, ini);
    s.consoleRows = static_cast<int32_t>(
        platform::ReadSettingInt(u"App", u"Console Rows", kDefaultConsoleRows, ini));
    s.forceEnglish = platform::ReadSettingInt(u"Internationalize", u"Force English", 0, ini);
    s.selectedInterface = platform::ReadSetting(kChannelSection, u"SelectInterface", kNoSettings,
                                                ini, kMaxInterfaceNameChars);
    return s;
}

// ---------------------------------------------------------------------------------------------
// The engine's context: the session's own fields and the front-end's services.

class clSession::Context : public clEngineContext {
public:
    explicit Context(clSession& session) : m_session(session) {}

    clSimpleLog* Log() override { return m_session.m_setup.log; }
    platform::Event* StopEvent() override { return m_session.m_stopEvent.get(); }
    platform::Event* JobEvent() override { return m_session.m_jobEvent.get(); }
    clCamPort* CurrentPort() override { return m_session.m_currentPort; }
    clWatchThread* Watch() override { return m_session.m_setup.watch; }
    std::u16string LanguageCode() override { return m_session.m_setup.languageCode; }
    std::u16string MessageText(int id) override { return Msg(id); }
    void ShowWaitDialog(std::u16string_view text, std::u16string_view caption) override {
        if (m_session.m_setup.showWaitDialog)
            m_session.m_setup.showWaitDialog(text, caption);
    }
    void HideWaitDialog() override {
        if (m_session.m_setup.hideWaitDialog)
            m_session.m_setup.hideWaitDialog();
    }

private:
    clSession& m_session;
};

// ---------------------------------------------------------------------------------------------
// Start and shutdown

clSession::clSession()
    : m_forwarder(std::make_unique<clReceiveForwarder>()), m_alive(std::make_shared<bool>(true)),
      m_channelSection(kChannelSection) {}

clSession::~clSession() {
    ShutDown();
    *m_alive = false;
}

bool clSession::Start(const Setup& setup, const SessionSettings& settings, std::string& error) {
    m_setup = setup;
    m_settings = settings;
    m_programFolder = setup.programFolder;
    m_settingsFile = setup.settingsFile;

    // XML library.
    xmlCheckVersion(20903);
    xmlKeepBlanksDefault(0);
    m_xmlInitialised = true;

    // The block every interface gets, then the interfaces: the built-in one first.
    FillPortParams();
    clCamCtrl& ctrl = HostPortCtrl();
    ctrl.log = m_setup.log;
    ctrl.settingsPath = m_settingsFile;
    BuiltInComPort().Reset();
    m_plugInPort.owner = &ctrl;
    m_interfaces.Discover(&m_portParams, platform::Utf16ToPath(m_programFolder),
                          m_setup.programFile, &GetBuiltInComInterface, &GetBuiltInComPortReason);
    SelectInterface(FindInterfaceIndex(m_settings.selectedInterface));

    // The engine: schema pattern, ring, composer, time-outs, command gap; the worker's events.
    try {
        m_context = std::make_unique<Context>(*this);
        m_engine = std::make_unique<clCommunicateModel>(*m_context);
        m_stopEvent = std::make_unique<platform::Event>(platform::Event::Reset::Manual, false);
        m_jobEvent = std::make_unique<platform::Event>(platform::Event::Reset::Auto, false);
    } catch (const std::exception&) {
        error = "cannot create the communication engine";
        WriteLog(u"Can not create the communication engine");
        m_engine.reset();
        m_context.reset();
        return false;
    }
    m_engine->SetEvents(this);
    m_engine->PropertyManager().SetSchemaPathFormat(m_setup.camDefineFolder +
                                                    u"OrvaCamSchema_v%d_%d.xsd");
    if (m_settings.receiveBufferBytes == 0)
        m_settings.receiveBufferBytes = SessionSettings::kDefaultReceiveBufferBytes;
    if (!m_engine->Ring().Allocate(m_settings.receiveBufferBytes)) {
        char line[96];
        std::snprintf(line, sizeof line, "Can not allocate the receive buffer (%llu bytes)",
                      static_cast<unsigned long long>(m_settings.receiveBufferBytes));
        error = line;
        WriteLog(platform::Utf8ToUtf16(line));
        return false;
    }
    // Property jobs compose their command texts with the manager's current values.
    m_engine->ManagerCommands().SetComposer(
        [](const clCamPropertyMgr& manager, const clCamCommand& command, std::u16string& text) {
            return static_cast<int32_t>(manager.ComposeCommand(&command, text));
        });
    m_engine->SetReceiveTimeouts(m_settings.firstReceive, m_settings.nextReceive);
    m_engine->SetCommandGap(m_settings.commandGap);
    // The built-in port gives up a send as soon as the engine says so.
    BuiltInComPort().SetSendAbort(&m_engine->SendAbortEvent());
    m_started = true;
    return true;
}

void clSession::FillPortParams() {
    m_portParams = PortParamBlock{};
    m_portParams.firstReceiveTimeout = PortTimeout(m_settings.firstReceive);
    m_portParams.nextReceiveTimeout = PortTimeout(m_settings.nextReceive);
    m_portParams.sendTimeout = PortTimeout(m_settings.send);
    m_portParams.programFolder = m_programFolder.c_str();
    m_portParams.settingsFilePath = m_settingsFile.c_str();
    m_portParams.channelSectionName = m_channelSection.c_str();
}

void clSession::UseFolders(const std::u16string& programFolder,
                           const std::u16string& settingsFile) {
    m_programFolder = programFolder;
    m_settingsFile = settingsFile;
    m_portParams.programFolder = m_programFolder.c_str();
    m_portParams.settingsFilePath = m_settingsFile.c_str();
}

bool clSession::StartWorker(
    const std::function<std::unique_ptr<IDeviceEventSource>()>& deviceSource) {
    if (!m_engine)
        return false;
    bool ok = true;
    // A front-end that comes after an earlier one's shutdown is reached again.
    m_engine->OpenEvents();
    if (!m_engine->WorkerExists() && !m_engine->StartWorker()) {
        WriteLog(u"Can not start the worker thread");
        ok = false;
    }
    if (m_portLink)
        return ok;
    bool watching = false;
    try {
        m_portLink = std::make_unique<clPortLinkGuard>(
            BuiltInComPort(), deviceSource ? deviceSource() : MakeUdevTtySource());
        clCommunicateModel* engine = m_engine.get();
        // Both run on the thread that noticed: a loss ends the running job at once, before
        // the front-end has even heard of it; the rest runs on the owner's thread.
        m_portLink->SetHost([this, engine](clPortLinkGuard::News news, const std::u16string& d) {
            if (news == clPortLinkGuard::kLost) {
                engine->PortLost(d);
                Post([this] { HandlePortLost(); });
            } else {
                Post([this] { HandlePortReturned(kReconnectTries); });
            }
        });
        watching = m_portLink->Start();
    } catch (const std::exception&) {
        // A watch that cannot get its event or device source ends only itself.
    }
    if (!watching)
        WriteLog(u"Can not start the serial device watch");
    return ok;
}

void clSession::StopPortLink() {
    if (m_portLink)
        m_portLink->Stop();
    m_portLink.reset();
}

bool clSession::StopWorker() {
    StopPortLink();
    if (!m_engine)
        return true;
    if (!m_engine->ShutDown([this] { Pump(); }, m_setup.threadStopTimeoutMs))
        m_workerLeftRunning = true;
    return !m_workerLeftRunning;
}

bool clSession::ShutDown() {
    if (!m_started && !m_engine && m_interfaces.Count() == 0)
        return true;
    StopWorker();
    if (m_workerLeftRunning || (m_engine && m_engine->WorkerRunning())) {
        m_workerLeftRunning = true;
        KeepForRunningThreads();
        m_started = false;
        return false;
    }
    // The port closes first, so its receive thread never delivers into a freed ring; the
    // forwarder goes nowhere from here on, whatever the port still holds.
    if (m_engine && m_engine->IsConnected() && m_currentPort) {
        m_currentPort->Disconnect();
        m_currentPort->Uninit();
    }
    m_forwarder->Disarm();
    BuiltInComPort().SetSendAbort(nullptr);
    if (m_engine)
        m_engine->Traffic().Close();
    m_engine.reset();
    m_context.reset();
    m_stopEvent.reset();
    m_jobEvent.reset();
    if (m_xmlInitialised) {
        xmlCleanupParser();
        m_xmlInitialised = false;
    }
    // Plug-in modules and the interface lists; the port forgets their tables first.
    m_currentPort = nullptr;
    m_plugInPort.opTable = nullptr;
    m_selectedIndex = -1;
    m_interfaces.UnloadModules();
    if (HostPortCtrl().log == m_setup.log)
        HostPortCtrl().log = nullptr;
    m_started = false;
    return true;
}

void clSession::KeepForRunningThreads() {
    // Reachable from here for as long as the process runs: the engine, its context and events,
    // the port's forwarder, and the modules (the worker's port operations live there).
    struct Kept {
        std::unique_ptr<Context> context;
        std::unique_ptr<clCommunicateModel> engine;
        std::unique_ptr<platform::Event> stop, job;
        std::unique_ptr<clReceiveForwarder> forwarder;
        std::vector<std::unique_ptr<platform::Module>> modules;
    };
    static auto* kept = new std::vector<Kept>;
    kept->push_back({std::move(m_context), std::move(m_engine), std::move(m_stopEvent),
                     std::move(m_jobEvent), std::move(m_forwarder),
                     std::move(m_interfaces.modules)});
    m_interfaces.modules.clear();
    m_interfaces.interfaces.clear();
    m_interfaces.versionTexts.clear();
    m_interfaces.reasonEntries.clear();
    m_currentPort = nullptr;
    m_plugInPort.opTable = nullptr;
    WriteLog(u"A thread of the session did not end: what it uses is kept");
}

// ---------------------------------------------------------------------------------------------
// Interfaces

bool clSession::BuiltInSelected() const {
    // The built-in interface is always entry 0.
    return m_selectedIndex == 0 && !m_interfaces.modules.empty() && !m_interfaces.modules[0];
}

std::u16string clSession::SelectInterface(int32_t index) {
    m_selectedIndex = index;
    std::u16string name;
    const auto i = static_cast<size_t>(index);
    if (index >= 0 && i < m_interfaces.Count()) {
        InterfaceTable* table = m_interfaces.interfaces[i];
        const char16_t* text =
            table && table->GetInterfaceName ? table->GetInterfaceName() : nullptr;
        name = text ? text : u"";
    }
    if (!name.empty())
        m_settings.selectedInterface = name;
    ApplySelectedInterface();
    return name;
}

void clSession::ApplySelectedInterface() {
    const int32_t index = m_selectedIndex;
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

void clSession::SetTimeouts(uint32_t firstReceive, uint32_t nextReceive, uint32_t send) {
    m_settings.firstReceive = firstReceive;
    m_settings.nextReceive = nextReceive;
    m_settings.send = send;
    m_portParams.firstReceiveTimeout = PortTimeout(firstReceive);
    m_portParams.nextReceiveTimeout = PortTimeout(nextReceive);
    m_portParams.sendTimeout = PortTimeout(send);
    if (m_engine)
        m_engine->SetReceiveTimeouts(firstReceive, nextReceive);
}

std::u16string clSession::PortReasonLine() const {
    if (!m_currentPort)
        return {};
    return PortReasonText(m_interfaces.Reason(m_selectedIndex));
}

std::u16string clSession::ConnectedDevice() const {
    return BuiltInSelected() ? BuiltInComPort().ConnectedDevice() : std::u16string();
}

// ---------------------------------------------------------------------------------------------
// Connecting

int32_t clSession::ConnectCamera(const std::function<void()>& afterInit) {
    if (!m_currentPort || !m_engine)
        return PORT_ERROR;
    m_forwarder->Arm(&clCommunicateModel::OnReceiveData, m_engine.get());
    m_currentPort->SetReceiveCallback(&clReceiveForwarder::Deliver, m_forwarder.get());
    m_currentPort->Init();
    if (afterInit)
        afterInit();
    const int32_t result = m_currentPort->Connect();
    if (result == PORT_OK) {
        m_engine->MarkConnected();
        if (m_portLink && BuiltInSelected())
            m_portLink->Connected();
    }
    return result;
}

void clSession::AbandonConnect() {
    if (!m_currentPort)
        return;
    if (m_currentPort->IsConnected() == 1)
        DisconnectCamera();
    m_currentPort->Uninit();
}

void clSession::DisconnectCamera() {
    if (m_portLink)
        m_portLink->Disconnected();
    if (m_engine)
        m_engine->DisconnectCamera([this] { Pump(); });
}

// ---------------------------------------------------------------------------------------------
// Reply lines

bool ParseIdentityLine(clCommunicateModel& engine, uint32_t& flags, std::u16string_view text,
                       const ModelHook& modelHook, IdentityLines* lines) {
    auto after = [text](std::u16string_view key, std::u16string& rest) {
        const size_t at = text.find(key);
        if (at == std::u16string_view::npos)
            return false;
        rest.assign(text.substr(at + key.size()));
        return true;
    };
    std::u16string rest;
    const bool model = after(u"Model=", rest);
    if (model || after(u"Type=", rest)) {
        if (lines)
            (model ? lines->model : lines->type) = rest;
        engine.SetCameraModel(rest);
        if (engine.AutoSelectRequested()) {
            engine.NoteModelDetected();
            if (modelHook)
                modelHook(rest);
        }
        flags |= REFRESH_STATUS;
        return true;
    }
    if (after(u"Ver.=", rest)) {
        engine.SetCameraVersion(rest);
        flags |= REFRESH_STATUS;
        return true;
    }
    if (after(u"Serial=", rest)) {
        engine.SetCameraSerial(rest);
        flags |= REFRESH_STATUS;
        return true;
    }
    return false;
}

bool HandleReplyLine(clCommunicateModel& engine, uint32_t& flags, std::u16string_view line,
                     const ModelHook& modelHook, IdentityLines* lines, bool* unreadValue) {
    if (line.size() < 2 || line.front() != u'>')
        return false;
    const std::u16string_view text = line.substr(1);
    if (ParseIdentityLine(engine, flags, text, modelHook, lines))
        return true;
    int updated = 0;
    if (!engine.PropertyManager().ParseReplyLine(text, updated, unreadValue) || !updated)
        return false;
    flags |= REFRESH_PROPERTIES | REFRESH_RELOAD_VALUES;
    return true;
}

bool clSession::ParseIdentityLine(uint32_t& flags, std::u16string_view text) {
    return m_engine && ::ParseIdentityLine(*m_engine, flags, text, m_modelHook, &m_identityLines);
}

bool clSession::HandleReplyLine(uint32_t& flags, std::u16string_view line, bool* unreadValue) {
    return m_engine &&
           ::HandleReplyLine(*m_engine, flags, line, m_modelHook, &m_identityLines, unreadValue);
}

uint32_t clSession::ApplyReplies(const TransactionReport& report) {
    uint32_t flags = 0;
    for (const std::u16string& line : report.replyLines)
        HandleReplyLine(flags, line);
    return flags;
}

// ---------------------------------------------------------------------------------------------
// The engine's events, handed on

void clSession::JobStarted(JobKind kind) {
    if (m_events)
        m_events->JobStarted(kind);
}
void clSession::CommandSent(const std::u16string& text, uint64_t receivedBefore) {
    if (m_events)
        m_events->CommandSent(text, receivedBefore);
}
void clSession::TransactionEnded(const TransactionReport& report) {
    if (m_events)
        m_events->TransactionEnded(report);
}
void clSession::ConsoleFlushWanted() {
    if (m_events)
        m_events->ConsoleFlushWanted();
}
void clSession::BatchProgressed(const BatchProgress& progress) {
    if (m_events)
        m_events->BatchProgressed(progress);
}
void clSession::JobEnded(const JobReport& report) {
    if (m_events)
        m_events->JobEnded(report);
    // When this was the "sta" of a reconnect, its identity is compared on the owner's thread
    // (whether a check is pending is the owner's to read, too).
    Post([this] { FinishIdentityCheck(); });
}
void clSession::BytesReceived() {
    if (m_events)
        m_events->BytesReceived();
}
void clSession::StateChanged() {
    if (m_events)
        m_events->StateChanged();
}
int32_t clSession::Ask(const EngineQuestion& question) {
    return m_events ? m_events->Ask(question) : 0;
}

// ---------------------------------------------------------------------------------------------
// The built-in port's device going and coming back

void clSession::Post(std::function<void()> task, int delayMs) {
    if (!m_host)
        return;
    m_host->Post(
        [alive = m_alive, task = std::move(task)] {
            if (*alive)
                task();
        },
        delayMs);
}

void clSession::Pump() {
    if (m_host)
        m_host->Pump();
}

void clSession::WriteLog(std::u16string_view line) {
    if (m_setup.log)
        m_setup.log->Write(line);
}

bool clSession::ReconnectEnabled() const {
    return platform::ReadSettingInt(m_channelSection, u"Reconnect", 1, m_settingsFile) != 0;
}

void clSession::HandlePortLost() {
    if (!m_portLink || !m_engine || !m_engine->IsConnected() || !BuiltInComPort().LinkLost())
        return; // closed meanwhile, or news of an earlier connection
    const std::u16string device = m_portLink->NewsDevice();
    m_engine->DisconnectCamera([this] { Pump(); });
    m_awaitedDevice = BuiltInComPort().identity.devicePath;
    m_portLink->AfterLoss(ReconnectEnabled());
    WriteLog(FormatMsg(MSG_PORT_LOST, {device}));
    if (m_events)
        m_events->PortLost(device);
}

void clSession::HandlePortReturned(int triesLeft) {
    if (!m_portLink || !m_engine || m_engine->IsConnected() || !ReconnectEnabled() ||
        !BuiltInSelected() || !m_currentPort)
        return;
    clPortComm& port = BuiltInComPort();
    // A port the user chose meanwhile wins over the device that was lost: its return is no
    // longer awaited.
    if (port.identity.devicePath != m_awaitedDevice) {
        m_portLink->AfterLoss(false);
        WriteLog(u"Reconnect: another port was chosen meanwhile");
        return;
    }
    const std::u16string device = m_portLink->NewsDevice();
    // Back under another node: opened by its stable name.
    port.identity.devicePath = device;
    m_awaitedDevice = device;
    const CameraIdentity before = m_engine->Identity();
    const int32_t result = ConnectCamera();
    if (result != PORT_OK) {
        // Just plugged in, udev may not have given the node its group yet, or a modem
        // manager probes it: tried again a few times.
        AbandonConnect();
        std::u16string line = Numbered("Reconnect: Connect = %d", result);
        if (const std::u16string reason = PortReasonLine(); !reason.empty())
            line += u", " + reason;
        WriteLog(line);
        if (triesLeft > 1)
            Post([this, triesLeft] { HandlePortReturned(triesLeft - 1); }, kReconnectRetryMs);
        return;
    }
    WriteLog(FormatMsg(MSG_PORT_RECONNECTED, {device}));
    // Nothing of the user's is sent again; only the identity is asked, to compare.
    m_portLink->BeginIdentityCheck(before);
    m_engine->SetCameraIdentity({}, {}, {});
    if (m_engine->SubmitCommandJob(u"sta") != SUBMIT_OK)
        FinishIdentityCheck();
}

void clSession::FinishIdentityCheck() {
    if (!m_portLink || !m_engine || !m_portLink->IdentityCheckPending())
        return;
    const CameraIdentity now = m_engine->Identity();
    CameraIdentity before;
    const bool other = m_portLink->EndIdentityCheck(now, before);
    // A "sta" that failed or was cancelled tells nothing: the identity from before the loss
    // stays, so a later swap of the camera is still seen.
    if (now.Empty())
        m_engine->SetCameraIdentity(before.model, before.version, before.serial);
    if (other)
        WriteLog(FormatMsg(MSG_PORT_OTHER_CAMERA,
                           {m_portLink->NewsDevice(), before.Text(), now.Text()}));
    if (m_events)
        m_events->PortReturned(m_portLink->NewsDevice(), now, before);
}
