#include "ui/CamSelDlg.h"

#include "base/MessageTable.h"
#include "base/Messages.h"
#include "ui/DialogTemplate.h"
#include "ui/MessageBox.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

namespace {

QString M(int id) {
    return QString::fromUtf16(Msg(id));
}

} // namespace

CCamSelDlg::CCamSelDlg(commsettings::IInterfaceList& interfaces, const commsettings::Data& data,
                       QWidget* parent)
    : QDialog(parent), m_interfaces(interfaces), m_data(data) {
    setWindowTitle(M(MSG_COMM_SETTINGS));
    const DialogTemplate t(this);
    t.setFixedSize(244, 173);

    t.place(new QGroupBox(M(MSG_SELECT_INTERFACE), this), IDC_INTERFACE_GROUP, {7, 7, 230, 33});
    m_combo = t.place(new QComboBox(this), IDC_INTERFACE, {11, 20, 146, 14});
    m_detailed =
        t.place(new QPushButton(M(MSG_DETAILED_SETTING), this), IDC_DETAILED, {163, 20, 68, 14});
    t.place(new QGroupBox(M(MSG_TIMEOUTS), this), IDC_TIMEOUT_GROUP, {7, 50, 179, 93});

    struct Row {
        int labelId;
        int labelMsg;
        int editId;
        int y;
    };
    const Row rows[3] = {{IDC_FIRST_RECEIVE_LABEL, MSG_FIRST_RECEIVE, IDC_FIRST_RECEIVE, 65},
                         {IDC_NEXT_RECEIVE_LABEL, MSG_NEXT_RECEIVE, IDC_NEXT_RECEIVE, 83},
                         {IDC_SEND_LABEL, MSG_SEND_TIMEOUT, IDC_SEND, 101}};
    auto* digits =
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this);
    for (int i = 0; i < 3; ++i) {
        t.place(new QLabel(M(rows[i].labelMsg), this), rows[i].labelId, {14, rows[i].y + 2, 76, 8});
        m_edits[i] = t.place(new QLineEdit(this), rows[i].editId, {97, rows[i].y, 58, 14});
        m_edits[i]->setValidator(digits);
        t.place(new QLabel(QStringLiteral("msec"), this), -1, {159, rows[i].y + 6, 17, 8});
    }
    auto* byDefault =
        t.place(new QPushButton(M(MSG_DEFAULT), this), IDC_DEFAULT, {129, 124, 50, 14});
    m_ok = t.place(new QPushButton(QStringLiteral("OK"), this), IDC_OK, {137, 152, 50, 14});
    auto* cancel = t.place(new QPushButton(M(MSG_CANCEL), this), IDC_CANCEL, {188, 152, 50, 14});
    m_ok->setDefault(true);
    byDefault->setAutoDefault(false);
    m_detailed->setAutoDefault(false);

    for (int i = 0; i < m_interfaces.Count(); ++i)
        m_combo->addItem(QString::fromStdU16String(m_interfaces.Label(i)));
    const bool valid = m_data.selectedInterface >= 0 && m_data.selectedInterface < m_combo->count();
    m_combo->setCurrentIndex(valid ? m_data.selectedInterface : -1);
    if (!valid)
        m_data.selectedInterface = -1;
    UpdateEnables();
    ShowTimeouts();

    connect(m_combo, &QComboBox::activated, this, &CCamSelDlg::OnInterfaceChosen);
    connect(m_detailed, &QPushButton::clicked, this, &CCamSelDlg::OnDetailed);
    connect(byDefault, &QPushButton::clicked, this, &CCamSelDlg::OnDefault);
    connect(m_ok, &QPushButton::clicked, this, &CCamSelDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &CCamSelDlg::reject);

    FitTexts(this);
    m_rangeMessage = [](QWidget* owner, const QString& text) {
        RunMessageBox(owner, QString(), text, MB_OK | MB_ICONWARNING);
    };
}

QString CCamSelDlg::RangeMessageText() {
    return UiLanguageIndex() == 0 ? QStringLiteral("%1 から %2 までの整数を入力してください。")
                                        .arg(commsettings::kMinTimeout)
                                        .arg(commsettings::kMaxTimeout)
                                  : QStringLiteral("Please enter an integer between %1 and %2.")
                                        .arg(commsettings::kMinTimeout)
                                        .arg(commsettings::kMaxTimeout);
}

void CCamSelDlg::UpdateEnables() {
    const int index = m_data.selectedInterface;
    if (index < 0 || index >= m_interfaces.Count()) {
        m_detailed->setEnabled(false);
        m_ok->setEnabled(false);
        return;
    }
    m_detailed->setEnabled(true);
    m_ok->setEnabled(commsettings::HasPortChosen(m_interfaces.PortName(index)));
}

void CCamSelDlg::OnInterfaceChosen(int index) {
    m_data.selectedInterface = index;
    UpdateEnables();
    m_detailed->setFocus(Qt::OtherFocusReason);
}

void CCamSelDlg::OnDetailed() {
    if (m_data.selectedInterface < 0 || m_data.selectedInterface >= m_interfaces.Count())
        return;
    m_interfaces.SettingDialog(m_data.selectedInterface);
    UpdateEnables();
}

void CCamSelDlg::OnDefault() {
    m_data.firstReceive = m_data.nextReceive = m_data.send = commsettings::kDefaultTimeout;
    ShowTimeouts();
}

void CCamSelDlg::ShowTimeouts() {
    m_edits[0]->setText(QString::number(m_data.firstReceive));
    m_edits[1]->setText(QString::number(m_data.nextReceive));
    m_edits[2]->setText(QString::number(m_data.send));
}

void CCamSelDlg::accept() {
    // OK is disabled while no port is chosen; Enter must not get round that.
    if (!m_ok->isEnabled())
        return;
    uint32_t values[3] = {};
    for (int i = 0; i < 3; ++i) {
        const auto value = commsettings::ParseTimeout(m_edits[i]->text().toStdU16String());
        if (!value) {
            if (m_rangeMessage)
                m_rangeMessage(this, RangeMessageText());
            m_edits[i]->setFocus(Qt::OtherFocusReason);
            m_edits[i]->selectAll();
            return;
        }
        values[i] = *value;
    }
    m_data.firstReceive = values[0];
    m_data.nextReceive = values[1];
    m_data.send = values[2];
    QDialog::accept();
}
