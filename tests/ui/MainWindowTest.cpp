// The assembled main window: enable rules of every command, menus in both languages, connect
// and disconnect against the camera simulator on a pseudo-terminal, the connect failure
// messages, the result display, a console command with its echo and reply, and the close
// sequence. Real application start-up, real engine and worker thread, real widgets.
#include "BoxAnswer.h"
#include "QtAppTest.h"
#include "app/Application.h"
#include "app/Monitor.h"
#include "app/PortLinkGuard.h"
#include "app/PortReasonText.h"
#include "base/MessageTable.h"
#include "base/Messages.h"
#include "camdef/CamPropertyMgr.h"
#include "comm/CommunicateModel.h"
#include "comm/EngineProbe.h"
#include "comm/ReplyCollector.h"
#include "comm/TrafficLog.h"
#include "components/vorlix/Vorlix.h"
#include "platform/IniProfile.h"
#include "platform/Text.h"
#include "platform/WorkingSet.h"
#include "port/PortComm.h"
#include "port/PortReason.h"
#include "support/AppEnvironment.h"
#include "support/FakeWorkingSet.h"
#include "support/LogText.h"
#include "support/TempDir.h"
#include "textfiles/BatchText.h"
#include "textfiles/TextFiles.h"
#include "tools/camsim/PtyServer.h"
#include "ui/AboutDlg.h"
#include "ui/CamPropertyForm.h"
#include "ui/CamSelDlg.h"
#include "ui/ConsoleEdit.h"
#include "ui/ConsoleForm.h"
#include "ui/DialogBars.h"
#include "ui/DialogTemplate.h"
#include "ui/ImageButton.h"
#include "ui/MainFrame.h"
#include "ui/MainFrameLogic.h"
#include "ui/MonitorPanel.h"
#include "ui/QuastorSettingDialog.h"
#include "ui/QuillonApp.h"
#include "ui/SimpleSelectDlg.h"
#include "ui/TextFilesUi.h"
#include "ui/VorlixSettingDialog.h"
#include "ui/WaitMsgDlg.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QChartView>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <QTranslator>
#include <QUrl>
#include <chrono>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <regex>
#include <thread>

using namespace mainframe;

namespace {

QString M(int id) {
    return QString::fromUtf16(Msg(id));
}

// A port whose Connect returns what the test asks for: the failure codes 9 to 14 name steps
// of a real device set-up that a pseudo-terminal never fails.
struct FakePort {
    static inline int32_t connectResult = 0;
    static inline int32_t connected = 0;
    static inline int inits = 0, uninits = 0, disconnects = 0;
    static void Reset(int32_t result) {
        connectResult = result;
        connected = 0;
        inits = uninits = disconnects = 0;
    }
    static inline PortOpTable ops = {
        [] { return ++inits, 0; },
        [] { ++uninits; },
        [] {
            // A port that fails after opening its device still reports itself connected.
            connected = connectResult == 0 || connectResult >= 12 ? 1 : 0;
            return connectResult;
        },
        [] { ++disconnects, connected = 0; },
        [](const uint8_t*, uint32_t) { return 5; },
        [](ReceiveCallback, void*) { return 0; },
        [](int32_t) { return 0; },
        [](int32_t* ms) { return *ms = 20000, 0; },
        [] { return connected; },
        []() -> uint32_t { return 115200; },
    };
    static inline InterfaceTable table = {
        [] { return 1; },
        []() -> const char16_t* { return u"Fake IF"; },
        [] { return 0; },
        []() -> const char16_t* { return u"fake0"; },
        []() -> PortOpTable* { return &ops; },
        []() -> const char16_t* { return u""; },
    };
};

// The application started in a folder of its own, with the simulator on a pseudo-terminal
// chosen as the built-in serial port, and its main window.
class MainWindowTest : public QtAppTest {
protected:
    void SetUp() override {
        settings = platform::Utf8ToUtf16(folder.file("Quillon_00.ini"));
        ASSERT_EQ(sim.Load(std::string(QUILLON_SOURCE_DIR) + "/CamDefine/XC-100.xml"), 0);
        sim.identity.model = u"XC-100";
        sim.identity.version = u"1.02";
        sim.identity.serial = u"12345";
        link = folder.file("camsim");
        ASSERT_TRUE(server.Open(link));
        server.faults = faults;
        ASSERT_TRUE(server.Start());
        const std::u16string channel = u"CAMERA_COMM_Ch00";
        platform::WriteSetting(u"Internationalize", u"Force English", japanese ? u"0" : u"1",
                               settings);
        platform::WriteSetting(channel, u"SelectInterface", u"COM port(Build In)", settings);
        platform::WriteSetting(channel, u"COM Port Name",
                               VorlixPortNameOfPath(platform::Utf8ToUtf16(link)), settings);
        VorlixSaveAddedDevices(settings, {platform::Utf8ToUtf16(link)});
        for (const char16_t* key : {u"First Recv", u"Next Recv"})
            platform::WriteSetting(u"TARN_Timeouts", key, receiveTimeout, settings);
        platform::WriteSetting(u"TARN_Timeouts", u"Send", u"3000", settings);

        app.SetEnvironment(TestEnvironment(folder.str(), locks.str(), &workingSet));
        ASSERT_EQ(app.StartUp(), 0);
        frame = std::make_unique<CMainFrame>(app);
        frame->show();
        frame->PostUiMessage(UM_STARTUP, 0, 0);
        QCoreApplication::processEvents();
        ASSERT_TRUE(WaitProcessingEvents([&] { return app.Engine()->WorkerExists(); }));
    }

    void TearDown() override {
        if (frame) {
            frame->ShutDownThreads();
            if (app.IsConnected())
                app.DisconnectCamera();
            frame.reset();
        }
        app.ShutDown();
        server.Stop();
    }

    // Selects the fake port instead of the simulator's.
    void SelectFakePort(int32_t connectResult) {
        FakePort::Reset(connectResult);
        app.Interfaces().Register(&FakePort::table, "", nullptr);
        app.SelectInterface(static_cast<int32_t>(app.Interfaces().Count()) - 1);
        frame->RefreshViews(REFRESH_STATUS);
    }

    CImageButton* Button(int id) { return frame->UpperBar()->Button(id); }
    QString LowerText(int id) {
        return frame->LowerBar()->findChild<QLineEdit*>(QStringLiteral("ctl%1").arg(id))->text();
    }
    CColorEdit* ResultEdit() {
        return frame->LowerBar()->findChild<CColorEdit*>(QStringLiteral("ctl1076"));
    }
    QString ConsoleText() {
        return QString::fromStdU16String(frame->Console()->Output()->Store().Text());
    }

    TempDir folder;
    TempDir locks;
    FakeWorkingSet workingSet;
    std::u16string settings;
    clCameraSim sim;
    CamSimFaults faults;
    // First and Next Recv. A camera that never answers waits far longer than any test step
    // takes on a loaded machine, so no receive time-out box comes in between.
    static constexpr const char16_t* kSilentReceiveTimeout = u"60000";
    const char16_t* receiveTimeout = u"3000";
    bool japanese = false; // "Force English" 0 (the user's language decides)
    clPtyServer server{sim};
    std::string link;
    clApplication app;
    std::unique_ptr<CMainFrame> frame;
};

QStringList Texts(const QMenu* menu) {
    QStringList out;
    for (QAction* a : menu->actions())
        out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
}

} // namespace

// ---- enable rules, without a window

TEST(MainFrameRules, EveryCommandInEveryEngineState) {
    struct Row {
        const char* state;
        EngineState s;
        // select, auto, close, save, load, connect, disconnect, settings, cancel
        bool expected[9];
    };
    EngineState none;
    EngineState port{true};
    EngineState portLoaded{true, 0, 0, -1, true};
    EngineState ready{true, 1, 0, 0, false};
    EngineState readyLoaded{true, 1, 0, 0, true};
    EngineState waiting{true, 1, 1, 2, true};    // a job waits for the reply
    EngineState between{true, 1, 1, 0, true};    // a job between two commands
    EngineState receiving{true, 1, 1, 3, false}; // reply bytes arriving
    EngineState ending{true, 0, 1, -1, true};    // disconnected, the worker still in a job
    const Row rows[] = {
        {"no port", none, {1, 0, 1, 0, 0, 0, 0, 1, 0}},
        {"port, disconnected", port, {1, 0, 1, 0, 0, 1, 0, 1, 0}},
        {"definition, disconnected", portLoaded, {1, 0, 1, 1, 0, 1, 0, 1, 0}},
        {"connected, ready", ready, {1, 1, 1, 0, 1, 0, 1, 0, 0}},
        {"connected, ready, definition", readyLoaded, {1, 1, 1, 1, 1, 0, 1, 0, 0}},
        {"job waiting for reply", waiting, {0, 0, 0, 0, 0, 0, 1, 0, 1}},
        {"job between commands", between, {0, 0, 0, 1, 0, 0, 1, 0, 1}},
        {"receiving", receiving, {0, 0, 0, 0, 0, 0, 1, 0, 1}},
        {"job still ending after a disconnect", ending, {0, 0, 0, 1, 0, 0, 0, 0, 0}},
    };
    const int ids[9] = {ID_SELECT_FILE, ID_AUTO_SELECT,   ID_CLOSE_DEFINE,
                        ID_TEXT_SAVE,   ID_TEXT_LOAD,     ID_CONNECT,
                        ID_DISCONNECT,  ID_COMM_SETTINGS, IDC_CANCEL_RECEIVING};
    for (const Row& row : rows) {
        for (int i = 0; i < 9; ++i)
            EXPECT_EQ(IsCommandEnabled(ids[i], row.s), row.expected[i])
                << row.state << ", command " << ids[i];
        for (int always : {int(ID_APP_ABOUT), int(ID_APP_EXIT), int(ID_WINDOW_SPLIT),
                           int(IDC_SHOW_CONSOLE), int(IDC_HIDE_CONSOLE)})
            EXPECT_TRUE(IsCommandEnabled(always, row.s)) << row.state;
    }
    EXPECT_FALSE(IsCommandEnabled(12345, ready));
}

TEST(MainFrameRules, BarControlsRunTheirMenuCommands) {
    EXPECT_EQ(CommandOfControl(1012), ID_CONNECT);
    EXPECT_EQ(CommandOfControl(1013), ID_DISCONNECT);
    EXPECT_EQ(CommandOfControl(1201), ID_CLOSE_DEFINE);
    EXPECT_EQ(CommandOfControl(1042), ID_TEXT_SAVE);
    EXPECT_EQ(CommandOfControl(1020), ID_TEXT_LOAD);
    EXPECT_EQ(CommandOfControl(1023), ID_COMM_SETTINGS);
    EXPECT_EQ(CommandOfControl(1021), ID_APP_ABOUT);
    EXPECT_EQ(CommandOfControl(1075), IDC_CANCEL_RECEIVING);
    EXPECT_EQ(CommandOfControl(1043), 0) << "the camera picture has no command";
}

