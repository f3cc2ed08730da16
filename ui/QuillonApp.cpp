#include "ui/QuillonApp.h"

#include "app/Messages.h"
#include "ui/MainFrame.h"
#include "ui/VorlixSettingDlg.h"

#include <QMessageBox>
#include <QTimer>
#include <cstdlib>

CQuillonApp::CQuillonApp(int& argc, char** argv)
    : QApplication(argc, argv), m_argc(argc), m_argv(argv) {
    setApplicationName(QStringLiteral("Quillon"));
    // The desktop's application identity (the taskbar groups windows by it).
    setDesktopFileName(QStringLiteral("Quillon"));
}

CQuillonApp::~CQuillonApp() {
    ExitInstance();
}

bool CQuillonApp::InitInstance() {
    // Read the instance switch.
    ReadInstanceSwitch(m_argc, m_argv);
    // The serial-port utility component shows its port-settings dialog through this hook.
    RegisterVorlixSettingDialog();

    if (StartUp() != 0) {
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Quillon"),
                        QStringLiteral("Can not start application"), QMessageBox::Ok);
        box.exec();
        return false;
    }

    // The main window: created, shown with its initial size and the stored placement, then told
    // that start-up is complete.
    m_frame = std::make_unique<CMainFrame>(*this);
    m_frame->resize(900, 600);
    m_frame->show();
    m_frame->PostUiMessage(UM_STARTUP, 0, 0);
    return true;
}

void CQuillonApp::ExitInstance() {
    m_frame.reset();
    ShutDown();
}

int CQuillonApp::Run() {
    ArmQuitTimer();
    if (!InitInstance()) {
        ExitInstance();
        return 1;
    }
    const int code = exec();
    ExitInstance();
    return code;
}

// Test and automation hook: with QUILLON_QUIT_AFTER_MS set to a positive number of milliseconds,
// the program closes any modal box and ends by itself after that time, the way it ends when the
// user closes it. Start-up tests run the real program with it.
void CQuillonApp::ArmQuitTimer() {
    const char* text = std::getenv("QUILLON_QUIT_AFTER_MS");
    if (!text || !*text)
        return;
    char* end = nullptr;
    const long ms = std::strtol(text, &end, 10);
    if (*end != '\0' || ms <= 0)
        return;
    QTimer::singleShot(static_cast<int>(std::min(ms, 86400000L)), this, [] {
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
        QApplication::closeAllWindows();
        QCoreApplication::exit(0);
    });
}
