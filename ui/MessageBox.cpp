#include "ui/MessageBox.h"

#include "base/Messages.h"
#include "comm/EngineContext.h"

#include <QMessageBox>
#include <QPushButton>

namespace {

QMessageBox::Icon IconOf(intptr_t style) {
    switch (style & 0xF0) {
    case MB_ICONERROR:
        return QMessageBox::Critical;
    case MB_ICONQUESTION:
        return QMessageBox::Question;
    case MB_ICONWARNING:
        return QMessageBox::Warning;
    case MB_ICONINFORMATION:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

} // namespace

int32_t RunMessageBox(QWidget* owner, const QString& caption, const QString& text, intptr_t style) {
    QMessageBox box(IconOf(style), caption, text, QMessageBox::NoButton, owner);
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
    if (style & kMbDefaultButton2) {
        // The second button: No of Yes/No, Cancel of OK/Cancel.
        const bool yesNo = (style & 0x0F) == MB_YESNO || (style & 0x0F) == MB_YESNOCANCEL;
        if (auto* second = qobject_cast<QPushButton*>(
                box.button(yesNo ? QMessageBox::No : QMessageBox::Cancel)))
            box.setDefaultButton(second);
    }
    switch (box.exec()) {
    case QMessageBox::Ok:
        return IDOK;
    case QMessageBox::Yes:
        return IDYES;
    case QMessageBox::No:
        return IDNO;
    case QMessageBox::Cancel:
        return IDCANCEL;
    default:
        // Closed without a button: the answer a dialog gives to Escape.
        return (style & 0x0F) == MB_OK ? IDOK : (style & 0x0F) == MB_YESNO ? IDNO : IDCANCEL;
    }
}
