#include "tools/cli/Session.h"

#include "app/Application.h"
#include "app/PortReasonText.h"
#include "base/MessageTable.h"
#include "base/Messages.h"
#include "camdef/CamPropertyMgr.h"
#include "comm/TrafficLog.h"
#include "components/vorlix/Vorlix.h"
#include "platform/DataFolders.h"
#include "platform/IniProfile.h"
#include "platform/ProgramFolder.h"
#include "platform/Text.h"
#include "platform/UiLanguage.h"
#include "port/PortComm.h"
#include "textfiles/BatchText.h"
#include "textfiles/TextFiles.h"
#include "ui/MainFrameLogic.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <libxml/parser.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr char16_t kNoSettings[] = u"No settings";
// After a cancel, the time the running job gets to end on its own before the engine is stopped.
constexpr int64_t kCancelGraceMs = 250;

std::string Utf8(std::u16string_view text) {
    return platform::Utf16ToUtf8(text);
}

std::u16string Numbered(const char* format, int number) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, number);
    return platform::Utf8ToUtf16(buf);
}

} // namespace

std::string CliTransaction::Outcome() const {
    return TransactionOutcomeText(result, replyCode, false);
}

// The engine's window: the engine sends its UM_ messages here from the worker thread (and the
// confirmation prompt from the main thread) while the main thread waits for the job.
class clCliSession::Target : public IUiTarget {
public:
    explicit Target(clCliSession& session) : m_session(session) {}

    intptr_t SendUiMessage(uint32_t msg, uintptr_t, intptr_t) override {
        clCliSession& s = m_session;
        switch (msg) {
        case UM_CONSOLE_ECHO: {
            std::lock_guard<std::mutex> guard(m_lock);
            CliTransaction t;
            t.command = s.m_engine->Mailbox().m_lastCommandText;
            while (!t.command.empty() && (t.command.back() == u'\r' || t.command.back() == u'\n'))
                t.command.pop_back();
            m_job.transactions.push_back(std::move(t));
            if (s.onCommandSent)
                s.onCommandSent(m_job.transactions.size() - 1);
            break;
        }
        case UM_SHOW_RESULT: {
            std::lock_guard<std::mutex> guard(m_lock);
            if (m_job.transactions.empty())
                break;
            CliTransaction& t = m_job.transactions.back();
            switch (s.m_engine->Status()) {
            case STATUS_REPLY_COMPLETE:
                t.result = TRANSACTION_OK;
                break;
            case STATUS_RECEIVE_TIMEOUT:
                t.result = TRANSACTION_TIMEOUT;
                break;
            case STATUS_SEND_FAILED:
                t.result = TRANSACTION_SEND_FAILED;
                break;
            default:
                t.result = TRANSACTION_CANCELLED;
                break;
            }
            t.replyCode = s.m_engine->ReplyCode();
            break;
        }
        case UM_DRAIN_REPLIES: {
            std::u16string line;
            while (s.m_engine->TakeReplyLine(line)) {
                s.HandleReplyLine(line);
                std::lock_guard<std::mutex> guard(m_lock);
                if (!m_job.transactions.empty())
                    m_job.transactions.back().replyLines.push_back(line);
            }
            break;
        }
        case UM_MESSAGE_BOX: {
            // Naming the property on the command line is the operator's confirmation.
            s.m_context->messageBoxResult = IDOK;
            std::lock_guard<std::mutex> guard(m_lock);
            if (!m_job.transactions.empty())
                m_job.transactions.back().message = s.m_context->messageBoxText;
            break;
        }
        case UM_CLOSE_WAIT_DIALOG:
            s.m_jobEnded.Set();
            break;
        default:
            break;
        }
        return 0;
    }
    void PostUiMessage(uint32_t, uintptr_t, intptr_t) override {}

    // Forgets the last job's transactions.
    void BeginJob() {
        std::lock_guard<std::mutex> guard(m_lock);
        m_job = CliJob{};
    }
    CliJob TakeJob() {
        std::lock_guard<std::mutex> guard(m_lock);
        return std::move(m_job);
    }

private:
    clCliSession& m_session;
    std::mutex m_lock;
    CliJob m_job;
};

// The text-file commands' window: no dialogs; a message box is kept as the reason of a failure.
class clCliSession::FilesUi : public ITextFilesUi {
public:
    bool ShowFileDialog(const FileDialogRequest&, std::u16string&) override { return false; }
    bool ChooseFromList(std::u16string_view, std::u16string_view,
                        const std::vector<std::u16string>&, size_t&) override {
        return false;
    }
    int32_t ShowMessageBox(std::u16string_view text, std::u16string_view, uint32_t) override {
        message.assign(text);
        return IDOK;
    }
    void SetMainWindowTitle(std::u16string_view) override {}
    bool PropertyViewExists() override { return false; }
    void EmptyPropertyView() override {}
    void RebuildPropertyView() override {}

