// CMainFrame: the main window of Quillon and the front-end of the session core. It holds the
// menu bar, the upper bar, a splitter with the console (column 0) and the property view
// (column 1), and the lower bar; turns menu and bar commands into calls on the application and
// the engine; and takes the engine's events, which it brings onto the user-interface thread as
// the application window messages (UM_, base/Messages.h) with their data. Messages from the
// user-interface thread run their handler directly; from any other thread Send blocks until the
// user-interface thread has run it, Post queues it. Only the reply lines of a transaction make
// the worker wait (UM_DRAIN_REPLIES: the next command is composed with the values they carry),
// and a message box.
#pragma once

#include "app/Session.h"
#include "base/UiTarget.h"
#include "comm/EngineEvents.h"
#include "ui/ConsoleForm.h"
#include "ui/MainFrameLogic.h"
#include "ui/MonitorPanel.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class clApplication;
class CDialogBarLower;
class CDialogBarUpper;
class CScriptSocket;
class QAction;
class QLabel;
class QProgressBar;
class QMenu;
class QSplitter;
class QTimer;

class CMainFrame : public QMainWindow, public IUiTarget, public IEngineEvents, public ISessionHost {
    Q_OBJECT
public:
    // How the frame drives the property view that fills column 1 of the splitter.
    struct PropertyViewCalls {
        std::function<void(uint32_t flags)> refresh; // enable states, values with flag 8
        std::function<void()> reloadValues;          // every item's value read again
    };
    // The file commands of the camera definition and the settings text files. Unset hooks do
    // nothing.
    struct FileCommandHooks {
        std::function<void()> selectFile;
        std::function<void()> closeDefinition;
        std::function<void()> textSave;
        std::function<void()> textLoad;
        // On UM_STARTUP: offers to reopen the last camera definition file.
        std::function<void()> offerLastDefinition;
        // Files dropped on the window: what Select file and Text Load do with a chosen file.
        std::function<void(const std::u16string& path)> openDefinition;
        std::function<void(const std::u16string& path)> replayBatchFile;
    };

    explicit CMainFrame(clApplication& app, QWidget* parent = nullptr);
    ~CMainFrame() override;

    intptr_t SendUiMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;
    void PostUiMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;

    // Column 1 of the splitter: the property view replaces the placeholder (the frame takes
    // ownership). A null view puts the placeholder back.
    void SetPropertyView(QWidget* view, PropertyViewCalls calls);
    QWidget* PropertyView() const { return m_propertyView; }
    void SetFileCommandHooks(FileCommandHooks hooks) { m_fileHooks = std::move(hooks); }

    // Shows the window with its initial size and the placement stored in the settings file.
    void ShowInitial();
    // Stops the engine's threads while still answering their messages; then the window can go.
    // Also run by the destructor.
    void ShutDownThreads();

    // Runs a command (menu id, or the id of a bar control) when its enable rule allows it.
    void RunCommand(int id);
    // The state the enable rules look at, read now.
    mainframe::EngineState CurrentEngineState() const;
    // Applies every enable rule to the menu items and bar buttons.
    void UpdateCommandEnables();
    // Refresh by flags: 1 status, 2 console, 4 property view (with the flags).
    void RefreshViews(uint32_t flags);
    void RefreshStatus();
    // Title: the window title, plus " - <file name>" while a definition is open.
    void UpdateTitle();

    // IEngineEvents: the engine's events, on its threads (see the file's comment).
    void JobStarted(JobKind kind) override;
    void CommandSent(const std::u16string& text, uint64_t receivedBefore) override;
    void TransactionEnded(const TransactionReport& report) override;
    void ConsoleFlushWanted() override;
    // The batch's progress goes to the status area, its outcome also to the console and the
    // log (before any message box of the failed line opens).
    void BatchProgressed(const BatchProgress& progress) override;
    void JobEnded(const JobReport& report) override;
    void BytesReceived() override;
    void StateChanged() override;
    // The session's news of the port's device, on the user-interface thread.
    void PortLost(const std::u16string& device) override;
    void PortReturned(const std::u16string& device, const CameraIdentity& identity,
                      const CameraIdentity& before) override;
    int32_t Ask(const EngineQuestion& question) override;
    // ISessionHost: the session's work on the user-interface thread.
    void Post(std::function<void()> task, int delayMs = 0) override;
    void Pump() override;

    // A round of the Monitor: the job submit hands to the engine runs as any other, but asks the
    // user nothing (each question is answered OK without a box and its text kept as the reason)
    // and its end goes to ended on the user-interface thread: ok when every transaction ended
    // with an OK reply. Submit only while the engine is idle; returns submit's result, or
    // SUBMIT_BUSY while a commit of the operator waits for its turn.
    struct RoundEnd {
        bool ok = true;
        std::u16string reason; // why it failed
    };
    int32_t SubmitRound(const std::function<int32_t()>& submit,
                        std::function<void(const RoundEnd&)> ended);
    // The Monitor panel (View popup), made when it is first shown.
    CMonitorPanel* Monitor() const { return m_monitor; }
    void ShowMonitor();

    // The status area under the lower bar: the report's text and the lines done.
    QLabel* BatchStatusLabel() const { return m_batchLabel; }
    QProgressBar* BatchProgressBar() const { return m_batchBar; }
    // A file dropped on the window (also the drop event's handler).
    void DropFile(const QString& path);

