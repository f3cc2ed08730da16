// What the communication engine needs from the application object. The application provides
// one clEngineContext (it may derive from it) and keeps it alive as long as the engine.
#pragma once

#include "app/MessageTable.h"
#include "app/UiTarget.h"
#include "platform/Event.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

class clCamPort;
struct clCamProperty;
class clSimpleLog;
class clWatchThread;

// Job kinds of the worker thread.
enum : int32_t {
    JOB_NONE = 0,
    JOB_SINGLE_COMMAND = 1,
    JOB_PROPERTY = 2,
    JOB_BATCH = 3,
};

// The parameters of the next job.
class clCommJobParam {
public:
    virtual ~clCommJobParam() = default;

    std::vector<std::u16string> batchLines;  // kind 3
    std::u16string commandText;              // kind 1
    const clCamProperty* property = nullptr; // kind 2; owned by the property manager
};

// Message-box style bit not in app/Messages.h: the second button is the default.
constexpr uint32_t kMbDefaultButton2 = 0x100;

// What the engine asks of the application. The application object implements it over its own
// fields; clEngineContextStore is a ready-made implementation that holds every field itself
// (tests, tools, benchmarks). Unless noted, the calls come from the worker thread.
class clEngineContext {
public:
    virtual ~clEngineContext() = default;

    // The main window; null while it does not exist (sends and posts then go nowhere).
    virtual IUiTarget* UiTarget() = 0;
    // The application log; may be null.
    virtual clSimpleLog* Log() = 0;
    // Manual reset; set at shutdown. Every wait of the worker watches it. May be null.
    virtual platform::Event* StopEvent() = 0;
    // Auto reset; signalled (UI thread) to make the worker run the job of JobKind/JobParam.
    virtual platform::Event* JobEvent() = 0;
    // Null while no interface is selected.
    virtual clCamPort* CurrentPort() = 0;
    // The elapsed-time watch; may be null.
    virtual clWatchThread* Watch() = 0;

    // The message-box request: stores text and caption (empty: the application's caption)
    // and, while the main window exists, sends UM_MESSAGE_BOX with the style; returns the
    // button pressed, 0 when nothing was shown.
    virtual int32_t RequestMessageBox(std::u16string text, std::u16string caption,
                                      uint32_t style) = 0;
    // The command of the running transaction, read by the console echo during the send.
    virtual void SetLastCommandText(std::u16string_view text) = 0;
    // Received bytes the console has not shown yet, read and written under the application
    // lock (held only inside these calls).
    virtual int64_t ConsoleBacklog() = 0;
    virtual void SetConsoleBacklog(int64_t backlog) = 0;

    // The next job, written by the UI thread before it signals the job event.
    virtual int32_t JobKind() = 0;
    virtual void SetJobKind(int32_t kind) = 0;
    virtual clCommJobParam& JobParam() = 0;

    // Camera definition auto-selection by the "sta" query.
    virtual int32_t AutoSelectRequest() = 0;
    virtual void SetAutoSelectRequest(int32_t value) = 0;
    virtual int32_t ModelDetected() = 0;
    virtual void SetModelDetected(int32_t value) = 0;

    // "ja" or "en", for the bilingual texts of the camera definition.
    virtual std::u16string LanguageCode() = 0;
    // A text of the bilingual message table in the UI language.
    virtual std::u16string MessageText(int id) = 0;
    // The wait dialog (UI thread): shown centred with text and caption and painted at once;
    // hidden with a repaint of the main window.
    virtual void ShowWaitDialog(std::u16string_view text, std::u16string_view caption) = 0;
    virtual void HideWaitDialog() = 0;

    intptr_t Send(uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0);
    void Post(uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0);
};

// The engine's own copy of the texts it shows, by message id and UI language index (0
// Japanese, 1 English); empty for other ids.
std::u16string EngineMessageText(int id, int uiLanguageIndex);

// A context that holds every field itself.
class clEngineContextStore : public clEngineContext {
public:
    IUiTarget* ui = nullptr;
    clSimpleLog* log = nullptr;
    platform::Event* stopEvent = nullptr;
    platform::Event* jobEvent = nullptr;
    clCamPort* currentPort = nullptr;
    clWatchThread* watch = nullptr;

    std::u16string messageBoxText;
    std::u16string messageBoxCaption;
    int32_t messageBoxResult = 0;
    std::u16string lastCommandText;
    std::mutex appLock;
    int64_t consoleBacklog = 0;
    std::atomic<int32_t> jobKind{JOB_NONE};
    clCommJobParam jobParam;
    std::atomic<int32_t> autoSelectRequest{0};
    std::atomic<int32_t> modelDetected{0};
    int32_t uiLanguageIndex = 1;
    std::u16string languageCode = u"en";
    std::function<void(std::u16string_view, std::u16string_view)> showWaitDialog;
    std::function<void()> hideWaitDialog;

    IUiTarget* UiTarget() override { return ui; }
    clSimpleLog* Log() override { return log; }
    platform::Event* StopEvent() override { return stopEvent; }
    platform::Event* JobEvent() override { return jobEvent; }
    clCamPort* CurrentPort() override { return currentPort; }
    clWatchThread* Watch() override { return watch; }
    int32_t RequestMessageBox(std::u16string text, std::u16string caption, uint32_t style) override;
    void SetLastCommandText(std::u16string_view text) override { lastCommandText.assign(text); }
    int64_t ConsoleBacklog() override {
        std::lock_guard<std::mutex> guard(appLock);
        return consoleBacklog;
    }
    void SetConsoleBacklog(int64_t backlog) override {
        std::lock_guard<std::mutex> guard(appLock);
        consoleBacklog = backlog;
    }
    int32_t JobKind() override { return jobKind; }
    void SetJobKind(int32_t kind) override { jobKind = kind; }
    clCommJobParam& JobParam() override { return jobParam; }
    int32_t AutoSelectRequest() override { return autoSelectRequest; }
    void SetAutoSelectRequest(int32_t value) override { autoSelectRequest = value; }
    int32_t ModelDetected() override { return modelDetected; }
    void SetModelDetected(int32_t value) override { modelDetected = value; }
    std::u16string LanguageCode() override { return languageCode; }
    std::u16string MessageText(int id) override { return EngineMessageText(id, uiLanguageIndex); }
    void ShowWaitDialog(std::u16string_view text, std::u16string_view caption) override {
        if (showWaitDialog)
            showWaitDialog(text, caption);
    }
    void HideWaitDialog() override {
        if (hideWaitDialog)
            hideWaitDialog();
    }
};

// The engine's view of the camera definition for property jobs: which commands a property
// has and how their texts are composed. The property manager provides it.
class IPropertyCommandSource {
public:
    enum : int { kComposed = 0, kUnknownCommand = 1, kComposeFailed = 2 };

    virtual ~IPropertyCommandSource() = default;
    // The property's command names, in order.
    virtual std::vector<std::u16string> CommandNames(const clCamProperty* property) = 0;
    // Looks the name up among the commands and composes its text. kComposed fills text.
    virtual int ComposeCommand(const clCamProperty* property, std::u16string_view commandName,
                               std::u16string& text) = 0;
    // True when the property asks for confirmation; prompt gets its text in languageCode,
    // else its "en" text, else empty.
    virtual bool ConfirmationPrompt(const clCamProperty* property, std::u16string_view languageCode,
                                    std::u16string& prompt) = 0;
};