TEST(MainFrameRules, ConnectFailureTexts) {
    EXPECT_EQ(ConnectFailureMessage(8), MSG_CANT_OPEN_PORT);
    EXPECT_EQ(ConnectFailureMessage(9), MSG_GET_PORT_PARAM_FAILED);
    EXPECT_EQ(ConnectFailureMessage(10), MSG_SET_PORT_FAILED);
    EXPECT_EQ(ConnectFailureMessage(11), MSG_INIT_PORT_FAILED);
    EXPECT_EQ(ConnectFailureMessage(12), MSG_INIT_BUFFER_FAILED);
    EXPECT_EQ(ConnectFailureMessage(13), MSG_SET_TIMEOUT_FAILED);
    EXPECT_EQ(ConnectFailureMessage(14), MSG_SET_DTR_FAILED);
    for (int other : {1, 2, 7, 15, -1})
        EXPECT_EQ(ConnectFailureMessage(other), MSG_ERROR) << other;
    // The port's reason, when it gives one, is the second line.
    EXPECT_EQ(ConnectFailureText(10, u"why"), std::u16string(Msg(MSG_SET_PORT_FAILED)) + u"\nwhy");
    EXPECT_EQ(ConnectFailureText(8, u""), std::u16string(Msg(MSG_CANT_OPEN_PORT)));
}

// ---- menus

TEST(MainFrameMenus, BothLanguagesInOrder) {
    int argc = 1;
    char name[] = "test_ui";
    char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::unique_ptr<QApplication> qt;
    if (!QApplication::instance())
        qt = std::make_unique<QApplication>(argc, argv);
    for (int language : {1, 0}) {
        SetUiLanguage(language == 1 ? 1 : 0, language == 1 ? 1033 : 1041);
        ASSERT_EQ(UiLanguageIndex(), language);
        clApplication app;
        CMainFrame frame(app);
        const QList<QAction*> top = frame.menuBar()->actions();
        ASSERT_EQ(top.size(), 4);
        EXPECT_EQ(top[0]->text(), M(MSG_MENU_FILE));
        EXPECT_EQ(top[1]->text(), M(MSG_MENU_COMMUNICATION));
        EXPECT_EQ(top[2]->text(), M(MSG_MENU_VIEW));
        EXPECT_EQ(top[3]->text(), M(MSG_MENU_HELP));
        EXPECT_EQ(Texts(top[0]->menu()),
                  (QStringList{M(MSG_OPEN_CAMERA_DEFINE), M(MSG_CLOSE_CAMERA_DEFINE), "-",
                               M(MSG_TEXT_SAVE), M(MSG_TEXT_LOAD), "-", M(MSG_MENU_EXIT)}));
        EXPECT_EQ(Texts(top[0]->menu()->actions()[0]->menu()),
                  (QStringList{M(MSG_SELECT_FILE), M(MSG_AUTO_SELECT_BY_STA)}));
        EXPECT_EQ(Texts(top[1]->menu()),
                  (QStringList{M(MSG_CONNECT), M(MSG_DISCONNECT), "-", M(MSG_COMM_SETTINGS)}));
        EXPECT_EQ(Texts(top[2]->menu()), (QStringList{M(MSG_MENU_SPLIT), M(MSG_TRAFFIC_LOG),
                                                      M(MSG_MONITOR), M(MSG_SCRIPT_SOCKET)}));
        EXPECT_TRUE(frame.Action(kTrafficLogCommand)->isCheckable());
        EXPECT_TRUE(frame.Action(kScriptSocketCommand)->isCheckable());
        EXPECT_EQ(Texts(top[3]->menu()), QStringList{M(MSG_ABOUT)});
        const QString show =
            frame.LowerBar()->findChild<QAbstractButton*>(QStringLiteral("ctl1203"))->text();
        EXPECT_EQ(show, M(MSG_SHOW_CONSOLE));
        if (language == 1) {
            EXPECT_EQ(top[0]->text(), QStringLiteral("&File"));
            EXPECT_EQ(Texts(top[1]->menu())[3], QStringLiteral("Communication settings"));
            EXPECT_EQ(Texts(top[0]->menu())[6], QStringLiteral("E&xit"));
        } else {
            EXPECT_NE(top[0]->text(), QStringLiteral("&File"));
            EXPECT_EQ(top[0]->text(), QString::fromUtf16(MsgIn(MSG_MENU_FILE, 0)));
        }
        EXPECT_EQ(frame.windowTitle(), QStringLiteral("Quillon (64bit)"));
        // Every command has its action with the id in its name.
        for (int id : {ID_SELECT_FILE, ID_AUTO_SELECT, ID_CLOSE_DEFINE, ID_TEXT_SAVE, ID_TEXT_LOAD,
                       ID_CONNECT, ID_DISCONNECT, ID_COMM_SETTINGS, ID_APP_ABOUT, ID_APP_EXIT,
                       ID_WINDOW_SPLIT})
            EXPECT_NE(frame.Action(id), nullptr) << id;
    }
    SetUiLanguage(1, 1033);
}

// ---- the assembled window

TEST_F(MainWindowTest, ColumnsBarsAndTheSlotOfThePropertyView) {
    QSplitter* splitter = frame->Splitter();
    ASSERT_EQ(splitter->count(), 2);
    EXPECT_EQ(splitter->widget(0), frame->Console());
    EXPECT_EQ(splitter->widget(1)->objectName(), QStringLiteral("propertyViewSlot"));
    uint32_t refreshed = 0;
    int reloads = 0;
    auto* view = new QWidget;
    frame->SetPropertyView(view, {[&](uint32_t f) { refreshed = f; }, [&] { ++reloads; }});
    EXPECT_EQ(splitter->widget(1), view);
    frame->SendUiMessage(UM_REFRESH_VIEWS, 0, REFRESH_PROPERTIES | REFRESH_RELOAD_VALUES);
    EXPECT_EQ(refreshed, uint32_t(REFRESH_PROPERTIES | REFRESH_RELOAD_VALUES));
    refreshed = 99;
    frame->SendUiMessage(UM_REFRESH_VIEWS, 0, 0);
    EXPECT_EQ(refreshed, 99u) << "flags 0 refresh nothing";
    // A view that is gone is never called again.
    delete view;
    frame->SendUiMessage(UM_REFRESH_VIEWS, 0, REFRESH_PROPERTIES);
    frame->SendUiMessage(UM_RUN_PROPERTY_JOB, 1, 0);
    EXPECT_EQ(refreshed, 99u);
    EXPECT_EQ(reloads, 0);
    // The slot takes a new view, and the placeholder again.
    auto* second = new QWidget;
    frame->SetPropertyView(second, {});
    EXPECT_EQ(splitter->widget(1), second);
    frame->SetPropertyView(nullptr, {});
    EXPECT_EQ(splitter->widget(1)->objectName(), QStringLiteral("propertyViewSlot"));
    EXPECT_EQ(splitter->count(), 2);
}

TEST_F(MainWindowTest, ConnectAndDisconnectWithTheBarButtons) {
    frame->RefreshViews(REFRESH_STATUS);
    const QString portName =
        QString::fromStdU16String(VorlixPortNameOfPath(platform::Utf8ToUtf16(link)));
    EXPECT_TRUE(frame->UpperBar()->Edit(1022)->text().startsWith(portName + " , "))
        << "port name and description: " << frame->UpperBar()->Edit(1022)->text().toStdString();
    EXPECT_EQ(frame->UpperBar()->Edit(1022)->Colour(), QColor(128, 192, 128));
    EXPECT_EQ(frame->UpperBar()->Edit(1032)->text(), QStringLiteral("9600 bps"));
    EXPECT_EQ(LowerText(1045), M(MSG_DISCONNECT));
    EXPECT_TRUE(Button(1012)->isEnabled());
    EXPECT_FALSE(Button(1013)->isEnabled());
    EXPECT_TRUE(Button(1013)->IsToggled()) << "Disconnect shows pressed while disconnected";
    EXPECT_FALSE(frame->Action(ID_TEXT_LOAD)->isEnabled());
    EXPECT_TRUE(frame->Action(ID_COMM_SETTINGS)->isEnabled());

    Button(1012)->click();
    ASSERT_TRUE(app.IsConnected());
    EXPECT_EQ(app.Engine()->Phase(), 0);
    EXPECT_TRUE(Button(1012)->IsToggled());
    EXPECT_FALSE(Button(1013)->IsToggled());
    EXPECT_FALSE(Button(1012)->isEnabled());
    EXPECT_TRUE(Button(1013)->isEnabled());
    EXPECT_EQ(LowerText(1045), M(MSG_CONNECT));
    EXPECT_TRUE(frame->Action(ID_TEXT_LOAD)->isEnabled());
    EXPECT_TRUE(frame->Action(ID_AUTO_SELECT)->isEnabled());
    EXPECT_FALSE(frame->Action(ID_COMM_SETTINGS)->isEnabled());
    EXPECT_FALSE(frame->Action(ID_CONNECT)->isEnabled());
    EXPECT_FALSE(frame->ConsoleFlushTimer()->isActive()) << "nothing polls while nothing arrives";

    Button(1013)->click();
    EXPECT_FALSE(app.IsConnected());
    EXPECT_EQ(app.Engine()->Phase(), -1);
    EXPECT_TRUE(Button(1012)->isEnabled());
    EXPECT_TRUE(Button(1013)->IsToggled());
    EXPECT_EQ(LowerText(1045), M(MSG_DISCONNECT));
    EXPECT_FALSE(frame->Action(ID_TEXT_LOAD)->isEnabled());
    EXPECT_FALSE(frame->ConsoleFlushTimer()->isActive());

    // And again through the menu.
    frame->Action(ID_CONNECT)->trigger();
    EXPECT_TRUE(app.IsConnected());
    frame->Action(ID_DISCONNECT)->trigger();
    EXPECT_FALSE(app.IsConnected());
}