    QAction* Action(int id) const;
    CDialogBarUpper* UpperBar() const { return m_upper; }
    CDialogBarLower* LowerBar() const { return m_lower; }
    CConsoleForm* Console() const { return m_console; }
    QSplitter* Splitter() const { return m_splitter; }
    // Runs only while received bytes wait for their console flush.
    QTimer* ConsoleFlushTimer() const { return m_flushTimer; }
    // The scripting socket (listening or not) and the status area's count of its scripts.
    CScriptSocket* ScriptSocket() const { return m_script; }
    QLabel* ScriptStatusLabel() const { return m_scriptLabel; }

protected:
    // Handler of the application window messages; runs on the user-interface thread.
    virtual intptr_t OnUiMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam);
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void CreateMenus();
    void CreateShortcuts();
    QAction* AddCommand(QMenu* menu, int id, int messageId);

    intptr_t OnMessageBox(uintptr_t wParam, intptr_t style);
    void OnStartUp();
    void OnConsoleEcho();
    void OnDrainReplies();
    void OnShowResult();
    // FlushConsole: received bytes move from the engine's ring to the console output, and what
    // is left is told to the engine as the console backlog (UM_CONSOLE_FLUSH, and whenever
    // bytes arrive).
    void FlushConsole();
    // confirmed: the operator answered the property's question already.
    void OnRunPropertyJob(uintptr_t generation, intptr_t index, bool confirmed = false);
    // The engine's activity, on the UI thread: received bytes (a flush, coalesced) or a state
    // change (the enable rules).
    void OnEngineActivity(bool received);
    void FlushReceived();
    void OnBatchProgress(const BatchProgress& progress);
    void ShowStatusText(const QString& text);
    // Runs call on the user-interface thread, unless the window is going.
    void Queue(std::function<void()> call);
    // Hands call to the user-interface thread (from any thread); the one way in.
    void Deliver(std::function<void()> call);

    static std::function<void()> PumpWhileWaiting();
    void Connect();
    void Disconnect();
    void ConsoleNote(const std::u16string& text);
    void CommunicationSettings();
    void About();
    void AutoSelect();
    void StartSplitMode();
    // Starts or stops the traffic log beside the settings file.
    void ToggleTrafficLog();
    // Starts or stops the scripting socket (the settings key keeps the choice).
    void ToggleScriptSocket();
    void StartScriptSocket();
    void EndSplitMode(bool keep);
    void NextPane(bool forward);

    bool ConsoleValid() const { return !m_console.isNull(); }
    bool PropertyViewValid() const { return !m_propertyView.isNull(); }

    clApplication& m_app;
    CDialogBarUpper* m_upper = nullptr;
    CDialogBarLower* m_lower = nullptr;
    QSplitter* m_splitter = nullptr;
    QPointer<CConsoleForm> m_console;
    QPointer<QWidget> m_propertyView;
    QWidget* m_propertyPlaceholder = nullptr;
    PropertyViewCalls m_propertyCalls;
    FileCommandHooks m_fileHooks;
    std::map<int, QAction*> m_actions;
    QTimer* m_flushTimer = nullptr;
    QElapsedTimer m_lastFlush;
    uint64_t m_consoleBacklog = 0; // what the last flush left in the ring
    std::atomic<bool> m_flushQueued{false};
    std::atomic<bool> m_enablesQueued{false};
    QLabel* m_batchLabel = nullptr;
    QProgressBar* m_batchBar = nullptr;
    CScriptSocket* m_script = nullptr;
    QLabel* m_scriptLabel = nullptr;
    // The data of the messages the engine's events queue: one entry per message, taken by its
    // handler in the order they were queued (the worker puts, the window takes).
    template <class T>
    class Payloads {
    public:
        void Put(T value) {
            std::lock_guard<std::mutex> g(m_lock);
            m_items.push_back(std::move(value));
        }
        bool Take(T& value) {
            std::lock_guard<std::mutex> g(m_lock);
            if (m_items.empty())
                return false;
            value = std::move(m_items.front());
            m_items.erase(m_items.begin());
            return true;
        }

    private:
        std::mutex m_lock;
        std::vector<T> m_items;
    };
    Payloads<std::pair<std::u16string, uint64_t>> m_echoes; // UM_CONSOLE_ECHO
    Payloads<TransactionReport> m_results;                  // UM_SHOW_RESULT
    Payloads<std::vector<std::u16string>> m_replies;        // UM_DRAIN_REPLIES
    // A running batch's report the window has not shown yet (only the newest counts).
    std::mutex m_progressLock;
    std::unique_ptr<BatchProgress> m_pendingProgress;
    QPointer<CMonitorPanel> m_monitor;
    // The Monitor's round while it runs: set before it is submitted, ended on the worker by
    // JobEnded (before the next job can start), so no question of another job is taken for it.
    std::atomic<bool> m_roundInFlight{false};
    std::mutex m_roundLock;
    RoundEnd m_roundEnd;
    std::function<void(const RoundEnd&)> m_roundEnded;
    int m_commitsWaiting = 0; // commits retried when the engine is idle again
    QList<int> m_splitSizesBefore;
    bool m_splitMode = false;
    bool m_placementSaved = false;
    bool m_threadsStopped = false;
    // Set while the threads are being stopped: messages are then answered without effect.
    std::atomic<bool> m_detached{false};
};
