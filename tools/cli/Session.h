// clCliSession: quillon-cli as a front-end of the session core (app/Session.h). It reads the
// instance's settings (never writes them), starts the session on them, opens the port and runs
// one job at a time, waiting for it on the main thread: the engine's events report every
// transaction (the reply lines applied to the definition on the worker thread, while the main
// thread waits), and the job's end. SIGINT and SIGTERM end the wait: the running transaction
// (or a send that cannot go out) is cancelled within one poll, nothing more is sent and the
// port is closed.
#pragma once

#include "app/Session.h"
#include "comm/EngineEvents.h"
#include "platform/Event.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class clApplication;
class clCamPropertyMgr;
class clQuietFilesUi;
class clTextFiles;
class clTrafficLog;

// The common options of every command.
struct CliOptions {
    int instance = 0;
    std::string port;          // empty: the instance's stored port
    std::string interfaceName; // empty: the instance's stored interface (or the built-in one)
    uint32_t baud = 0;         // 0: the port's stored rate
    int64_t timeoutMs = -1;    // first and next receive; -1: the instance's settings
    int64_t gapMs = -1;        // pause after each command of a job; -1: the instance's settings
    std::string definition;    // empty, "auto" or a file
    bool json = false;
    std::string logFile;
};

// One command transaction as the engine reported it.
struct CliTransaction {
    std::u16string command;                 // without the CR
    int32_t result = TRANSACTION_CANCELLED; // TRANSACTION_*
    int32_t replyCode = kNoReplyCode;
    std::vector<std::u16string> replyLines; // after the result line, each with its '>'
    std::u16string message;                 // what the window would show in a message box
    std::u16string lostDevice;              // the device that went away during it
    int64_t elapsedMs = 0;                  // from the send to the end
    size_t line = 0;                        // a batch's line that sent it (1-based), else 0

    bool Ok() const { return result == TRANSACTION_OK && replyCode == kReplyCodeOk; }
    std::string Outcome() const;
};

struct CliJob {
    std::vector<CliTransaction> transactions;
    JobOutcome outcome = JobOutcome::kDone;
    int signal = 0;  // the signal that ended the wait, 0 when none did
    int refused = 0; // the engine's SUBMIT_ refusal, 0 when it took the job
};

class clCliSession : private IEngineEvents, private ISessionHost {
public:
    static constexpr char16_t kBuiltInInterface[] = u"COM port(Build In)";

    explicit clCliSession(CliOptions options);
    ~clCliSession() override;
    clCliSession(const clCliSession&) = delete;
    clCliSession& operator=(const clCliSession&) = delete;

    const CliOptions& Options() const { return m_options; }

    // Settings, UI language and the session (XML library, interfaces, engine; no worker yet).
    // 0, or the exit status with error: 2 when the traffic log cannot be opened, 1 otherwise.
    int Start(std::string& error);

    const std::u16string& ProgramFolder() const { return m_programFolder; }
    const std::u16string& SettingsPath() const { return m_settingsPath; }
    const std::u16string& CamDefineFolder() const { return m_camDefineFolder; }
    const clInterfaceRegistry& Interfaces() const { return m_session.Interfaces(); }
    clCamPropertyMgr& Manager();

    // Loads a definition file into the engine's manager: a LoadResult; message gets the text
    // the window shows for a failure.
    int LoadDefinition(const std::u16string& path, std::string& message);
    const std::u16string& DefinitionPath() const { return m_definitionPath; }

    // Chooses the interface and port of the options (or the stored ones) and connects. 0, or
    // the exit status: 1 for options that do not fit, 3 when the port cannot be opened.
    int OpenPort(std::string& message);
    void ClosePort();

    // Each runs one job and waits for its end (or for a signal).
    CliJob RunCommand(std::u16string_view command);
    CliJob RunProperty(const clCamProperty* property);
    CliJob RunBatch(std::vector<std::u16string> lines);
    // Called on the worker thread as each command of a job goes out (its 0-based number).
    std::function<void(size_t)> onCommandSent;
    // Called on the worker thread before each batch line and once at the batch's end.
    std::function<void(const BatchProgress&)> onBatchProgress;
    // Called on this thread (while a job is waited for, or in WaitForWork) when the port's
    // device went away and when it came back and was connected again.
    std::function<void(const std::u16string& device)> onPortLost;
    std::function<void(const std::u16string& device, const CameraIdentity& identity)>
        onPortReturned;

