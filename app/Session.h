// clSession: the Qt-free core that every front-end drives (the window, quillon-cli and its
// scripting service): the settings an instance keeps, the engine and its set-up, the interfaces
// and their one port, connecting and abandoning, the camera's identity lines and the reply
// lines of every transaction, and the loss and return of the port's device.
//
// Threads: one thread owns the session, the front-end's own (the window's user-interface
// thread, quillon-cli's main thread); every verb below is for that thread unless it says
// otherwise. The engine's events reach the session on the engine's threads; the session hands
// them on to the front-end's events unchanged (SetEvents), and does its own follow-up work
// (the loss of the device, its return, the identity check after a reconnect) on the owner's
// thread through the host's Post.
#pragma once

#include "app/PortLinkGuard.h"
#include "base/MessageTable.h"
#include "comm/CommunicateModel.h"
#include "comm/EngineEvents.h"
#include "port/CamPort.h"
#include "port/InterfaceRegistry.h"
#include "port/PortTables.h"
#include "port/ReceiveForwarder.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class clSimpleLog;
class clWatchThread;
class IDeviceEventSource;

// The values of an instance's settings file that the session runs on, read by one reader.
struct SessionSettings {
    static constexpr uint32_t kDefaultTimeoutMs = 20000;
    static constexpr uint64_t kDefaultReceiveBufferBytes = 20971520;
    static constexpr uint32_t kDefaultConsoleRows = 2000;
    static constexpr size_t kMaxInterfaceNameChars = 500;

    uint32_t firstReceive = kDefaultTimeoutMs; // "TARN_Timeouts", after the time-out rule
    uint32_t nextReceive = kDefaultTimeoutMs;
    uint32_t send = kDefaultTimeoutMs;
    uint32_t commandGap = clCommunicateModel::kDefaultCommandGapMs;
    uint64_t receiveBufferBytes = kDefaultReceiveBufferBytes; // "App"; 0 stored: the default
    int32_t consoleRows = kDefaultConsoleRows;
    uint32_t forceEnglish = 0;        // "Internationalize"
    std::u16string selectedInterface; // "SelectInterface" of the channel section
    static SessionSettings Read(const std::u16string& settingsFile);

    // Values below 100 become 100; 4294967295 (no limit at all) becomes 4294967294.
    static uint32_t ApplyTimeoutRule(uint32_t value);
};

// The channel section of every instance, "CAMERA_COMM_Ch00".
extern const char16_t kChannelSection[];
// The name of an instance's settings file ("Quillon_00.ini") and of its log file
// ("Quillon_00_Log.txt").
std::u16string SettingsFileName(int instance);
std::u16string LogFileName(int instance);

// The identity lines of the replies, and every reply line, for an engine (the session's verbs
// below use them; so may a client that holds an engine of its own).
// ParseIdentityLine: given a reply line's text without its '>', takes "Model=" (or else
// "Type="), "Ver.=" and "Serial=" into the engine's identity and adds REFRESH_STATUS to flags.
// A model line while the auto-select query waits marks the model detected and calls
// modelHook with the model. False for any other line. lines, when given, keeps the "Model=" and
// "Type=" values apart.
struct IdentityLines {
    std::u16string model;
    std::u16string type;
};
using ModelHook = std::function<void(std::u16string_view model)>;
bool ParseIdentityLine(clCommunicateModel& engine, uint32_t& flags, std::u16string_view text,
                       const ModelHook& modelHook, IdentityLines* lines = nullptr);
// HandleReplyLine: a line with its '>' goes to ParseIdentityLine, else to the engine's property
// manager (REFRESH_PROPERTIES | REFRESH_RELOAD_VALUES when it changed a value). True when the
// line was handled. unreadValue, when given, is set by an information reply whose value could
// not be read.
bool HandleReplyLine(clCommunicateModel& engine, uint32_t& flags, std::u16string_view line,
                     const ModelHook& modelHook, IdentityLines* lines = nullptr,
                     bool* unreadValue = nullptr);

// What the session needs of the front-end's thread.
class ISessionHost {
public:
    virtual ~ISessionHost() = default;
    // Runs task on the owner's thread after delayMs and returns at once (any thread). Tasks
    // posted after the session is gone must not run: the host drops them when the session
    // says so (clSession::~clSession calls Forget).
    virtual void Post(std::function<void()> task, int delayMs = 0) = 0;
    // Lets the owner's thread answer what the engine is delivering while it waits for the
    // engine (the window runs its queue; a host whose events never wait does nothing).
    virtual void Pump() {}
};

class clSession : private IEngineEvents {
public:
    static constexpr char16_t kBuiltInInterface[] = u"COM port(Build In)";
    static constexpr int kReconnectTries = 10;
    static constexpr int kReconnectRetryMs = 500;

