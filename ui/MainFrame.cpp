#include "ui/MainFrame.h"

#include "app/Application.h"
#include "app/PortLinkGuard.h"
#include "app/PortReasonText.h"
#include "app/ServeSocket.h"
#include "base/MessageTable.h"
#include "base/Messages.h"
#include "camdef/CamPropertyMgr.h"
#include "comm/CommunicateModel.h"
#include "comm/ReplyCollector.h"
#include "comm/WatchThread.h"
#include "platform/FileVerInfo.h"
#include "platform/IniProfile.h"
#include "platform/ProgramFolder.h"
#include "platform/Text.h"
#include "port/PortTables.h"
#include "ui/AboutDlg.h"
#include "ui/BarStatus.h"
#include "ui/CamSelDlg.h"
#include "ui/CommSettings.h"
#include "ui/ConsoleForm.h"
#include "ui/DialogBars.h"
#include "ui/ImageButton.h"
#include "ui/MessageBox.h"
#include "ui/MonitorPanel.h"
#include "ui/ScriptSocket.h"
#include "ui/WindowPlaceIni.h"
#include "ui/WindowPlacement.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMetaObject>
#include <QMimeData>
#include <QProgressBar>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace {

QString ToQString(const std::u16string& text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

QString M(int id) {
    return QString::fromUtf16(Msg(id));
}

// Whether scripts may connect to the window's socket (1, the default) or not (0).
constexpr char16_t kScriptingSection[] = u"Scripting";
constexpr char16_t kScriptSocketKey[] = u"Socket";

// Guards the hand-over of calls to the user-interface thread (CMainFrame::Deliver).
std::mutex& PostLock() {
    static std::mutex lock;
    return lock;
}

// Counts the calls handed over. The receiving thread reads it before it looks at any event, so
// the fields of an event built on another thread (its type above all) are ordered before the
// read in a way a thread checker sees too; Qt's queue orders them unseen.
std::atomic<uint64_t>& HandedOver() {
    static std::atomic<uint64_t> count{0};
    return count;
}

// A call handed to the user-interface thread as a posted event. Once posted the event is Qt's,
// and the receiving thread deletes it, so the poster never touches the call again. The call is
// stored and taken under PostLock(), so the hand-over is ours and visible to a thread checker
// as well (Qt's own reference counts are not: a queued functor could be freed by the poster
// after the handler had read it, unseen).
class UiCall : public QEvent {
public:
    static QEvent::Type Kind() {
        static const auto kind = static_cast<QEvent::Type>(QEvent::registerEventType());
        return kind;
    }
    explicit UiCall(std::function<void()> call) : QEvent(Kind()) {
        {
            std::lock_guard<std::mutex> storing(PostLock());
            m_call = std::move(call);
        }
        HandedOver().fetch_add(1, std::memory_order_release);
    }
    ~UiCall() override {
        std::lock_guard<std::mutex> taking(PostLock());
        m_call = nullptr; // an undelivered call ends here, on the receiving thread
    }
    std::function<void()> Take() {
        std::lock_guard<std::mutex> taking(PostLock());
        return std::move(m_call);
    }

private:
    std::function<void()> m_call;
};

// While received bytes wait, the console takes its next share at the next pass of the event
// loop; the first bytes after a quiet spell are shown at once.
constexpr int kFlushIntervalMs = 0;

// The registered interfaces as the communication settings dialog sees them.
class InterfaceList : public commsettings::IInterfaceList {
public:
    explicit InterfaceList(const clInterfaceRegistry& registry) : m_registry(registry) {}
    int Count() const override { return static_cast<int>(m_registry.Count()); }
    std::u16string Label(int index) const override {
        const auto i = static_cast<size_t>(index);
        return i < m_registry.versionTexts.size() ? m_registry.versionTexts[i] : std::u16string();
    }
    std::u16string PortName(int index) override {
        InterfaceTable* t = Table(index);
        const char16_t* name = t && t->GetPortName ? t->GetPortName() : nullptr;
        return name ? std::u16string(name) : std::u16string(commsettings::kNoSettings);
    }
    int32_t SettingDialog(int index) override {
        InterfaceTable* t = Table(index);
        return t && t->SettingDialog ? t->SettingDialog() : 0;
    }

private:
    InterfaceTable* Table(int index) const {
        const auto i = static_cast<size_t>(index);
        return index >= 0 && i < m_registry.Count() ? m_registry.interfaces[i] : nullptr;
    }
    const clInterfaceRegistry& m_registry;
};

} // namespace

