// What the communication engine needs from the application: its log, the worker's events, the
// current port, the elapsed-time watch, the texts in the UI language and the wait dialog. The
// application provides one clEngineContext (it may derive from it) and keeps it alive as long as
// the engine; clEngineContextStore holds every field itself (tests, tools, benchmarks).
//
// The engine reports what happens through its client's IEngineEvents (comm/EngineEvents.h), not
// through the context.
#pragma once

#include "comm/EngineEvents.h"
#include "platform/Event.h"

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

// Message-box style bit not in base/Messages.h: the second button is the default.
constexpr uint32_t kMbDefaultButton2 = 0x100;

// The texts role: what the engine shows, in the UI language (any thread).
class IEngineTexts {
public:
    virtual ~IEngineTexts() = default;
    // "ja" or "en", for the bilingual texts of the camera definition.
    virtual std::u16string LanguageCode() = 0;
    // A text of the bilingual message table in the UI language.
    virtual std::u16string MessageText(int id) = 0;
};

class clEngineContext : public IEngineTexts {
public:
    // The application log; may be null.
    virtual clSimpleLog* Log() = 0;
    // Manual reset; set at shutdown. Every wait of the worker watches it. May be null.
    virtual platform::Event* StopEvent() = 0;
    // Auto reset; signalled (client thread) to make the worker run the submitted job.
    virtual platform::Event* JobEvent() = 0;
    // Null while no interface is selected.
    virtual clCamPort* CurrentPort() = 0;
    // The elapsed-time watch; may be null.
    virtual clWatchThread* Watch() = 0;
    // The wait dialog while the port is being closed (client thread): shown centred with text
    // and caption and painted at once; hidden with a repaint of the main window.
    virtual void ShowWaitDialog(std::u16string_view, std::u16string_view) {}
    virtual void HideWaitDialog() {}
};

// A context that holds every field itself.
class clEngineContextStore : public clEngineContext {
public:
    clSimpleLog* log = nullptr;
    platform::Event* stopEvent = nullptr;
    platform::Event* jobEvent = nullptr;
    clCamPort* currentPort = nullptr;
    clWatchThread* watch = nullptr;

    int32_t uiLanguageIndex = 1;
    std::u16string languageCode = u"en";
    std::function<void(std::u16string_view, std::u16string_view)> showWaitDialog;
    std::function<void()> hideWaitDialog;

    clSimpleLog* Log() override { return log; }
    platform::Event* StopEvent() override { return stopEvent; }
    platform::Event* JobEvent() override { return jobEvent; }
    clCamPort* CurrentPort() override { return currentPort; }
    clWatchThread* Watch() override { return watch; }
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

// The engine's way to its client's events. Calls go through only while the gate is open; Close
// refuses new ones and waits for those under way, so that after it the client may go. The mutex
// and condition variable are the handshake every call passes through (also what a thread
// checker sees of it).
class clEventGate {
public:
    // Any thread: runs call(events) while open and set; false when it did not run.
    template <class F>
    bool Call(F&& call) {
        IEngineEvents* events = Enter();
        if (!events)
            return false;
        call(*events);
        Leave();
        return true;
    }
    // Client thread, while no job runs: the events the calls go to (null: none).
    void SetEvents(IEngineEvents* events);
    // Client thread: refuses further calls, then waits for those under way while pump runs (it
    // must answer them). True when none is left.
    bool Close(const std::function<void()>& pump, int64_t timeoutMs);
    void Open();
    bool IsOpen();

private:
    IEngineEvents* Enter();
    void Leave();

    std::mutex m_lock;
    std::condition_variable m_idle;
    IEngineEvents* m_events = nullptr;
    bool m_open = true;
    int m_calls = 0;
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
