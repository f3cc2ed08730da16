// clApplication: the program-wide state of Quillon and the order of start-up and shutdown.
//
// One object exists per process (the windowed application derives from it). Start-up runs on
// the user-interface thread before any window exists and returns 0 or 1; shutdown releases
// whatever start-up created, also after a failed start-up, and a second call does nothing.
//
// Every field is private; the rest of the program reads them through the accessors below and
// changes them through the few verbs that say what they do.
//
// Threads: the user-interface thread owns this object and is the only one that calls its
// verbs and setters. The engine's worker reads the main frame, the log, the current port and
// the language code through the engine context while a job runs; these change only while no
// job can run (the main frame is set before UM_STARTUP and cleared after StopThreads, an
// interface is selected only while disconnected). RequestMessageBox may be called from the
// worker: it writes the message-box text and caption, and the UI thread reads them and writes
// the result inside the blocking UM_MESSAGE_BOX call. The device watch's thread reaches the
// engine only.
#pragma once

#include "base/SimpleLog.h"
#include "base/UiTarget.h"
#include "comm/EngineContext.h"
#include "platform/Event.h"
#include "platform/InstanceLock.h"
#include "platform/WorkingSet.h"
#include "port/CamPort.h"
#include "port/InterfaceRegistry.h"
#include "port/PortTables.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

class clCamPropertyMgr;
class clCommunicateModel;
class clPortLinkGuard;
class clWatchThread;
class IDeviceEventSource;

class clApplication {
public:
    // What start-up takes from its surroundings. Tests point it at temporary folders and fakes.
    struct Environment {
        std::string programFolder;                   // empty: folder of the running executable
        std::string lockFolder;                      // empty: InstanceLock::DefaultFolder()
        platform::IWorkingSet* workingSet = nullptr; // null: the system's
        bool changeCurrentDirectory = true;          // make the program folder current
        std::string programFile;                     // empty: the running executable
        // How long shutdown waits for the worker thread.
        int64_t threadStopTimeoutMs = 5000;
        // Whether the program folder is writable (portable); null: platform::FolderWritable.
        std::function<bool(const std::string&)> folderWritable;
        // Where removals and returns of serial devices come from; empty: udev.
        std::function<std::unique_ptr<IDeviceEventSource>()> deviceSource;
    };

    static constexpr int kMaxSearchedInstance = 49;
    static constexpr uint32_t kDefaultTimeoutMs = 20000;
    static constexpr uint32_t kDefaultConsoleRows = 2000;
    static constexpr uint32_t kDefaultReceiveBufferBytes = 20971520;
    static constexpr uint64_t kWorkingSetReserve = 268435456; // 256 MiB
    static constexpr size_t kMaxSwitchChars = 500;
    static constexpr size_t kMaxInterfaceNameChars = 500;

    clApplication();
    virtual ~clApplication();
    clApplication(const clApplication&) = delete;
    clApplication& operator=(const clApplication&) = delete;

    void SetEnvironment(Environment environment) { m_environment = std::move(environment); }

    // Reads the instance switch ("-i7", "/i0x1F", "-i010") from the command line arguments
    // after the program name into the requested instance number.
    void ReadInstanceSwitch(int argc, const char* const* argv);
    // The requested instance number of one command-line text, -1 when it holds no switch. Only
    // a lowercase "i" counts; the number is cut at the first space, comma or CR and read with
    // automatic base (decimal, "0x" hexadecimal, leading "0" octal; no digits give 0). A negative
    // number or one beyond 32 bits counts as no request.
    static int32_t ParseInstanceSwitch(std::string_view commandLine);

    // 0 when the application is ready, 1 when start-up failed.
    int32_t StartUp();
    void ShutDown();

    // Writes the default keys of a new settings file. False when a key could not be written.
    static bool WriteDefaultSettings(const std::u16string& settingsFilePath);
    // Makes the interface at m_selectedInterfaceIndex current (-1: none).
    void ApplySelectedInterface();

