// CSimpleSelectDlg: a list chooser. The caller gives caption, prompt and entries; OK is only
// possible with an entry selected and gives that entry's text.
#pragma once

#include <QDialog>
#include <QStringList>

class QListWidget;
class QPushButton;

class CSimpleSelectDlg : public QDialog {
    Q_OBJECT
public:
    enum : int {
        IDC_PROMPT = 20005,
        IDC_LIST = 20007,
        IDC_OK = 1,
        IDC_CANCEL = 2,
    };

    CSimpleSelectDlg(const QString& caption, const QString& prompt, const QStringList& entries,
                     QWidget* parent = nullptr);

    // The chosen entry's text after OK; empty otherwise.
    const QString& Result() const { return m_result; }

    void accept() override;

private:
    void UpdateEnables();

    QListWidget* m_list = nullptr;
    QPushButton* m_ok = nullptr;
    QString m_result;
};
