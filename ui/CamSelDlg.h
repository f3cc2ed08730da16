// CCamSelDlg: the communication settings dialog. The user picks the interface (the built-in
// COM port or a port plug-in), may open the interface's own port settings, and sets the three
// time-outs. OK is only possible with a port chosen and every time-out from 100 to
// 4294967294 ms; a bad time-out keeps the dialog open with the focus on that edit.
#pragma once

#include "ui/CommSettings.h"

#include <QDialog>
#include <functional>

class QComboBox;
class QLineEdit;
class QPushButton;

class CCamSelDlg : public QDialog {
    Q_OBJECT
public:
    enum : int {
        IDC_INTERFACE_GROUP = 1100,
        IDC_INTERFACE = 1101,
        IDC_DETAILED = 1102,
        IDC_TIMEOUT_GROUP = 1103,
        IDC_FIRST_RECEIVE_LABEL = 1104,
        IDC_FIRST_RECEIVE = 1105,
        IDC_NEXT_RECEIVE_LABEL = 1106,
        IDC_NEXT_RECEIVE = 1108,
        IDC_SEND_LABEL = 1109,
        IDC_SEND = 1110,
        IDC_DEFAULT = 1111,
        IDC_OK = 1,
        IDC_CANCEL = 2,
    };

    // Shows the range message of a rejected time-out; a warning box unless replaced.
    using RangeMessage = std::function<void(QWidget* parent, const QString& text)>;

    CCamSelDlg(commsettings::IInterfaceList& interfaces, const commsettings::Data& data,
               QWidget* parent = nullptr);

    // The dialog data; after OK it holds the accepted time-outs and interface index.
    const commsettings::Data& Data() const { return m_data; }

    void SetRangeMessage(RangeMessage show) { m_rangeMessage = std::move(show); }
    // The text of the range message.
    static QString RangeMessageText();

    // OK: checks the three edits in order and closes only when all hold valid time-outs.
    void accept() override;

private:
    void UpdateEnables();
    void OnInterfaceChosen(int index);
    void OnDetailed();
    void OnDefault();
    void ShowTimeouts();

    commsettings::IInterfaceList& m_interfaces;
    commsettings::Data m_data;
    RangeMessage m_rangeMessage;
    QComboBox* m_combo = nullptr;
    QPushButton* m_detailed = nullptr;
    QPushButton* m_ok = nullptr;
    QLineEdit* m_edits[3] = {};
};