    std::u16string message;
};

clCliSession::clCliSession(CliOptions options) : m_options(std::move(options)) {}

clCliSession::~clCliSession() {
    ClosePort();
    m_files.reset();
    m_app.reset();
    if (m_engine) {
        m_engine->Traffic().Close();
        m_engine.reset();
    }
    m_port.opTable = nullptr;
    m_interfaces.UnloadModules();
    if (m_xml)
        xmlCleanupParser();
    if (m_signalFd >= 0)
        ::close(m_signalFd);
}

int clCliSession::Start(std::string& error) {
    std::string folder = platform::ProgramFolder();
    if (folder.empty()) {
        error = "cannot find the program folder";
        return 1;
    }
    m_programFolder = platform::Utf8ToUtf16(folder);
    // The window's folders: the program folder while it is writable, else the user's XDG
    // folders (looked at, never created here).
    const platform::DataFolders data = platform::ChooseDataFolders(folder);
    m_settingsPath = platform::Utf8ToUtf16(data.settingsFolder) +
                     Numbered("Quillon_%02d.ini", m_options.instance);
    m_camDefineFolder = m_programFolder + u"CamDefine/";

    // The instance's settings, read as start-up reads them; nothing is written.
    const std::u16string& ini = m_settingsPath;
    const uint32_t forceEnglish =
        platform::GetPrivateProfileInt(u"Internationalize", u"Force English", 0, ini);
    SetUiLanguage(forceEnglish, platform::UserDefaultUiLanguage());
    auto timeout = [&](const char16_t* key) {
        if (m_options.timeoutMs >= 0)
            return clApplication::ApplyTimeoutRule(
                static_cast<uint32_t>(std::min<int64_t>(m_options.timeoutMs, UINT32_MAX)));
        return clApplication::ApplyTimeoutRule(platform::GetPrivateProfileInt(
            u"TARN_Timeouts", key, clApplication::kDefaultTimeoutMs, ini));
    };
    const uint32_t first = timeout(u"First Recv");
    const uint32_t next = timeout(u"Next Recv");
    const uint32_t send = clApplication::ApplyTimeoutRule(platform::GetPrivateProfileInt(
        u"TARN_Timeouts", u"Send", clApplication::kDefaultTimeoutMs, ini));
    uint64_t ringBytes = platform::GetPrivateProfileInt(
        u"App", u"Receive Buffer Bytes", clApplication::kDefaultReceiveBufferBytes, ini);
    if (ringBytes == 0)
        ringBytes = clApplication::kDefaultReceiveBufferBytes;

    xmlCheckVersion(20903);
    xmlKeepBlanksDefault(0);
    m_xml = true;

    m_params = PortParamBlock{};
    m_params.firstReceiveTimeout = static_cast<int32_t>(std::min<uint32_t>(first, INT32_MAX));
    m_params.nextReceiveTimeout = static_cast<int32_t>(std::min<uint32_t>(next, INT32_MAX));
    m_params.sendTimeout = static_cast<int32_t>(std::min<uint32_t>(send, INT32_MAX));
    m_params.programFolder = m_programFolder.c_str();
    m_params.settingsFilePath = m_settingsPath.c_str();
    m_params.channelSectionName = m_channelSection.c_str();
    clCamCtrl& ctrl = HostPortCtrl();
    ctrl.log = nullptr;
    ctrl.settingsPath = m_settingsPath;
    BuiltInComPort().Reset();
    m_port.owner = &ctrl;
    m_interfaces.Discover(&m_params, folder, platform::ProgramFilePath(), &GetBuiltInComInterface,
                          &GetBuiltInComPortReason);

    m_target = std::make_unique<Target>(*this);
    m_context = std::make_unique<clEngineContextStore>();
    m_context->ui = m_target.get();
    m_context->stopEvent = &m_stop;
    m_context->jobEvent = &m_job;
    m_context->uiLanguageIndex = UiLanguageIndex();
    m_context->languageCode = UiLanguageCode();
    m_engine = std::make_unique<clCommunicateModel>(*m_context);
    m_engine->PropertyManager().SetSchemaPathFormat(m_camDefineFolder +
                                                    u"OrvaCamSchema_v%d_%d.xsd");
    m_engine->ManagerCommands().SetComposer(
        [](const clCamPropertyMgr& manager, const clCamCommand& command, std::u16string& text) {
            return static_cast<int32_t>(manager.ComposeCommand(&command, text));
        });
    m_engine->SetReceiveTimeouts(first, next);
    m_engine->SetCommandGap(
        m_options.gapMs >= 0
            ? static_cast<uint32_t>(std::min<int64_t>(m_options.gapMs, UINT32_MAX))
            : platform::GetPrivateProfileInt(u"TARN_Timeouts", u"Command Gap",
                                             clCommunicateModel::kDefaultCommandGapMs, ini));
    m_app = std::make_unique<clApplication>();
    m_app->SetWindowTitle(sizeof(void*) == 8 ? u"Quillon (64bit)" : u"Quillon (32bit)");
    m_app->UseProgramFolder(m_programFolder, m_settingsPath);
    m_app->UseDefinitionFolders(m_camDefineFolder,
                                platform::Utf8ToUtf16(data.userDefinitionFolder));
    // Text Save, and the batch job of Text Load installed into the engine.
    m_filesUi = std::make_unique<FilesUi>();
    m_files = std::make_unique<clTextFiles>(*m_app, *m_engine, m_filesUi.get());
    m_files->SetProgramFile(platform::ProgramFilePath());
    if (!m_engine->Ring().Allocate(ringBytes)) {
        error = "cannot allocate the receive buffer";
        return 1;
    }
    if (!m_options.logFile.empty() && !m_engine->Traffic().Open(m_options.logFile)) {
        error = "cannot open the traffic log " + m_options.logFile;
        return 2;
    }
    return 0;
}