TEST_F(MainWindowTest, ConsoleCommandIsEchoedWithItsReply) {
    Button(1012)->click();
    ASSERT_TRUE(app.IsConnected());
    frame->Console()->Input()->setText(QStringLiteral("sta"));
    frame->Console()->Send();
    ASSERT_TRUE(WaitProcessingEvents([&] {
        return ConsoleText().contains(QStringLiteral("Model=XC-100")) && app.IsEngineReady();
    })) << ConsoleText().toStdString();
    const QString text = ConsoleText();
    EXPECT_TRUE(text.startsWith(QStringLiteral("sta\n")) ||
                text.startsWith(QStringLiteral("sta\r")))
        << "the echo comes first, its CR shown as a line end: " << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral(">OK"))) << text.toStdString();
    EXPECT_EQ(ResultEdit()->text(), QStringLiteral("OK"));
    EXPECT_EQ(ResultEdit()->Colour(), QColor(128, 192, 128));
    // The end of a single-command job gives the console's input the focus again.
    EXPECT_TRUE(
        WaitProcessingEvents([&] { return frame->Console()->Input()->selectedText() == "sta"; }));
    EXPECT_TRUE(frame->Console()->Input()->isEnabled());

    // An unknown command: "CMD ERR!" in red.
    frame->Console()->Input()->setText(QStringLiteral("nosuchcommand"));
    frame->Console()->Send();
    ASSERT_TRUE(WaitProcessingEvents(
        [&] { return ResultEdit()->text() == "CMD ERR!" && app.IsEngineReady(); }));
    EXPECT_EQ(ResultEdit()->Colour(), QColor(200, 128, 128));
}

