// CFileDialogHlp: a file dialog that remembers its folder in the settings file. The dialog
// itself is shown by the user interface (ITextFilesUi); this class prepares it and keeps the
// folder.
#pragma once

#include "textfiles/TextFilesUi.h"

#include <memory>
#include <string>

class CFileDialogHlp {
public:
    // Longest folder kept, in characters.
    static constexpr size_t kMaxFolderChars = 260;

    // Open dialogs: OFN_HIDEREADONLY | OFN_FILEMUSTEXIST; save dialogs: OFN_HIDEREADONLY |
    // OFN_PATHMUSTEXIST | OFN_OVERWRITEPROMPT.
    CFileDialogHlp(bool open, std::u16string defaultExtension, std::u16string filter);
    virtual ~CFileDialogHlp() = default;

    // Before the dialog is shown: the remembered folder (key in section of the settings file;
    // "@" or empty: defaultFolder), environment references expanded, made absolute.
    void PrepareInitialFolder(const std::u16string& defaultFolder);
    // Shows the dialog through ui: IDOK with the path in PathName(), else IDCANCEL (also
    // without a user interface).
    int32_t DoModal(ITextFilesUi* ui);
    // After OK: writes the chosen file's folder (ending in "/") under the key.
    bool StoreChosenFolder();

    const std::u16string& PathName() const { return m_chosenPath; }
    const std::u16string& Folder() const { return m_folder; }
    const FileDialogRequest& Request() const { return *m_dialog; }

    std::u16string title;
    std::u16string section;
    std::u16string key;
    std::u16string settingsFilePath;

private:
    std::unique_ptr<FileDialogRequest> m_dialog;
    std::u16string m_folder;
    std::u16string m_chosenPath;
};
