#include "tools/cli/Session.h"

#include "app/Application.h"
#include "app/PortReasonText.h"
#include "base/MessageTable.h"
#include "base/Messages.h"
#include "camdef/CamPropertyMgr.h"
#include "comm/TrafficLog.h"
#include "components/vorlix/Vorlix.h"
#include "platform/DataFolders.h"
#include "platform/ProgramFolder.h"
#include "platform/Text.h"
#include "platform/UiLanguage.h"
#include "port/PortComm.h"
#include "textfiles/TextFiles.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

std::string Utf8(std::u16string_view text) {
    return platform::Utf16ToUtf8(text);
}

// After a signal's cancel, the time the running job gets to end by itself before it is stopped.
constexpr int64_t kCancelGraceMs = 250;

} // namespace

std::string CliTransaction::Outcome() const {
    if (!lostDevice.empty())
        return Utf8(FormatMsg(MSG_PORT_LOST, {lostDevice}));
    return TransactionOutcomeText(result, replyCode, false);
}

clCliSession::clCliSession(CliOptions options) : m_options(std::move(options)) {}

clCliSession::~clCliSession() {
    ClosePort();
    m_session.ShutDown();
    m_files.reset();
    m_app.reset();
    if (m_signalFd >= 0)
        ::close(m_signalFd);
}

int clCliSession::Start(std::string& error) {
    std::string folder = platform::ProgramFolder();
    if (folder.empty()) {
        error = "cannot find the program folder";
        return 1;
    }
    m_programFolder = platform::PathToUtf16(folder);
    // The window's folders: the program folder while it is writable, else the user's XDG
    // folders (looked at, never created here).
    const platform::DataFolders data = platform::ChooseDataFolders(folder);
    m_settingsPath =
        platform::PathToUtf16(data.settingsFolder) + SettingsFileName(m_options.instance);
    m_camDefineFolder = m_programFolder + u"CamDefine/";

    // The instance's settings, read as the window reads them; nothing is written. The options
    // win over them.
    m_settings = SessionSettings::Read(m_settingsPath);
    SetUiLanguage(m_settings.forceEnglish, platform::UserDefaultUiLanguage());
    if (m_options.timeoutMs >= 0)
        m_settings.firstReceive = m_settings.nextReceive = SessionSettings::ApplyTimeoutRule(
            static_cast<uint32_t>(std::min<int64_t>(m_options.timeoutMs, UINT32_MAX)));
    if (m_options.gapMs >= 0)
        m_settings.commandGap =
            static_cast<uint32_t>(std::min<int64_t>(m_options.gapMs, UINT32_MAX));

    clSession::Setup setup;
    setup.programFolder = m_programFolder;
    setup.settingsFile = m_settingsPath;
    setup.camDefineFolder = m_camDefineFolder;
    setup.programFile = platform::ProgramFilePath();
    setup.languageCode = UiLanguageCode();
    m_session.SetHost(this);
    m_session.SetEvents(this);
    if (!m_session.Start(setup, m_settings, error))
        return 1;

    m_app = std::make_unique<clApplication>();
    m_app->SetWindowTitle(sizeof(void*) == 8 ? u"Quillon (64bit)" : u"Quillon (32bit)");
    m_app->UseProgramFolder(m_programFolder, m_settingsPath);
    m_app->UseDefinitionFolders(m_camDefineFolder,
                                platform::PathToUtf16(data.userDefinitionFolder));
    // Text Save and the definition search of the window.
    m_filesUi = std::make_unique<clQuietFilesUi>();
    m_files = std::make_unique<clTextFiles>(*m_app, m_session.Engine(), m_filesUi.get());
    m_files->SetProgramFile(platform::ProgramFilePath());
    if (!m_options.logFile.empty() && !m_session.Engine().Traffic().Open(m_options.logFile)) {
        error = "cannot open the traffic log " + m_options.logFile;
        return 2;
    }
    return 0;
}

clCamPropertyMgr& clCliSession::Manager() {
    return m_session.Manager();
}

int clCliSession::LoadDefinition(const std::u16string& path, std::string& message) {
    const int result = Manager().Load(path);
    if (result == kLoadOk) {
        m_definitionPath = path;
        return result;
    }
    message = Utf8(Msg(DefinitionLoadFailureMessage(result)));
    if (!Manager().LastErrorDetail().empty())
        message += " (" + Utf8(Manager().LastErrorDetail()) + ")";
    return result;
}