// The console flush of the window takes at most 500 bytes of the engine's ring, one character
// each, and tells the engine the backlog for the next job step to see.
TEST_F(MainWindowTest, ConsoleFlushTakesAShareAndLeavesTheBacklogInTheMailbox) {
    clCommunicateModel& engine = *app.Engine(); // not connected: nothing else reads the ring
    const std::string bytes(1200, 'x');
    engine.Ring().Append(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    frame->SendUiMessage(UM_CONSOLE_FLUSH, 0, 0);
    EXPECT_EQ(ConsoleText().count(QLatin1Char('x')), 500);
    EXPECT_EQ(engine.ConsoleBacklog(), 700);
    frame->SendUiMessage(UM_CONSOLE_FLUSH, 0, 0);
    frame->SendUiMessage(UM_CONSOLE_FLUSH, 0, 0);
    EXPECT_EQ(ConsoleText().count(QLatin1Char('x')), 1200);
    EXPECT_EQ(engine.ConsoleBacklog(), 0);
    // The transaction's reader is not disturbed by the console.
    EXPECT_EQ(engine.Ring().Pending(clRingBuffer::kTransactionReader), 1200u);
}

TEST_F(MainWindowTest, TheViewItemStartsAndStopsTheTrafficLog) {
    Button(1012)->click();
    ASSERT_TRUE(app.IsConnected());
    QAction* item = frame->Action(kTrafficLogCommand);
    ASSERT_NE(item, nullptr);
    const std::u16string path = TrafficLogPathBeside(app.SettingsFilePath());
    WriteFileBytes(platform::Utf16ToUtf8(path), "an earlier line\n");
    item->trigger();
    EXPECT_TRUE(item->isChecked());
    frame->Console()->Input()->setText(QStringLiteral("sta"));
    frame->Console()->Send();
    ASSERT_TRUE(
        WaitProcessingEvents([&] { return ResultEdit()->text() == "OK" && app.IsEngineReady(); }));
    item->trigger();
    EXPECT_FALSE(item->isChecked());
    EXPECT_EQ(path.substr(path.size() - 22), u"Quillon_00_Traffic.txt");
    const std::string log = ReadFileBytes(platform::Utf16ToUtf8(path));
    EXPECT_EQ(log.rfind("an earlier line\n", 0), 0u) << "opened for appending: " << log;
    EXPECT_NE(log.find(" >> sta\\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" << >Model=XC-100\\r\\n\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" == OK ("), std::string::npos) << log;
}

class PortLinkWindowTest : public MainWindowTest {
protected:
    // Connected, with the camera's identity asked once.
    void ConnectAndAskIdentity() {
        Button(1012)->click();
        ASSERT_TRUE(app.IsConnected());
        frame->Console()->Input()->setText(QStringLiteral("sta"));
        frame->Console()->Send();
        ASSERT_TRUE(WaitProcessingEvents([&] { return app.Engine()->CameraSerial() == u"12345"; }));
        ASSERT_TRUE(WaitProcessingEvents([&] { return app.IsEngineReady(); }));
    }
    // The simulator's terminal closes (the adapter is pulled out).
    void Unplug() {
        server.Stop();
        server.CloseTerminal();
    }
    // Unplugged (the loss told in the first box) while another camera, serial 99999, takes
    // the place of this one.
    void ReplaceCameraWhileUnplugged(const BoxAnswer& answer) {
        Unplug();
        ASSERT_TRUE(
            WaitProcessingEvents([&] { return !app.IsConnected() && answer.texts.size() == 1; }));
        std::lock_guard<std::mutex> g(server.SimLock());
        sim.identity.serial = u"99999";
    }
    // And comes back on the same link.
    void PlugIn() {
        ASSERT_TRUE(server.Open(link));
        ASSERT_TRUE(server.Start());
    }
    QString Lost() { return QString::fromStdString("The connection to " + link + " was lost."); }
};

TEST_F(PortLinkWindowTest, VanishedDeviceDisconnectsAndComesBackWithoutResendingAnything) {
    ConnectAndAskIdentity();
    const size_t sent = server.Received().size();
    BoxAnswer answer(QMessageBox::Ok);
    Unplug();
    ASSERT_TRUE(
        WaitProcessingEvents([&] { return !app.IsConnected() && answer.texts.size() == 1; }));
    EXPECT_EQ(answer.texts[0], Lost());
    EXPECT_EQ(answer.icons[0], QMessageBox::Warning);
    EXPECT_TRUE(ConsoleText().contains(Lost()));
    EXPECT_NE(LogText(folder.file("Quillon_00_Log.txt")).find(Lost().toStdString()),
              std::string::npos);
    EXPECT_TRUE(Button(1012)->isEnabled());

    // Back: connected again by itself, said so, and only "sta" went out.
    PlugIn();
    ASSERT_TRUE(WaitProcessingEvents([&] {
        return app.IsConnected() && app.IsEngineReady() && server.Received().size() >= sent + 4;
    }));
    EXPECT_EQ(server.Received().substr(sent), "sta\r");
    // Said once the identity was compared: the same camera, so no warning.
    const std::string back = link + " is back: reconnected.";
    EXPECT_TRUE(
        WaitProcessingEvents([&] { return ConsoleText().contains(QString::fromStdString(back)); }));
    EXPECT_NE(LogText(folder.file("Quillon_00_Log.txt")).find(back), std::string::npos);
    EXPECT_FALSE(app.PortLink()->IdentityCheckPending());
    QCoreApplication::processEvents();
    EXPECT_EQ(answer.texts.size(), 1);
}

TEST_F(PortLinkWindowTest, AnotherCameraOnTheReturnedDeviceIsWarnedOf) {
    ConnectAndAskIdentity();
    BoxAnswer answer(QMessageBox::Ok);
    ASSERT_NO_FATAL_FAILURE(ReplaceCameraWhileUnplugged(answer));
    PlugIn();
    ASSERT_TRUE(WaitProcessingEvents([&] { return answer.texts.size() == 2; }));
    const std::string warning =
        "Another camera answers on " + link + ". Before: XC-100 1.02 12345 Now: XC-100 1.02 99999";
    EXPECT_EQ(answer.texts[1].toStdString(), warning);
    EXPECT_NE(LogText(folder.file("Quillon_00_Log.txt")).find(warning), std::string::npos);
    EXPECT_TRUE(app.IsConnected());
}

// The identity check of a reconnect is the program's, not the user's: a Disconnect of the
// user's ends it, so a camera that answers afterwards is never compared with the one before.
TEST_F(PortLinkWindowTest, DisconnectOfTheUserEndsThePendingIdentityCheck) {
    ConnectAndAskIdentity();
    BoxAnswer answer(QMessageBox::Ok);
    ASSERT_NO_FATAL_FAILURE(ReplaceCameraWhileUnplugged(answer));
    PlugIn();
    // One pass of the event loop at a time: the end of the reconnect's "sta" job, which the
    // worker announces after its reply lines, waits for the next pass, and the user's
    // Disconnect comes in between. The reply lines are applied on this thread.
    ASSERT_TRUE(WaitUntil([&] { return app.Engine()->CameraSerial() == u"99999"; },
                          std::chrono::seconds(10), [] { QCoreApplication::processEvents(); }));
    frame->RunCommand(ID_DISCONNECT);
    EXPECT_FALSE(app.IsConnected());
    // A check still pending would have been queued by the job's end during the Disconnect.
    QCoreApplication::processEvents();
    EXPECT_EQ(answer.texts.size(), 1) << answer.texts.join(QStringLiteral(" | ")).toStdString();
}

TEST_F(PortLinkWindowTest, WithoutReconnectTheReturnedDeviceIsLeftAlone) {
    platform::WriteSetting(u"CAMERA_COMM_Ch00", u"Reconnect", u"0", settings);
    ConnectAndAskIdentity();
    BoxAnswer answer(QMessageBox::Ok);
    Unplug();
    ASSERT_TRUE(
        WaitProcessingEvents([&] { return !app.IsConnected() && answer.texts.size() == 1; }));
    EXPECT_FALSE(app.PortLink()->AwaitingReturn());
    // A disconnect by the user is not a loss either.
    PlugIn();
    platform::WriteSetting(u"CAMERA_COMM_Ch00", u"Reconnect", u"1", settings);
    Button(1012)->click();
    ASSERT_TRUE(app.IsConnected());
    frame->RunCommand(ID_DISCONNECT);
    EXPECT_FALSE(app.IsConnected());
    EXPECT_FALSE(app.PortLink()->AwaitingReturn());
    EXPECT_EQ(answer.texts.size(), 1);
}

// A reconnect whose "sta" gets no answer tells nothing of the camera: the identity from before
// the loss is kept, so a camera swapped at the next loss is still seen.
TEST_F(PortLinkWindowTest, AnUnansweredReconnectCheckKeepsTheIdentityForTheNextOne) {
    platform::WriteSetting(u"TARN_Timeouts", u"First Recv", u"300", settings);
    app.SetTimeouts(300, 300, 3000);
    ConnectAndAskIdentity();
    BoxAnswer answer(QMessageBox::Ok);
    Unplug();
    ASSERT_TRUE(WaitProcessingEvents([&] { return answer.texts.size() == 1; }));
    server.faults.noAnswer = true;
    PlugIn();
    // Back, asked, no answer: no warning, and the identity shown is the one known.
    const std::string back = link + " is back: reconnected.";
    ASSERT_TRUE(WaitProcessingEvents([&] {
        return ConsoleText().contains(QString::fromStdString(back)) && answer.texts.size() == 2;
    }));
    EXPECT_EQ(answer.texts[1], QStringLiteral("(host side)Receive timeout"));
    EXPECT_EQ(app.Engine()->CameraSerial(), u"12345");
    // Lost again, and another camera comes back: said.
    Unplug();
    ASSERT_TRUE(WaitProcessingEvents([&] { return answer.texts.size() == 3; }));
    server.faults.noAnswer = false;
    {
        std::lock_guard<std::mutex> g(server.SimLock());
        sim.identity.serial = u"99999";
    }
    PlugIn();
    ASSERT_TRUE(WaitProcessingEvents([&] { return answer.texts.size() == 4; }));
    EXPECT_EQ(answer.texts[3].toStdString(), "Another camera answers on " + link +
                                                 ". Before: XC-100 1.02 12345 Now: XC-100 1.02 "
                                                 "99999");
}

// A port the user chose while the lost device was awaited wins: the old device's return is
// not taken, the window stays disconnected and names the port chosen.
TEST_F(PortLinkWindowTest, APortChosenWhileTheLostDeviceIsAwaitedWins) {
    ConnectAndAskIdentity();
    BoxAnswer answer(QMessageBox::Ok);
    Unplug();
    ASSERT_TRUE(
        WaitProcessingEvents([&] { return !app.IsConnected() && answer.texts.size() == 1; }));
    ASSERT_TRUE(app.PortLink()->AwaitingReturn());
    // What the port-settings dialog does to the port when the user picks another device.
    PortIdentity& chosen = BuiltInComPort().identity;
    chosen.portName = u"other";
    chosen.devicePath = platform::Utf8ToUtf16(folder.file("other"));
    PlugIn();
    // The old device is back; give the watch time to tell (it does at once), then look.
    EXPECT_FALSE(
        WaitProcessingEvents([&] { return app.IsConnected(); }, std::chrono::milliseconds(1500)));
    EXPECT_EQ(BuiltInComPort().identity.devicePath, platform::Utf8ToUtf16(folder.file("other")));
    EXPECT_FALSE(app.PortLink()->AwaitingReturn());
}

TEST_F(MainWindowTest, FailedOpenOfAVanishedPortSaysCantOpenAndWhy) {
    server.Stop();
    server.CloseTerminal();
    BoxAnswer answer(QMessageBox::Ok);
    Button(1012)->click();
    ASSERT_EQ(answer.texts.size(), 1);
    EXPECT_EQ(answer.captions[0], M(MSG_CONNECT_FAILED));
    EXPECT_EQ(answer.texts[0],
              QStringLiteral("Can't open port.\n") + QString::fromStdString(link) +
                  QStringLiteral(" does not exist: the device is not plugged in."));
    EXPECT_EQ(answer.icons[0], QMessageBox::Warning);
    EXPECT_FALSE(app.IsConnected());
    EXPECT_TRUE(Button(1012)->isEnabled());
}

// The reason a port interface gives (port/PortReason.h), as a module's export would.
struct FakeReason {
    static inline PortReasonInfo reason;
    static int32_t Get(PortReason* out) {
        FillPortReason(reason, out);
        return 0;
    }
};

TEST_F(MainWindowTest, PortReasonIsTheSecondLineOfTheFailureAndAMissingLibraryShowsOnTheBar) {
    FakeReason::reason = {PORT_REASON_SPEED_REFUSED, 230400, 0, u"", u"9600, 115200"};
    SelectFakePort(10);
    app.Interfaces().reasonEntries.back() = &FakeReason::Get;
    {
        BoxAnswer answer(QMessageBox::Ok);
        frame->RunCommand(ID_CONNECT);
        ASSERT_EQ(answer.texts.size(), 1);
        EXPECT_EQ(answer.texts[0], QStringLiteral("Failed in setting of port.\nThe library "
                                                  "refused 230400 bps (it supports 9600, 115200 "
                                                  "bps)."));
    }

    // A missing library: named on the port line (red), no speed, and in the failure.
    FakeReason::reason = {PORT_REASON_LIBRARY_MISSING, 0, 0, u"libgone.so", u""};
    FakePort::Reset(8);
    app.SelectInterface(app.SelectedInterfaceIndex());
    frame->RefreshViews(REFRESH_STATUS);
    EXPECT_EQ(frame->UpperBar()->Edit(1022)->text(),
              QStringLiteral("fake0 , Library missing: libgone.so"));
    EXPECT_EQ(frame->UpperBar()->Edit(1032)->text(), QStringLiteral("No settings"));
    BoxAnswer missing(QMessageBox::Ok);
    frame->RunCommand(ID_CONNECT);
    ASSERT_EQ(missing.texts.size(), 1);
    EXPECT_EQ(missing.texts[0],
              QStringLiteral("Can't open port.\nThe Camera Link serial library libgone.so is "
                             "missing or cannot be loaded."));
    FakeReason::reason = {};
}

TEST_F(MainWindowTest, EveryConnectFailureCodeHasItsMessage) {
    const std::pair<int32_t, const char*> cases[] = {
        {1, "Error"},
        {8, "Can't open port."},
        {9, "Failed in getting a parameter of port."},
        {10, "Failed in setting of port."},
        {11, "Failed in initialization of port."},
        {12, "Failed in initialization of buffer."},
        {13, "Failed in setting of timeout."},
        {14, "Failed to setting DTR."},
        {42, "Error"},
    };
    for (const auto& [code, text] : cases) {
        SelectFakePort(code);
        BoxAnswer answer(QMessageBox::Ok);
        frame->RunCommand(ID_CONNECT);
        ASSERT_EQ(answer.texts.size(), 1) << code;
        EXPECT_EQ(answer.captions[0], QStringLiteral("Failed in connection.")) << code;
        EXPECT_EQ(answer.texts[0], QString::fromUtf8(text)) << code;
        EXPECT_FALSE(app.IsConnected()) << code;
        EXPECT_GE(FakePort::uninits, 1) << "the port is released after every failure: " << code;
        // A port left open by a late failure is closed through the application's disconnect.
        EXPECT_EQ(FakePort::disconnects, code >= 12 ? 1 : 0) << code;
        EXPECT_EQ(FakePort::connected, 0) << code;
        EXPECT_TRUE(frame->Action(ID_CONNECT)->isEnabled()) << code;
    }
}

TEST_F(MainWindowTest, ResultColours) {
    struct Row {
        int status;
        int replyCode;
        QString text;
        QColor colour;
    };
    const QColor good(128, 192, 128), bad(200, 128, 128), cancelled(200, 200, 128);
    const Row rows[] = {
        {5, 0, "(host side)Receive timeout", bad},
        {7, 0, "(host side)Transmit timeout", bad},
        {6, 0, "(host side)Cancel receiving", cancelled},
        {4, -1, "???", bad},
        {4, 0, "OK", good},
        {4, 1, QString::fromUtf16(kReplyCodeTexts[1]), bad},
        {4, 17, QString::fromUtf16(kReplyCodeTexts[17]), bad},
    };
    for (const Row& row : rows) {
        // The result of a transaction's report (its reply lines are not what is asked here).
        TransactionReport report;
        report.result = row.status == 4 ? TRANSACTION_OK : TRANSACTION_TIMEOUT;
        report.status = row.status;
        report.replyCode = row.replyCode;
        frame->TransactionEnded(report);
        QCoreApplication::processEvents();
        EXPECT_EQ(ResultEdit()->text(), row.text) << row.status << "/" << row.replyCode;
        EXPECT_EQ(ResultEdit()->Colour(), row.colour) << row.status << "/" << row.replyCode;
    }
}

TEST_F(MainWindowTest, MessagesThatAskForNothing) {
    app.SetMessageBoxResult(42);
    frame->SendUiMessage(UM_MESSAGE_BOX, 1, MB_OK);
    EXPECT_EQ(app.MessageBoxResult(), 42) << "a non-zero wParam leaves the result alone";
    // The console echo cleans and cuts the command text that went out.
    frame->CommandSent(u"a\tb\x01" + std::u16string(600, u'x'), 0);
    QCoreApplication::processEvents();
    const QString text = ConsoleText();
    EXPECT_TRUE(text.startsWith(QStringLiteral("a\tb\r\n")) || text.startsWith("a\tb\n"))
        << text.left(10).toStdString();
    EXPECT_EQ(text.count(QLatin1Char('x')), 501 - 4);
}

TEST_F(MainWindowTest, ClosingWhileConnectedAsksFirst) {
    Button(1012)->click();
    ASSERT_TRUE(app.IsConnected());
    {
        BoxAnswer no(QMessageBox::No);
        frame->close();
        ASSERT_EQ(no.texts.size(), 1);
        EXPECT_EQ(no.texts[0], QStringLiteral("Does it disconnect and exit?"));
    }
    EXPECT_TRUE(frame->isVisible());
    EXPECT_TRUE(app.IsConnected());
    {
        BoxAnswer yes(QMessageBox::Yes);
        frame->RunCommand(ID_APP_EXIT);
        EXPECT_EQ(yes.texts.size(), 1);
    }
    EXPECT_FALSE(frame->isVisible());
    EXPECT_FALSE(app.IsConnected());
    // The placement was saved on the way out.
    EXPECT_NE(platform::ReadSetting(u"WindowPlace", u"Right", u"", settings), u"");
}

TEST_F(MainWindowTest, CommunicationSettingsAreStored) {
    // Cancel changes nothing; the dialog itself is tested on its own.
    QTimer::singleShot(50, [] {
        if (QWidget* dialog = QApplication::activeModalWidget())
            dialog->close();
    });
    frame->RunCommand(ID_COMM_SETTINGS);
    EXPECT_EQ(app.TimeoutFirstRecv(), 3000u);
    // OK stores the time-outs and the interface.
    QTimer::singleShot(50, [] {
        QWidget* dialog = QApplication::activeModalWidget();
        ASSERT_NE(dialog, nullptr);
        auto* first = dialog->findChild<QLineEdit*>(QStringLiteral("ctl1105"));
        ASSERT_NE(first, nullptr);
        first->setText(QStringLiteral("1500"));
        qobject_cast<QDialog*>(dialog)->accept();
    });
    frame->RunCommand(ID_COMM_SETTINGS);
    EXPECT_EQ(app.TimeoutFirstRecv(), 1500u);
    EXPECT_EQ(app.Engine()->FirstReceiveTimeout(), 1500u);
    EXPECT_EQ(platform::ReadSetting(u"TARN_Timeouts", u"First Recv", u"", settings), u"1500");
    EXPECT_EQ(platform::ReadSetting(u"CAMERA_COMM_Ch00", u"SelectInterface", u"", settings),
              u"COM port(Build In)");
    EXPECT_NE(app.CurrentPort(), nullptr);
}

// A camera that never answers: the window goes while a reply is awaited with a long time-out.
class SilentCameraTest : public MainWindowTest {
protected:
    SilentCameraTest() {
        faults.noAnswer = true;
        receiveTimeout = kSilentReceiveTimeout;
    }
};

TEST_F(SilentCameraTest, ClosingWhileAReplyIsAwaitedEndsTheWorkerAtOnce) {
    Button(1012)->click();
    ASSERT_TRUE(app.IsConnected());
    frame->Console()->Input()->setText(QStringLiteral("sta"));
    frame->Console()->Send();
    // The reply is awaited, and the window has heard that the job runs.
    ASSERT_TRUE(WaitProcessingEvents([&] {
        return app.Engine()->Phase() == PHASE_WAIT_FIRST &&
               frame->LowerBar()->CancelButton()->isEnabled();
    }));
    EXPECT_TRUE(frame->Action(IDC_CANCEL_RECEIVING) == nullptr);
    EXPECT_TRUE(frame->LowerBar()->CancelButton()->isEnabled());
    EXPECT_FALSE(frame->Action(ID_TEXT_LOAD)->isEnabled()) << "no second job while one runs";
    const auto started = std::chrono::steady_clock::now();
    frame->ShutDownThreads();
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_LT(took, std::chrono::seconds(30))
        << "the stop event, not the receive time-out of 60 s, ends the wait";
    EXPECT_FALSE(app.Engine()->WorkerExists());
}

// The transaction that shutdown ended is logged as stopped, with the time it had waited.
TEST_F(SilentCameraTest, TransactionEndedByShutdownIsLoggedAsStoppedWithItsTime) {
    Button(1012)->click();
    ASSERT_TRUE(app.IsConnected());
    frame->Action(kTrafficLogCommand)->trigger();
    frame->Console()->Input()->setText(QStringLiteral("sta"));
    frame->Console()->Send();
    ASSERT_TRUE(WaitProcessingEvents([&] { return app.Engine()->Phase() == PHASE_WAIT_FIRST; }));
    const auto sent = std::chrono::steady_clock::now();
    WaitProcessingEvents(
        [&] { return std::chrono::steady_clock::now() - sent > std::chrono::milliseconds(300); });
    frame->ShutDownThreads();
    const std::string log =
        ReadFileBytes(platform::Utf16ToUtf8(TrafficLogPathBeside(app.SettingsFilePath())));
    std::smatch m;
    ASSERT_TRUE(
        std::regex_search(log, m, std::regex(R"( >> sta\\r\n.* == stopped \((\d+) ms\)\n$)")))
        << log;
    EXPECT_GE(std::stoi(m[1]), 300) << log;
}

// Disconnect while a reply is awaited: the job is cancelled and ends its frame (the result
// shows the cancel, no message box) before the port closes; afterwards the window's enable
// states are those of an idle, disconnected engine.
TEST_F(SilentCameraTest, DisconnectDuringAJobCancelsItBeforeThePortCloses) {
    Button(1012)->click();
    ASSERT_TRUE(app.IsConnected());
    frame->Console()->Input()->setText(QStringLiteral("sta"));
    frame->Console()->Send();
    // The reply is awaited, and the window has heard that the job runs.
    ASSERT_TRUE(WaitProcessingEvents([&] {
        return app.Engine()->Phase() == PHASE_WAIT_FIRST &&
               frame->LowerBar()->CancelButton()->isEnabled();
    }));
    EXPECT_FALSE(frame->Action(ID_CONNECT)->isEnabled());
    frame->RunCommand(ID_DISCONNECT);
    EXPECT_FALSE(app.IsConnected());
    EXPECT_FALSE(app.Engine()->IsBusy()) << "the job ended before the port closed";
    EXPECT_EQ(app.Engine()->Phase(), PHASE_NOT_CONNECTED);
    EXPECT_EQ(ResultEdit()->text(), QStringLiteral("(host side)Cancel receiving"));
    EXPECT_TRUE(frame->Action(ID_CONNECT)->isEnabled());
    EXPECT_TRUE(frame->Action(ID_COMM_SETTINGS)->isEnabled());
    EXPECT_FALSE(frame->Action(ID_TEXT_LOAD)->isEnabled());
    EXPECT_FALSE(frame->LowerBar()->CancelButton()->isEnabled());
}

TEST_F(SilentCameraTest, CancelReceivingShowsTheCancelledResult) {
    Button(1012)->click();
    ASSERT_TRUE(app.IsConnected());
    frame->Console()->Input()->setText(QStringLiteral("sta"));
    frame->Console()->Send();
    // The reply is awaited, and the window has heard that the job runs.
    ASSERT_TRUE(WaitProcessingEvents([&] {
        return app.Engine()->Phase() == PHASE_WAIT_FIRST &&
               frame->LowerBar()->CancelButton()->isEnabled();
    }));
    ASSERT_TRUE(frame->LowerBar()->CancelButton()->isEnabled());
    frame->LowerBar()->CancelButton()->click();
    // The job's end refreshes the window after the engine became ready.
    ASSERT_TRUE(WaitProcessingEvents([&] {
        return app.IsEngineReady() && !frame->LowerBar()->CancelButton()->isEnabled();
    })) << ResultEdit()->text().toStdString();
    EXPECT_EQ(ResultEdit()->text(), QStringLiteral("(host side)Cancel receiving"));
    EXPECT_EQ(ResultEdit()->Colour(), QColor(200, 200, 128));
    EXPECT_FALSE(frame->LowerBar()->CancelButton()->isEnabled());
}

TEST_F(MainWindowTest, RepliesReachThePropertyManagerAndPropertyJobsReachTheCamera) {
    clCamPropertyMgr& mgr = app.Engine()->PropertyManager();
    mgr.SetSchemaPathFormat(platform::Utf8ToUtf16(std::string(QUILLON_SOURCE_DIR) +
                                                  "/CamDefine/OrvaCamSchema_v%d_%d.xsd"));
    ASSERT_EQ(
        mgr.Load(platform::Utf8ToUtf16(std::string(QUILLON_SOURCE_DIR) + "/CamDefine/XC-100.xml")),
        0);
    auto* gain = static_cast<clCamPropertyInteger*>(mgr.FindProperty(u"Gain"));
    ASSERT_NE(gain, nullptr);
    uint32_t refreshFlags = 0;
    int reloads = 0;
    frame->SetPropertyView(new QWidget,
                           {[&](uint32_t f) { refreshFlags |= f; }, [&] { ++reloads; }});
    frame->RefreshViews(REFRESH_STATUS);
    EXPECT_TRUE(frame->Action(ID_TEXT_SAVE)->isEnabled()) << "a definition, while disconnected";
    EXPECT_FALSE(frame->Action(ID_TEXT_LOAD)->isEnabled());

    {
        std::lock_guard<std::mutex> guard(server.SimLock());
        clCamPropertyMgr& camera = sim.Manager();
        camera.SetIntegerValue(static_cast<clCamPropertyInteger*>(camera.FindProperty(u"Gain")),
                               120);
    }
    Button(1012)->click();
    ASSERT_TRUE(app.IsConnected());
    // The bare command word asks the camera for its value; the reply line goes to the manager.
    refreshFlags = 0;
    frame->Console()->Input()->setText(QStringLiteral("gai"));
    frame->Console()->Send();
    int64_t value = -1;
    ASSERT_TRUE(WaitProcessingEvents([&] {
        mgr.GetIntegerValue(gain, value);
        return value == 120 && app.IsEngineReady();
    })) << value;
    EXPECT_EQ(refreshFlags & (REFRESH_PROPERTIES | REFRESH_RELOAD_VALUES),
              uint32_t(REFRESH_PROPERTIES | REFRESH_RELOAD_VALUES));

    // An edited value: the view reloads, the job sends the property's command.
    mgr.SetIntegerValue(gain, 55);
    const clCamPropertyMgr::RecordName name = mgr.NameOf(gain);
    frame->PostUiMessage(UM_RUN_PROPERTY_JOB, name.generation, name.index);
    ASSERT_TRUE(WaitProcessingEvents([&] {
        std::lock_guard<std::mutex> guard(server.SimLock());
        int64_t cameraValue = -1;
        CamPropertyType type{};
        sim.Manager().GetValueAsInteger(u"Gain", cameraValue, type);
        return cameraValue == 55 && app.IsEngineReady();
    })) << ConsoleText().toStdString()
        << " / " << ResultEdit()->text().toStdString();
    EXPECT_EQ(reloads, 1);
    EXPECT_EQ(ResultEdit()->text(), QStringLiteral("OK"));

    // A job posted for a record of a definition closed since then is dropped unread.
    mgr.Clear();
    frame->PostUiMessage(UM_RUN_PROPERTY_JOB, name.generation, name.index);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(reloads, 1);
    EXPECT_TRUE(app.IsEngineReady());
}

// ---- files dropped on the window, and the progress of the batch a drop starts

namespace {

// The window with the file commands of the program: the definition and text files of
// clTextFiles behind the frame's hooks, and the batch job reporting to the frame.
class DropTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        if (HasFatalFailure())
            return;
        app.Engine()->PropertyManager().SetSchemaPathFormat(platform::Utf8ToUtf16(
            std::string(QUILLON_SOURCE_DIR) + "/CamDefine/OrvaCamSchema_v%d_%d.xsd"));
        // A property view that notes whether the definition was still there when it was emptied.
        textUi = std::make_unique<CTextFilesUi>(
            frame.get(),
            CTextFilesUi::PropertyViewCalls{[] { return true; },
                                            [this] {
                                                ++viewEmptied;
                                                loadedWhenEmptied =
                                                    app.Engine()->PropertyManager().IsLoaded();
                                            },
                                            {}});
        files = std::make_unique<clTextFiles>(app, *app.Engine(), textUi.get());
        CMainFrame::FileCommandHooks hooks;
        hooks.closeDefinition = [this] { files->CloseDefinitionFile(); };
        hooks.openDefinition = [this](const std::u16string& p) { files->OpenChosenDefinition(p); };
        hooks.replayBatchFile = [this](const std::u16string& p) { files->ReplayBatchFile(p); };
        frame->SetFileCommandHooks(hooks);
    }
    void TearDown() override {
        MainWindowTest::TearDown();
        files.reset();
        textUi.reset();
    }

    // A drag entering with the file, then its drop, as the platform delivers them. Returns
    // whether the window accepted the drag.
    bool Drop(const std::string& path) {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        QCoreApplication::sendEvent(frame.get(), &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(frame.get(), &drop);
        return true;
    }
    QString Status() { return frame->BatchStatusLabel()->text(); }
    std::string WriteFile(const std::string& name, const std::string& bytes) {
        const std::string path = folder.file(name);
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    std::u16string LogText() { return LogText16(platform::Utf16ToUtf8(app.LogFilePath())); }

    std::unique_ptr<CTextFilesUi> textUi;
    std::unique_ptr<clTextFiles> files;
    int viewEmptied = 0;
    bool loadedWhenEmptied = false;
};
// The same window, for the file commands that come from the menu.
using FileCommandTest = DropTest;

class SilentDropTest : public DropTest {
protected:
    SilentDropTest() {
        faults.noAnswer = true;
        receiveTimeout = kSilentReceiveTimeout;
    }
};

} // namespace

// Close camera define: the view is emptied while the definition is still there, then the
// definition goes and the title loses its name; the file's path stays for the next offer.
TEST_F(FileCommandTest, CloseDefineEmptiesTheViewFirstAndKeepsTheFileForTheNextOffer) {
    const std::u16string path =
        platform::Utf8ToUtf16(std::string(QUILLON_SOURCE_DIR) + "/CamDefine/XC-100.xml");
    ASSERT_EQ(files->OpenDefinitionFile(path), 0);
    frame->RefreshViews(REFRESH_STATUS);
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Quillon (64bit) - XC-100.xml"));
    viewEmptied = 0;
    frame->RunCommand(ID_CLOSE_DEFINE);
    EXPECT_EQ(viewEmptied, 1);
    EXPECT_TRUE(loadedWhenEmptied) << "the view lets go of the records before they go";
    EXPECT_FALSE(app.Engine()->PropertyManager().IsLoaded());
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Quillon (64bit)"));
    EXPECT_EQ(app.CurrentDefinitionFile(), path);
}

TEST_F(DropTest, DefinitionOpensAsSelectFileDoesWithTheSameFailureMessage) {
    ASSERT_TRUE(Drop(std::string(QUILLON_SOURCE_DIR) + "/CamDefine/XC-100.xml"));
    EXPECT_TRUE(app.Engine()->PropertyManager().IsLoaded());
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Quillon (64bit) - XC-100.xml"));
    // A broken definition: the box and the log lines of a failed Select file.
    const std::string bad = WriteFile("Broken.XML", "<CameraDefine");
    BoxAnswer ok(QMessageBox::Ok);
    ASSERT_TRUE(Drop(bad)) << "the extension in any letter case";
    ASSERT_EQ(ok.texts.size(), 1);
    EXPECT_EQ(ok.texts[0],
              QStringLiteral("XML parse error\nfilename=") + QString::fromStdString(bad));
    EXPECT_EQ(ok.captions[0], QString::fromStdU16String(Msg(MSG_FAIL_OPEN_DEFINE)));
    EXPECT_FALSE(app.Engine()->PropertyManager().IsLoaded());
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Quillon (64bit)"));
}

TEST_F(DropTest, TextFileAsksThenReplaysWithItsProgressAndOutcome) {
    const std::string batch = WriteFile("batch.txt", "sta\r\n@pause 200\r\nsta\r\n");
    EXPECT_FALSE(Drop(batch)) << "not connected: Text Load is off, the drop is ignored";
    Button(1012)->click();
    ASSERT_TRUE(app.IsConnected());
    {
        BoxAnswer cancel(QMessageBox::Cancel);
        ASSERT_TRUE(Drop(batch));
        ASSERT_EQ(cancel.texts.size(), 1);
        EXPECT_EQ(cancel.texts[0], QStringLiteral("Send the lines of batch.txt to the camera?"));
        EXPECT_EQ(cancel.captions[0], QStringLiteral("Text Load"));
    }
    EXPECT_TRUE(app.IsEngineReady()) << "declined: nothing started";
    EXPECT_FALSE(ConsoleText().contains(QStringLiteral("sta")));
    BoxAnswer ok(QMessageBox::Ok);
    ASSERT_TRUE(Drop(batch));
    ASSERT_TRUE(WaitProcessingEvents([&] {
        return Status().startsWith(QStringLiteral("Text Load: 1 of 3"));
    })) << Status().toStdString();
    EXPECT_TRUE(frame->BatchProgressBar()->isVisible());
    EXPECT_TRUE(frame->Console()->isVisible()) << "the progress does not cover the console";
    const QString allSent = QStringLiteral("Text Load: all 3 lines sent.");
    ASSERT_TRUE(WaitProcessingEvents([&] { return Status() == allSent; }))
        << Status().toStdString();
    EXPECT_FALSE(frame->BatchProgressBar()->isVisible());
    EXPECT_TRUE(ConsoleText().contains(allSent));
    EXPECT_NE(LogText().find(allSent.toStdU16String()), std::u16string::npos);
    EXPECT_EQ(ok.texts.size(), 1);
}

TEST_F(DropTest, OtherFilesAreIgnored) {
    Button(1012)->click();
    ASSERT_TRUE(app.IsConnected());
    for (const char* name : {"picture.png", "notes", "settings.txt.bak"})
        EXPECT_FALSE(Drop(WriteFile(name, "sta\r\n"))) << name;
    QMimeData text;
    text.setText(QStringLiteral("sta"));
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(frame.get(), &enter);
    EXPECT_FALSE(enter.isAccepted()) << "dragged text is no file";
    EXPECT_TRUE(app.IsEngineReady());
    EXPECT_FALSE(frame->statusBar()->isVisible());
}

TEST_F(SilentDropTest, DropsWhileAJobRunsAreRefusedVisibly) {
    Button(1012)->click();
    ASSERT_TRUE(app.IsConnected());
    frame->Console()->Input()->setText(QStringLiteral("sta"));
    frame->Console()->Send();
    // The reply is awaited, and the window has heard that the job runs (Cancel is enabled).
    ASSERT_TRUE(WaitProcessingEvents([&] {
        return app.Engine()->Phase() == PHASE_WAIT_FIRST &&
               frame->LowerBar()->CancelButton()->isEnabled();
    }));
    const QString refused = QStringLiteral("A job is running: the dropped file was not opened.");
    ASSERT_TRUE(Drop(std::string(QUILLON_SOURCE_DIR) + "/CamDefine/XC-100.xml"));
    EXPECT_EQ(Status(), refused);
    EXPECT_TRUE(frame->statusBar()->isVisible());
    EXPECT_FALSE(app.Engine()->PropertyManager().IsLoaded());
    frame->BatchStatusLabel()->clear();
    ASSERT_TRUE(Drop(WriteFile("batch.txt", "sta\r\n")));
    EXPECT_EQ(Status(), refused);
    frame->LowerBar()->CancelButton()->click();
    ASSERT_TRUE(WaitProcessingEvents([&] { return app.IsEngineReady(); }));
}

// An unattended window logs where a batch stopped before the box about the failed line waits
// for someone to press OK.
TEST_F(SilentDropTest, FailedLineIsLoggedBeforeItsBoxOpens) {
    for (const char16_t* key : {u"First Recv", u"Next Recv"})
        platform::WriteSetting(u"TARN_Timeouts", key, u"300", settings);
    app.SetTimeouts(300, 300, 3000);
    Button(1012)->click();
    ASSERT_TRUE(app.IsConnected());
    BoxAnswer ok(QMessageBox::Ok);
    std::vector<std::u16string> logAtBox;
    ok.onBox = [&] { logAtBox.push_back(LogText()); };
    ASSERT_TRUE(Drop(WriteFile("batch.txt", "sta\r\ngai 12\r\n")));
    ASSERT_TRUE(WaitProcessingEvents([&] { return ok.texts.size() == 2; }))
        << ok.texts.join(QStringLiteral(" | ")).toStdString();
    EXPECT_EQ(ok.texts[1], QStringLiteral("(host side)Receive timeout"));
    EXPECT_NE(logAtBox[1].find(u"Text Load stopped at line 1 (sta)"), std::u16string::npos)
        << platform::Utf16ToUtf8(logAtBox[1]);
}

// A batch stopped by Cancel receiving says where, in the status area, the console and the log.
TEST_F(SilentDropTest, CancelledBatchNamesItsLine) {
    Button(1012)->click();
    ASSERT_TRUE(app.IsConnected());
    BoxAnswer ok(QMessageBox::Ok);
    ASSERT_TRUE(Drop(WriteFile("batch.txt", "// settings\r\nsta\r\ngai 12\r\n")));
    const QString running =
        QStringLiteral("Text Load: 0 of 2 lines done — line 1: sta — --:-- left");
    ASSERT_TRUE(WaitProcessingEvents([&] {
        return app.Engine()->Phase() == PHASE_WAIT_FIRST && Status() == running &&
               frame->LowerBar()->CancelButton()->isEnabled();
    })) << Status().toStdString();
    frame->LowerBar()->CancelButton()->click();
    const QString stopped = QStringLiteral("Text Load stopped at line 1 (sta): Cancel receiving.");
    ASSERT_TRUE(WaitProcessingEvents([&] { return Status() == stopped; }))
        << Status().toStdString();
    EXPECT_TRUE(ConsoleText().contains(stopped));
    EXPECT_NE(LogText().find(stopped.toStdU16String()), std::u16string::npos);
}

// ---- the console in a flood

namespace {

// A camera that floods its port: 2 MB of noise with control bytes before every answer.
class FloodedWindowTest : public MainWindowTest {
protected:
    FloodedWindowTest() { faults.garbageBytes = 2 << 20; }
};

} // namespace

// When the result shows, the console already holds the command's echo and its reply, with a
// marker for the noise between them it did not replay.
TEST_F(FloodedWindowTest, EchoAndReplyShowWithTheResult) {
    Button(1012)->click();
    ASSERT_TRUE(app.IsConnected());
    QString atResult;
    QObject::connect(ResultEdit(), &QLineEdit::textChanged, [&](const QString& text) {
        if (!text.isEmpty())
            atResult = ConsoleText();
    });
    frame->Console()->Input()->setText(QStringLiteral("sta"));
    frame->Console()->Send();
    ASSERT_TRUE(WaitProcessingEvents([&] { return app.IsEngineReady(); }));
    ASSERT_EQ(ResultEdit()->text(), QStringLiteral("OK"));
    const qsizetype echo = atResult.indexOf(QStringLiteral("sta\r\n"));
    const qsizetype skipped = atResult.indexOf(QStringLiteral(" bytes not shown]"));
    const qsizetype reply = atResult.indexOf(QStringLiteral(">Model=XC-100"));
    ASSERT_GE(echo, 0) << atResult.left(300).toStdString();
    EXPECT_GT(skipped, echo);
    EXPECT_GT(reply, skipped) << atResult.right(300).toStdString();
}

// A burst the console can show whole is shown share by share at the loop's pace, not one share
// per timer tick.
TEST_F(MainWindowTest, ConsoleShowsABurstAtTheLoopsPace) {
    Button(1012)->click();
    ASSERT_TRUE(app.IsConnected());
    std::string burst;
    for (int i = 0; burst.size() < 100000; ++i)
        burst += "line " + std::to_string(i) + " of the burst\r\n";
    burst += "end of the burst";
    clCommunicateModel::OnReceiveData(reinterpret_cast<const uint8_t*>(burst.data()),
                                      static_cast<uint32_t>(burst.size()), app.Engine());
    EXPECT_TRUE(WaitProcessingEvents(
        [&] { return ConsoleText().endsWith(QStringLiteral("end of the burst")); },
        std::chrono::seconds(6)));
    EXPECT_FALSE(ConsoleText().contains(QStringLiteral("not shown")));
}

// Clear empties the output and drops what still waits for it.
TEST_F(MainWindowTest, ClearDropsTheConsoleBacklog) {
    clCommunicateModel& engine = *app.Engine();
    const std::string bytes(100000, 'x');
    engine.Ring().Append(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    frame->SendUiMessage(UM_CONSOLE_FLUSH, 0, 0);
    EXPECT_GT(engine.ConsoleBacklog(), 0);
    FindControl<QPushButton>(frame->Console(), CConsoleForm::IDC_CLEAR)->click();
    EXPECT_EQ(engine.Ring().Pending(clRingBuffer::kConsoleReader), 0u);
    frame->SendUiMessage(UM_CONSOLE_FLUSH, 0, 0);
    EXPECT_EQ(ConsoleText(), QString());
    EXPECT_EQ(engine.ConsoleBacklog(), 0);
}

// ---- every text of the program's own in Japanese

namespace {

bool HasJapanese(const QString& text) {
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u >= 0x3000 && u <= 0x30FF) || (u >= 0x4E00 && u <= 0x9FFF) ||
            (u >= 0xFF00 && u <= 0xFFEF))
            return true;
    }
    return false;
}

