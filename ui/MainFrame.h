// CMainFrame: the main window of Quillon and the core's way to the user interface. Messages
// from the user-interface thread run their handler directly; from any other thread Send blocks
// until the user-interface thread has run it, Post queues it.
#pragma once

#include "app/UiTarget.h"

#include <QMainWindow>

class clApplication;

class CMainFrame : public QMainWindow, public IUiTarget {
    Q_OBJECT
public:
    explicit CMainFrame(clApplication& app, QWidget* parent = nullptr);
    ~CMainFrame() override;

    intptr_t SendUiMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;
    void PostUiMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;

protected:
    // Handler of the application window messages; runs on the user-interface thread.
    virtual intptr_t OnUiMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam);

private:
    intptr_t OnMessageBox(intptr_t style);

    clApplication& m_app;
};