CMainFrame::CMainFrame(clApplication& app, QWidget* parent) : QMainWindow(parent), m_app(app) {
    // Title: the program's title and the platform word; kept by the application for the
    // definition file's name to be added to.
    m_app.SetWindowTitle(sizeof(void*) == 8 ? u"Quillon (64bit)" : u"Quillon (32bit)");
    UpdateTitle();

    // Client area: upper bar, splitter (console | property view), lower bar.
    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    m_upper = new CDialogBarUpper(central);
    m_lower = new CDialogBarLower(central);
    m_splitter = new QSplitter(Qt::Horizontal, central);
    m_splitter->setObjectName(QStringLiteral("splitter"));
    m_splitter->setChildrenCollapsible(true);
    m_console = new CConsoleForm;
    m_console->resize(400, 100);
    m_propertyPlaceholder = new QWidget;
    m_propertyPlaceholder->setObjectName(QStringLiteral("propertyViewSlot"));
    m_propertyPlaceholder->resize(200, 100);
    m_splitter->addWidget(m_console);
    m_splitter->addWidget(m_propertyPlaceholder);
    m_splitter->setCollapsible(1, false);
    column->addWidget(m_upper, 0, Qt::AlignLeft);
    column->addWidget(m_splitter, 1);
    column->addWidget(m_lower, 0, Qt::AlignLeft);
    setCentralWidget(central);
    m_app.SetMainFrame(this);

    const bool appendCr = !m_app.Engine() || m_app.Engine()->AppendsCR();
    m_console->InitialUpdate(m_app.ConsoleRows() > 0 ? m_app.ConsoleRows() : 2000, appendCr,
                             m_app.IsEngineReady());
    m_console->SetSendHandler([this](const std::u16string& command) {
        if (clCommunicateModel* engine = m_app.Engine())
            engine->SubmitCommandJob(command);
    });
    if (clCommunicateModel* engine = m_app.Engine())
        m_console->SetReceiveSource(
            std::make_unique<console::RingSource>(engine->Ring(),
                                                  [engine] { return engine->Traffic().IsOpen(); }),
            [this] { FlushReceived(); });

    // Menus, bar commands, shortcuts.
    CreateMenus();
    CreateShortcuts();
    connect(m_upper, &CDialogBarUpper::commandTriggered, this, [this](int id) {
        if (const int command = mainframe::CommandOfControl(id))
            RunCommand(command);
    });
    connect(m_lower, &CDialogBarLower::commandTriggered, this, [this](int id) {
        if (const int command = mainframe::CommandOfControl(id))
            RunCommand(command);
    });

    // Nothing polls: the engine's events say when bytes arrive and when its state changes. The
    // window is the session's front-end: its events and its thread.
    m_flushTimer = new QTimer(this);
    m_flushTimer->setSingleShot(true);
    connect(m_flushTimer, &QTimer::timeout, this, &CMainFrame::FlushReceived);
    m_app.Session().SetEvents(this);
    m_app.Session().SetHost(this);

    // The status area: what a batch is doing, and how the last one ended. Hidden until the
    // first report, so the window keeps its size until then.
    m_batchLabel = new QLabel(this);
    m_batchLabel->setObjectName(QStringLiteral("batchStatus"));
    m_batchBar = new QProgressBar(this);
    m_batchBar->setObjectName(QStringLiteral("batchProgress"));
    m_batchBar->setMaximumWidth(160);
    m_batchBar->hide();
    statusBar()->addWidget(m_batchLabel, 1);
    statusBar()->addPermanentWidget(m_batchBar);
    statusBar()->setSizeGripEnabled(false);
    statusBar()->hide();
    setAcceptDrops(true);

    // The scripting socket: scripts drive the camera beside the operator, as jobs of this
    // window's engine.
    m_scriptLabel = new QLabel(this);
    m_scriptLabel->setObjectName(QStringLiteral("scriptStatus"));
    m_scriptLabel->hide();
    statusBar()->addPermanentWidget(m_scriptLabel);
    CScriptSocket::Hooks scriptHooks;
    scriptHooks.deliver = [this](std::function<void()> call) { Queue(std::move(call)); };
    scriptHooks.countChanged = [this](size_t count) {
        m_scriptLabel->setText(ToQString(
            FormatMsg(MSG_SCRIPTS_CONNECTED, {platform::Utf8ToUtf16(std::to_string(count))})));
        m_scriptLabel->setVisible(count > 0);
        if (count > 0)
            statusBar()->show();
    };
    scriptHooks.log = [this](const std::u16string& text) {
        if (m_app.AppLog())
            m_app.AppLog()->Write(text);
    };
    scriptHooks.valuesChanged = [this] {
        RefreshViews(REFRESH_PROPERTIES | REFRESH_RELOAD_VALUES);
    };
    scriptHooks.operatorWaiting = [this] { return m_commitsWaiting > 0; };
    m_script = new CScriptSocket(m_app, std::move(scriptHooks), this);

    UpdateCommandEnables();
}

CMainFrame::~CMainFrame() {
    ShutDownThreads();
    if (m_app.MainFrame() == this)
        m_app.SetMainFrame(nullptr);
}

// ---------------------------------------------------------------------------------------------
// Creation

QAction* CMainFrame::AddCommand(QMenu* menu, int id, int messageId) {
    QAction* action = menu->addAction(M(messageId));
    action->setObjectName(QStringLiteral("cmd%1").arg(id));
    connect(action, &QAction::triggered, this, [this, id] { RunCommand(id); });
    m_actions[id] = action;
    return action;
}

void CMainFrame::CreateMenus() {
    using namespace mainframe;
    QMenuBar* bar = menuBar();

    QMenu* file = bar->addMenu(M(MSG_MENU_FILE));
    file->setObjectName(QStringLiteral("menuFile"));
    QMenu* open = m_upper->FilePopup();
    open->setTitle(M(MSG_OPEN_CAMERA_DEFINE));
    file->addMenu(open)->setObjectName(QStringLiteral("cmd%1").arg(ID_OPEN_DEFINE));
    // The popup's items run through the upper bar's commandTriggered; keep them in the table
    // for the enable pass.
    m_actions[ID_SELECT_FILE] = m_upper->SelectFileAction();
    m_actions[ID_AUTO_SELECT] = m_upper->AutoSelectAction();
    AddCommand(file, ID_CLOSE_DEFINE, MSG_CLOSE_CAMERA_DEFINE);
    file->addSeparator();
    AddCommand(file, ID_TEXT_SAVE, MSG_TEXT_SAVE);
    AddCommand(file, ID_TEXT_LOAD, MSG_TEXT_LOAD);
    file->addSeparator();
    AddCommand(file, ID_APP_EXIT, MSG_MENU_EXIT);

    QMenu* comm = bar->addMenu(M(MSG_MENU_COMMUNICATION));
    comm->setObjectName(QStringLiteral("menuCommunication"));
    AddCommand(comm, ID_CONNECT, MSG_CONNECT);
    AddCommand(comm, ID_DISCONNECT, MSG_DISCONNECT);
    comm->addSeparator();
    AddCommand(comm, ID_COMM_SETTINGS, MSG_COMM_SETTINGS);

    QMenu* view = bar->addMenu(M(MSG_MENU_VIEW));
    view->setObjectName(QStringLiteral("menuView"));
    AddCommand(view, ID_WINDOW_SPLIT, MSG_MENU_SPLIT);
    AddCommand(view, kTrafficLogCommand, MSG_TRAFFIC_LOG)->setCheckable(true);
    AddCommand(view, kMonitorCommand, MSG_MONITOR);
    AddCommand(view, kScriptSocketCommand, MSG_SCRIPT_SOCKET)->setCheckable(true);

    QMenu* help = bar->addMenu(M(MSG_MENU_HELP));
    help->setObjectName(QStringLiteral("menuHelp"));
    AddCommand(help, ID_APP_ABOUT, MSG_ABOUT);

    // The enable rules are applied again whenever a menu is about to open.
    for (QMenu* menu : {file, open, comm, view, help})
        connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandEnables);
}

