#include "textfiles/FileDialogHlp.h"

#include "app/Messages.h"
#include "platform/EnvExpand.h"
#include "platform/IniProfile.h"
#include "platform/Text.h"

#include <filesystem>
#include <vector>

CFileDialogHlp::CFileDialogHlp(bool open, std::u16string defaultExtension, std::u16string filter)
    : m_dialog(std::make_unique<FileDialogRequest>()) {
    m_dialog->open = open;
    m_dialog->defaultExtension = std::move(defaultExtension);
    m_dialog->filter = std::move(filter);
    m_dialog->options = open ? (OFN_HIDEREADONLY | OFN_FILEMUSTEXIST)
                             : (OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_OVERWRITEPROMPT);
}

void CFileDialogHlp::PrepareInitialFolder(const std::u16string& defaultFolder) {
    std::u16string folder = defaultFolder;
    const std::u16string stored =
        platform::GetPrivateProfileString(section, key, u"@", settingsFilePath, kMaxFolderChars);
    if (!stored.empty() && stored != u"@")
        folder = stored;
    folder = platform::ExpandEnvironment(folder);
    if (!folder.empty()) {
        std::error_code ec;
        const std::filesystem::path absolute =
            std::filesystem::absolute(std::filesystem::path(platform::Utf16ToUtf8(folder)), ec);
        if (!ec)
            folder = platform::Utf8ToUtf16(absolute.string());
    }
    if (folder.size() > kMaxFolderChars)
        folder.clear(); // too long to be a usable folder: the dialog picks its own
    m_folder = folder;
    m_dialog->initialFolder = m_folder;
}

int32_t CFileDialogHlp::DoModal(ITextFilesUi* ui) {
    m_dialog->title = title;
    m_chosenPath.clear();
    if (!ui || !ui->ShowFileDialog(*m_dialog, m_chosenPath) || m_chosenPath.empty())
        return IDCANCEL;
    return IDOK;
}

bool CFileDialogHlp::StoreChosenFolder() {
    const size_t slash = m_chosenPath.find_last_of(u'/');
    if (slash == std::u16string::npos)
        return false;
    return platform::WritePrivateProfileString(section, key, m_chosenPath.substr(0, slash + 1),
                                               settingsFilePath);
}

std::u16string QtNameFilters(std::u16string_view filter) {
    std::vector<std::u16string_view> parts;
    size_t start = 0;
    for (;;) {
        const size_t bar = filter.find(u'|', start);
        parts.push_back(filter.substr(start, bar == std::u16string_view::npos ? bar : bar - start));
        if (bar == std::u16string_view::npos)
            break;
        start = bar + 1;
    }
    std::u16string out;
    for (size_t i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].empty() && parts[i + 1].empty())
            break; // the closing "||"
        std::u16string patterns(parts[i + 1]);
        for (char16_t& c : patterns)
            if (c == u';')
                c = u' ';
        if (!out.empty())
            out += u"\n";
        out += std::u16string(parts[i]) + u" (" + patterns + u")";
    }
    return out;
}