    // Values below 100 become 100; 4294967295 (no limit at all) becomes 4294967294.
    static uint32_t ApplyTimeoutRule(uint32_t value);
    // A time-out as the ports take it (signed 32 bits): above 2147483647 it is clamped, never
    // wrapped to a negative value.
    static int32_t PortTimeout(uint32_t value);

    // Has the main window show a message box: stores text and caption (empty caption: the
    // application's own) and, only while a main frame is registered, sends UM_MESSAGE_BOX
    // (wParam 0, lParam the MB_* style) through it. Returns the button pressed
    // (m_messageBoxResult); 0 when no main frame was there to ask.
    int32_t RequestMessageBox(std::u16string text, std::u16string caption, uint32_t style);

    // ---- main window's calls into the core (user-interface thread)
    // UM_STARTUP: starts the engine's worker thread and the elapsed-time watch, whose ticks go
    // to the main frame as UM_REFRESH_VIEWS with REFRESH_STATUS. False when a thread could not
    // be started (logged).
    bool StartWorkerThreads();
    // Before the main window goes (UI thread): stops the watch, cancels a running job, sets
    // the stop event and waits at most the thread stop time-out for the worker thread, calling
    // pumpMessages meanwhile so that a message the worker is sending to the window can still
    // be answered; then no message reaches the window any more. ShutDown then finds them
    // stopped. A worker still running then keeps everything it uses (see ShutDown).
    void StopThreads(const std::function<void()>& pumpMessages);
    // Steps of the connect sequence up to the result: SetReceiveCallback with the engine's
    // receive handler, Init, Connect; on 0 the engine is marked connected. 1 when there is no
    // port or engine.
    int32_t ConnectCamera();
    // After a failed connect: disconnects when the port reports itself connected, then Uninit.
    void AbandonConnect();
    // Why the current port cannot be used or its last Connect failed, in the UI language;
    // empty when its interface gives no reason.
    std::u16string PortReasonLine() const;
    // The application's disconnect (UI thread; the engine's DisconnectCamera): a running job is
    // cancelled and ends its frame first, pumpMessages answering its messages meanwhile.
    void DisconnectCamera(const std::function<void()>& pumpMessages = {});
    // Engine state read by the enable rules; safe without an engine.
    bool IsConnected() const;
    bool IsEngineReady() const;

    // ---- the built-in serial port's device going and coming back (UI thread)
    // The watch of the connected device (null before start-up and after shutdown).
    clPortLinkGuard* PortLink() const { return m_portLink.get(); }
    // "Reconnect" of the channel section (default 1).
    bool ReconnectEnabled() const;
    // UM_PORT_LINK, lost: when it is the current connection's device, closes the connection
    // (the job was cancelled already), logs the loss and, with Reconnect, waits for the device.
    // The device's path, or empty when there was nothing to do.
    std::u16string HandlePortLost(const std::function<void()>& pumpMessages);
    // UM_PORT_LINK, returned (also to try again): connects again when nothing is connected
    // and Reconnect is 1; on 0 logs it and asks "sta" for the identity check. The Connect
    // result, or -1 when nothing was tried.
    int32_t HandlePortReturned();
    // After a job (UM_CLOSE_WAIT_DIALOG): the identity check of a reconnect. True when the
    // camera answering now is not the one before the loss; warning gets the text (logged).
    bool CheckReconnectedIdentity(std::u16string& warning);
    // One reply line taken from the engine on UM_DRAIN_REPLIES: identity lines go to the
    // identity hook when one is set, every other line ("> " marker removed) to the property
    // manager. Adds refresh flags to `flags`; true when the line was handled.
    bool HandleReplyLine(uint32_t& flags, std::u16string_view line);
    // Identity lines ("Model=", "Type=", "Ver.=", "Serial="): given the line without its '>',
    // returns true when it took the line (and adds its refresh flags). Unset: no line is an
    // identity line.
    using IdentityLineHook = std::function<bool(uint32_t& flags, std::u16string_view text)>;
    void SetIdentityLineHook(IdentityLineHook hook) { m_identityLineHook = std::move(hook); }

