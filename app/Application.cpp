#include "app/Application.h"

#include "base/MessageTable.h"
#include "base/Messages.h"
#include "comm/CommunicateModel.h"
#include "comm/WatchThread.h"
#include "platform/DataFolders.h"
#include "platform/IniProfile.h"
#include "platform/ProgramFolder.h"
#include "platform/Text.h"
#include "platform/UiLanguage.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

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

clApplication::clApplication() {
    // The process locale is the user's (LANG, LC_*): its codeset is the encoding of commands
    // and settings texts (platform::LocaleCodeset).
    std::setlocale(LC_ALL, "");
    m_channelSection = kChannelSection;
    m_watchPeriodMs = 50;
    m_requestedInstanceNumber = -1;
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
        {u"TARN_Timeouts", u"First Recv", u"20000"},
        {u"TARN_Timeouts", u"Next Recv", u"20000"},
        {u"TARN_Timeouts", u"Send", u"20000"},
        {u"TARN_Timeouts", u"Command Gap", u"50"},
    };
    bool ok = true;
    for (const Entry& e : kEntries)
        ok = platform::WriteSetting(e.section, e.key, e.value, settingsFilePath) && ok;
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
    m_settingsFilePath =
        platform::PathToUtf16(data.settingsFolder) + SettingsFileName(m_instanceNumber);
    struct stat st {};
    if (::stat(Path(m_settingsFilePath).c_str(), &st) != 0 && errno == ENOENT)
        WriteDefaultSettings(m_settingsFilePath);

    // Application log.
    m_logFilePath = platform::PathToUtf16(data.stateFolder) + LogFileName(m_instanceNumber);
    m_appLog = std::make_unique<clSimpleLog>(Path(m_logFilePath));
    CreateLogFile(Path(m_logFilePath));

    // Settings values.
    m_settings = SessionSettings::Read(m_settingsFilePath);

    // UI language.
    SetUiLanguage(m_settings.forceEnglish, platform::UserDefaultUiLanguage());
    m_languageCode = UiLanguageCode();

    // Wait dialog.
    CreateWaitDialog();

    // Button images of the dialog bars.
    CreateImageList();

    // Camera definition folder.
    m_camDefineFolder = m_programFolder + u"CamDefine/";

    // The session: XML library, the block every interface gets, plug-in discovery, the
    // selected interface, the engine with its ring and time-outs, the worker's events.
    if (!StartSession())
        return 1;

    // Working set.
    if (!ReserveWorkingSet())
        return 1;

    return 0;
}

void clApplication::ShutDown() {
    // The watches, then the session: the worker thread (the stop event ends every wait of
    // it), the port, the engine, the XML library and the plug-in modules.
    StopWatch();
    const bool ended = m_session.ShutDown();
    // Wait dialog.
    DestroyWaitDialog();
    // Working-set limits.
    RestoreWorkingSet();
    if (!ended) {
        // The worker still runs: the log and the watch it may use are never freed.
        (void)m_appLog.release();
        (void)m_watch.release();
    }
    // Application log.
    m_appLog.reset();
    // Instance number.
    m_instanceLock.Release();
}

void clApplication::UseProgramFolder(std::u16string programFolder,
                                     std::u16string settingsFilePath) {
    m_programFolder = std::move(programFolder);
    m_settingsFilePath = std::move(settingsFilePath);
    // A block handed out already would point at the texts just replaced.
    m_session.UseFolders(m_programFolder, m_settingsFilePath);
}

void clApplication::UseDefinitionFolders(std::u16string camDefineFolder,
                                         std::u16string userCamDefineFolder) {
    m_camDefineFolder = std::move(camDefineFolder);
    m_userCamDefineFolder = std::move(userCamDefineFolder);
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

// Start-up: the session core with what the application provides it.
bool clApplication::StartSession() {
    clSession::Setup setup;
    setup.programFolder = m_programFolder;
    setup.settingsFile = m_settingsFilePath;
    setup.camDefineFolder = m_camDefineFolder;
    setup.programFile =
        m_environment.programFile.empty() ? platform::ProgramFilePath() : m_environment.programFile;
    setup.log = m_appLog.get();
    try {
        m_watch = std::make_unique<clWatchThread>();
    } catch (const std::exception&) {
        m_appLog->Write(std::string_view("Can not create the communication engine"));
        return false;
    }
    setup.watch = m_watch.get();
    setup.showWaitDialog = [this](std::u16string_view text, std::u16string_view caption) {
        ShowWaitDialog(text, caption);
    };
    setup.hideWaitDialog = [this] { HideWaitDialog(); };
    setup.languageCode = m_languageCode;
    setup.threadStopTimeoutMs = m_environment.threadStopTimeoutMs;
    std::string error;
    return m_session.Start(setup, m_settings, error);
}

// Start-up: the button images of the dialog bars live in the user interface.
void clApplication::CreateImageList() {}

// Shutdown: the elapsed-time watch.
void clApplication::StopWatch() {
    if (m_watch)
        m_watch->Stop();
}

// ---------------------------------------------------------------------------------------------
// The main window's calls

bool clApplication::StartWorkerThreads() {
    if (!m_session.HasEngine() || !m_watch)
        return false;
    bool ok = m_session.StartWorker(m_environment.deviceSource);
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

void clApplication::StopThreads() {
    StopWatch();
    m_session.StopWorker();
}

void clApplication::ShowWaitDialog(std::u16string_view, std::u16string_view) {}
void clApplication::HideWaitDialog() {}