// Two Latin letters in a row: a word that would need translating.
bool HasLatinWord(const QString& text) {
    static const QRegularExpression word(QStringLiteral("[A-Za-z]{2}"));
    return word.match(text).hasMatch();
}

// What a Japanese window shows as it is in English too: its title, the template texts the
// window keeps (the identity labels, "msec", "OK"), the names of the two handshakes and of the
// Camera Link API versions, and the line speed and "No settings" of the port line.
bool SameInEveryLanguage(const QString& text) {
    static const QStringList same = {"Quillon (64bit)", "OK",      "Model",      "Ver.",
                                     "Serial No.",      "msec",    "RTS/CTS",    "XON/XOFF",
                                     "API 1.0",         "API 1.1", "No settings"};
    static const QRegularExpression speed(QStringLiteral("^\\d+ bps$"));
    return same.contains(text) || speed.match(text).hasMatch();
}

// Collects the texts of a window and its children that have no Japanese. The data strings (port
// names, file names, interface labels) are the user's, not ours: they are left out of the texts
// before these are judged.
class TextWalk {
public:
    explicit TextWalk(QStringList data) : m_data(std::move(data)) {}

    void Walk(const QString& where, QWidget* top) {
        Check(where + " title", top->windowTitle());
        QList<QWidget*> widgets = top->findChildren<QWidget*>();
        widgets.prepend(top);
        for (QWidget* w : widgets) {
            if (w->isHidden() && w != top)
                continue;
            const QString at = where + " " + w->metaObject()->className() + " " + w->objectName();
            Check(at + " tip", w->toolTip());
            if (auto* label = qobject_cast<QLabel*>(w))
                Check(at, label->text());
            else if (auto* button = qobject_cast<QAbstractButton*>(w))
                Check(at, button->text());
            else if (auto* group = qobject_cast<QGroupBox*>(w))
                Check(at, group->title());
            else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
                Check(at + " hint", edit->placeholderText());
                if (edit->isReadOnly())
                    Check(at, edit->text());
            } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
                for (int i = 0; i < combo->count(); ++i) {
                    Check(at, combo->itemText(i));
                    Check(at + " tip", combo->itemData(i, Qt::ToolTipRole).toString());
                }
            }
            for (QAction* action : w->actions())
                WalkAction(at, action);
        }
        if (auto* window = qobject_cast<QMainWindow*>(top))
            for (QAction* action : window->menuBar()->actions())
                WalkAction(where + " menu", action);
    }

    void AddData(const QString& text) { m_data << text; }

    QStringList untranslated;