    // The wait dialog, shown while the port is being closed; the user interface provides it.
    virtual void ShowWaitDialog(std::u16string_view text, std::u16string_view caption);
    virtual void HideWaitDialog();

    // The engine and the elapsed-time watch (null before start-up has created them and after
    // shutdown). The engine owns its state; the window and the text-file commands use its
    // verbs.
    clCommunicateModel* Engine() const { return m_engine.get(); }
    clWatchThread* Watch() const { return m_watch.get(); }
    // The worker thread's events (null before start-up's last step and after shutdown).
    platform::Event* StopEvent() const { return m_stopEvent.get(); }
    platform::Event* JobEvent() const { return m_jobEvent.get(); }
    // True after a shutdown that had to leave the worker thread running.
    bool WorkerLeftRunning() const { return m_workerLeftRunning; }

    // ---- program folder, settings, main frame, log
    const std::u16string& ProgramFolder() const { return m_programFolder; } // ends in "/"
    const std::u16string& SettingsFilePath() const { return m_settingsFilePath; }
    // The target of every UM_ message; the main window registers itself and clears it last.
    IUiTarget* MainFrame() const { return m_mainFrame; }
    void SetMainFrame(IUiTarget* frame) { m_mainFrame = frame; }
    clSimpleLog* AppLog() const { return m_appLog.get(); } // null before start-up opens it

    // ---- message-box request (RequestMessageBox)
    const std::u16string& MessageBoxText() const { return m_messageBoxText; }
    const std::u16string& MessageBoxCaption() const { return m_messageBoxCaption; }
    int32_t MessageBoxResult() const { return m_messageBoxResult; }
    // The answer of the main window's box (or 0 when nobody could answer).
    void SetMessageBoxResult(int32_t result) { m_messageBoxResult = result; }

    // ---- settings values
    int32_t ConsoleRows() const { return m_consoleRows; }
    uint32_t TimeoutFirstRecv() const { return m_timeoutFirstRecv; }
    uint32_t TimeoutNextRecv() const { return m_timeoutNextRecv; }
    uint32_t TimeoutSend() const { return m_timeoutSend; }
    uint32_t CommandGap() const { return m_commandGap; }
    // New TARN time-outs (already after the time-out rule) while disconnected: kept here, in
    // the block every interface reads (clamped as PortTimeout) and in the engine's receive
    // time-outs at once, since no transaction runs. The settings file is the caller's.
    void SetTimeouts(uint32_t firstReceive, uint32_t nextReceive, uint32_t send);

    // ---- window and camera definition
    const std::u16string& WindowTitle() const { return m_windowTitle; }
    void SetWindowTitle(std::u16string title) { m_windowTitle = std::move(title); }
    const std::u16string& CamDefineFolder() const { return m_camDefineFolder; }
    const std::u16string& UserCamDefineFolder() const { return m_userCamDefineFolder; }
    // The last definition opened; kept after a failed open or a close for the next offer.
    const std::u16string& CurrentDefinitionFile() const { return m_currentDefinitionFile; }
    void SetCurrentDefinitionFile(std::u16string path) {
        m_currentDefinitionFile = std::move(path);
    }
    // The names the last search for a model's definitions found.
    const std::vector<std::u16string>& FoundFiles() const { return m_foundFiles; }
    void SetFoundFiles(std::vector<std::u16string> names) { m_foundFiles = std::move(names); }