std::u16string clCliSession::Model() const {
    return m_session.ModelLine();
}
std::u16string clCliSession::Type() const {
    return m_session.TypeLine();
}
std::u16string clCliSession::Version() const {
    return m_session.Engine().CameraVersion();
}
std::u16string clCliSession::Serial() const {
    return m_session.Engine().CameraSerial();
}

// ---------------------------------------------------------------------------------------------
// Port

bool clCliSession::SelectInterface(std::string& message, int& status) {
    std::u16string name = platform::LocaleToUtf16(m_options.interfaceName);
    const bool named = !name.empty();
    if (!named && !m_options.port.empty())
        name = kBuiltInInterface;
    if (name.empty())
        name = m_settings.selectedInterface;
    const int32_t index = m_session.FindInterfaceIndex(name);
    if (index < 0) {
        status = named ? 1 : 3;
        message = named ? "no interface \"" + Utf8(name) + "\" (see the ports command)"
                        : "no interface chosen for instance " + std::to_string(m_options.instance) +
                              ": give --port or --interface";
        return false;
    }
    m_session.SelectInterface(index);
    m_builtIn = m_session.BuiltInSelected();
    m_interfaceIndex = index;
    if (!m_builtIn && (!m_options.port.empty() || m_options.baud != 0)) {
        status = 1;
        message = "--port and --baud are for the built-in interface only";
        return false;
    }
    clPortPlugIn* port = static_cast<clPortPlugIn*>(m_session.CurrentPort());
    if (!port || !port->opTable) {
        status = 3;
        message = "the interface \"" + Utf8(name) + "\" has no port";
        return false;
    }
    return true;
}

bool clCliSession::ApplyPortOption(std::string& message) {
    if (!m_builtIn)
        return true;
    clPortComm& com = BuiltInComPort();
    // A listed port name, a device path or a network address.
    if (!m_options.port.empty() &&
        !ChooseBuiltInPort(platform::PathToUtf16(m_options.port), com.identity, message))
        return false;
    if (com.identity.devicePath.empty()) {
        message =
            "no port chosen for instance " + std::to_string(m_options.instance) + ": give --port";
        return false;
    }
    return true;
}

int clCliSession::OpenPort(std::string& message) {
    int status = 3;
    if (!SelectInterface(message, status))
        return status;
    if (!ApplyPortOption(message))
        return 3;

    // From here on SIGINT and SIGTERM are taken through a descriptor; the threads started below
    // inherit the mask, so only the waits of the main thread see them.
    CatchSignals();

    // The worker and the watch of the device (a device that vanishes ends the command at once).
    if (!m_session.StartWorker()) {
        message = "cannot start the worker thread";
        return 3;
    }
    // The option overrides the rate Init reads from the port's stored parameters.
    const int32_t result = m_session.ConnectCamera([this] {
        if (m_builtIn && m_options.baud != 0)
            BuiltInComPort().params.baudRate = m_options.baud;
    });
    if (result != 0) {
        const std::u16string device =
            m_builtIn ? BuiltInComPort().identity.devicePath : std::u16string(u"");
        message = Utf8(Msg(MSG_CONNECT_FAILED)) + " " + Utf8(Msg(ConnectFailureMessage(result))) +
                  " (result " + std::to_string(result) +
                  (device.empty() ? "" : ", " + Utf8(device)) + ")";
        // The window's second line: why (missing, held by another program, no permission).
        if (const std::u16string reason = m_session.PortReasonLine(); !reason.empty())
            message += ": " + Utf8(reason);
        m_session.AbandonConnect();
        return 3;
    }
    return 0;
}

void clCliSession::CatchSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    if (m_signalFd < 0)
        m_signalFd = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
}

void clCliSession::UseLinkOptions(const CliOptions& options) {
    const int instance = m_options.instance;
    const bool json = m_options.json;
    const std::string logFile = m_options.logFile;
    m_options = options;
    m_options.instance = instance;
    m_options.json = json;
    m_options.logFile = logFile;
    if (m_session.IsConnected())
        return;
    SessionSettings stored = SessionSettings::Read(m_settingsPath);
    uint32_t first = stored.firstReceive, next = stored.nextReceive;
    if (m_options.timeoutMs >= 0)
        first = next = SessionSettings::ApplyTimeoutRule(
            static_cast<uint32_t>(std::min<int64_t>(m_options.timeoutMs, UINT32_MAX)));
    m_session.SetTimeouts(first, next, m_session.SendTimeout());
    m_session.Engine().SetCommandGap(
        m_options.gapMs >= 0 ? static_cast<uint32_t>(std::min<int64_t>(m_options.gapMs, UINT32_MAX))
                             : stored.commandGap);
}