void CMainFrame::CreateShortcuts() {
    // Edit keys acting on the focused edit control.
    struct EditKey {
        QKeySequence keys;
        const char* slot;
    };
    const EditKey editKeys[] = {
        {QKeySequence(Qt::CTRL | Qt::Key_Insert), "copy"},
        {QKeySequence(Qt::SHIFT | Qt::Key_Delete), "cut"},
        {QKeySequence(Qt::SHIFT | Qt::Key_Insert), "paste"},
        {QKeySequence(Qt::ALT | Qt::Key_Backspace), "undo"},
    };
    for (const EditKey& key : editKeys) {
        auto* shortcut = new QShortcut(key.keys, this);
        const char* slot = key.slot;
        connect(shortcut, &QShortcut::activated, this, [slot] {
            if (QWidget* focus = QApplication::focusWidget())
                QMetaObject::invokeMethod(focus, slot);
        });
    }
    auto* next = new QShortcut(QKeySequence(Qt::Key_F6), this);
    connect(next, &QShortcut::activated, this, [this] { NextPane(true); });
    auto* previous = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F6), this);
    connect(previous, &QShortcut::activated, this, [this] { NextPane(false); });
}

void CMainFrame::SetPropertyView(QWidget* view, PropertyViewCalls calls) {
    QWidget* replacement = view ? view : m_propertyPlaceholder;
    const QList<int> sizes = m_splitter->sizes();
    if (m_splitter->count() < 2) {
        // The former view was deleted by its owner.
        m_splitter->addWidget(replacement);
    } else if (m_splitter->widget(1) != replacement) {
        QWidget* old = m_splitter->replaceWidget(1, replacement);
        if (old == m_propertyPlaceholder) {
            // Kept for a later return to no view.
            m_propertyPlaceholder->setParent(this);
            m_propertyPlaceholder->hide();
        } else if (old) {
            old->deleteLater();
        }
    }
    replacement->show();
    m_splitter->setCollapsible(1, false);
    if (sizes.size() == 2)
        m_splitter->setSizes(sizes);
    m_propertyView = view;
    m_propertyCalls = view ? std::move(calls) : PropertyViewCalls{};
}

void CMainFrame::ShowInitial() {
    show();
    QApplication::processEvents();
    placement::ApplyInitialSize(this, m_upper, m_lower, m_lower->CancelButton());
    if (!m_app.SettingsFilePath().empty()) {
        placement::IniStore store(m_app.SettingsFilePath());
        placement::RestoreWindowPlacement(this, m_splitter, store);
    }
}

std::function<void()> CMainFrame::PumpWhileWaiting() {
    // Answers the worker's messages; the user's input waits, so no command runs meanwhile.
    return [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 5); };
}

void CMainFrame::ShutDownThreads() {
    if (m_threadsStopped)
        return;
    m_threadsStopped = true;
    m_flushTimer->stop();
    if (m_monitor)
        m_monitor->Stop();
    m_script->Stop();
    m_detached = true;
    // From here on the engine's threads never reach this window again.
    m_app.StopThreads();
    m_app.Session().SetHost(nullptr);
    m_app.Session().SetEvents(nullptr);
}

// ---------------------------------------------------------------------------------------------
// Messages

intptr_t CMainFrame::SendUiMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    if (QThread::currentThread() == thread())
        return OnUiMessage(msg, wParam, lParam);
    if (m_detached) {
        // Nobody answers now; an earlier box's result must not pass for this one's.
        if (msg == UM_MESSAGE_BOX && wParam == 0)
            m_app.SetMessageBoxResult(0);
        return 0;
    }
    // The blocking call with a handshake of our own (mutex and condition variable), so that
    // what the sender wrote before the call is seen by the handler and the handler's result by
    // the sender, visibly to a thread checker as well. When the call is discarded unrun (the
    // window went first), the last copy of the finisher ends the wait.
    struct Call {
        std::mutex lock;
        std::condition_variable done;
        bool finished = false;
        intptr_t result = 0;
    };
    struct Finisher {
        std::shared_ptr<Call> call;
        ~Finisher() {
            if (!call)
                return;
            {
                std::lock_guard<std::mutex> guard(call->lock);
                call->finished = true;
            }
            call->done.notify_all();
        }
    };
    auto call = std::make_shared<Call>();
    {
        std::lock_guard<std::mutex> guard(call->lock); // publishes the sender's writes
    }
    auto finisher = std::make_shared<Finisher>();
    finisher->call = call;
    Deliver([this, msg, wParam, lParam, finisher] {
        { std::lock_guard<std::mutex> guard(finisher->call->lock); }
        const intptr_t result = OnUiMessage(msg, wParam, lParam);
        std::lock_guard<std::mutex> guard(finisher->call->lock);
        finisher->call->result = result;
    });
    finisher.reset();
    std::unique_lock<std::mutex> guard(call->lock);
    call->done.wait(guard, [&] { return call->finished; });
    return call->result;
}

void CMainFrame::PostUiMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    Deliver([this, msg, wParam, lParam] { OnUiMessage(msg, wParam, lParam); });
}

void CMainFrame::Deliver(std::function<void()> call) {
    // Posted without holding PostLock(): Qt deletes an event it cannot queue (the window is
    // being destroyed) at once, on this thread, and the call's destructor takes the lock.
    QCoreApplication::postEvent(this, new UiCall(std::move(call)));
}

bool CMainFrame::event(QEvent* event) {
    HandedOver().load(std::memory_order_acquire);
    if (event->type() == UiCall::Kind()) {
        std::function<void()> call = static_cast<UiCall*>(event)->Take();
        call();
        return true;
    }
    return QMainWindow::event(event);
}

