// CTextFilesUi: the Qt side of the settings-text and definition-file commands — file dialogs,
// the simple select dialog, message boxes owned by the main window, its title, and the calls
// into the property view.
#pragma once

#include "textfiles/TextFilesUi.h"

#include <functional>

class QWidget;

class CTextFilesUi : public ITextFilesUi {
public:
    struct PropertyViewCalls {
        std::function<bool()> exists;
        std::function<void()> empty;
        std::function<void()> rebuild;
    };

    // window: the main window (owner of the dialogs, holder of the title).
    explicit CTextFilesUi(QWidget* window, PropertyViewCalls view = {});

    bool ShowFileDialog(const FileDialogRequest& request, std::u16string& chosenPath) override;
    bool ChooseFromList(std::u16string_view title, std::u16string_view prompt,
                        const std::vector<std::u16string>& entries, size_t& chosen) override;
    int32_t ShowMessageBox(std::u16string_view text, std::u16string_view caption,
                           uint32_t style) override;
    void SetMainWindowTitle(std::u16string_view title) override;
    bool PropertyViewExists() override;
    void EmptyPropertyView() override;
    void RebuildPropertyView() override;

private:
    QWidget* m_window;
    PropertyViewCalls m_view;
};
