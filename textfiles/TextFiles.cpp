#include "textfiles/TextFiles.h"

#include "app/Application.h"
#include "base/MessageTable.h"
#include "base/Messages.h"
#include "camdef/CamPropertyMgr.h"
#include "comm/CommunicateModel.h"
#include "platform/FileVerInfo.h"
#include "platform/IniProfile.h"
#include "platform/Text.h"
#include "platform/Wildcard.h"
#include "textfiles/BatchText.h"
#include "textfiles/FileDialogHlp.h"
#include "textfiles/FileSave.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char16_t kSectionPath[] = u"Path";
constexpr char16_t kSectionApp[] = u"App";
constexpr char16_t kKeyLastConfig[] = u"LastConfig";

std::string ToUtf8(std::u16string_view s) {
    return platform::Utf16ToUtf8(s);
}
std::u16string ToUtf16(std::string_view s) {
    return platform::Utf8ToUtf16(s);
}
// Paths are bytes to the file system (platform::Utf16ToPath).
std::string PathBytes(std::u16string_view path) {
    return platform::Utf16ToPath(path);
}

std::u16string Format(const char* format, auto... args) {
    char buf[256];
    const int n = std::snprintf(buf, sizeof buf, format, args...);
    return ToUtf16(std::string_view(buf, n < 0 ? 0 : std::min<size_t>(n, sizeof buf - 1)));
}

// The current directory, remembered around a file dialog and put back afterwards.
class CurrentDirectoryKeeper {
public:
    CurrentDirectoryKeeper() {
        char buf[PATH_MAX];
        if (getcwd(buf, sizeof buf))
            m_path = buf;
    }
    ~CurrentDirectoryKeeper() {
        if (!m_path.empty() && chdir(m_path.c_str()) != 0) {
            // the folder vanished meanwhile; the process keeps the one it has
        }
    }
    std::u16string Path() const { return platform::PathToUtf16(m_path); }

private:
    std::string m_path;
};

// File name with extension, without folder.
std::u16string FileNameOf(std::u16string_view path) {
    const size_t slash = path.find_last_of(u'/');
    return std::u16string(slash == std::u16string_view::npos ? path : path.substr(slash + 1));
}

// The wildcard pattern that matches model literally except for "*" and "?".
std::string ModelPattern(std::u16string_view model) {
    std::string pattern = "*";
    for (char c : ToUtf8(model)) {
        if (c == '[' || c == ']' || c == '\\')
            pattern.push_back('\\');
        pattern.push_back(c);
    }
    pattern += "*.xml";
    return pattern;
}

} // namespace

clTextFiles::clTextFiles(clApplication& app, clCommunicateModel& engine, ITextFilesUi* ui)
    : m_app(app), m_engine(engine), m_ui(ui) {}

std::u16string clTextFiles::Text(int id) const {
    return Msg(id);
}

std::u16string clTextFiles::TitleWithDefinition(const std::u16string& path) const {
    return m_app.WindowTitle() + u" - " + FileNameOf(path);
}

// ---------------------------------------------------------------------------------------------
// Text Save

bool clTextFiles::ChooseTextFile(bool open, std::u16string defaultExtension, int titleId,
                                 std::u16string key, std::u16string& path) {
    CurrentDirectoryKeeper keeper;
    CFileDialogHlp dialog(open, std::move(defaultExtension), Text(MSG_FILTER_TEXT_FILE));
    dialog.title = Text(titleId);
    dialog.section = kSectionPath;
    dialog.key = std::move(key);
    dialog.settingsFilePath = m_app.SettingsFilePath();
    dialog.PrepareInitialFolder(keeper.Path());
    if (!dialog.Run(m_ui))
        return false;
    dialog.StoreChosenFolder();
    path = dialog.PathName();
    return true;
}

int32_t clTextFiles::SaveSettingsText() {
    std::u16string path;
    if (!ChooseTextFile(false, u"txt", MSG_TEXT_SAVE, u"Text Save", path))
        return FILE_COMMAND_CANCELLED;
    return WriteSettingsText(path);
}

