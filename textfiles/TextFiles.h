// clTextFiles: the settings text files and the camera definition file of the application —
// Text Save, Text Load (batch), opening, closing and auto-selecting the definition file.
// Everything here runs on the user-interface thread; the batch job itself runs on the worker
// thread (comm/BatchJob.h), the identity lines of the replies are the session's
// (app/Session.h).
#pragma once

#include "app/DefinitionCheck.h"
#include "textfiles/TextFilesUi.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class clApplication;
class clCommunicateModel;

// Results of the file commands. The main window ignores them; tests and the command-line tool
// read them.
enum FileCommandResult : int32_t {
    FILE_COMMAND_OK = 0,
    FILE_COMMAND_FAILED = 1,
    FILE_COMMAND_NO_DEFINITION = 6, // no definition file names the camera's model
    FILE_COMMAND_CANCELLED = 10,
};

class clTextFiles {
public:
    static constexpr size_t kMaxLastConfigChars = 500;

    // app: settings file, program and definition folders, window title, current definition
    // file, found-file list and the message-box request; engine: property manager, identity
    // texts, the batch job, and through its context the log. ui: the main window, null while it
    // does not exist.
    clTextFiles(clApplication& app, clCommunicateModel& engine, ITextFilesUi* ui);
    virtual ~clTextFiles() = default;
    clTextFiles(const clTextFiles&) = delete;
    clTextFiles& operator=(const clTextFiles&) = delete;

    void SetUi(ITextFilesUi* ui) { m_ui = ui; }
    // The program file whose version goes into the header (default: program folder +
    // "Quillon").
    void SetProgramFile(std::string path) { m_programFile = std::move(path); }

    // --- Text Save -----------------------------------------------------------------------
    // FILE_COMMAND_OK saved, _FAILED, _CANCELLED.
    int32_t SaveSettingsText();
    // Writes the header and one line per exported command with slots. FILE_COMMAND_OK, or
    // FILE_COMMAND_FAILED when the file could not be written or a command line could not be
    // held by the locale codeset; either way the file keeps its old content byte for byte (the
    // whole text is decided before the file is touched; a read-only file is never replaced).
    // Every failure is logged and shown in a message box naming the file and the reason. The
    // header's comment lines are written with '?' for what the codeset cannot hold.
    int32_t WriteSettingsText(const std::u16string& path);

    // --- Text Load -----------------------------------------------------------------------
    // FILE_COMMAND_OK batch job started, _FAILED file not read, _CANCELLED.
    int32_t LoadBatchText();
    // What Text Load does once a file is chosen: reads it (ReadBatchText) and starts the batch
    // job. FILE_COMMAND_OK started, _FAILED not (a job runs, the file was refused, or the
    // engine is not ready).
    int32_t ReplayBatchFile(const std::u16string& path);
    // Reads the batch lines of the file into the job parameters. FILE_COMMAND_OK, or
    // FILE_COMMAND_FAILED (message 71 with the reason, naming the first bad line and character,
    // in the box and the log) when the file cannot be read, is no regular file, or a line to be
    // sent does not decode, holds U+FFFD or a control character other than TAB, or holds a
    // command the locale codeset cannot hold (CheckBatchText); the previous batch lines stay.
    int32_t ReadBatchText(const std::u16string& path);
    const std::vector<std::u16string>& BatchLines() const { return m_batchLines; }

    // --- Camera definition file ----------------------------------------------------------
    // FILE_COMMAND_OK opened, _FAILED, _CANCELLED.
    int32_t SelectDefinitionFile();
    // What Select file does once a file is chosen: the identity, view and definition are
    // cleared, then the file is opened (OpenDefinitionFile).
    int32_t OpenChosenDefinition(const std::u16string& path);
    // FILE_COMMAND_OK opened, _FAILED (log lines and a message box).
    int32_t OpenDefinitionFile(const std::u16string& path);
    void CloseDefinitionFile();
    // 1 when the last definition file was reopened, else 0.
    int32_t OfferLastDefinition();

    // --- Auto-selection ------------------------------------------------------------------
    // The definition of the model a "sta" reply named while the auto-select query waited (the
    // session's model hook). FILE_COMMAND_OK opened, _FAILED open failed, _NO_DEFINITION no file
    // for the model, _CANCELLED.
    int32_t SelectDefinitionForModel(std::u16string_view model);
    // Names of the definition files matching "*" + model + "*.xml" into the found-file list
    // (the user's definition folder first, then the program's); returns their number.
    size_t FindDefinitionFiles(std::u16string_view model);
    // The folder a found name is opened from: the user's when it holds the name.
    std::u16string DefinitionFolderOf(const std::u16string& name) const;

    // The main window's title for the current state.
    std::u16string TitleWithDefinition(const std::u16string& path) const;

private:
    void EmptyViewAndTitle();
    // The file dialog of Text Save (open false) and Text Load: titled `titleId`, starting in the
    // folder remembered under `key` of the path section, which keeps the chosen file's folder.
    // False when cancelled.
    bool ChooseTextFile(bool open, std::u16string defaultExtension, int titleId, std::u16string key,
                        std::u16string& path);
    void ReportSaveFailure(const std::u16string& path, const std::u16string& reason);
    void WriteLog(std::u16string_view line);
    std::u16string Text(int id) const;

    clApplication& m_app;
    clCommunicateModel& m_engine;
    ITextFilesUi* m_ui;
    std::string m_programFile;
    std::vector<std::u16string> m_batchLines;
};