intptr_t CMainFrame::OnUiMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    // While the threads are being stopped the window answers without acting, so the worker
    // runs its last frame to the end.
    if (m_detached && msg != UM_MESSAGE_BOX)
        return 0;
    switch (msg) {
    case UM_STARTUP:
        OnStartUp();
        return 0;
    case UM_REFRESH_VIEWS:
        RefreshViews(static_cast<uint32_t>(lParam));
        return 0;
    case UM_MESSAGE_BOX:
        return m_detached ? 0 : OnMessageBox(wParam, lParam);
    case UM_ACTIVATE_CONSOLE:
        if (ConsoleValid()) {
            m_console->Activate();
        }
        return 0;
    case UM_CONSOLE_ECHO:
        OnConsoleEcho();
        return 0;
    case UM_DRAIN_REPLIES:
        OnDrainReplies();
        return 0;
    case UM_SHOW_RESULT:
        OnShowResult();
        return 0;
    case UM_CLOSE_WAIT_DIALOG:
        m_app.HideWaitDialog();
        update();
        return 0;
    case UM_CONSOLE_FLUSH:
        FlushConsole();
        return 0;
    case UM_RUN_PROPERTY_JOB:
        OnRunPropertyJob(wParam, lParam);
        return 0;
    default:
        return 0;
    }
}

intptr_t CMainFrame::OnMessageBox(uintptr_t wParam, intptr_t style) {
    if (wParam != 0)
        return 0;
    const bool ownCaption = m_app.MessageBoxCaption().empty();
    const QString caption =
        ownCaption ? QStringLiteral("Quillon") : ToQString(m_app.MessageBoxCaption());
    // An application message box has no owner; one with a caption of its own belongs to the
    // frame.
    const int32_t result = RunMessageBox(ownCaption ? nullptr : this, caption,
                                         ToQString(m_app.MessageBoxText()), style);
    m_app.SetMessageBoxResult(result);
    return result;
}

void CMainFrame::OnStartUp() {
    m_app.StartWorkerThreads();
    if (platform::ReadSettingInt(kScriptingSection, kScriptSocketKey, 1,
                                 m_app.SettingsFilePath()) != 0)
        StartScriptSocket();
    if (m_fileHooks.offerLastDefinition)
        m_fileHooks.offerLastDefinition();
    RefreshViews(REFRESH_STATUS | REFRESH_CONSOLE | REFRESH_PROPERTIES);
}

void CMainFrame::OnConsoleEcho() {
    std::pair<std::u16string, uint64_t> echo;
    if (m_echoes.Take(echo) && ConsoleValid())
        m_console->AppendEcho(echo.first, echo.second);
}

void CMainFrame::OnDrainReplies() {
    std::vector<std::u16string> lines;
    if (!m_replies.Take(lines))
        return;
    uint32_t flags = 0;
    for (const std::u16string& line : lines) {
        bool unread = false;
        m_app.HandleReplyLine(flags, line, &unread);
        if (unread && m_roundInFlight) {
            // The round's value would be the one stored before: the round fails (a gap).
            std::lock_guard<std::mutex> guard(m_roundLock);
            m_roundEnd.ok = false;
            if (m_roundEnd.reason.empty())
                m_roundEnd.reason = FormatMsg(MSG_MONITOR_UNREAD_VALUE, {line.substr(1)});
        }
    }
    if (flags)
        RefreshViews(flags);
}

void CMainFrame::OnShowResult() {
    TransactionReport report;
    if (!m_results.Take(report))
        return;
    // The reply shows in the console with its result, however much traffic waits before it.
    if (ConsoleValid())
        m_console->ShowReply(report.receivedUpTo);
    if (!m_lower->isVisible())
        return;
    const int code = report.replyCode;
    m_lower->SetResult(barstatus::MakeResultLook(report.status, code, ReplyCodeText(code)));
}

void CMainFrame::FlushConsole() {
    clCommunicateModel* engine = m_app.Engine();
    if (!ConsoleValid() || !engine)
        return;
    m_consoleBacklog = m_console->Flush();
    engine->SetConsoleBacklog(static_cast<int64_t>(m_consoleBacklog));
    m_lastFlush.start();
}

// ---------------------------------------------------------------------------------------------
// The engine's events

void CMainFrame::Queue(std::function<void()> call) {
    Deliver([this, call = std::move(call)] {
        if (!m_detached)
            call();
    });
}

void CMainFrame::JobStarted(JobKind) {
    m_script->JobStarted();
    PostUiMessage(UM_REFRESH_VIEWS, 0, REFRESH_STATUS | REFRESH_CONSOLE | REFRESH_PROPERTIES);
}

void CMainFrame::CommandSent(const std::u16string& text, uint64_t receivedBefore) {
    m_echoes.Put({text, receivedBefore});
    PostUiMessage(UM_CONSOLE_ECHO, 0, 0);
}

void CMainFrame::TransactionEnded(const TransactionReport& report) {
    m_script->TransactionEnded(report);
    m_results.Put(report);
    PostUiMessage(UM_SHOW_RESULT, 0, 0);
    if (m_roundInFlight && !report.Ok()) {
        std::lock_guard<std::mutex> guard(m_roundLock);
        m_roundEnd.ok = false;
        if (m_roundEnd.reason.empty())
            m_roundEnd.reason = !report.refusal.empty() ? report.refusal
                                : report.replyCode != kNoReplyCode
                                    ? std::u16string(ReplyCodeText(report.replyCode))
                                    : std::u16string(Msg(MSG_ERROR));
    }
    if (!report.Ok())
        return;
    // The worker waits: the next command of the job is composed with what these lines carry.
    m_replies.Put(report.replyLines);
    if (SendUiMessage(UM_DRAIN_REPLIES, 0, 0) == 0 && m_detached) {
        std::vector<std::u16string> dropped;
        m_replies.Take(dropped);
    }
}

void CMainFrame::ConsoleFlushWanted() {
    PostUiMessage(UM_CONSOLE_FLUSH, 0, 0);
}

void CMainFrame::BatchProgressed(const BatchProgress& progress) {
    m_script->BatchProgressed(progress);
    if (progress.outcome != BatchProgress::kRunning) {
        Queue([this, progress] { OnBatchProgress(progress); });
        return;
    }
    // A running report replaces the one before it that the window has not shown yet.
    bool first;
    {
        std::lock_guard<std::mutex> guard(m_progressLock);
        first = !m_pendingProgress;
        m_pendingProgress = std::make_unique<BatchProgress>(progress);
    }
    if (first)
        Queue([this] {
            std::unique_ptr<BatchProgress> p;
            {
                std::lock_guard<std::mutex> guard(m_progressLock);
                p = std::move(m_pendingProgress);
            }
            if (p)
                OnBatchProgress(*p);
        });
}