int32_t clTextFiles::WriteSettingsText(const std::u16string& path) {
    int major = 0, minor = 0, build = 0;
    {
        nsGen::FileVerInfo version;
        uint32_t ms = 0, ls = 0;
        const std::string program =
            m_programFile.empty() ? PathBytes(m_app.ProgramFolder()) + "Quillon" : m_programFile;
        if (version.LoadVersionInfo(program) && version.GetFixedFileVersion(ms, ls)) {
            major = static_cast<int>(ms >> 16);
            minor = static_cast<int>(ms & 0xFFFF);
            build = static_cast<int>(ls >> 16);
        }
    }
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);

    // The whole text is made first and then saved at once, so the file on disk is either the
    // old one or the complete new one.
    std::string content;
    auto addLine = [&content](std::u16string_view text) {
        content += platform::Utf16ToLocale(text);
        content += "\r\n";
    };
    addLine(u"// " + m_app.WindowTitle() + Format(" Ver.%d.%d%d", major, minor, build));
    addLine(Format("// Date = %d/%02d/%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                   local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec));
    addLine(u"// Camera define file = " + FileNameOf(m_app.CurrentDefinitionFile()));
    addLine(u"// Model=" + m_engine.CameraModel());
    addLine(u"// Ver.=" + m_engine.CameraVersion());
    addLine(u"// Serial=" + m_engine.CameraSerial());
    addLine(u"");

    std::vector<std::u16string> leftOut; // commands the codeset cannot hold (nothing is saved)
    const clCamPropertyMgr& manager = m_engine.PropertyManager();
    for (const auto& command : manager.CommandList()) {
        if (!command)
            break;
        if (command->slots.empty() || command->exported == 0)
            continue;
        std::u16string text;
        if (manager.ComposeCommand(command.get(), text) != 0)
            continue;
        std::string bytes;
        if (!platform::Utf16ToLocaleExact(text, bytes)) {
            leftOut.push_back(command->name);
            continue;
        }
        content += bytes;
        content += "\r\n";
    }

    // Every line is decided before the file is touched: a value the codeset cannot hold fails
    // the save and the old file stays as it was.
    if (!leftOut.empty()) {
        std::u16string names;
        for (const std::u16string& name : leftOut)
            names += (names.empty() ? u"" : u", ") + name;
        ReportSaveFailure(path, Text(MSG_VALUE_NOT_IN_CODESET) + u" (" +
                                    ToUtf16(platform::LocaleCodeset()) + u"): " + names);
        return FILE_COMMAND_FAILED;
    }
    FileSaveFailure failure;
    if (!SaveFileContent(PathBytes(path), content, failure)) {
        std::u16string reason = Text(failure.messageId);
        if (!failure.detail.empty())
            reason += u" (" + ToUtf16(failure.detail) + u")";
        ReportSaveFailure(path, reason);
        return FILE_COMMAND_FAILED;
    }
    return FILE_COMMAND_OK;
}

void clTextFiles::ReportSaveFailure(const std::u16string& path, const std::u16string& reason) {
    WriteLog(Text(MSG_FAIL_SAVE_SETTINGS_TEXT) + u": " + reason + u", filename=" + path);
    if (m_ui)
        m_ui->ShowMessageBox(reason + u"\nfilename=" + path, Text(MSG_FAIL_SAVE_SETTINGS_TEXT),
                             MB_OK | MB_ICONWARNING);
}

void clTextFiles::WriteLog(std::u16string_view line) {
    clSimpleLog* log = m_engine.Context().Log();
    if (!log)
        log = m_app.AppLog();
    if (log)
        log->Write(line);
}

// ---------------------------------------------------------------------------------------------
// Text Load

int32_t clTextFiles::LoadBatchText() {
    std::u16string path;
    if (!ChooseTextFile(true, u"", MSG_TEXT_LOAD, u"Text Load", path))
        return FILE_COMMAND_CANCELLED;
    return ReplayBatchFile(path);
}

int32_t clTextFiles::ReplayBatchFile(const std::u16string& path) {
    // The lines of a running batch belong to the worker until its job ends.
    if (m_engine.IsBusy())
        return FILE_COMMAND_FAILED;
    if (ReadBatchText(path) != FILE_COMMAND_OK)
        return FILE_COMMAND_FAILED;
    return m_engine.SubmitBatchJob(m_batchLines) == SUBMIT_OK ? FILE_COMMAND_OK
                                                              : FILE_COMMAND_FAILED;
}

int32_t clTextFiles::ReadBatchText(const std::u16string& path) {
    // The file is read whole and checked before a line is taken: a batch that cannot be read
    // as it was written sends nothing.
    std::u16string text;
    const BatchTextFault fault = ReadCheckedBatchText(PathBytes(path), text);
    if (!fault.reason.empty()) {
        const std::u16string why =
            (fault.line ? u"line " + ToUtf16(std::to_string(fault.line)) + u": " : u"") +
            ToUtf16(fault.reason);
        WriteLog(Text(MSG_FAIL_OPEN_BATCH_FILE) + u": " + why + u", filename=" + path);
        // The box names the line and the character too: what to mend, and where.
        m_app.RequestMessageBox(Text(MSG_FAIL_OPEN_BATCH_FILE) + u"\n" + why, u"", MB_OK);
        return FILE_COMMAND_FAILED;
    }
    m_batchLines.clear();
    SplitBatchLines(text, m_batchLines);
    return FILE_COMMAND_OK;
}

// ---------------------------------------------------------------------------------------------
// Camera definition file

void clTextFiles::EmptyViewAndTitle() {
    if (m_ui && m_ui->PropertyViewExists()) {
        m_ui->EmptyPropertyView();
        m_ui->SetMainWindowTitle(m_app.WindowTitle());
    }
}

int32_t clTextFiles::OpenDefinitionFile(const std::u16string& path) {
    // The view holds pointers into the records; it lets go of them before they are replaced.
    if (m_ui) {
        if (m_ui->PropertyViewExists())
            m_ui->EmptyPropertyView();
        m_ui->SetMainWindowTitle(m_app.WindowTitle());
    }
    const int result = m_engine.PropertyManager().Load(path);
    if (result == kLoadOk) {
        m_app.SetCurrentDefinitionFile(path);
        if (m_ui) {
            m_ui->SetMainWindowTitle(TitleWithDefinition(path));
            if (m_ui->PropertyViewExists())
                m_ui->RebuildPropertyView();
        }
        platform::WriteSetting(kSectionApp, kKeyLastConfig, path, m_app.SettingsFilePath());
        return FILE_COMMAND_OK;
    }
    const std::u16string error = Text(DefinitionLoadFailureMessage(result));
    WriteLog(Text(MSG_FAIL_OPEN_DEFINE));
    WriteLog(error);
    WriteLog(u"filename=" + path);
    if (m_ui)
        m_ui->ShowMessageBox(error + u"\nfilename=" + path, Text(MSG_FAIL_OPEN_DEFINE),
                             MB_OK | MB_ICONWARNING);
    return FILE_COMMAND_FAILED;
}

int32_t clTextFiles::SelectDefinitionFile() {
    CurrentDirectoryKeeper keeper;
    FileDialogRequest request;
    request.open = true;
    request.filter = Text(MSG_FILTER_CAMERA_DEFINE);
    request.title = Text(MSG_OPEN_CAMERA_DEFINE);
    // The user's own definitions first when there is such a folder (installed program).
    request.initialFolder =
        m_app.UserCamDefineFolder().empty() ? m_app.CamDefineFolder() : m_app.UserCamDefineFolder();
    request.options = filedialog::kHideReadOnly | filedialog::kFileMustExist;
    std::u16string chosen;
    if (!m_ui || !m_ui->ShowFileDialog(request, chosen) || chosen.empty())
        return FILE_COMMAND_CANCELLED;
    return OpenChosenDefinition(chosen);
}

int32_t clTextFiles::OpenChosenDefinition(const std::u16string& chosen) {
    m_engine.SetCameraIdentity({}, {}, {});
    EmptyViewAndTitle();
    m_engine.PropertyManager().Clear();
    return OpenDefinitionFile(chosen);
}

void clTextFiles::CloseDefinitionFile() {
    EmptyViewAndTitle();
    m_engine.PropertyManager().Clear();
}

int32_t clTextFiles::OfferLastDefinition() {
    const std::u16string path = platform::ReadSetting(
        kSectionApp, kKeyLastConfig, u"", m_app.SettingsFilePath(), kMaxLastConfigChars);
    std::error_code ec;
    if (path.empty() || !std::filesystem::is_regular_file(PathBytes(path), ec))
        return 0;
    if (!m_ui)
        return 0;
    const size_t slash = path.find_last_of(u'/');
    const std::u16string folder = slash == std::u16string::npos ? u"" : path.substr(0, slash + 1);
    const std::u16string name = FileNameOf(path);
    const std::u16string text =
        Text(MSG_REOPEN_LAST_DEFINE) + u"\nFilename=" + name + u"\nPath=" + folder;
    if (m_ui->ShowMessageBox(text, u"", MB_YESNO | MB_ICONQUESTION | kMbDefaultButton2) != IDYES)
        return 0;
    return OpenDefinitionFile(path) == FILE_COMMAND_OK ? 1 : 0;
}

// ---------------------------------------------------------------------------------------------
// Reply lines and auto-selection

int32_t clTextFiles::SelectDefinitionForModel(std::u16string_view model) {
    const size_t n = FindDefinitionFiles(model);
    std::u16string file;
    if (n == 0) {
        m_app.RequestMessageBox(Text(MSG_DEFINE_NOT_FOUND), u"", MB_OK);
        return FILE_COMMAND_NO_DEFINITION;
    }
    if (n == 1) {
        file = m_app.FoundFiles().front();
    } else {
        std::u16string prompt = Text(MSG_FOUND_FILES);
        const size_t at = prompt.find(u"%d");
        if (at != std::u16string::npos)
            prompt.replace(at, 2, ToUtf16(std::to_string(n)));
        size_t chosen = 0;
        if (!m_ui ||
            !m_ui->ChooseFromList(Text(MSG_SEARCH_RESULT), prompt, m_app.FoundFiles(), chosen) ||
            chosen >= m_app.FoundFiles().size())
            return FILE_COMMAND_CANCELLED;
        file = m_app.FoundFiles()[chosen];
    }
    EmptyViewAndTitle();
    m_engine.PropertyManager().Clear();
    return OpenDefinitionFile(DefinitionFolderOf(file) + file);
}

std::u16string clTextFiles::DefinitionFolderOf(const std::u16string& name) const {
    const std::u16string& user = m_app.UserCamDefineFolder();
    if (!user.empty() && ::access(PathBytes(user + name).c_str(), F_OK) == 0)
        return user;
    return m_app.CamDefineFolder();
}

size_t clTextFiles::FindDefinitionFiles(std::u16string_view model) {
    std::vector<std::u16string> found;
    // The user's folder first; a name found in both stands once, for the user's file.
    for (const std::u16string* folder : {&m_app.UserCamDefineFolder(), &m_app.CamDefineFolder()}) {
        if (folder->empty())
            continue;
        for (const std::string& name :
             platform::ListMatchingFiles(PathBytes(*folder), ModelPattern(model))) {
            std::u16string text = platform::PathToUtf16(name);
            if (std::find(found.begin(), found.end(), text) == found.end())
                found.push_back(std::move(text));
        }
    }
    m_app.SetFoundFiles(std::move(found));
    return m_app.FoundFiles().size();
}
