#include "ui/MainFrame.h"

#include "app/Application.h"
#include "app/Messages.h"

#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

namespace {

QString ToQString(const std::u16string& text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

CMainFrame::CMainFrame(clApplication& app, QWidget* parent) : QMainWindow(parent), m_app(app) {
    setWindowTitle(QStringLiteral("Quillon (64bit)"));
    m_app.m_mainFrame = this;
}

CMainFrame::~CMainFrame() {
    if (m_app.m_mainFrame == this)
        m_app.m_mainFrame = nullptr;
}

intptr_t CMainFrame::SendUiMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    if (QThread::currentThread() == thread())
        return OnUiMessage(msg, wParam, lParam);
    intptr_t result = 0;
    QMetaObject::invokeMethod(
        this, [&] { result = OnUiMessage(msg, wParam, lParam); }, Qt::BlockingQueuedConnection);
    return result;
}

void CMainFrame::PostUiMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    QMetaObject::invokeMethod(
        this, [this, msg, wParam, lParam] { OnUiMessage(msg, wParam, lParam); },
        Qt::QueuedConnection);
}

intptr_t CMainFrame::OnUiMessage(uint32_t msg, uintptr_t /*wParam*/, intptr_t lParam) {
    switch (msg) {
    case UM_STARTUP:
        // The worker thread, the elapsed-time watch and the offer to reopen the last camera
        // definition start here.
        return 0;
    case UM_MESSAGE_BOX:
        return OnMessageBox(lParam);
    default:
        return 0;
    }
}

intptr_t CMainFrame::OnMessageBox(intptr_t style) {
    QMessageBox box(this);
    box.setText(ToQString(m_app.m_messageBoxText));
    box.setWindowTitle(m_app.m_messageBoxCaption.empty() ? QStringLiteral("Quillon")
                                                         : ToQString(m_app.m_messageBoxCaption));
    switch (style & 0xF0) {
    case MB_ICONERROR:
        box.setIcon(QMessageBox::Critical);
        break;
    case MB_ICONQUESTION:
        box.setIcon(QMessageBox::Question);
        break;
    case MB_ICONWARNING:
        box.setIcon(QMessageBox::Warning);
        break;
    case MB_ICONINFORMATION:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        break;
    }
    switch (style & 0x0F) {
    case MB_OKCANCEL:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case MB_YESNOCANCEL:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    case MB_YESNO:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    default:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    }
    int32_t result = IDCANCEL;
    switch (box.exec()) {
    case QMessageBox::Ok:
        result = IDOK;
        break;
    case QMessageBox::Yes:
        result = IDYES;
        break;
    case QMessageBox::No:
        result = IDNO;
        break;
    default:
        // Closed without a button: the answer a dialog gives to Escape.
        result = (style & 0x0F) == MB_OK ? IDOK : (style & 0x0F) == MB_YESNO ? IDNO : IDCANCEL;
        break;
    }
    m_app.m_messageBoxResult = result;
    return result;
}