private:
    void WalkAction(const QString& where, QAction* action) {
        if (action->isSeparator())
            return;
        Check(where, action->text());
        if (action->toolTip() != QString(action->text()).remove(QLatin1Char('&')))
            Check(where + " tip", action->toolTip());
        if (QMenu* menu = action->menu())
            for (QAction* item : menu->actions())
                WalkAction(where + " > " + action->text(), item);
    }

    void Check(const QString& where, const QString& shown) {
        QString text = shown;
        text.remove(QLatin1Char('&'));
        for (const QString& d : m_data)
            text.remove(d);
        text = text.trimmed();
        if (text.isEmpty() || HasJapanese(text) || !HasLatinWord(text) || SameInEveryLanguage(text))
            return;
        untranslated << where + ": \"" + shown + "\"";
    }

    QStringList m_data;
};

TextWalk* g_walk = nullptr;

// The interfaces as the communication settings dialog sees them.
struct Interfaces : commsettings::IInterfaceList {
    explicit Interfaces(std::vector<std::u16string> labels) : labels(std::move(labels)) {}
    int Count() const override { return static_cast<int>(labels.size()); }
    std::u16string Label(int i) const override { return labels[static_cast<size_t>(i)]; }
    std::u16string PortName(int) override { return u"ttyS0"; }
    int32_t SettingDialog(int) override { return 0; }
    std::vector<std::u16string> labels;
};

