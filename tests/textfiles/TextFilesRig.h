// The text-file commands over a real engine, a real property manager with the shipped schema
// and definitions in a temporary program folder, and a user interface that answers from a
// script and records what it was asked.
#pragma once

#include "app/Application.h"
#include "base/MessageTable.h"
#include "camdef/CamPropertyMgr.h"
#include "platform/IniProfile.h"
#include "platform/Text.h"
#include "support/EngineRig.h"
#include "support/TempDir.h"
#include "textfiles/TextFiles.h"

#include <deque>
#include <filesystem>
#include <string>
#include <vector>

inline std::string SourceFile(const std::string& relative) {
    return std::string(QUILLON_SOURCE_DIR) + "/" + relative;
}
inline std::u16string U16(const std::string& s) {
    return platform::Utf8ToUtf16(s);
}

class ScriptedTextFilesUi : public ITextFilesUi {
public:
    // Answers of the file dialog in order; an empty path cancels.
    std::deque<std::u16string> dialogAnswers;
    std::vector<FileDialogRequest> dialogs;
    // -1 cancels the list; otherwise the index chosen.
    int listAnswer = 0;
    std::vector<std::u16string> listPrompts;
    std::vector<std::vector<std::u16string>> listEntries;
    int32_t boxAnswer = IDOK;
    std::vector<std::u16string> boxTexts, boxCaptions;
    std::vector<uint32_t> boxStyles;
    std::u16string title;
    bool viewExists = true;
    int viewEmptied = 0, viewRebuilt = 0;

    bool ShowFileDialog(const FileDialogRequest& request, std::u16string& chosen) override {
        dialogs.push_back(request);
        if (dialogAnswers.empty())
            return false;
        chosen = dialogAnswers.front();
        dialogAnswers.pop_front();
        return !chosen.empty();
    }
    bool ChooseFromList(std::u16string_view, std::u16string_view prompt,
                        const std::vector<std::u16string>& entries, size_t& chosen) override {
        listPrompts.emplace_back(prompt);
        listEntries.push_back(entries);
        if (listAnswer < 0)
            return false;
        chosen = static_cast<size_t>(listAnswer);
        return true;
    }
    int32_t ShowMessageBox(std::u16string_view text, std::u16string_view caption,
                           uint32_t style) override {
        boxTexts.emplace_back(text);
        boxCaptions.emplace_back(caption);
        boxStyles.push_back(style);
        return boxAnswer;
    }
    void SetMainWindowTitle(std::u16string_view t) override { title.assign(t); }
    bool PropertyViewExists() override { return viewExists; }
    void EmptyPropertyView() override { ++viewEmptied; }
    void RebuildPropertyView() override { ++viewRebuilt; }
};

// The application's message-box requests, as the main window gets them (answered with OK).
class BoxRecorder : public IUiTarget {
public:
    explicit BoxRecorder(clApplication& app) : m_app(app) { app.SetMainFrame(this); }
    ~BoxRecorder() override { m_app.SetMainFrame(nullptr); }
    intptr_t SendUiMessage(uint32_t msg, uintptr_t, intptr_t) override {
        if (msg == UM_MESSAGE_BOX) {
            boxes.push_back(m_app.MessageBoxText());
            m_app.SetMessageBoxResult(IDOK);
        }
        return 0;
    }
    void PostUiMessage(uint32_t, uintptr_t, intptr_t) override {}
    std::vector<std::u16string> boxes;

private:
    clApplication& m_app;
};

// The engine rig plus an application with its program folder, settings file and CamDefine/.
struct TextFilesRig : EngineRig {
    TempDir program;
    clApplication app;
    BoxRecorder appBoxes{app};
    ScriptedTextFilesUi textUi;
    std::unique_ptr<clTextFiles> files;

    TextFilesRig() {
        SetUiLanguage(1, 1033);
        std::filesystem::create_directories(program.path() / "CamDefine");
        CopyIntoCamDefine("OrvaCamSchema_v1_0.xsd");
        app.UseProgramFolder(U16(program.str() + "/"), U16(program.file("Quillon_00.ini")));
        app.UseDefinitionFolders(U16(program.str() + "/CamDefine/"), u"");
        app.SetWindowTitle(u"Quillon (64bit)");
        engine.PropertyManager().SetSchemaPathFormat(app.CamDefineFolder() +
                                                     u"OrvaCamSchema_v%d_%d.xsd");
        files = std::make_unique<clTextFiles>(app, engine, &textUi);
    }
    // Copies a shipped file of CamDefine/ into the program's CamDefine/ (under another name).
    std::string CopyIntoCamDefine(const std::string& name, std::string as = "") {
        if (as.empty())
            as = name;
        const std::string to = (program.path() / "CamDefine" / as).string();
        std::filesystem::copy_file(SourceFile("CamDefine/" + name), to,
                                   std::filesystem::copy_options::overwrite_existing);
        return to;
    }
    // A reply line drained the way the program drains it: identity lines (the auto-selection of
    // the text-file commands as the model hook), then the engine's property manager.
    bool HandleReplyLine(uint32_t& flags, std::u16string_view line) {
        return ::HandleReplyLine(engine, flags, line, ModelHookOfFiles());
    }
    ModelHook ModelHookOfFiles() {
        return [this](std::u16string_view model) { files->SelectDefinitionForModel(model); };
    }
    std::u16string Ini(const char16_t* section, const char16_t* key) {
        return platform::ReadSetting(section, key, u"<none>", app.SettingsFilePath());
    }
};