    // ---- folders of an application that does not run StartUp (the command-line tool, tests)
    // The program folder (ending in "/") and the settings file; the interfaces' parameter
    // block keeps pointing at them.
    void UseProgramFolder(std::u16string programFolder, std::u16string settingsFilePath);
    // Where definitions are searched: the user's folder (empty: none) before the program's.
    void UseDefinitionFolders(std::u16string camDefineFolder, std::u16string userCamDefineFolder);

    // ---- interfaces and port
    const PortParamBlock& PortParams() const { return m_portParams; }
    const std::u16string& ChannelSection() const { return m_channelSection; }
    const clInterfaceRegistry& Interfaces() const { return m_interfaces; }
    // For interfaces added after start-up (tests); select one with SelectInterface.
    clInterfaceRegistry& Interfaces() { return m_interfaces; }
    clCamPort* CurrentPort() const { return m_currentPort; } // null while none is selected
    const clPortPlugIn& PlugInPort() const { return m_plugInPort; }
    int32_t SelectedInterfaceIndex() const { return m_selectedInterfaceIndex; }
    // The stored choice ("SelectInterface" of the channel section).
    const std::u16string& SelectedInterfaceName() const { return m_selectedInterfaceName; }
    const std::u16string& PortNameText() const { return m_portNameText; }
    const std::u16string& LineSpeedText() const { return m_lineSpeedText; }
    const std::u16string& PortDescriptionText() const { return m_portDescriptionText; }
    // Selects the interface at index (-1: none) while disconnected: the index, the interface's
    // name when it has one, then ApplySelectedInterface (current port and port texts). Returns
    // the name taken, empty when none was (the stored name stays then); storing it in the
    // settings file is the caller's.
    std::u16string SelectInterface(int32_t index);

    // ---- read by the window and the tests; written by start-up only
    std::u16string LogFilePath() const {
        return m_logFilePath;
    } // state folder + "Quillon_NN_Log.txt"
    // The number obtained by start-up, -1 before; the one asked for on the command line, -1.
    int32_t InstanceNumber() const { return m_instanceNumber; }
    int32_t RequestedInstanceNumber() const { return m_requestedInstanceNumber; }
    // 1 while start-up's working-set limits are in force (shutdown restores the saved ones).
    uint8_t WorkingSetChanged() const { return m_workingSetChanged; }
    uint64_t ReceiveBufferBytes() const { return m_receiveBufferBytes; }
    // "ja" or "en", as UiLanguageCode() (base/MessageTable.h).
    const std::u16string& LanguageCode() const { return m_languageCode; }
    // The elapsed-time watch's period.
    uint32_t WatchPeriodMs() const { return m_watchPeriodMs; }

protected:
    // Start-up and shutdown: the user interface creates and destroys its wait dialog here.
    virtual void CreateWaitDialog() {}
    virtual void DestroyWaitDialog() {}

private:
    void FillPortParams();
    void DiscoverInterfaces();

public:
    // The first registered interface whose name equals name exactly (letter case counts); -1.
    int32_t FindInterfaceIndex(const std::u16string& name) const;

private:
    // Declared first, destroyed last: the engine and the watch below go before the log, the
    // interfaces and the port they use.
    IdentityLineHook m_identityLineHook;

    // ---- program folder, instance, settings, log
    std::u16string m_programFolder; // ends in "/"
    // In the program folder while it is writable, otherwise in the user's XDG folders (current
    // directory too, for the port logs): platform/DataFolders.h.
    std::u16string m_settingsFilePath; // settings folder + "Quillon_NN.ini"
    IUiTarget* m_mainFrame = nullptr;  // set by the main window; target of every UM_ message
    std::unique_ptr<clSimpleLog> m_appLog;

    // ---- message-box request
    std::u16string m_messageBoxText;
    std::u16string m_messageBoxCaption;
    int32_t m_messageBoxResult = 0;