    struct Setup {
        std::u16string programFolder;   // ends with '/'
        std::u16string settingsFile;    // the instance's settings file
        std::u16string camDefineFolder; // program folder + "CamDefine/"
        std::string programFile;        // the running executable (labels the built-in interface)
        clSimpleLog* log = nullptr;     // the application log; may be null
        clWatchThread* watch = nullptr; // the elapsed-time watch; may be null
        // The wait dialog while the port is being closed (the window's); may be empty.
        std::function<void(std::u16string_view, std::u16string_view)> showWaitDialog;
        std::function<void()> hideWaitDialog;
        // The texts of the engine and the bilingual definitions.
        std::u16string languageCode = u"en";
        // How long shutdown waits for the worker thread.
        int64_t threadStopTimeoutMs = clCommunicateModel::kThreadStopTimeoutMs;
    };

    clSession();
    // Shuts down when ShutDown was not called. A worker or receive thread that would not end
    // keeps what it uses (left unfreed, logged).
    ~clSession();
    clSession(const clSession&) = delete;
    clSession& operator=(const clSession&) = delete;

    // Start: the port parameter block, the interfaces (built-in first, then every plug-in of
    // the program folder), the engine with its ring, schema pattern, composer, time-outs and
    // command gap, and the worker's events. False with error when something could not be made.
    bool Start(const Setup& setup, const SessionSettings& settings, std::string& error);
    // Ends the worker (pumping through the host meanwhile), closes the port, frees the engine
    // and unloads the plug-ins. A second call does nothing. False when the worker did not end
    // in time (what it uses is then kept).
    bool ShutDown();

    // The front-end: its thread and its events (null: none). Set before the worker starts.
    void SetHost(ISessionHost* host) { m_host = host; }
    void SetEvents(IEngineEvents* events) { m_events = events; }
    // The worker thread (and the watch of the built-in port's device, from deviceSource; empty:
    // udev). False when it could not start (logged).
    bool StartWorker(const std::function<std::unique_ptr<IDeviceEventSource>()>& deviceSource = {});
    // Stops the watch of the device and the worker (pumping), then no event reaches the
    // front-end. False when the worker did not end in time.
    bool StopWorker();
    bool WorkerLeftRunning() const { return m_workerLeftRunning; }
    // The worker thread's events (null before Start and after ShutDown).
    platform::Event* StopEvent() const { return m_stopEvent.get(); }
    platform::Event* JobEvent() const { return m_jobEvent.get(); }

    // The settings the session runs on (a receive buffer of 0 bytes made the default).
    const SessionSettings& Settings() const { return m_settings; }
    clCommunicateModel& Engine() { return *m_engine; }
    const clCommunicateModel& Engine() const { return *m_engine; }
    bool HasEngine() const { return m_engine != nullptr; }
    clCamPropertyMgr& Manager() { return m_engine->PropertyManager(); }

    // ---- interfaces and the port
    const clInterfaceRegistry& Interfaces() const { return m_interfaces; }
    clInterfaceRegistry& Interfaces() { return m_interfaces; }
    const PortParamBlock& PortParams() const { return m_portParams; }
    // Null while no interface is selected; the host's one port, forwarding to the selected
    // interface's table.
    clCamPort* CurrentPort() { return m_currentPort; }
    const clCamPort* CurrentPort() const { return m_currentPort; }
    int32_t SelectedInterfaceIndex() const { return m_selectedIndex; }
    // The name chosen last ("SelectInterface"; kept when no interface is selected).
    const std::u16string& SelectedInterfaceName() const { return m_settings.selectedInterface; }
    const clPortPlugIn& PlugInPort() const { return m_plugInPort; }
    bool BuiltInSelected() const;
    // Makes the interface at index current (-1: none): its table, the port texts. Returns its
    // name (empty when it has none).
    std::u16string SelectInterface(int32_t index);
    // The first registered interface whose name equals name exactly; -1.
    int32_t FindInterfaceIndex(const std::u16string& name) const {
        return m_interfaces.FindInterfaceIndex(name);
    }
    const std::u16string& PortNameText() const { return m_portNameText; }
    const std::u16string& LineSpeedText() const { return m_lineSpeedText; }
    const std::u16string& PortDescriptionText() const { return m_portDescriptionText; }
    // New time-outs (after the time-out rule) while disconnected: in the block every interface
    // reads and in the engine.
    void SetTimeouts(uint32_t firstReceive, uint32_t nextReceive, uint32_t send);
    uint32_t FirstReceiveTimeout() const { return m_settings.firstReceive; }
    uint32_t NextReceiveTimeout() const { return m_settings.nextReceive; }
    uint32_t SendTimeout() const { return m_settings.send; }
    // Points the block at other folder texts (a front-end that moves them after Start).
    void UseFolders(const std::u16string& programFolder, const std::u16string& settingsFile);

