#include "ui/WaitMsgDlg.h"

#include "ui/DialogTemplate.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QWindow>

CWaitMsgDlg::CWaitMsgDlg(QWidget* parent) : QDialog(parent) {
    setModal(false);
    const DialogTemplate t(this);
    t.setFixedSize(252, 69);
    m_message = t.place(new QLabel(this), IDC_MESSAGE, {7, 7, 238, 33});
    m_message->setWordWrap(true);
    m_message->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* ok = t.place(new QPushButton(QStringLiteral("OK"), this), IDC_OK, {195, 7, 50, 14});
    auto* cancel =
        t.place(new QPushButton(QStringLiteral("Cancel"), this), IDC_CANCEL, {195, 24, 50, 14});
    ok->hide();
    cancel->setEnabled(false);
    cancel->hide();
}

void CWaitMsgDlg::SetMessage(const QString& text) {
    m_message->setText(text);
}

QString CWaitMsgDlg::Message() const {
    return m_message->text();
}

void CWaitMsgDlg::ShowCentred(QWidget* owner, const QString& caption, const QString& text) {
    setWindowTitle(caption);
    SetMessage(text);
    QWidget* top = owner ? owner->window() : nullptr;
    if (top) {
        // Owned by the main window: kept above it and minimised with it. Qt keeps the
        // transient parent as a weak pointer, so the owner may go first.
        create();
        (void)top->winId(); // its native window, which a hidden owner may not have yet
        windowHandle()->setTransientParent(top->windowHandle());
        Centre(top);
    }
    show();
    if (top)
        Centre(top); // again with the frame, which the window only has once it is shown
    raise();
    // The caller blocks this thread next: wait until the window system shows the window (only
    // that long, and without user input), then paint it at once, so that it is on the screen
    // during the wait. A window system that never maps it costs at most the deadline.
    QElapsedTimer waited;
    waited.start();
    while (!windowHandle()->isExposed() && waited.elapsed() < kExposeDeadlineMs)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
    repaint();
}

void CWaitMsgDlg::Centre(QWidget* top) {
    const QRect area = top->frameGeometry();
    const QSize size = isVisible() ? frameGeometry().size() : this->size();
    move(area.x() + (area.width() - size.width()) / 2,
         area.y() + (area.height() - size.height()) / 2);
}

void CWaitMsgDlg::HideWait(QWidget* owner) {
    hide();
    if (owner)
        owner->update();
}
