// CQuillonApp: the windowed application, the Qt application object together with the program's
// own state (clApplication).
#pragma once

#include "app/Application.h"

#include <QApplication>
#include <QTranslator>
#include <memory>

class CMainFrame;
class CTextFilesUi;
class CWaitMsgDlg;
class clTextFiles;

// Loads Qt's own Japanese texts (qtbase_ja from Qt's translations folder) when the UI language
// index is 0 (Japanese). False for English or when the translations are not installed.
bool LoadQtTranslation(QTranslator& translator, int uiLanguageIndex);

class CQuillonApp : public QApplication, public clApplication {
    Q_OBJECT
public:
    CQuillonApp(int& argc, char** argv);
    ~CQuillonApp() override;

    // Instance initialisation, the message loop, instance exit; returns the process exit code
    // (non-zero when the program could not start).
    int Run();

    // Instance initialisation: false when the program must end (after ExitInstance).
    bool InitInstance();
    // Instance exit: shutdown of the application state.
    void ExitInstance();

    CMainFrame* MainFrame() const { return m_frame.get(); }

    void ShowWaitDialog(std::u16string_view text, std::u16string_view caption) override;
    void HideWaitDialog() override;

protected:
    void CreateWaitDialog() override;
    void DestroyWaitDialog() override;

private:
    void ArmQuitTimer();

    int m_argc;
    char** m_argv;
    std::unique_ptr<CMainFrame> m_frame;
    // The settings-text and definition-file commands with their Qt side.
    std::unique_ptr<CTextFilesUi> m_textUi;
    std::unique_ptr<clTextFiles> m_textFiles;
    std::unique_ptr<CWaitMsgDlg> m_waitDialog;
    QTranslator m_qtTranslator;
    bool m_quitRequested = false; // by the QUILLON_QUIT_AFTER_MS hook
};
