// Pictures of the main window for the documentation: the program started in a folder of its
// own with the camera simulator as its serial port, connected, after "sta" in the console.
//
//   quillon_screenshot OUTPUT.png en|ja [--message-box]
//
// With --message-box the picture shows the window with a question box over it, whose standard
// buttons carry Qt's own texts in the UI language (Qt's translations).
//
// Run it on a real display server (xvfb-run) so the pictures use real fonts.
#include "app/Application.h"
#include "base/MessageTable.h"
#include "base/Messages.h"
#include "camdef/CamPropertyMgr.h"
#include "comm/CommunicateModel.h"
#include "components/vorlix/Vorlix.h"
#include "platform/IniProfile.h"
#include "platform/Text.h"
#include "support/QtWait.h"
#include "support/TempDir.h"
#include "tools/camsim/PtyServer.h"
#include "ui/CamPropertyForm.h"
#include "ui/ConsoleForm.h"
#include "ui/MainFrame.h"
#include "ui/MainFrameLogic.h"
#include "ui/QuillonApp.h"

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QTranslator>
#include <QWindow>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    const bool messageBox = argc == 4 && std::string(argv[3]) == "--message-box";
    if ((argc != 3 && !messageBox) ||
        (std::string(argv[2]) != "en" && std::string(argv[2]) != "ja")) {
        std::fprintf(stderr, "usage: quillon_screenshot OUTPUT.png en|ja [--message-box]\n");
        return 2;
    }
    const std::string output = argv[1];
    const bool japanese = std::string(argv[2]) == "ja";
    // The user's UI language decides unless English is forced.
    setenv("LANGUAGE", japanese ? "ja_JP" : "en_US", 1);
    QApplication qt(argc, argv);

    TempDir folder, locks;
    const std::u16string settings = platform::Utf8ToUtf16(folder.file("Quillon_00.ini"));
    clCameraSim sim;
    if (sim.Load(std::string(QUILLON_SOURCE_DIR) + "/CamDefine/XC-100.xml") != 0)
        return 1;
    sim.identity.model = u"XC-100";
    sim.identity.version = u"1.00";
    sim.identity.serial = u"000001";
    clPtyServer server(sim);
    const std::string link = folder.file("camsim");
    if (!server.Open(link) || !server.Start())
        return 1;
    const std::u16string channel = u"CAMERA_COMM_Ch00";
    clApplication::WriteDefaultSettings(settings);
    platform::WriteSetting(u"Internationalize", u"Force English", japanese ? u"0" : u"1", settings);
    platform::WriteSetting(channel, u"SelectInterface", u"COM port(Build In)", settings);
    platform::WriteSetting(channel, u"COM Port Name",
                           VorlixPortNameOfPath(platform::Utf8ToUtf16(link)), settings);
    VorlixSaveAddedDevices(settings, {platform::Utf8ToUtf16(link)});

    int status = 1;
    {
        clApplication app;
        clApplication::Environment env;
        env.programFolder = folder.str();
        env.lockFolder = locks.str();
        env.changeCurrentDirectory = false;
        app.SetEnvironment(env);
        if (app.StartUp() != 0)
            return 1;
        QTranslator qtTexts; // as the program does at start-up
        if (LoadQtTranslation(qtTexts, UiLanguageIndex()))
            QCoreApplication::installTranslator(&qtTexts);
        {
            CMainFrame frame(app);
            auto* view = new CCamPropertyForm(&app);
            view->SetPropertyManager(&app.Engine()->PropertyManager());
            view->SetReadyCheck([&app] { return app.IsEngineReady(); });
            frame.SetPropertyView(view, {[view](uint32_t flags) { view->Refresh(flags); },
                                         [view] { view->ReloadAllValues(); }});
            view->InitialUpdate();
            // The sample definition, opened the way the file command opens it.
            const std::u16string definition =
                platform::Utf8ToUtf16(std::string(QUILLON_SOURCE_DIR) + "/CamDefine/XC-100.xml");
            app.Engine()->PropertyManager().SetSchemaPathFormat(platform::Utf8ToUtf16(
                std::string(QUILLON_SOURCE_DIR) + "/CamDefine/OrvaCamSchema_v%d_%d.xsd"));
            if (app.Engine()->PropertyManager().Load(definition) != 0)
                return 1;
            app.SetCurrentDefinitionFile(definition);
            view->Build();
            frame.ShowInitial();
            frame.resize(frame.width() + 420, frame.height() + 60);
            frame.PostUiMessage(UM_STARTUP, 0, 0);
            WaitProcessingEvents([&] { return app.Engine()->WorkerExists(); });
            frame.RunCommand(mainframe::IDC_SHOW_CONSOLE);
            frame.RunCommand(mainframe::ID_CONNECT);
            frame.Console()->Input()->setText(QStringLiteral("sta"));
            frame.Console()->Send();
            const bool answered = WaitProcessingEvents(
                [&] { return !app.Engine()->CameraModel().empty() && app.IsEngineReady(); });
            WaitProcessingEvents(
                [] { return false; },
                std::chrono::milliseconds(400)); // the idle pass shows the rest of the reply
            if (messageBox) {
                // The question the program asks at start-up, over the window.
                QMessageBox box(QMessageBox::Question, QStringLiteral("Quillon"),
                                QString::fromUtf16(Msg(MSG_REOPEN_LAST_DEFINE)) +
                                    QStringLiteral("\nFilename=XC-100.xml"),
                                QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, &frame);
                box.open();
                WaitProcessingEvents(
                    [&] { return box.windowHandle() && box.windowHandle()->isExposed(); });
                WaitProcessingEvents([] { return false; }, std::chrono::milliseconds(400));
                const QRect area = frame.frameGeometry();
                const QPixmap shot =
                    frame.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
                if (answered && shot.save(QString::fromStdString(output)))
                    status = 0;
                box.close();
            } else if (answered && frame.grab().save(QString::fromStdString(output))) {
                status = 0;
            }
            frame.ShutDownThreads();
            app.DisconnectCamera();
        }
        app.ShutDown();
    }
    server.Stop();
    return status;
}
