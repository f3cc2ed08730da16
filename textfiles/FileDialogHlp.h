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

    // Open dialogs accept only an existing file; save dialogs want an existing folder and ask
    // before replacing a file. Neither offers "read-only".
    CFileDialogHlp(bool open, std::u16string defaultExtension, std::u16string filter);
    virtual ~CFileDialogHlp() = default;

    // Before the dialog is shown: the remembered folder (key in section of the settings file;
    // "@" or empty: defaultFolder), environment references expanded, made absolute.
    void PrepareInitialFolder(const std::u16string& defaultFolder);
    // Shows the dialog through ui and waits for the user: true with the path in PathName(),
    // false when cancelled (also without a user interface).
    bool Run(ITextFilesUi* ui);
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
