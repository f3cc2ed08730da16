// clCliSession: what quillon-cli drives of the core — the instance's settings (read only), the
// interfaces and their port, the camera definition, and the communication engine with its
// worker thread. Every use of the engine goes through here, so the commands never touch its
// fields. Jobs run one at a time and are waited for on the main thread; SIGINT and SIGTERM end
// the wait: the running transaction is cancelled, nothing more is sent and the port is closed.
#pragma once

#include "comm/CommunicateModel.h"
#include "comm/ReplyCollector.h"
#include "port/CamPort.h"
#include "port/InterfaceRegistry.h"
#include "port/PortTables.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class clApplication;
class clCamPropertyMgr;
class clTextFiles;

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

    bool Ok() const { return result == TRANSACTION_OK && replyCode == kReplyCodeOk; }
    std::string Outcome() const;
};

struct CliJob {
    std::vector<CliTransaction> transactions;
    int signal = 0;  // the signal that ended the wait, 0 when none did
    int refused = 0; // the engine's SUBMIT_ refusal, 0 when it took the job
};

class clCliSession {
public:
    static constexpr char16_t kBuiltInInterface[] = u"COM port(Build In)";

    explicit clCliSession(CliOptions options);
    ~clCliSession();
    clCliSession(const clCliSession&) = delete;
    clCliSession& operator=(const clCliSession&) = delete;

    const CliOptions& Options() const { return m_options; }

    // Settings, UI language, XML library, interfaces and the engine (no worker yet). 0, or
    // the exit status with error: 2 when the traffic log cannot be opened, 1 otherwise.
    int Start(std::string& error);

    const std::u16string& ProgramFolder() const { return m_programFolder; }
    const std::u16string& SettingsPath() const { return m_settingsPath; }
    const std::u16string& CamDefineFolder() const { return m_camDefineFolder; }
    const clInterfaceRegistry& Interfaces() const { return m_interfaces; }
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

    // A signal received so far and not yet reported (0: none). Never waits.
    int PendingSignal();

    // Identity lines of the replies ("Model=", "Type=", "Ver.=", "Serial=").
    std::u16string model, type, version, serial;

    // The Text Save file of the manager's values with the identity above. 0, or 1 with the
    // reason Text Save gives.
    int32_t WriteSettingsText(const std::u16string& path, std::string& reason);
    // The definition files of a model as the window's auto-selection finds them (the user's
    // definition folder first), each with its folder.
    std::vector<std::u16string> DefinitionsForModel(std::u16string_view model);

private:
    class Target;
    CliJob RunJob(const std::function<int32_t()>& submit);
    bool SelectInterface(std::string& message, int& status);
    bool ApplyPortOption(std::string& message);
    void HandleReplyLine(const std::u16string& line);

    CliOptions m_options;
    std::u16string m_programFolder;
    std::u16string m_settingsPath;
    std::u16string m_camDefineFolder;
    std::u16string m_channelSection = u"CAMERA_COMM_Ch00";
    std::u16string m_definitionPath;
    PortParamBlock m_params{};
    clInterfaceRegistry m_interfaces;
    clPortPlugIn m_port;
    bool m_builtIn = false;
    int32_t m_interfaceIndex = -1;
    bool m_xml = false;

    platform::Event m_stop{platform::Event::Reset::Manual};
    platform::Event m_job{platform::Event::Reset::Auto};
    // Set when the worker closes a job's frame (manual reset: the waits look, then reset).
    platform::Event m_jobEnded{platform::Event::Reset::Manual};
    std::unique_ptr<Target> m_target;
    std::unique_ptr<clEngineContextStore> m_context;
    std::unique_ptr<clCommunicateModel> m_engine;
    // What the text-file commands read of the application: folders, title, definition file.
    std::unique_ptr<clApplication> m_app;
    std::unique_ptr<clTextFiles> m_files;
    class FilesUi;
    std::unique_ptr<FilesUi> m_filesUi;
    int m_signalFd = -1;
    int m_signal = 0;
};