clCamPropertyMgr& clCliSession::Manager() {
    return m_engine->PropertyManager();
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

// ---------------------------------------------------------------------------------------------
// Port

bool clCliSession::SelectInterface(std::string& message, int& status) {
    std::u16string name = platform::LocaleToUtf16(m_options.interfaceName);
    const bool named = !name.empty();
    if (!named && !m_options.port.empty())
        name = kBuiltInInterface;
    if (name.empty())
        name = platform::GetPrivateProfileString(m_channelSection, u"SelectInterface", kNoSettings,
                                                 m_settingsPath,
                                                 clApplication::kMaxInterfaceNameChars);
    const int32_t index = m_interfaces.FindInterfaceIndex(name);
    if (index < 0) {
        status = named ? 1 : 3;
        message = named ? "no interface \"" + Utf8(name) + "\" (see the ports command)"
                        : "no interface chosen for instance " + std::to_string(m_options.instance) +
                              ": give --port or --interface";
        return false;
    }
    InterfaceTable* table = m_interfaces.interfaces[static_cast<size_t>(index)];
    m_builtIn = m_interfaces.modules[static_cast<size_t>(index)] == nullptr;
    m_interfaceIndex = index;
    if (!m_builtIn && (!m_options.port.empty() || m_options.baud != 0)) {
        status = 1;
        message = "--port and --baud are for the built-in interface only";
        return false;
    }
    m_port.opTable = table->GetSelectedPortIF ? table->GetSelectedPortIF() : nullptr;
    if (!m_port.opTable) {
        status = 3;
        message = "the interface \"" + Utf8(name) + "\" has no port";
        return false;
    }
    m_context->currentPort = &m_port;
    return true;
}

bool clCliSession::ApplyPortOption(std::string& message) {
    if (!m_builtIn)
        return true;
    clPortComm& com = BuiltInComPort();
    // A listed port name, a device path or a network address.
    if (!m_options.port.empty() &&
        !ChooseBuiltInPort(platform::LocaleToUtf16(m_options.port), com.identity, message))
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
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    if (m_signalFd < 0)
        m_signalFd = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);

    m_port.SetReceiveCallback(&clCommunicateModel::OnReceiveData, m_engine.get());
    m_port.Init();
    // Init reads the stored line parameters of the port; the option overrides the rate.
    if (m_builtIn && m_options.baud != 0)
        BuiltInComPort().params.baudRate = m_options.baud;
    const int32_t result = m_port.Connect();
    if (result != 0) {
        const std::u16string device =
            m_builtIn ? BuiltInComPort().identity.devicePath : std::u16string(u"");
        message = Utf8(Msg(MSG_CONNECT_FAILED)) + " " +
                  Utf8(Msg(mainframe::ConnectFailureMessage(result))) + " (result " +
                  std::to_string(result) + (device.empty() ? "" : ", " + Utf8(device)) + ")";
        // The window's second line: why (missing, held by another program, no permission).
        if (const std::u16string reason = PortReasonText(m_interfaces.Reason(m_interfaceIndex));
            !reason.empty())
            message += ": " + Utf8(reason);
        if (m_port.IsConnected() == 1)
            m_port.Disconnect();
        m_port.Uninit();
        return 3;
    }
    m_engine->MarkConnected();
    if (!m_engine->StartWorker()) {
        message = "cannot start the worker thread";
        ClosePort();
        return 3;
    }
    return 0;
}

