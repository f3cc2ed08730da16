// What the communication engine needs from the application object. The application provides
// one clEngineContext (it may derive from it) and keeps it alive as long as the engine.
#pragma once

#include "base/MessageTable.h"
#include "base/UiTarget.h"
#include "platform/Event.h"

#include <atomic>
#include <condition_variable>
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
enum JobKind : int32_t {
    JOB_NONE = 0,
    JOB_SINGLE_COMMAND = 1,
    JOB_PROPERTY = 2,
    JOB_BATCH = 3,
};

// The parameters of the next job.
class clCommJobParam {
public:
    virtual ~clCommJobParam() = default;

    std::vector<std::u16string> batchLines;  // JOB_BATCH
    std::u16string commandText;              // JOB_SINGLE_COMMAND
    const clCamProperty* property = nullptr; // JOB_PROPERTY; owned by the property manager
};

// Message-box style bit not in base/Messages.h: the second button is the default.
constexpr uint32_t kMbDefaultButton2 = 0x100;

// The way from the worker thread to the main window. Sends and posts go to the target only
// while the link is open; Close refuses new ones and waits for the sends under way, so that
// after it the window may go. The mutex and condition variable are the handshake every
// synchronous send passes through (also what a thread checker sees of it).
class IEngineUi;
class clUiLink {
public:
    // Any thread. 0 when the link is closed or there is no target.
    intptr_t Send(IEngineUi& ui, uint32_t msg, uintptr_t wParam, intptr_t lParam);
    void Post(IEngineUi& ui, uint32_t msg, uintptr_t wParam, intptr_t lParam);
    // UI thread: refuses further messages, then waits for the sends under way while pump runs
    // (it must answer them). True when none is left.
    bool Close(const std::function<void()>& pump, int64_t timeoutMs);
    void Open();
    bool IsOpen();

private:
    std::mutex m_lock;
    std::condition_variable m_idle;
    bool m_open = true;
    int m_sending = 0;
};

// The user-interface role: the main window as the engine reaches it. Unless noted, the calls
// come from the worker thread.
class IEngineUi {
public:
    virtual ~IEngineUi() = default;
    // The main window; null while it does not exist (sends and posts then go nowhere).
    virtual IUiTarget* UiTarget() = 0;
    // The message-box request: stores text and caption (empty: the application's caption)
    // and, while the main window exists, sends UM_MESSAGE_BOX with the style; returns the
    // button pressed, 0 when nothing was shown.
    virtual int32_t RequestMessageBox(std::u16string text, std::u16string caption,
                                      uint32_t style) = 0;
    // The wait dialog (UI thread): shown centred with text and caption and painted at once;
    // hidden with a repaint of the main window.
    virtual void ShowWaitDialog(std::u16string_view text, std::u16string_view caption) = 0;
    virtual void HideWaitDialog() = 0;
};

// The texts role: what the engine shows, in the UI language (any thread).
class IEngineTexts {
public:
    virtual ~IEngineTexts() = default;
    // "ja" or "en", for the bilingual texts of the camera definition.
    virtual std::u16string LanguageCode() = 0;
    // A text of the bilingual message table in the UI language.
    virtual std::u16string MessageText(int id) = 0;
};

// What the engine asks of the application: the two roles above and the services it runs on.
// The application provides one clEngineContext (it may derive from it) and keeps it alive as
// long as the engine; clEngineContextStore is a ready-made implementation that holds every
// field itself (tests, tools, benchmarks). The job mailbox is the engine's own (clJobMailbox).
class clEngineContext : public IEngineUi, public IEngineTexts {
public:
    // The application log; may be null.
    virtual clSimpleLog* Log() = 0;
    // Manual reset; set at shutdown. Every wait of the worker watches it. May be null.
    virtual platform::Event* StopEvent() = 0;
    // Auto reset; signalled (UI thread) to make the worker run the mailbox's job.
    virtual platform::Event* JobEvent() = 0;
    // Null while no interface is selected.
    virtual clCamPort* CurrentPort() = 0;
    // The elapsed-time watch; may be null.
    virtual clWatchThread* Watch() = 0;

    // Through the link to UiTarget().
    intptr_t Send(uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0);
    void Post(uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0);
    clUiLink& UiLink() { return m_uiLink; }

private:
    clUiLink m_uiLink;
};

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
    std::u16string LanguageCode() override { return languageCode; }
    // The message table's text in uiLanguageIndex (0 Japanese, 1 English).
    std::u16string MessageText(int id) override;
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