clTrafficLog& clCliSession::Traffic() {
    return m_session.Engine().Traffic();
}

std::u16string clCliSession::PortText() const {
    const std::u16string device = m_session.ConnectedDevice();
    return device.empty() ? m_session.PortNameText() : device;
}

void clCliSession::CancelRunning() {
    if (m_session.HasEngine())
        m_session.Engine().CancelReceiving();
}

bool clCliSession::WaitForWork(const std::vector<int>& fds, int timeoutMs) {
    int wait = RunDueTasks();
    if (timeoutMs >= 0)
        wait = wait < 0 ? timeoutMs : std::min(wait, timeoutMs);
    std::vector<pollfd> p;
    for (const int fd : fds)
        p.push_back({fd, POLLIN, 0});
    p.push_back({m_taskPosted.Fd(), POLLIN, 0});
    if (m_signalFd >= 0)
        p.push_back({m_signalFd, POLLIN, 0});
    ::poll(p.data(), p.size(), wait);
    m_taskPosted.TryAcquire();
    RunDueTasks();
    return PendingSignal() == 0;
}

void clCliSession::ClosePort() {
    if (!m_session.HasEngine())
        return;
    // A job still running is cancelled and ends first; then the port closes.
    if (m_session.IsConnected())
        m_session.DisconnectCamera();
}