void CMainFrame::JobEnded(const JobReport& report) {
    // A Monitor round that waits goes before a script's next job (queued first).
    Queue([this] {
        if (m_monitor)
            m_monitor->EngineReady();
    });
    m_script->JobEnded(report);
    PostUiMessage(UM_CLOSE_WAIT_DIALOG, 0, 0);
    PostUiMessage(UM_REFRESH_VIEWS, 0, REFRESH_STATUS | REFRESH_CONSOLE | REFRESH_PROPERTIES);
    if (m_roundInFlight) {
        RoundEnd end;
        std::function<void(const RoundEnd&)> ended;
        {
            std::lock_guard<std::mutex> guard(m_roundLock);
            end = std::move(m_roundEnd);
            ended = std::move(m_roundEnded);
        }
        if (end.ok && report.outcome != JobOutcome::kDone) {
            end.ok = false;
            end.reason = Msg(MSG_ERROR);
        }
        m_roundInFlight = false;
        // The reply lines were applied before this (TransactionEnded waits for them).
        Queue([ended = std::move(ended), end = std::move(end)] {
            if (ended)
                ended(end);
        });
        return; // a round leaves the focus where it is
    }
    if (report.kind == JOB_SINGLE_COMMAND)
        PostUiMessage(UM_ACTIVATE_CONSOLE, 0, 0);
}

void CMainFrame::BytesReceived() {
    // Receive thread: at most one call waits in the queue.
    if (!m_flushQueued.exchange(true))
        Queue([this] { OnEngineActivity(true); });
}

void CMainFrame::StateChanged() {
    if (!m_enablesQueued.exchange(true))
        Queue([this] { OnEngineActivity(false); });
}

int32_t CMainFrame::Ask(const EngineQuestion& question) {
    if (m_roundInFlight) {
        std::lock_guard<std::mutex> guard(m_roundLock);
        m_roundEnd.ok = false;
        m_roundEnd.reason = question.text;
        return IDOK;
    }
    // A script confirmed what it asked for in its request: no box opens for it.
    if (m_script->AnswersQuestions(QThread::currentThread() == thread())) {
        const uint32_t buttons = question.style & 0xF;
        return buttons == MB_YESNO || buttons == MB_YESNOCANCEL ? IDYES : IDOK;
    }
    return m_app.RequestMessageBox(question.text, question.caption, question.style);
}

int32_t CMainFrame::SubmitRound(const std::function<int32_t()>& submit,
                                std::function<void(const RoundEnd&)> ended) {
    if (m_commitsWaiting > 0)
        return SUBMIT_BUSY;
    {
        std::lock_guard<std::mutex> guard(m_roundLock);
        m_roundEnd = {};
        m_roundEnded = std::move(ended);
    }
    m_roundInFlight = true;
    const int32_t result = submit();
    if (result != SUBMIT_OK) {
        m_roundInFlight = false;
        std::lock_guard<std::mutex> guard(m_roundLock);
        m_roundEnded = nullptr;
    }
    return result;
}

void CMainFrame::ShowMonitor() {
    if (!m_monitor)
        m_monitor = new CMonitorPanel(m_app, *this);
    m_monitor->show();
    m_monitor->raise();
    m_monitor->activateWindow();
}

void CMainFrame::Post(std::function<void()> task, int delayMs) {
    Queue([this, task = std::move(task), delayMs] {
        if (delayMs <= 0)
            task();
        else
            QTimer::singleShot(delayMs, this, [this, task] {
                if (!m_detached)
                    task();
            });
    });
}

void CMainFrame::Pump() {
    PumpWhileWaiting()();
}

void CMainFrame::OnEngineActivity(bool received) {
    if (!received) {
        m_enablesQueued = false;
        if (!m_detached)
            UpdateCommandEnables();
        return;
    }
    // Cleared before the bytes are taken: bytes arriving from now on queue another call.
    m_flushQueued = false;
    if (m_detached || m_flushTimer->isActive())
        return;
    const qint64 since = m_lastFlush.isValid() ? m_lastFlush.elapsed() : kFlushIntervalMs;
    if (since >= kFlushIntervalMs)
        FlushReceived();
    else
        m_flushTimer->start(static_cast<int>(kFlushIntervalMs - since));
}

void CMainFrame::FlushReceived() {
    if (m_detached)
        return;
    FlushConsole();
    // One flush takes a bounded share; the rest follows at the next pass of the event loop.
    if (m_app.Engine() && ConsoleValid() && m_consoleBacklog > 0)
        m_flushTimer->start(kFlushIntervalMs);
}

void CMainFrame::OnRunPropertyJob(uintptr_t generation, intptr_t index, bool confirmed) {
    clCommunicateModel* engine = m_app.Engine();
    if (!PropertyViewValid() || !engine || index < 0)
        return;
    // The message was posted; the definition may have been closed or reloaded since, and
    // another job may have started. The record is named by load generation and index, never
    // by its address, and the engine checks again that it is ready.
    const clCamProperty* property =
        engine->PropertyManager().RecordOf(generation, static_cast<uint32_t>(index));
    if (!property)
        return;
    if (m_propertyCalls.reloadValues)
        m_propertyCalls.reloadValues();
    const int32_t result = engine->RunPropertyJob(property, confirmed);
    if (result == SUBMIT_BUSY || result == SUBMIT_BUSY_CONFIRMED) {
        // A second commit while a job runs or waits (or one that started while the operator's
        // box was open): it runs after that job, before any round of the Monitor, and is not
        // asked again.
        confirmed = confirmed || result == SUBMIT_BUSY_CONFIRMED;
        ++m_commitsWaiting;
        QTimer::singleShot(static_cast<int>(clCommunicateModel::kPollMs), this,
                           [this, generation, index, confirmed] {
                               --m_commitsWaiting;
                               if (!m_detached)
                                   OnRunPropertyJob(generation, index, confirmed);
                           });
    } else if (result != SUBMIT_OK && result != SUBMIT_DECLINED) {
        // Refused: the view shows the stored values and the enable states as they are.
        RefreshViews(REFRESH_STATUS | REFRESH_PROPERTIES | REFRESH_RELOAD_VALUES);
    }
}

void CMainFrame::ShowStatusText(const QString& text) {
    m_batchLabel->setText(text);
    statusBar()->show();
}