    // ---- connecting
    // SetReceiveCallback with the host's forwarder to the engine, Init, Connect; on 0 the
    // engine is marked connected and the built-in port's device watched. PORT_ERROR when no
    // interface is selected. afterInit runs between Init and Connect (a front-end's override of
    // a stored line setting).
    int32_t ConnectCamera(const std::function<void()>& afterInit = {});
    // After a failed connect: disconnects when the port reports itself connected, then Uninit.
    void AbandonConnect();
    // The user's disconnect: a running job is cancelled and ends first (the host pumping);
    // then the port closes. Nothing is awaited any more.
    void DisconnectCamera();
    bool IsConnected() const { return m_engine && m_engine->IsConnected(); }
    bool IsReady() const { return m_engine && m_engine->IsReady(); }
    // Why the current port cannot be used or its last Connect failed, in the UI language;
    // empty when its interface gives no reason.
    std::u16string PortReasonLine() const;
    // The device of the built-in port's connection (its path), empty for other interfaces.
    std::u16string ConnectedDevice() const;

    // ---- reply lines (the owner's thread, while the worker waits in TransactionEnded; or the
    // worker itself while the owner waits for the job)
    // The free functions above on the session's engine, with its model hook (the window opens
    // the model's definition).
    bool ParseIdentityLine(uint32_t& flags, std::u16string_view text);
    bool HandleReplyLine(uint32_t& flags, std::u16string_view line, bool* unreadValue = nullptr);
    // Every reply line of a transaction's report, as HandleReplyLine takes them.
    uint32_t ApplyReplies(const TransactionReport& report);
    void SetModelHook(ModelHook hook) { m_modelHook = std::move(hook); }
    // The last "Model=" and "Type=" lines seen, each on its own (the identity's model takes
    // "Model=" first, else "Type=").
    const std::u16string& ModelLine() const { return m_identityLines.model; }
    const std::u16string& TypeLine() const { return m_identityLines.type; }

    // ---- the built-in port's device going and coming back
    // "Reconnect" of the channel section (default 1), read from the file every time.
    bool ReconnectEnabled() const;
    // The watch of the connected device (null unless the worker runs).
    clPortLinkGuard* PortLink() const { return m_portLink.get(); }
    // A reconnect's identity check waits for its "sta".
    bool IdentityCheckPending() const { return m_portLink && m_portLink->IdentityCheckPending(); }

private:
    class Context;

    // IEngineEvents: the engine's events, handed on to the front-end's.
    void JobStarted(JobKind kind) override;
    void CommandSent(const std::u16string& text, uint64_t receivedBefore) override;
    void TransactionEnded(const TransactionReport& report) override;
    void ConsoleFlushWanted() override;
    void BatchProgressed(const BatchProgress& progress) override;
    void JobEnded(const JobReport& report) override;
    void BytesReceived() override;
    void StateChanged() override;
    int32_t Ask(const EngineQuestion& question) override;

    void FillPortParams();
    void ApplySelectedInterface();
    void Post(std::function<void()> task, int delayMs = 0);
    void Pump();
    void WriteLog(std::u16string_view line);
    // The owner's side of the device watch's news.
    void HandlePortLost();
    void HandlePortReturned(int triesLeft);
    void FinishIdentityCheck();
    void StopPortLink();
    // Shutdown when a thread did not end: everything it may use stays (never freed).
    void KeepForRunningThreads();

    // Declared first, destroyed last: a plug-in's receive thread may hold its pair until the
    // modules are unloaded.
    std::unique_ptr<clReceiveForwarder> m_forwarder;

    Setup m_setup;
    SessionSettings m_settings;
    ISessionHost* m_host = nullptr;
    IEngineEvents* m_events = nullptr;
    std::shared_ptr<bool> m_alive; // posted tasks run only while it is true
    ModelHook m_modelHook;
    IdentityLines m_identityLines;

    PortParamBlock m_portParams{};
    std::u16string m_channelSection;
    std::u16string m_programFolder;
    std::u16string m_settingsFile;
    clInterfaceRegistry m_interfaces;
    clPortPlugIn m_plugInPort;
    clCamPort* m_currentPort = nullptr;
    int32_t m_selectedIndex = -1;
    std::u16string m_portNameText;
    std::u16string m_lineSpeedText;
    std::u16string m_portDescriptionText;

    std::unique_ptr<platform::Event> m_stopEvent;
    std::unique_ptr<platform::Event> m_jobEvent;
    std::unique_ptr<Context> m_context;
    std::unique_ptr<clCommunicateModel> m_engine;
    std::unique_ptr<clPortLinkGuard> m_portLink;
    // The built-in port's device whose return is awaited (the user's choice when it was lost).
    std::u16string m_awaitedDevice;
    bool m_started = false;
    bool m_workerLeftRunning = false;
    bool m_xmlInitialised = false;
};
