// CWaitMsgDlg: the modeless "please wait" dialog shown while the port is being closed. One
// instance lives from start-up to exit, hidden except while it is needed.
#pragma once

#include <QDialog>

class QLabel;

class CWaitMsgDlg : public QDialog {
    Q_OBJECT
public:
    enum : int { IDC_MESSAGE = 1090, IDC_OK = 1, IDC_CANCEL = 2 };

    explicit CWaitMsgDlg(QWidget* parent = nullptr);

    void SetMessage(const QString& text);
    QString Message() const;

    // Sets caption and message, shows the dialog centred on and owned by the window of `owner`
    // (or where it is when there is none), and returns once the window system shows it and it
    // is painted, so that it stays visible while the caller blocks the UI thread.
    void ShowCentred(QWidget* owner, const QString& caption, const QString& text);
    // Hides the dialog and has `owner` repaint where it was.
    void HideWait(QWidget* owner);

protected:
    // The dialog has no way to be closed by the user.
    void reject() override {}

private:
    static constexpr int kExposeDeadlineMs = 500;
    void Centre(QWidget* top);

    QLabel* m_message = nullptr;
};