void CMainFrame::OnBatchProgress(const BatchProgress& p) {
    m_batchBar->setRange(0, static_cast<int>(std::min<size_t>(p.total, INT_MAX)));
    m_batchBar->setValue(static_cast<int>(std::min<size_t>(p.done, INT_MAX)));
    if (p.outcome == BatchProgress::kRunning) {
        m_batchBar->show();
        ShowStatusText(ToQString(BatchProgressText(p)));
        return;
    }
    m_batchBar->hide();
    const std::u16string outcome = BatchOutcomeText(p);
    if (outcome.empty())
        return;
    ShowStatusText(ToQString(outcome));
    if (ConsoleValid())
        m_console->AppendText(u"\r\n" + outcome + u"\r\n");
    if (m_app.AppLog())
        m_app.AppLog()->Write(outcome);
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() == 1 && urls.front().isLocalFile() &&
        mainframe::ClassifyDrop(urls.front().fileName().toStdU16String(), CurrentEngineState()) !=
            mainframe::DropAction::kIgnore)
        event->acceptProposedAction();
    else
        event->ignore();
}

void CMainFrame::dragMoveEvent(QDragMoveEvent* event) {
    event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() != 1 || !urls.front().isLocalFile()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    DropFile(urls.front().toLocalFile());
}

void CMainFrame::DropFile(const QString& path) {
    using mainframe::DropAction;
    const std::u16string file = path.toStdU16String();
    // The state is asked now: a job may have started since the drag entered.
    switch (mainframe::ClassifyDrop(QFileInfo(path).fileName().toStdU16String(),
                                    CurrentEngineState())) {
    case DropAction::kOpenDefinition:
        if (m_fileHooks.openDefinition)
            m_fileHooks.openDefinition(file);
        RefreshViews(REFRESH_STATUS | REFRESH_CONSOLE | REFRESH_PROPERTIES);
        break;
    case DropAction::kLoadBatch: {
        const QString question =
            ToQString(FormatMsg(MSG_DROP_TEXT_LOAD, {QFileInfo(path).fileName().toStdU16String()}));
        if (RunMessageBox(this, ToQString(Msg(MSG_TEXT_LOAD)), question,
                          MB_OKCANCEL | MB_ICONQUESTION) != IDOK)
            break;
        // The box let other work run: the rule is asked again, as a click would be.
        if (mainframe::IsCommandEnabled(mainframe::ID_TEXT_LOAD, CurrentEngineState())) {
            if (m_fileHooks.replayBatchFile)
                m_fileHooks.replayBatchFile(file);
        } else {
            ShowStatusText(ToQString(Msg(MSG_DROP_REFUSED_BUSY)));
        }
        break;
    }
    case DropAction::kRefuseBusy:
        ShowStatusText(ToQString(Msg(MSG_DROP_REFUSED_BUSY)));
        QApplication::beep();
        break;
    case DropAction::kIgnore:
        break;
    }
}

// ---------------------------------------------------------------------------------------------
// Refresh

mainframe::EngineState CMainFrame::CurrentEngineState() const {
    mainframe::EngineState s;
    s.portSelected = m_app.CurrentPort() != nullptr;
    if (const clCommunicateModel* engine = m_app.Engine()) {
        s.connected = engine->IsConnected() ? 1 : 0;
        s.busy = engine->IsBusy() ? 1 : 0;
        s.phase = engine->Phase();
        s.definitionLoaded = engine->PropertyManager().IsLoaded();
    }
    return s;
}

void CMainFrame::UpdateCommandEnables() {
    const mainframe::EngineState s = CurrentEngineState();
    for (auto& [id, action] : m_actions)
        action->setEnabled(mainframe::IsCommandEnabled(id, s));
    if (QAction* traffic = Action(mainframe::kTrafficLogCommand))
        traffic->setChecked(m_app.Engine() && m_app.Engine()->Traffic().IsOpen());
    if (QAction* socket = Action(mainframe::kScriptSocketCommand))
        socket->setChecked(m_script->Listening());
    using namespace mainframe;
    for (int control : barcontrol::kCommandButtons)
        m_upper->SetCommandEnabled(control, IsCommandEnabled(CommandOfControl(control), s));
    m_upper->SetFileMenuEnables(IsCommandEnabled(ID_SELECT_FILE, s),
                                IsCommandEnabled(ID_AUTO_SELECT, s));
    m_upper->SetConnectionState(s.portSelected, s.connected != 0);
    m_lower->SetCancelEnabled(IsCommandEnabled(IDC_CANCEL_RECEIVING, s));
}

void CMainFrame::RefreshViews(uint32_t flags) {
    if (flags & REFRESH_STATUS)
        RefreshStatus();
    if ((flags & REFRESH_CONSOLE) && ConsoleValid())
        m_console->Refresh(m_app.IsEngineReady());
    if ((flags & REFRESH_PROPERTIES) && PropertyViewValid() && m_propertyCalls.refresh)
        m_propertyCalls.refresh(flags);
    if ((flags & REFRESH_PROPERTIES) && m_monitor)
        m_monitor->DefinitionMayHaveChanged();
    if (flags)
        UpdateCommandEnables();
}

void CMainFrame::RefreshStatus() {
    const bool connected = m_app.IsConnected();
    if (m_upper->isVisible()) {
        m_upper->SetConnectionState(m_app.CurrentPort() != nullptr, connected);
        m_upper->SetPort(ToQString(m_app.PortNameText()), ToQString(m_app.PortDescriptionText()),
                         m_app.CurrentPort() != nullptr);
        m_upper->SetLineSpeed(ToQString(m_app.LineSpeedText()));
        if (const clCommunicateModel* engine = m_app.Engine())
            m_upper->SetCameraIdentity(ToQString(engine->CameraModel()),
                                       ToQString(engine->CameraVersion()),
                                       ToQString(engine->CameraSerial()));
        const mainframe::EngineState s = CurrentEngineState();
        m_upper->SetFileMenuEnables(mainframe::IsCommandEnabled(mainframe::ID_SELECT_FILE, s),
                                    mainframe::IsCommandEnabled(mainframe::ID_AUTO_SELECT, s));
    }
    if (m_lower->isVisible()) {
        m_lower->SetConnected(connected);
        if (const clWatchThread* watch = m_app.Watch())
            m_lower->SetElapsedTime(ToQString(watch->ElapsedText()));
    }
    UpdateTitle();
}

