// clApplication: the program-wide state of Quillon and the order of start-up and shutdown.
//
// One object exists per process (the windowed application derives from it). Start-up runs on
// the user-interface thread before any window exists and returns 0 or 1; shutdown releases
// whatever start-up created, also after a failed start-up, and a second call does nothing.
//
// Fields are public for reading by the rest of the program; code outside the application only
// writes the ones it owns (main frame, window title, message-box result, current definition
// file, the auto-select flags, the job fields, the console backlog under the application lock).
#pragma once

#include "app/SimpleLog.h"
#include "app/UiTarget.h"
#include "platform/Event.h"
#include "platform/InstanceLock.h"
#include "platform/WorkingSet.h"
#include "port/CamPort.h"
#include "port/InterfaceRegistry.h"
#include "port/PortTables.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class clApplication {
public:
    // What start-up takes from its surroundings. Tests point it at temporary folders and fakes.
    struct Environment {
        std::string programFolder;                   // empty: folder of the running executable
        std::string lockFolder;                      // empty: InstanceLock::DefaultFolder()
        platform::IWorkingSet* workingSet = nullptr; // null: the system's
        bool changeCurrentDirectory = true;          // make the program folder current
        std::string programFile;                     // empty: the running executable
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

    // Has the main window show a message box: stores text and caption (empty caption: the
    // application's own) and, only while a main frame is registered, sends UM_MESSAGE_BOX
    // (wParam 0, lParam the MB_* style) through it. Returns the button pressed
    // (m_messageBoxResult); 0 when no main frame was there to ask.
    int32_t RequestMessageBox(std::u16string text, std::u16string caption, uint32_t style);

    // ---- program folder, instance, settings, log
    std::u16string m_programFolder;    // ends in "/"
    std::u16string m_settingsFilePath; // program folder + "Quillon_NN.ini"
    std::u16string m_logFilePath;      // program folder + "Quillon_NN_Log.txt"
    int32_t m_instanceNumber = -1;     // the number obtained by start-up, -1 before
    uint64_t m_savedMinWorkingSet = 0;
    uint64_t m_savedMaxWorkingSet = 0;
    uint8_t m_workingSetChanged = 0;
    IUiTarget* m_mainFrame = nullptr; // set by the main window; target of every UM_ message
    std::unique_ptr<clSimpleLog> m_appLog;
    platform::InstanceLock m_instanceLock;
    int32_t m_requestedInstanceNumber = -1;

    // ---- worker thread and its events
    std::thread m_workerThread;
    std::unique_ptr<platform::Event> m_stopEvent; // manual reset
    std::unique_ptr<platform::Event> m_jobEvent;  // auto reset

    // ---- message-box request
    std::u16string m_messageBoxText;
    std::u16string m_messageBoxCaption;
    int32_t m_messageBoxResult = 0;

    // ---- settings values
    int32_t m_consoleRows = 0;
    uint64_t m_receiveBufferBytes = 0;
    uint32_t m_forceEnglish = 0;
    // The three TARN time-outs in milliseconds, after the time-out rule.
    uint32_t m_timeoutFirstRecv = 0;
    uint32_t m_timeoutNextRecv = 0;
    uint32_t m_timeoutSend = 0;

    // ---- window and camera definition
    std::u16string m_windowTitle;
    std::u16string m_camDefineFolder; // program folder + "CamDefine/"
    std::u16string m_currentDefinitionFile;
    int32_t m_autoSelectRequest = 0;
    int32_t m_modelDetected = 0;
    std::vector<std::u16string> m_foundFiles;

    // ---- interfaces and port
    // Handed to every interface entry; points at m_programFolder, m_settingsFilePath and
    // m_channelSection and carries the three time-outs. Filled at start-up step 9.
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

    // ---- jobs and console
    int32_t m_jobKind = 0;
    std::u16string m_lastCommandText;
    int64_t m_consoleBacklog = 0;
    std::mutex m_appLock;          // guards m_consoleBacklog
    std::u16string m_languageCode; // "ja" or "en", as UiLanguageCode() (app/MessageTable.h)

    // ---- elapsed-time watch
    uint32_t m_watchPeriodMs = 50;

private:
    // Steps whose bodies belong to the port, engine and wait-dialog work (see Application.cpp).
    void CreateWaitDialog();
    void FillPortParams();
    void DiscoverInterfaces();

public:
    // The first registered interface whose name equals name exactly (letter case counts); -1.
    int32_t FindInterfaceIndex(const std::u16string& name) const;

private:
    void CreateImageList();
    bool CreateEngine();
    void PrepareEngine();
    void StopWatch();
    void StopWorkerThread();
    void DestroyEngine();
    void UnloadModules();
    void DestroyWaitDialog();

    bool ChooseInstanceNumber();
    bool ReserveWorkingSet();
    void RestoreWorkingSet();
    platform::IWorkingSet& WorkingSet();

    Environment m_environment;
    platform::SystemWorkingSet m_systemWorkingSet;
    bool m_xmlInitialised = false;
};