    // ---- settings values
    int32_t m_consoleRows = 0;
    // The three TARN time-outs in milliseconds, after the time-out rule.
    uint32_t m_timeoutFirstRecv = 0;
    uint32_t m_timeoutNextRecv = 0;
    uint32_t m_timeoutSend = 0;
    // The pause after each command of property and batch jobs, in milliseconds.
    uint32_t m_commandGap = 50;

    // ---- window and camera definition
    std::u16string m_windowTitle;
    std::u16string m_camDefineFolder; // program folder + "CamDefine/"
    // The user's own definitions, searched before the program's; empty in a portable folder.
    std::u16string m_userCamDefineFolder;
    std::u16string m_currentDefinitionFile;
    std::vector<std::u16string> m_foundFiles;

    // ---- interfaces and port
    // Handed to every interface entry; points at m_programFolder, m_settingsFilePath and
    // m_channelSection and carries the three time-outs. Filled at start-up (FillPortParams).
    PortParamBlock m_portParams{};
    std::u16string m_channelSection; // "CAMERA_COMM_Ch00"
    // Interface, module and version text lists (the built-in serial interface is entry 0).
    clInterfaceRegistry m_interfaces;
    clCamPort* m_currentPort = nullptr; // &m_plugInPort while an interface is selected
    clPortPlugIn m_plugInPort;          // the one port object; forwards to the selected table
    int32_t m_selectedInterfaceIndex = -1;
    std::u16string m_selectedInterfaceName;
    std::u16string m_portNameText;
    std::u16string m_lineSpeedText;
    std::u16string m_portDescriptionText;

    void CreateImageList();
    bool CreateEngine();
    bool PrepareEngine();
    void StopWatch();
    void StopWorkerThread();
    void DestroyEngine();
    void UnloadModules();

    bool ChooseInstanceNumber();
    bool ReserveWorkingSet();
    void RestoreWorkingSet();
    platform::IWorkingSet& WorkingSet();

    // Shutdown when the worker thread did not end: the engine, its context, the events
    // and the watch are kept alive (reachable, never freed) for the thread still using them.
    void KeepForRunningWorker();

    // The watch of the built-in port's device; started with the worker thread, stopped before
    // the window goes.
    std::unique_ptr<clPortLinkGuard> m_portLink;
    void StartPortLink();
    void StopPortLink();

    // The engine, its context and the elapsed-time watch.
    class EngineContext;
    std::unique_ptr<EngineContext> m_engineContext;
    std::unique_ptr<clCommunicateModel> m_engine;
    std::unique_ptr<clWatchThread> m_watch;
    // Worker thread events (the engine owns the thread).
    std::unique_ptr<platform::Event> m_stopEvent; // manual reset
    std::unique_ptr<platform::Event> m_jobEvent;  // auto reset
    bool m_workerLeftRunning = false;
    Environment m_environment;
    platform::SystemWorkingSet m_systemWorkingSet;
    bool m_xmlInitialised = false;

    // Written by start-up and shutdown only.
    std::u16string m_logFilePath;
    int32_t m_instanceNumber = -1;
    int32_t m_requestedInstanceNumber = -1;
    uint64_t m_savedMinWorkingSet = 0;
    uint64_t m_savedMaxWorkingSet = 0;
    uint8_t m_workingSetChanged = 0;
    platform::InstanceLock m_instanceLock;
    uint64_t m_receiveBufferBytes = 0;
    uint32_t m_forceEnglish = 0;
    std::u16string m_languageCode;
    uint32_t m_watchPeriodMs = 50;
};

// What HandleReplyLine does with one reply line, for any identity taker and property manager:
// a line without the ">" marker or with nothing after it is not handled; the text after the
// marker goes to `identity` (when set) first, then to `manager` (when given), which handles it
// when it changed a value (REFRESH_PROPERTIES | REFRESH_RELOAD_VALUES are added to flags).
bool RouteReplyLine(uint32_t& flags, std::u16string_view line,
                    const clApplication::IdentityLineHook& identity, clCamPropertyMgr* manager);