void CMainFrame::UpdateTitle() {
    QString title = ToQString(m_app.WindowTitle());
    // The path of the last definition is kept after a close or a failed open (for the next
    // offer); the title names it only while that definition is loaded.
    const bool loaded = m_app.Engine() && m_app.Engine()->PropertyManager().IsLoaded();
    if (loaded && !m_app.CurrentDefinitionFile().empty())
        title +=
            QStringLiteral(" - ") + QFileInfo(ToQString(m_app.CurrentDefinitionFile())).fileName();
    if (windowTitle() != title)
        setWindowTitle(title);
}

// ---------------------------------------------------------------------------------------------
// Commands

QAction* CMainFrame::Action(int id) const {
    auto it = m_actions.find(id);
    return it == m_actions.end() ? nullptr : it->second;
}

void CMainFrame::RunCommand(int id) {
    using namespace mainframe;
    // The rule is checked again here: a click may reach the window after the state changed.
    if (!IsCommandEnabled(id, CurrentEngineState())) {
        UpdateCommandEnables();
        return;
    }
    switch (id) {
    case ID_SELECT_FILE:
        if (m_fileHooks.selectFile)
            m_fileHooks.selectFile();
        RefreshViews(REFRESH_STATUS | REFRESH_CONSOLE | REFRESH_PROPERTIES);
        break;
    case ID_AUTO_SELECT:
        AutoSelect();
        break;
    case ID_CLOSE_DEFINE:
        if (m_fileHooks.closeDefinition)
            m_fileHooks.closeDefinition();
        RefreshViews(REFRESH_STATUS | REFRESH_CONSOLE | REFRESH_PROPERTIES | REFRESH_RELOAD_VALUES);
        break;
    case ID_TEXT_SAVE:
        if (m_fileHooks.textSave)
            m_fileHooks.textSave();
        break;
    case ID_TEXT_LOAD:
        if (m_fileHooks.textLoad)
            m_fileHooks.textLoad();
        break;
    case ID_CONNECT:
        Connect();
        break;
    case ID_DISCONNECT:
        Disconnect();
        break;
    case ID_COMM_SETTINGS:
        CommunicationSettings();
        break;
    case ID_APP_ABOUT:
        About();
        break;
    case ID_APP_EXIT:
        close();
        break;
    case ID_WINDOW_SPLIT:
        StartSplitMode();
        break;
    case kTrafficLogCommand:
        ToggleTrafficLog();
        break;
    case kMonitorCommand:
        ShowMonitor();
        break;
    case kScriptSocketCommand:
        ToggleScriptSocket();
        break;
    case IDC_CANCEL_RECEIVING:
        if (clCommunicateModel* engine = m_app.Engine())
            engine->CancelReceiving();
        break;
    case IDC_SHOW_CONSOLE:
        placement::ShowConsoleColumn(this, m_splitter);
        break;
    case IDC_HIDE_CONSOLE:
        placement::HideConsoleColumn(m_splitter);
        break;
    default:
        break;
    }
}

void CMainFrame::AutoSelect() {
    if (clCommunicateModel* engine = m_app.Engine())
        engine->SubmitCommandJob(u"sta", true);
}

void CMainFrame::Connect() {
    const uint32_t all = REFRESH_STATUS | REFRESH_CONSOLE | REFRESH_PROPERTIES;
    if (!m_app.CurrentPort()) {
        RefreshViews(all);
        return;
    }
    const int32_t result = m_app.ConnectCamera();
    if (result == PORT_OK) {
        RefreshViews(all);
        return;
    }
    RunMessageBox(this, M(MSG_CONNECT_FAILED),
                  ToQString(ConnectFailureText(result, m_app.PortReasonLine())),
                  MB_OK | MB_ICONWARNING);
    m_app.AbandonConnect();
    RefreshViews(all);
}

void CMainFrame::Disconnect() {
    m_flushTimer->stop();
    m_app.DisconnectCamera();
    // What arrived before the port closed still goes to the console.
    FlushConsole();
    RefreshViews(REFRESH_STATUS | REFRESH_CONSOLE | REFRESH_PROPERTIES);
}

void CMainFrame::ConsoleNote(const std::u16string& text) {
    if (ConsoleValid())
        m_console->AppendText(u"\r\n" + text + u"\r\n");
}

void CMainFrame::PortLost(const std::u16string& device) {
    m_flushTimer->stop();
    FlushConsole();
    const std::u16string text = FormatMsg(MSG_PORT_LOST, {device});
    ConsoleNote(text);
    RefreshViews(REFRESH_STATUS | REFRESH_CONSOLE | REFRESH_PROPERTIES);
    if (m_script)
        m_script->PortLost(device);
    RunMessageBox(this, QStringLiteral("Quillon"), ToQString(text), MB_OK | MB_ICONWARNING);
}

void CMainFrame::PortReturned(const std::u16string& device, const CameraIdentity& identity,
                              const CameraIdentity& before) {
    ConsoleNote(FormatMsg(MSG_PORT_RECONNECTED, {device}));
    RefreshViews(REFRESH_STATUS | REFRESH_CONSOLE | REFRESH_PROPERTIES);
    if (m_script)
        m_script->PortReturned(device, identity);
    if (before.Empty() || identity.Empty() || identity == before)
        return;
    const std::u16string warning =
        FormatMsg(MSG_PORT_OTHER_CAMERA, {device, before.Text(), identity.Text()});
    ConsoleNote(warning);
    RunMessageBox(this, QStringLiteral("Quillon"), ToQString(warning), MB_OK | MB_ICONWARNING);
}

