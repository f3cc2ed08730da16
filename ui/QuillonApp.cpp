#include "ui/QuillonApp.h"

#include "base/MessageTable.h"
#include "base/Messages.h"
#include "comm/CommunicateModel.h"
#include "textfiles/TextFiles.h"
#include "ui/CamPropertyForm.h"
#include "ui/MainFrame.h"
#include "ui/MessageBox.h"
#include "ui/TextFilesUi.h"
#include "ui/VorlixSettingDialog.h"
#include "ui/WaitMsgDlg.h"

#include <QLibraryInfo>
#include <QTimer>
#include <cstdlib>

CQuillonApp::CQuillonApp(int& argc, char** argv)
    : QApplication(argc, argv), m_argc(argc), m_argv(argv) {
    setApplicationName(QStringLiteral("Quillon"));
    // The desktop's application identity (the taskbar groups windows by it): the name of the
    // installed desktop entry and AppStream metainfo.
    setDesktopFileName(QStringLiteral(QUILLON_APP_ID));
}

bool LoadQtTranslation(QTranslator& translator, int uiLanguageIndex) {
    if (uiLanguageIndex != 0)
        return false;
    return translator.load(QStringLiteral("qtbase_ja"),
                           QLibraryInfo::path(QLibraryInfo::TranslationsPath));
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
        RunMessageBox(nullptr, QStringLiteral("Quillon"),
                      QStringLiteral("Can not start application"), MB_OK);
        return false;
    }

    // Qt's own texts (standard buttons, file dialogs, context menus) in the UI language.
    if (LoadQtTranslation(m_qtTranslator, UiLanguageIndex()))
        installTranslator(&m_qtTranslator);

    // The main window: created, shown with its initial size and the stored placement, then told
    // that start-up is complete.
    m_frame = std::make_unique<CMainFrame>(*this);
    // Column 1: the property view of the engine's definition.
    auto* view = new CCamPropertyForm(this);
    view->resize(200, 100);
    view->SetPropertyManager(&Engine()->PropertyManager());
    view->SetReadyCheck([this] { return IsEngineReady(); });
    m_frame->SetPropertyView(view, {[view](uint32_t flags) { view->Refresh(flags); },
                                    [view] { view->ReloadAllValues(); }});
    view->InitialUpdate();
    // The settings text files and the camera definition file: file commands, reopening the last
    // definition at start-up, identity lines of every reply and the batch job.
    m_textUi = std::make_unique<CTextFilesUi>(
        m_frame.get(),
        CTextFilesUi::PropertyViewCalls{[] { return true; }, [view] { view->Clear(); },
                                        [view] { view->Build(); }});
    m_textFiles = std::make_unique<clTextFiles>(*this, *Engine(), m_textUi.get());
    // A model line of the auto-select query opens that model's definition.
    Session().SetModelHook(
        [this](std::u16string_view model) { m_textFiles->SelectDefinitionForModel(model); });
    m_frame->SetFileCommandHooks(
        {[this] { m_textFiles->SelectDefinitionFile(); },
         [this] { m_textFiles->CloseDefinitionFile(); },
         [this] { m_textFiles->SaveSettingsText(); }, [this] { m_textFiles->LoadBatchText(); },
         [this] { m_textFiles->OfferLastDefinition(); },
         [this](const std::u16string& path) { m_textFiles->OpenChosenDefinition(path); },
         [this](const std::u16string& path) { m_textFiles->ReplayBatchFile(path); }});
    m_frame->ShowInitial();
    m_frame->PostUiMessage(UM_STARTUP, 0, 0);
    return true;
}

void CQuillonApp::ExitInstance() {
    // The threads stop while the window still answers their messages; then the window goes and
    // the rest of the shutdown runs.
    if (m_frame)
        m_frame->ShutDownThreads();
    Session().SetModelHook(nullptr);
    m_textFiles.reset();
    m_textUi.reset();
    m_frame.reset();
    ShutDown();
}

void CQuillonApp::CreateWaitDialog() {
    m_waitDialog = std::make_unique<CWaitMsgDlg>();
    m_waitDialog->hide();
}

void CQuillonApp::DestroyWaitDialog() {
    m_waitDialog.reset();
}

void CQuillonApp::ShowWaitDialog(std::u16string_view text, std::u16string_view caption) {
    if (!m_waitDialog)
        return;
    auto q = [](std::u16string_view t) {
        return QString::fromUtf16(t.data(), static_cast<qsizetype>(t.size()));
    };
    m_waitDialog->ShowCentred(m_frame.get(), q(caption), q(text));
}

void CQuillonApp::HideWaitDialog() {
    if (m_waitDialog && m_waitDialog->isVisible())
        m_waitDialog->HideWait(m_frame.get());
}

int CQuillonApp::Run() {
    ArmQuitTimer();
    if (!InitInstance()) {
        ExitInstance();
        return 1;
    }
    // The quit hook may have fired already, in an event pass of the start-up; exec would then
    // wait for an end that was asked for before it began.
    const int code = m_quitRequested ? 0 : exec();
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
    QTimer::singleShot(static_cast<int>(std::min(ms, 86400000L)), this, [this] {
        m_quitRequested = true;
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
        QApplication::closeAllWindows();
        QCoreApplication::exit(0);
    });
}