// A Japanese user: the language of the session decides, nothing forces English.
class JapaneseWindowTest : public MainWindowTest {
protected:
    JapaneseWindowTest() {
        japanese = true;
        if (const char* language = std::getenv("LANGUAGE"))
            m_language = language;
        setenv("LANGUAGE", "ja_JP", 1);
    }
    ~JapaneseWindowTest() override {
        if (m_language.empty())
            unsetenv("LANGUAGE");
        else
            setenv("LANGUAGE", m_language.c_str(), 1);
        SetUiLanguage(1, 1033);
    }

private:
    std::string m_language;
};

} // namespace

// The window, its bars and menus, and every dialog of its own, opened in a Japanese session:
// each text the program chose has Japanese.
TEST_F(JapaneseWindowTest, EveryTextOfTheProgramsOwnHasJapanese) {
    ASSERT_EQ(UiLanguageIndex(), 0);
    QTranslator qtTexts; // Qt's standard buttons, as the program loads them
    if (LoadQtTranslation(qtTexts, 0))
        QCoreApplication::installTranslator(&qtTexts);
    Button(1012)->click();
    ASSERT_TRUE(app.IsConnected());
    const std::vector<std::u16string>& labels = app.Interfaces().versionTexts;
    QStringList data = {
        QString::fromStdU16String(VorlixPortNameOfPath(platform::Utf8ToUtf16(link))),
        QString::fromStdString(link),
        "Quillon Ver.1.2.3",
        "XC-100",
        "libcl.so",
        "/opt/clserial/"};
    for (const std::u16string& label : labels)
        data << QString::fromStdU16String(label);
    TextWalk walk(data);
    g_walk = &walk;

    auto* view = new CCamPropertyForm(&app);
    frame->SetPropertyView(view, {});
    view->InitialUpdate();
    walk.Walk("main window", frame.get());
    // The port line describes the simulator's terminal, a device path the user added.
    EXPECT_TRUE(HasJapanese(frame->UpperBar()->findChild<QLineEdit*>("ctl1022")->text()));

    // The port-settings dialog of the built-in port, as its component asks for it.
    VorlixSetDialogHook(+[](VorlixDialogRequest& request) {
        // The machine's own ports are described by their drivers; added ones by us.
        for (const VorlixPort& port : request.ports)
            if (!port.added)
                for (const std::u16string& text : {port.name, port.description})
                    g_walk->AddData(QString::fromStdU16String(text));
        CVorlixSettingDialog dlg(request);
        g_walk->Walk("port settings", &dlg);
        return 0;
    });
    app.Interfaces().interfaces[0]->SettingDialog();
    VorlixSetDialogHook(nullptr);

    Interfaces interfaces(labels);
    CCamSelDlg commSettings(interfaces, {});
    walk.Walk("communication settings", &commSettings);
    CSimpleSelectDlg select(M(MSG_SEARCH_RESULT),
                            QString::fromStdU16String(FormatMsg(MSG_FOUND_FILES, {u"2"})),
                            {"XC-100.xml", "XC-100b.xml"});
    walk.Walk("select", &select);
    CWaitMsgDlg wait;
    wait.SetMessage(M(MSG_PLEASE_WAIT));
    walk.Walk("wait", &wait);
    CAboutDlg about({u"Quillon", 1, 2, 3, u"Quillon Ver.1.2.3", labels});
    walk.Walk("about", &about);

    // The Camera Link settings: without a library, and with a stored speed the channel lacks.
    QuastorLibraryEntry library{};
    const std::u16string name = u"libcl.so";
    std::copy(name.begin(), name.end(), library.fileName);
    QuastorChannelEntry channel{};
    const uint32_t rates[] = {9600, 115200};
    const uint32_t channelRates[] = {1};
    QuastorDialogRequest request{};
    request.structSize = sizeof request;
    request.folder = u"/opt/clserial/";
    request.baudRateCount = 2;
    request.baudRates = rates;
    request.baudRate = 115200;
    request.channelRates = channelRates;
    {
        CQuastorSettingDialog none(request);
        walk.Walk("Camera Link, no library", &none);
    }
    request.libraryCount = 1;
    request.libraries = &library;
    request.channelCount = 1;
    request.channels = &channel;
    request.library = 0;
    CQuastorSettingDialog quastor(request);
    walk.Walk("Camera Link", &quastor);

    g_walk = nullptr;
    QCoreApplication::removeTranslator(&qtTexts);
    EXPECT_TRUE(walk.untranslated.isEmpty()) << walk.untranslated.join("\n").toStdString();
}

// ---- layout

namespace {

// The window made with the system font at a given size: the templates' dialog units follow it.
class LayoutWindowTest : public MainWindowTest, public ::testing::WithParamInterface<int> {
protected:
    LayoutWindowTest() : m_font(QApplication::font()) {
        QFont font = m_font;
        font.setPointSize(GetParam());
        QApplication::setFont(font);
    }
    ~LayoutWindowTest() override { QApplication::setFont(m_font); }

private:
    QFont m_font;
};

} // namespace