void CMainFrame::CommunicationSettings() {
    InterfaceList interfaces(m_app.Interfaces());
    commsettings::Data data;
    data.firstReceive = m_app.TimeoutFirstRecv();
    data.nextReceive = m_app.TimeoutNextRecv();
    data.send = m_app.TimeoutSend();
    data.selectedInterface = m_app.SelectedInterfaceIndex();
    CCamSelDlg dialog(interfaces, data, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const commsettings::Data& out = dialog.Data();
    m_app.SetTimeouts(out.firstReceive, out.nextReceive, out.send);
    const std::u16string& ini = m_app.SettingsFilePath();
    auto number = [](uint32_t v) { return platform::Utf8ToUtf16(std::to_string(v)); };
    platform::WriteSetting(u"TARN_Timeouts", u"First Recv", number(out.firstReceive), ini);
    platform::WriteSetting(u"TARN_Timeouts", u"Next Recv", number(out.nextReceive), ini);
    platform::WriteSetting(u"TARN_Timeouts", u"Send", number(out.send), ini);

    if (const std::u16string name = m_app.SelectInterface(out.selectedInterface); !name.empty())
        platform::WriteSetting(m_app.ChannelSection(), u"SelectInterface", name, ini);
    RefreshStatus();
    UpdateCommandEnables();
}

void CMainFrame::About() {
    AboutInfo info;
    const std::string program = platform::ProgramFilePath();
    info.programName =
        QFileInfo(QString::fromStdString(program)).completeBaseName().toStdU16String();
    nsGen::FileVerInfo version;
    if (version.LoadVersionInfo(program)) {
        uint32_t ms = 0, ls = 0;
        if (version.GetFixedFileVersion(ms, ls))
            SplitFileVersion(ms, ls, info);
        info.copyright = version.GetString(u"LegalCopyright");
    }
    info.interfaceLabels = m_app.Interfaces().versionTexts;
    CAboutDlg dialog(info, this);
    dialog.exec();
}

// ---------------------------------------------------------------------------------------------
// Close

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (m_app.IsConnected()) {
        const int32_t answer =
            RunMessageBox(nullptr, QStringLiteral("Quillon"), M(MSG_CONFIRM_DISCONNECT_EXIT),
                          MB_YESNO | MB_ICONQUESTION | kMbDefaultButton2);
        if (answer != IDYES) {
            event->ignore();
            return;
        }
        m_flushTimer->stop();
        m_app.DisconnectCamera();
    } else if (clCommunicateModel* engine = m_app.Engine()) {
        // A job can only run while connected; wait for one that is still ending all the same.
        engine->WaitUntilIdle(PumpWhileWaiting());
    }
    if (m_fileHooks.closeDefinition)
        m_fileHooks.closeDefinition();
    if (!m_placementSaved && !m_app.SettingsFilePath().empty()) {
        placement::IniStore store(m_app.SettingsFilePath());
        placement::SaveWindowPlacement(this, m_splitter, store);
        m_placementSaved = true;
    }
    event->accept();
}

// ---------------------------------------------------------------------------------------------
// Panes and the keyboard split mode

void CMainFrame::NextPane(bool forward) {
    QList<QWidget*> panes;
    if (ConsoleValid() && m_splitter->sizes().value(0) > 0)
        panes << m_console.data();
    panes << m_splitter->widget(1);
    if (panes.isEmpty())
        return;
    int current = -1;
    for (int i = 0; i < panes.size(); ++i)
        if (panes[i]->isAncestorOf(QApplication::focusWidget()))
            current = i;
    const int count = static_cast<int>(panes.size());
    const int next = current < 0 ? 0 : (current + (forward ? 1 : count - 1)) % count;
    if (panes[next] == m_console.data())
        m_console->Activate();
    else
        panes[next]->setFocus(Qt::TabFocusReason);
}

void CMainFrame::ToggleTrafficLog() {
    if (!m_app.Engine())
        return;
    clTrafficLog& traffic = m_app.Engine()->Traffic();
    if (traffic.IsOpen()) {
        traffic.Close();
    } else {
        const std::u16string path = TrafficLogPathBeside(m_app.SettingsFilePath());
        if (!traffic.Open(platform::Utf16ToPath(path)))
            RunMessageBox(this, M(MSG_ERROR),
                          M(MSG_TRAFFIC_LOG_FAILED) + QStringLiteral("\n") + ToQString(path),
                          MB_OK | MB_ICONWARNING);
    }
    UpdateCommandEnables();
}

void CMainFrame::ToggleScriptSocket() {
    const bool on = !m_script->Listening();
    if (on)
        StartScriptSocket();
    else
        m_script->Stop();
    platform::WriteSetting(kScriptingSection, kScriptSocketKey, on ? u"1" : u"0",
                           m_app.SettingsFilePath());
    UpdateCommandEnables();
}

void CMainFrame::StartScriptSocket() {
    const std::string path =
        serve::WindowSocketPath(m_app.GetEnvironment().scriptFolder, m_app.InstanceNumber());
    std::string error = "XDG_RUNTIME_DIR is not set";
    if (!path.empty() && m_script->Start(path, error))
        return;
    const std::u16string text = FormatMsg(MSG_SCRIPT_SOCKET_FAILED, {platform::Utf8ToUtf16(error)});
    if (m_app.AppLog())
        m_app.AppLog()->Write(text);
}

void CMainFrame::StartSplitMode() {
    QSplitterHandle* handle = m_splitter->handle(1);
    if (!handle || m_splitMode)
        return;
    m_splitMode = true;
    m_splitSizesBefore = m_splitter->sizes();
    handle->setFocusPolicy(Qt::StrongFocus);
    handle->installEventFilter(this);
    handle->setFocus(Qt::ShortcutFocusReason);
    handle->grabKeyboard();
}

void CMainFrame::EndSplitMode(bool keep) {
    QSplitterHandle* handle = m_splitter->handle(1);
    if (!m_splitMode || !handle)
        return;
    m_splitMode = false;
    handle->releaseKeyboard();
    handle->removeEventFilter(this);
    handle->setFocusPolicy(Qt::NoFocus);
    if (!keep)
        m_splitter->setSizes(m_splitSizesBefore);
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
    if (m_splitMode && watched == m_splitter->handle(1)) {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            QList<int> sizes = m_splitter->sizes();
            const int step = 8;
            switch (key) {
            case Qt::Key_Left:
            case Qt::Key_Right:
                if (sizes.size() == 2) {
                    const int delta = key == Qt::Key_Left ? -step : step;
                    const int total = sizes[0] + sizes[1];
                    sizes[0] = std::clamp(sizes[0] + delta, 0, total);
                    sizes[1] = total - sizes[0];
                    m_splitter->setSizes(sizes);
                }
                return true;
            case Qt::Key_Return:
            case Qt::Key_Enter:
                EndSplitMode(true);
                return true;
            case Qt::Key_Escape:
                EndSplitMode(false);
                return true;
            default:
                return true;
            }
        }
        if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::FocusOut) {
            EndSplitMode(true);
            return false;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}
