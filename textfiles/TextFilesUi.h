// What the settings-text and definition-file commands need from the user interface. The main
// window implements it with Qt; tests implement it with scripted answers. All calls come from
// the user-interface thread.
#pragma once

#include "base/Messages.h"
#include "platform/Text.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace filedialog {
// What a file dialog asks of the chosen file; bits of FileDialogRequest::options. The values
// are the classic ones, so an open dialog's options read 0x1004 and a save dialog's 0x806.
enum Option : uint32_t {
    kConfirmOverwrite = 0x2,  // a save asks before replacing an existing file
    kHideReadOnly = 0x4,      // no "open as read-only" choice
    kFolderMustExist = 0x800, // the chosen file's folder must exist
    kFileMustExist = 0x1000,  // only an existing file can be chosen
};
} // namespace filedialog

struct FileDialogRequest {
    bool open = true;                // open dialog, else save dialog
    std::u16string defaultExtension; // "txt", or empty for none
    std::u16string filter;           // "Text file(*.txt)|*.txt||"
    std::u16string title;
    std::u16string initialFolder; // empty: the dialog's own choice
    uint32_t options = 0;         // filedialog::Option bits
};

// A filter of the message table ("Text file(*.txt)|*.txt||": pairs of description and
// patterns separated by "|", patterns by ";") in the name-filter form of a Qt file dialog
// ("Text file(*.txt) (*.txt)", one filter a line).
inline std::u16string QtNameFilters(std::u16string_view filter) {
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

class ITextFilesUi {
public:
    virtual ~ITextFilesUi() = default;

    // Shows a modal file dialog. True with the chosen file's absolute path when the user
    // pressed OK, false when cancelled.
    virtual bool ShowFileDialog(const FileDialogRequest& request, std::u16string& chosenPath) = 0;
    // The simple select dialog: title, prompt and entries. True with the chosen entry's index
    // on OK, false on Cancel.
    virtual bool ChooseFromList(std::u16string_view title, std::u16string_view prompt,
                                const std::vector<std::u16string>& entries, size_t& chosen) = 0;
    // A message box owned by the main window (empty caption: the application's). Returns the
    // button pressed (IDOK, IDYES, ...).
    virtual int32_t ShowMessageBox(std::u16string_view text, std::u16string_view caption,
                                   uint32_t style) = 0;
    virtual void SetMainWindowTitle(std::u16string_view title) = 0;
    // The property view; the others do nothing while it does not exist.
    virtual bool PropertyViewExists() = 0;
    virtual void EmptyPropertyView() = 0;
    // Rebuilds the tree from the loaded definition and refreshes it.
    virtual void RebuildPropertyView() = 0;
};

// The text-file commands without a window (scripts): no dialogs; a message box is kept as the
// reason of a failure.
class clQuietFilesUi : public ITextFilesUi {
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

    // The last message on one line (UTF-8), and forgotten.
    std::string Reason() {
        std::u16string text;
        text.swap(message);
        std::replace(text.begin(), text.end(), u'\n', u' ');
        return platform::Utf16ToUtf8(text);
    }

    std::u16string message;
};