// At its first size with the console shown, and made much larger, the window cuts no button of
// the property view, and the console's output and input row fill their pane.
TEST_P(LayoutWindowTest, HoldsAtTheFirstSizeAndWhenResized) {
    auto* view = new CCamPropertyForm(&app);
    frame->SetPropertyView(view, {});
    view->InitialUpdate();
    frame->ShowInitial();
    frame->RunCommand(IDC_SHOW_CONSOLE);
    const QSize first = frame->size();
    for (const QSize& size : {first, first + QSize(700, 400)}) {
        frame->resize(size);
        QCoreApplication::processEvents();
        const std::string at = std::to_string(size.width()) + " x " + std::to_string(size.height());
        EXPECT_TRUE(frame->Splitter()->rect().contains(view->geometry())) << at;
        for (int id : {CCamPropertyForm::IDC_EXPAND_ALL, CCamPropertyForm::IDC_COLLAPSE_ALL})
            EXPECT_TRUE(view->rect().contains(FindControl<QWidget>(view, id)->geometry()))
                << "button " << id << " at " << at;
        CConsoleForm* console = frame->Console();
        ASSERT_GT(console->width(), 0) << at;
        EXPECT_EQ(console->Output()->geometry().right() + 1, console->width() - 4) << at;
        const QRect send = FindControl<QWidget>(console, CConsoleForm::IDC_SEND)->geometry();
        EXPECT_EQ(send.right() + 1, console->width() - 4) << at;
        const QRect check = FindControl<QWidget>(console, CConsoleForm::IDC_APPEND_CR)->geometry();
        EXPECT_EQ(check.bottom() + 1, console->height() - 4) << at;
    }
}

// The offscreen platform's own font, a desktop's usual one, and a larger one.
INSTANTIATE_TEST_SUITE_P(FontSizes, LayoutWindowTest, ::testing::Values(9, 10, 12),
                         [](const auto& info) { return std::to_string(info.param) + "pt"; });

// ---- the Monitor panel

namespace {

// The window with the sample definition open and the simulator's sensor temperature rising by
// one at each reading; the Monitor's choice is put in the settings file before the definition
// opens, as a former session left it.
class MonitorWindowTest : public FileCommandTest {
protected:
    MonitorWindowTest() { sim.drifts = {{u"SensorTemperature", 1.0}}; }
    void OpenWith(const MonitorChoice& choice) {
        ASSERT_TRUE(choice.Write(settings, u"XC-100.xml"));
        ASSERT_EQ(files->OpenDefinitionFile(platform::Utf8ToUtf16(std::string(QUILLON_SOURCE_DIR) +
                                                                  "/CamDefine/XC-100.xml")),
                  0);
        frame->SetPropertyView(new QWidget, {}); // the commits' view
        frame->RefreshViews(REFRESH_STATUS | REFRESH_PROPERTIES);
        frame->RunCommand(kMonitorCommand);
        ASSERT_NE(panel(), nullptr);
        Button(1012)->click();
        ASSERT_TRUE(app.IsConnected());
    }
    CMonitorPanel* panel() { return frame->Monitor(); }
    // Rounds of ReadTemperature every 100 ms, plotting the sensor alone.
    void StartTemperatureRounds() {
        MonitorChoice kept;
        kept.run = u"ReadTemperature";
        kept.traces = {{u"SensorTemperature", false, 0, 0}};
        kept.intervalMs = 100;
        OpenWith(kept);
        if (!HasFatalFailure())
            panel()->Start();
    }
    size_t Rounds() { return panel()->History().Rounds().size(); }
    // Posts a commit of Gain and waits until the camera has it; returns how many rounds went
    // out between the post and the commit.
    int CommitGain(int64_t value) {
        clCamPropertyMgr& mgr = app.Engine()->PropertyManager();
        auto* gain = static_cast<clCamPropertyInteger*>(mgr.FindProperty(u"Gain"));
        mgr.SetIntegerValue(gain, value);
        const size_t before = server.Received().size();
        const clCamPropertyMgr::RecordName name = mgr.NameOf(gain);
        frame->PostUiMessage(UM_RUN_PROPERTY_JOB, name.generation, name.index);
        const std::string sent = "gai " + std::to_string(value) + "\r";
        std::string after;
        EXPECT_TRUE(WaitProcessingEvents([&] {
            after = server.Received().substr(before);
            return after.find(sent) != std::string::npos;
        })) << after;
        after.resize(std::min(after.size(), after.find(sent)));
        int rounds = 0;
        for (size_t at = after.find("tmp\r"); at != std::string::npos;
             at = after.find("tmp\r", at + 1))
            ++rounds;
        return rounds;
    }
};

class SilentMonitorTest : public MonitorWindowTest {
protected:
    SilentMonitorTest() {
        faults.noAnswer = true;
        receiveTimeout = u"300";
    }
};

// The sensor answers "TMP=n/a".
class UnreadableMonitorTest : public MonitorWindowTest {
protected:
    UnreadableMonitorTest() { sim.unreadable = {u"SensorTemperature"}; }
};

} // namespace

// Rounds run between the operator's commits, each commit waits for at most the round on the
// wire; the temperature leaving its band turns the status red and writes one log line however
// long it stays out; the choice shown is the one kept, and what the panel changes is kept.
TEST_F(MonitorWindowTest, RoundsRunInTheGapsAndACrossingIsLoggedOnce) {
    MonitorChoice kept;
    kept.run = u"ReadTemperature";
    kept.intervalMs = 100;
    kept.traces = {{u"Gain", false, 0, 0}, {u"SensorTemperature", true, 0.5, 3.5}};
    OpenWith(kept);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(panel()->Choice(), kept);

    panel()->Start();
    ASSERT_TRUE(WaitProcessingEvents([&] { return Rounds() >= 1; }));
    EXPECT_LE(CommitGain(55), 1);
    ASSERT_TRUE(WaitProcessingEvents([&] { return Rounds() >= 3; }));
    EXPECT_LE(CommitGain(56), 1);
    const std::string received = server.Received();
    EXPECT_LT(received.find("gai 55\r"), received.find("gai 56\r"));
    // Out of the band from 4 on, for a few rounds more.
    ASSERT_TRUE(WaitProcessingEvents([&] {
        const auto& rounds = panel()->History().Rounds();
        return rounds.back().values[1].value_or(0) >= 6;
    }));
    panel()->Stop();
    EXPECT_TRUE(panel()->History().Outside(1));
    EXPECT_NE(panel()->StatusLine()->styleSheet(), QString());
    const std::u16string left =
        FormatMsg(MSG_MONITOR_LEFT_BAND, {u"SensorTemperature", u"0.5", u"3.5", u"4"});
    const std::u16string log = LogText();
    EXPECT_NE(log.find(left), std::u16string::npos) << platform::Utf16ToUtf8(log);
    EXPECT_EQ(log.find(left), log.rfind(left));
    EXPECT_EQ(panel()->History().Rounds().back().values[0], 56.0);

    // The export has a line per round.
    const std::string csv = folder.file("monitor.csv");
    ASSERT_TRUE(panel()->ExportCsv(platform::Utf8ToUtf16(csv)));
    std::ifstream in(csv);
    const auto lines = std::count(std::istreambuf_iterator<char>(in), {}, '\n');
    EXPECT_EQ(static_cast<size_t>(lines), Rounds() + 1);

    // A change in the panel is kept, and a panel made afresh (the next session) shows it.
    panel()->IntervalSpin()->setValue(2500);
    kept.intervalMs = 2500;
    EXPECT_EQ(MonitorChoice::Read(settings, u"XC-100.xml"), kept);
    CMonitorPanel next(app, *frame);
    EXPECT_EQ(next.Choice(), kept);
}

// A round whose reply never comes is a gap with the reason on the status line and no box; the
// commit made meanwhile runs after it (and its own time-out asks as ever).
TEST_F(SilentMonitorTest, ARoundWithoutReplyIsAGapAndTheCommitStillRuns) {
    BoxAnswer boxes(QMessageBox::Ok);
    StartTemperatureRounds();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(
        WaitProcessingEvents([&] { return server.Received().find("tmp\r") != std::string::npos; }));
    EXPECT_LE(CommitGain(57), 1);
    ASSERT_TRUE(WaitProcessingEvents([&] { return !boxes.texts.isEmpty() && Rounds() >= 1; }));
    panel()->Stop();
    ASSERT_TRUE(WaitProcessingEvents([&] { return app.IsEngineReady(); }));
    EXPECT_EQ(panel()->History().Rounds().front().values,
              std::vector<std::optional<double>>{std::nullopt});
    EXPECT_EQ(panel()->StatusLine()->text(), M(MSG_RECEIVE_TIMEOUT));
    EXPECT_EQ(boxes.texts, QStringList{M(MSG_RECEIVE_TIMEOUT)}) << "the commit's, not a round's";
}

// A reply whose value cannot be read is a gap too, not the value stored before, and says why.
TEST_F(UnreadableMonitorTest, AValueThatDoesNotParseIsAGap) {
    BoxAnswer boxes(QMessageBox::Ok);
    StartTemperatureRounds();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(WaitProcessingEvents([&] { return Rounds() >= 2; }));
    panel()->Stop();
    for (const MonitorRound& round : panel()->History().Rounds())
        EXPECT_EQ(round.values, std::vector<std::optional<double>>{std::nullopt});
    EXPECT_EQ(panel()->StatusLine()->text(), M(MSG_MONITOR_UNREAD_VALUE).replace("%s", "TMP=n/a"));
    EXPECT_TRUE(boxes.texts.isEmpty());
}

namespace {
using MonitorChartTest = QtAppTest;
} // namespace

// A day of rounds shown whole: a few points per plot column, yet the one high peak and the
// gap (a break in the line) are still there; the last few minutes are drawn point by point.
TEST_F(MonitorChartTest, ADayOfRoundsKeepsItsPeakAndItsGap) {
    clApplication app;
    CMainFrame frame(app);
    CMonitorPanel panel(app, frame);
    panel.resize(1000, 500);
    clMonitorHistory history({{u"Value", false, 0, 0}});
    const auto now = std::chrono::system_clock::now();
    const size_t n = clMonitorHistory::kMaxRounds;
    for (size_t r = 0; r < n; ++r)
        history.Append({now - std::chrono::seconds(n - r),
                        {r == 40000 ? std::nullopt
                                    : std::optional<double>(r == 50000 ? 99.0 : double(r % 7))}});
    for (const int minutes : {24 * 60, 5}) {
        panel.MinutesSpin()->setValue(minutes);
        panel.ShowHistory(history);
        std::vector<QList<QPointF>> lines;
        for (QAbstractSeries* s : panel.ChartView()->chart()->series())
            if (const auto points = static_cast<QLineSeries*>(s)->points(); !points.isEmpty())
                lines.push_back(points);
        size_t points = 0;
        double peak = 0;
        for (const auto& line : lines) {
            points += static_cast<size_t>(line.size());
            for (const QPointF& p : line)
                peak = std::max(peak, p.y());
        }
        if (minutes == 5) {
            EXPECT_EQ(lines.size(), 1u);
            EXPECT_NEAR(double(points), 300.0, 1.0) << "every round of the last five minutes";
            continue;
        }
        EXPECT_EQ(lines.size(), 2u) << "the gap breaks the line";
        EXPECT_LT(points, 4000u);
        EXPECT_EQ(peak, 99.0);
    }
}