    // The definition's values are written by the worker while a job runs (the replies) and by
    // this thread between jobs; another thread that reads them holds this lock, and so does
    // this thread when it writes them.
    std::mutex& DefinitionLock() { return m_definitionLock; }

    // The engine's connection, and its own link options of the options (port, interface, baud,
    // time-outs, gap, definition) for the next OpenPort; the time-outs and the gap take effect
    // at once (only while disconnected).
    bool IsConnected() const { return m_session.IsConnected(); }
    void UseLinkOptions(const CliOptions& options);
    // The traffic of the engine (its listener streams it).
    clTrafficLog& Traffic();
    // The port as opened (the device of the built-in port, else the interface's port text) and
    // the interface's name.
    std::u16string PortText() const;
    std::u16string InterfaceName() const { return m_session.SelectedInterfaceName(); }
    // Cancels the running transaction (any thread); a batch ends with it.
    void CancelRunning();
    // A reconnect's identity check still runs (its "sta" is the engine's job).
    bool IdentityCheckPending() const { return m_session.IdentityCheckPending(); }

    // Takes SIGINT and SIGTERM through a descriptor from now on (threads started later inherit
    // the mask). OpenPort does it too.
    void CatchSignals();
    // Waits until one of fds is readable, a signal came, or the session's posted work is due,
    // and runs what is due. False when a signal came.
    bool WaitForWork(const std::vector<int>& fds, int timeoutMs = -1);

    // A signal received so far (0: none). Never waits.
    int PendingSignal();

    // The camera's identity lines as the replies gave them ("Model=", "Type=", "Ver.=",
    // "Serial=").
    std::u16string Model() const;
    std::u16string Type() const;
    std::u16string Version() const;
    std::u16string Serial() const;

    // The Text Save file of the manager's values with the identity above. 0, or 1 with the
    // reason Text Save gives.
    int32_t WriteSettingsText(const std::u16string& path, std::string& reason);
    // The definition files of a model as the window's auto-selection finds them (the user's
    // definition folder first), each with its folder.
    std::vector<std::u16string> DefinitionsForModel(std::u16string_view model);

private:
    using Clock = std::chrono::steady_clock;

    CliJob RunJob(const std::function<int32_t()>& submit);
    bool SelectInterface(std::string& message, int& status);
    bool ApplyPortOption(std::string& message);
    // The tasks the session posted that are due; the time until the next one (-1: none).
    int RunDueTasks();

    // IEngineEvents (worker thread, while the main thread waits for the job).
    void CommandSent(const std::u16string& text, uint64_t receivedBefore) override;
    void TransactionEnded(const TransactionReport& report) override;
    void JobEnded(const JobReport& report) override;
    void BatchProgressed(const BatchProgress& progress) override;
    int32_t Ask(const EngineQuestion& question) override;
    void PortLost(const std::u16string& device) override;
    void PortReturned(const std::u16string& device, const CameraIdentity& identity,
                      const CameraIdentity& before) override;
    // ISessionHost
    void Post(std::function<void()> task, int delayMs) override;

    CliOptions m_options;
    std::u16string m_programFolder;
    std::u16string m_settingsPath;
    std::u16string m_camDefineFolder;
    std::u16string m_definitionPath;
    SessionSettings m_settings;
    bool m_builtIn = false;
    int32_t m_interfaceIndex = -1;

    // The job being waited for (the worker fills it through the events).
    std::mutex m_jobLock;
    CliJob m_job;
    size_t m_batchLine = 0; // the batch line running (worker thread)
    std::mutex m_definitionLock;
    // Set when the worker reports the job's end (manual reset: the wait looks, then resets).
    platform::Event m_jobEnded{platform::Event::Reset::Manual};
    // The session's posted work, run by the waits of the main thread.
    struct Task {
        Clock::time_point due;
        std::function<void()> run;
    };
    std::mutex m_taskLock;
    std::vector<Task> m_tasks;
    platform::Event m_taskPosted{platform::Event::Reset::Auto};

    // What the text-file commands read of the application: folders, title, definition file.
    std::unique_ptr<clApplication> m_app;
    std::unique_ptr<clTextFiles> m_files;
    std::unique_ptr<clQuietFilesUi> m_filesUi;
    int m_signalFd = -1;
    int m_signal = 0;
    // Declared last, so it goes first: its worker reports to the members above.
    clSession m_session;
};
