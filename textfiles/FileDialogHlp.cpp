#include "textfiles/FileDialogHlp.h"

#include "platform/EnvExpand.h"
#include "platform/IniProfile.h"
#include "platform/Text.h"

#include <filesystem>

CFileDialogHlp::CFileDialogHlp(bool open, std::u16string defaultExtension, std::u16string filter)
    : m_dialog(std::make_unique<FileDialogRequest>()) {
    m_dialog->open = open;
    m_dialog->defaultExtension = std::move(defaultExtension);
    m_dialog->filter = std::move(filter);
    using namespace filedialog;
    m_dialog->options = open ? (kHideReadOnly | kFileMustExist)
                             : (kHideReadOnly | kFolderMustExist | kConfirmOverwrite);
}

void CFileDialogHlp::PrepareInitialFolder(const std::u16string& defaultFolder) {
    std::u16string folder = defaultFolder;
    const std::u16string stored =
        platform::ReadSetting(section, key, u"@", settingsFilePath, kMaxFolderChars);
    if (!stored.empty() && stored != u"@")
        folder = stored;
    folder = platform::ExpandEnvironment(folder);
    if (!folder.empty()) {
        std::error_code ec;
        const std::filesystem::path absolute =
            std::filesystem::absolute(std::filesystem::path(platform::Utf16ToPath(folder)), ec);
        if (!ec)
            folder = platform::PathToUtf16(absolute.string());
    }
    if (folder.size() > kMaxFolderChars)
        folder.clear(); // too long to be a usable folder: the dialog picks its own
    m_folder = folder;
    m_dialog->initialFolder = m_folder;
}

bool CFileDialogHlp::Run(ITextFilesUi* ui) {
    m_dialog->title = title;
    m_chosenPath.clear();
    return ui && ui->ShowFileDialog(*m_dialog, m_chosenPath) && !m_chosenPath.empty();
}

bool CFileDialogHlp::StoreChosenFolder() {
    const size_t slash = m_chosenPath.find_last_of(u'/');
    if (slash == std::u16string::npos)
        return false;
    return platform::WriteSetting(section, key, m_chosenPath.substr(0, slash + 1),
                                  settingsFilePath);
}
