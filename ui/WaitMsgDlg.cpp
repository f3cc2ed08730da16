#include "ui/WaitMsgDlg.h"

#include "ui/DialogTemplate.h"

#include <QLabel>
#include <QPushButton>

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
    show();
    if (owner) {
        // Centred with its frame, which the window only has once it is shown.
        const QRect area = owner->frameGeometry();
        const QSize size = frameGeometry().size();
        move(area.x() + (area.width() - size.width()) / 2,
             area.y() + (area.height() - size.height()) / 2);
    }
    raise();
    repaint();
}

void CWaitMsgDlg::HideWait(QWidget* owner) {
    hide();
    if (owner)
        owner->update();
}