void clCliSession::ClosePort() {
    if (!m_engine)
        return;
    // A job still running is cancelled and ends first; then the port closes.
    if (m_engine->IsConnected())
        m_engine->DisconnectCamera();
    if (m_engine->WorkerExists())
        m_engine->ShutDown({});
    m_port.SetReceiveCallback(nullptr, nullptr);
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
// Jobs

CliJob clCliSession::RunJob(const std::function<int32_t()>& submit) {
    CliJob job;
    if (PendingSignal() != 0) {
        job.signal = m_signal;
        return job;
    }
    m_target->BeginJob();
    m_jobEnded.ResetEvent();
    if (const int32_t refused = submit()) {
        job.refused = refused;
        return job;
    }
    using Clock = std::chrono::steady_clock;
    Clock::time_point cancelledAt{};
    // Submitted, the engine counts as busy until the worker has run the job.
    while (m_engine->IsBusy()) {
        pollfd p[2] = {{m_jobEnded.Fd(), POLLIN, 0}, {m_signalFd, POLLIN, 0}};
        ::poll(p, m_signalFd >= 0 ? 2 : 1, static_cast<int>(clCommunicateModel::kPollMs));
        if (m_jobEnded.IsSignalled()) {
            // The end frame has closed the wait dialog; the worker clears busy right after.
            m_jobEnded.ResetEvent();
            while (m_engine->IsBusy() && m_engine->WorkerExists())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            break;
        }
        if (cancelledAt == Clock::time_point{} && PendingSignal() != 0) {
            m_engine->CancelReceiving();
            cancelledAt = Clock::now();
        }
        if (cancelledAt != Clock::time_point{} &&
            Clock::now() - cancelledAt > std::chrono::milliseconds(kCancelGraceMs)) {
            // A pause or a command not yet taken: the stop event ends every wait of the job.
            m_engine->ShutDown({});
            break;
        }
    }
    job = m_target->TakeJob();
    job.signal = m_signal;
    return job;
}

CliJob clCliSession::RunCommand(std::u16string_view command) {
    return RunJob([this, command] { return m_engine->SubmitCommandJob(command); });
}

CliJob clCliSession::RunProperty(const clCamProperty* property) {
    return RunJob([this, property] { return m_engine->SubmitPropertyJob(property); });
}

CliJob clCliSession::RunBatch(std::vector<std::u16string> lines) {
    return RunJob([this, &lines] { return m_engine->SubmitBatchJob(std::move(lines)); });
}

void clCliSession::HandleReplyLine(const std::u16string& line) {
    if (line.size() < 2 || line.front() != u'>')
        return;
    const std::u16string_view text = std::u16string_view(line).substr(1);
    // As the window reads them: the key anywhere in the line, the value after it.
    struct Key {
        std::u16string_view key;
        std::u16string* field;
    };
    const Key keys[] = {
        {u"Model=", &model}, {u"Type=", &type}, {u"Ver.=", &version}, {u"Serial=", &serial}};
    for (const Key& k : keys) {
        const size_t at = text.find(k.key);
        if (at != std::u16string_view::npos) {
            k.field->assign(text.substr(at + k.key.size()));
            return;
        }
    }
    int updated = 0;
    Manager().ParseReplyLine(text, updated);
}

int32_t clCliSession::WriteSettingsText(const std::u16string& path, std::string& reason) {
    m_app->SetCurrentDefinitionFile(m_definitionPath);
    m_engine->SetCameraIdentity(model.empty() ? type : model, version, serial);
    m_filesUi->message.clear();
    const int32_t result = m_files->WriteSettingsText(path);
    std::u16string text = m_filesUi->message;
    std::replace(text.begin(), text.end(), u'\n', u' ');
    reason = Utf8(text);
    return result;
}

std::vector<std::u16string> clCliSession::DefinitionsForModel(std::u16string_view model) {
    m_files->FindDefinitionFiles(model);
    std::vector<std::u16string> files;
    for (const std::u16string& name : m_app->FoundFiles())
        files.push_back(m_files->DefinitionFolderOf(name) + name);
    return files;
}
