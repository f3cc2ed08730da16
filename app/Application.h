// clApplication: the program-wide state of Quillon and the order of start-up and shutdown.
//
// One object exists per process (the windowed application derives from it). Start-up runs on
// the user-interface thread before any window exists and returns 0 or 1; shutdown releases
// whatever start-up created, also after a failed start-up, and a second call does nothing.
//
// The application owns the session core (app/Session.h), which holds the interfaces and their
// port, the engine and the loss watch of the port's device; the accessors below that concern
// them read the session.
//
// Threads: the user-interface thread owns this object and is the only one that calls its
// verbs and setters. RequestMessageBox may be called from the worker (through the window's
// Ask): it writes the message-box text and caption, and the UI thread reads them and writes
// the result inside the blocking UM_MESSAGE_BOX call.
#pragma once

#include "app/Session.h"
#include "base/SimpleLog.h"
#include "base/UiTarget.h"
#include "platform/InstanceLock.h"
#include "platform/Thread.h"
#include "platform/WorkingSet.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class clCamPropertyMgr;
class clCommunicateModel;
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
        int64_t threadStopTimeoutMs = platform::kThreadStopTimeoutMs;
        // Whether the program folder is writable (portable); null: platform::FolderWritable.
        std::function<bool(const std::string&)> folderWritable;
        // Where removals and returns of serial devices come from; empty: udev.
        std::function<std::unique_ptr<IDeviceEventSource>()> deviceSource;
        // The folder of the window's scripting socket; empty: $XDG_RUNTIME_DIR/quillon.
        std::string scriptFolder;
    };

    static constexpr int kMaxSearchedInstance = 49;
    static constexpr uint32_t kDefaultTimeoutMs = SessionSettings::kDefaultTimeoutMs;
    static constexpr uint32_t kDefaultConsoleRows = SessionSettings::kDefaultConsoleRows;
    static constexpr uint32_t kDefaultReceiveBufferBytes =
        SessionSettings::kDefaultReceiveBufferBytes;
    static constexpr uint64_t kWorkingSetReserve = 268435456; // 256 MiB
    static constexpr size_t kMaxSwitchChars = 500;
    static constexpr size_t kMaxInterfaceNameChars = SessionSettings::kMaxInterfaceNameChars;

    clApplication();
    virtual ~clApplication();
    clApplication(const clApplication&) = delete;
    clApplication& operator=(const clApplication&) = delete;

    void SetEnvironment(Environment environment) { m_environment = std::move(environment); }
    const Environment& GetEnvironment() const { return m_environment; }

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

    // Values below 100 become 100; 4294967295 (no limit at all) becomes 4294967294.
    static uint32_t ApplyTimeoutRule(uint32_t value) {
        return SessionSettings::ApplyTimeoutRule(value);
    }
    // A time-out as the ports take it (signed 32 bits): above 2147483647 it is clamped, never
    // wrapped to a negative value.
    static int32_t PortTimeout(uint32_t value);

    // Has the main window show a message box: stores text and caption (empty caption: the
    // application's own) and, only while a main frame is registered, sends UM_MESSAGE_BOX
    // (wParam 0, lParam the MB_* style) through it. Returns the button pressed
    // (m_messageBoxResult); 0 when no main frame was there to ask.
    int32_t RequestMessageBox(std::u16string text, std::u16string caption, uint32_t style);

    // ---- the session core: the interfaces and their port, the engine, the device watch
    clSession& Session() { return m_session; }
    const clSession& Session() const { return m_session; }

    // ---- main window's calls into the core (user-interface thread)
    // UM_STARTUP: starts the engine's worker thread, the device watch and the elapsed-time
    // watch, whose ticks go to the main frame as UM_REFRESH_VIEWS with REFRESH_STATUS. False
    // when a thread could not be started (logged).
    bool StartWorkerThreads();
    // Before the main window goes (UI thread): stops the watches, cancels a running job, sets
    // the stop event and waits at most the thread stop time-out for the worker thread, the
    // session's host pumping meanwhile so that an event the worker is delivering to the window
    // can still be answered; then no event reaches the window any more. A worker still running
    // then keeps everything it uses (see ShutDown).
    void StopThreads();
    // The connect sequence up to the result (the session's ConnectCamera).
    int32_t ConnectCamera() { return m_session.ConnectCamera(); }
    // After a failed connect: disconnects when the port reports itself connected, then Uninit.
    void AbandonConnect() { m_session.AbandonConnect(); }
    // Why the current port cannot be used or its last Connect failed, in the UI language;
    // empty when its interface gives no reason.
    std::u16string PortReasonLine() const { return m_session.PortReasonLine(); }
    // The application's disconnect (UI thread; the engine's DisconnectCamera): a running job is
    // cancelled and ends first, the session's host answering its events meanwhile.
    void DisconnectCamera() { m_session.DisconnectCamera(); }
    // Engine state read by the enable rules; safe without an engine.
    bool IsConnected() const { return m_session.IsConnected(); }
    bool IsEngineReady() const { return m_session.IsReady(); }
    // The watch of the connected device (null before the worker starts and after shutdown).
    clPortLinkGuard* PortLink() const { return m_session.PortLink(); }
    // "Reconnect" of the channel section (default 1).
    bool ReconnectEnabled() const { return m_session.ReconnectEnabled(); }
    // One reply line of a transaction (UM_DRAIN_REPLIES): identity lines and the property
    // manager (the session's HandleReplyLine).
    bool HandleReplyLine(uint32_t& flags, std::u16string_view line, bool* unreadValue = nullptr) {
        return m_session.HandleReplyLine(flags, line, unreadValue);
    }

    // The wait dialog, shown while the port is being closed; the user interface provides it.
    virtual void ShowWaitDialog(std::u16string_view text, std::u16string_view caption);
    virtual void HideWaitDialog();

    // The engine and the elapsed-time watch (null before start-up has created them and after
    // shutdown). The engine owns its state; the window and the text-file commands use its
    // verbs.
    clCommunicateModel* Engine() { return m_session.HasEngine() ? &m_session.Engine() : nullptr; }
    const clCommunicateModel* Engine() const {
        return m_session.HasEngine() ? &m_session.Engine() : nullptr;
    }
    clWatchThread* Watch() const { return m_watch.get(); }
    // The worker thread's events (null before start-up's last step and after shutdown).
    platform::Event* StopEvent() const { return m_session.StopEvent(); }
    platform::Event* JobEvent() const { return m_session.JobEvent(); }
    // True after a shutdown that had to leave the worker thread running.
    bool WorkerLeftRunning() const { return m_session.WorkerLeftRunning(); }

    // ---- program folder, settings, main frame, log
    const std::u16string& ProgramFolder() const { return m_programFolder; } // ends in "/"
    const std::u16string& SettingsFilePath() const { return m_settingsFilePath; }
    // The target of UM_ messages; the main window registers itself and clears it last.
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
    int32_t ConsoleRows() const { return m_settings.consoleRows; }
    uint32_t TimeoutFirstRecv() const { return m_session.FirstReceiveTimeout(); }
    uint32_t TimeoutNextRecv() const { return m_session.NextReceiveTimeout(); }
    uint32_t TimeoutSend() const { return m_session.SendTimeout(); }
    uint32_t CommandGap() const { return m_settings.commandGap; }
    // New TARN time-outs (already after the time-out rule) while disconnected: kept in the
    // session, in the block every interface reads (clamped as PortTimeout) and in the engine's
    // receive time-outs at once, since no transaction runs. The settings file is the caller's.
    void SetTimeouts(uint32_t firstReceive, uint32_t nextReceive, uint32_t send) {
        m_session.SetTimeouts(firstReceive, nextReceive, send);
    }

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
    const PortParamBlock& PortParams() const { return m_session.PortParams(); }
    const std::u16string& ChannelSection() const { return m_channelSection; }
    const clInterfaceRegistry& Interfaces() const { return m_session.Interfaces(); }
    // For interfaces added after start-up (tests); select one with SelectInterface.
    clInterfaceRegistry& Interfaces() { return m_session.Interfaces(); }
    clCamPort* CurrentPort() { return m_session.CurrentPort(); } // null while none is selected
    const clCamPort* CurrentPort() const { return m_session.CurrentPort(); }
    int32_t SelectedInterfaceIndex() const { return m_session.SelectedInterfaceIndex(); }
    // The stored choice ("SelectInterface" of the channel section).
    const std::u16string& SelectedInterfaceName() const {
        return m_session.SelectedInterfaceName();
    }
    const clPortPlugIn& PlugInPort() const { return m_session.PlugInPort(); }
    const std::u16string& PortNameText() const { return m_session.PortNameText(); }
    const std::u16string& LineSpeedText() const { return m_session.LineSpeedText(); }
    const std::u16string& PortDescriptionText() const { return m_session.PortDescriptionText(); }
    // Selects the interface at index (-1: none) while disconnected: the index, the current port
    // and the port texts. Returns the name taken, empty when none was; storing it in the
    // settings file is the caller's.
    std::u16string SelectInterface(int32_t index) { return m_session.SelectInterface(index); }
    // The first registered interface whose name equals name exactly (letter case counts); -1.
    int32_t FindInterfaceIndex(const std::u16string& name) const {
        return m_session.FindInterfaceIndex(name);
    }

    // ---- read by the window and the tests; written by start-up only
    std::u16string LogFilePath() const {
        return m_logFilePath;
    } // state folder + "Quillon_NN_Log.txt"
    // The number obtained by start-up, -1 before; the one asked for on the command line, -1.
    int32_t InstanceNumber() const { return m_instanceNumber; }
    int32_t RequestedInstanceNumber() const { return m_requestedInstanceNumber; }
    // 1 while start-up's working-set limits are in force (shutdown restores the saved ones).
    uint8_t WorkingSetChanged() const { return m_workingSetChanged; }
    uint64_t ReceiveBufferBytes() const { return m_session.Settings().receiveBufferBytes; }
    // "ja" or "en", as UiLanguageCode() (base/MessageTable.h).
    const std::u16string& LanguageCode() const { return m_languageCode; }
    // The elapsed-time watch's period.
    uint32_t WatchPeriodMs() const { return m_watchPeriodMs; }