int clCliSession::PendingSignal() {
    if (m_signal == 0 && m_signalFd >= 0) {
        signalfd_siginfo info{};
        if (::read(m_signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
            m_signal = static_cast<int>(info.ssi_signo);
    }
    return m_signal;
}

// ---------------------------------------------------------------------------------------------
// The session's posted work

void clCliSession::Post(std::function<void()> task, int delayMs) {
    {
        std::lock_guard<std::mutex> guard(m_taskLock);
        m_tasks.push_back({Clock::now() + std::chrono::milliseconds(delayMs), std::move(task)});
    }
    m_taskPosted.Set();
}

int clCliSession::RunDueTasks() {
    for (;;) {
        std::function<void()> run;
        int wait = -1;
        {
            std::lock_guard<std::mutex> guard(m_taskLock);
            const auto now = Clock::now();
            auto due = std::find_if(m_tasks.begin(), m_tasks.end(),
                                    [now](const Task& t) { return t.due <= now; });
            if (due != m_tasks.end()) {
                run = std::move(due->run);
                m_tasks.erase(due);
            } else {
                for (const Task& t : m_tasks) {
                    const auto ms =
                        std::chrono::duration_cast<std::chrono::milliseconds>(t.due - now).count();
                    wait = wait < 0 ? static_cast<int>(ms) : std::min(wait, static_cast<int>(ms));
                }
            }
        }
        if (!run)
            return wait;
        run();
    }
}

// ---------------------------------------------------------------------------------------------
// Jobs and the engine's events

void clCliSession::CommandSent(const std::u16string& text, uint64_t) {
    size_t n;
    {
        std::lock_guard<std::mutex> guard(m_jobLock);
        CliTransaction t;
        t.command = text;
        t.line = m_batchLine;
        while (!t.command.empty() && (t.command.back() == u'\r' || t.command.back() == u'\n'))
            t.command.pop_back();
        m_job.transactions.push_back(std::move(t));
        n = m_job.transactions.size() - 1;
    }
    if (onCommandSent)
        onCommandSent(n);
}

void clCliSession::TransactionEnded(const TransactionReport& report) {
    // The main thread waits for the job: the definition is the worker's meanwhile, and the
    // next command of the job is composed with the values these lines carry.
    {
        std::lock_guard<std::mutex> writing(m_definitionLock);
        m_session.ApplyReplies(report);
    }
    std::lock_guard<std::mutex> guard(m_jobLock);
    if (m_job.transactions.empty())
        return;
    CliTransaction& t = m_job.transactions.back();
    t.result = report.result;
    t.replyCode = report.replyCode;
    t.replyLines = report.replyLines;
    t.lostDevice = report.lostDevice;
    t.elapsedMs = report.elapsedMs;
}

void clCliSession::BatchProgressed(const BatchProgress& progress) {
    {
        std::lock_guard<std::mutex> guard(m_jobLock);
        m_batchLine = progress.outcome == BatchProgress::kRunning ? progress.current : 0;
    }
    if (onBatchProgress)
        onBatchProgress(progress);
}

void clCliSession::PortLost(const std::u16string& device) {
    if (onPortLost)
        onPortLost(device);
}

void clCliSession::PortReturned(const std::u16string& device, const CameraIdentity& identity,
                                const CameraIdentity&) {
    if (onPortReturned)
        onPortReturned(device, identity);
}

int32_t clCliSession::Ask(const EngineQuestion& question) {
    // Naming the property on the command line is the operator's confirmation; any other box
    // is the reason of the transaction's failure.
    std::lock_guard<std::mutex> guard(m_jobLock);
    if (!m_job.transactions.empty())
        m_job.transactions.back().message = question.text;
    return IDOK;
}

void clCliSession::JobEnded(const JobReport& report) {
    {
        std::lock_guard<std::mutex> guard(m_jobLock);
        m_job.outcome = report.outcome;
    }
    m_jobEnded.Set();
}

CliJob clCliSession::RunJob(const std::function<int32_t()>& submit) {
    if (PendingSignal() != 0) {
        CliJob job;
        job.signal = m_signal;
        return job;
    }
    {
        std::lock_guard<std::mutex> guard(m_jobLock);
        m_job = CliJob{};
        m_batchLine = 0;
    }
    m_jobEnded.ResetEvent();
    if (const int32_t refused = submit()) {
        CliJob job;
        job.refused = refused;
        return job;
    }
    // A signal cancels the running transaction (a send that cannot go out too); what does not
    // end by itself within the grace (a pause of a batch) is stopped.
    Clock::time_point cancelledAt{};
    bool stopped = false;
    while (!m_jobEnded.IsSignalled()) {
        int wait = RunDueTasks();
        if (cancelledAt != Clock::time_point{} && !stopped)
            wait = wait < 0 ? static_cast<int>(kCancelGraceMs)
                            : std::min(wait, static_cast<int>(kCancelGraceMs));
        pollfd p[3] = {
            {m_jobEnded.Fd(), POLLIN, 0}, {m_taskPosted.Fd(), POLLIN, 0}, {m_signalFd, POLLIN, 0}};
        ::poll(p, m_signalFd >= 0 ? 3 : 2, wait);
        m_taskPosted.TryAcquire();
        if (cancelledAt == Clock::time_point{} && PendingSignal() != 0) {
            m_session.Engine().CancelReceiving();
            cancelledAt = Clock::now();
        }
        if (!stopped && cancelledAt != Clock::time_point{} && !m_jobEnded.IsSignalled() &&
            Clock::now() - cancelledAt >= std::chrono::milliseconds(kCancelGraceMs)) {
            stopped = true;
            if (!m_session.Engine().ShutDown({}))
                break; // a worker that does not end is left running; the port is closed after
        }
    }
    CliJob job;
    {
        std::lock_guard<std::mutex> guard(m_jobLock);
        job = std::move(m_job);
        m_job = CliJob{};
    }
    // A signal that came as the job ended still counts.
    job.signal = PendingSignal();
    return job;
}

CliJob clCliSession::RunCommand(std::u16string_view command) {
    return RunJob([this, command] { return m_session.Engine().SubmitCommandJob(command); });
}

CliJob clCliSession::RunProperty(const clCamProperty* property) {
    return RunJob([this, property] { return m_session.Engine().RunPropertyJob(property); });
}

CliJob clCliSession::RunBatch(std::vector<std::u16string> lines) {
    return RunJob([this, &lines] { return m_session.Engine().SubmitBatchJob(std::move(lines)); });
}

int32_t clCliSession::WriteSettingsText(const std::u16string& path, std::string& reason) {
    m_app->SetCurrentDefinitionFile(m_definitionPath);
    m_filesUi->message.clear();
    const int32_t result = m_files->WriteSettingsText(path);
    reason = m_filesUi->Reason();
    return result;
}

std::vector<std::u16string> clCliSession::DefinitionsForModel(std::u16string_view model) {
    m_files->FindDefinitionFiles(model);
    std::vector<std::u16string> files;
    for (const std::u16string& name : m_app->FoundFiles())
        files.push_back(m_files->DefinitionFolderOf(name) + name);
    return files;
}
