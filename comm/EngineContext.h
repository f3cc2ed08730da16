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

struct clEngineContext {
    virtual ~clEngineContext() = default;

    // The main window. Null while it does not exist: sends and posts then go nowhere and
    // message-box requests show nothing.
    IUiTarget* ui = nullptr;
    clSimpleLog* log = nullptr;           // the application log; may be null
    platform::Event* stopEvent = nullptr; // manual reset; set at shutdown
    platform::Event* jobEvent = nullptr;  // auto reset; signalled to run the job below
    clCamPort* currentPort = nullptr;     // null while no interface is selected
    clWatchThread* watch = nullptr;       // the elapsed-time watch; may be null

    // Message-box request: written by the thread that then sends UM_MESSAGE_BOX; the main
    // window reads text and caption and writes the result before the send returns.
    std::u16string messageBoxText;
    std::u16string messageBoxCaption; // empty: the application's own caption
    int32_t messageBoxResult = 0;

    // The command of the running transaction, read by the console echo during the send.
    std::u16string lastCommandText;

    // Received bytes the console has not shown yet, guarded by the application lock.
    std::mutex appLock;
    int64_t consoleBacklog = 0;

    // The next job (written by the UI thread before it signals the job event).
    std::atomic<int32_t> jobKind{JOB_NONE};
    clCommJobParam jobParam;

    // Camera definition auto-selection (the "sta" query).
    std::atomic<int32_t> autoSelectRequest{0};
    std::atomic<int32_t> modelDetected{0};

    // UI language: index 0 Japanese, 1 English; code "ja" or "en" for definition texts.
    int32_t uiLanguageIndex = 1;
    std::u16string languageCode = u"en";

    // The bilingual message table (the application sets it to Msg); unset, the engine's own
    // copy of its few texts is used, so the engine needs no link to the application core.
    std::function<std::u16string(int id)> messageText;
    // The wait dialog (UI thread only): show centred with text and caption, painted at once;
    // hide and repaint the main window. Either may be unset.
    std::function<void(std::u16string_view text, std::u16string_view caption)> showWaitDialog;
    std::function<void()> hideWaitDialog;

    // Text of a message id in the UI language.
    std::u16string Message(int id) const;
    // Runs the message-box request: stores text and caption and, when the main window exists,
    // sends UM_MESSAGE_BOX with the style. Returns the button pressed (0 when none showed).
    int32_t RequestMessageBox(std::u16string_view text, std::u16string_view caption,
                              uint32_t style);
    intptr_t Send(uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0);
    void Post(uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0);
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