protected:
    // Start-up and shutdown: the user interface creates and destroys its wait dialog here.
    virtual void CreateWaitDialog() {}
    virtual void DestroyWaitDialog() {}

private:
    void CreateImageList();
    bool StartSession();
    void StopWatch();
    bool ChooseInstanceNumber();
    bool ReserveWorkingSet();
    void RestoreWorkingSet();
    platform::IWorkingSet& WorkingSet();

    // ---- program folder, instance, settings, log
    std::u16string m_programFolder; // ends in "/"
    // In the program folder while it is writable, otherwise in the user's XDG folders (current
    // directory too, for the port logs): platform/DataFolders.h.
    std::u16string m_settingsFilePath; // settings folder + "Quillon_NN.ini"
    IUiTarget* m_mainFrame = nullptr;  // set by the main window; target of every UM_ message
    // Declared before the session, destroyed after it: the session's threads write to it.
    std::unique_ptr<clSimpleLog> m_appLog;
    // The elapsed-time watch: declared before the session, so the engine that signals it goes
    // first.
    std::unique_ptr<clWatchThread> m_watch;

    // ---- message-box request
    std::u16string m_messageBoxText;
    std::u16string m_messageBoxCaption;
    int32_t m_messageBoxResult = 0;

    // ---- settings values
    SessionSettings m_settings;

    // ---- window and camera definition
    std::u16string m_windowTitle;
    std::u16string m_camDefineFolder; // program folder + "CamDefine/"
    // The user's own definitions, searched before the program's; empty in a portable folder.
    std::u16string m_userCamDefineFolder;
    std::u16string m_currentDefinitionFile;
    std::vector<std::u16string> m_foundFiles;
    std::u16string m_channelSection; // "CAMERA_COMM_Ch00"

    Environment m_environment;
    platform::SystemWorkingSet m_systemWorkingSet;

    // Written by start-up and shutdown only.
    std::u16string m_logFilePath;
    int32_t m_instanceNumber = -1;
    int32_t m_requestedInstanceNumber = -1;
    uint64_t m_savedMinWorkingSet = 0;
    uint64_t m_savedMaxWorkingSet = 0;
    uint8_t m_workingSetChanged = 0;
    platform::InstanceLock m_instanceLock;
    std::u16string m_languageCode;
    uint32_t m_watchPeriodMs = 50;

    // The session core; declared last, so it goes first.
    clSession m_session;
};
