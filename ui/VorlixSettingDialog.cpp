#include "ui/VorlixSettingDialog.h"

#include "base/MessageTable.h"
#include "platform/NetAddress.h"
#include "platform/Text.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMetaObject>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

QString Q(const std::u16string& s) {
    return QString::fromStdU16String(s);
}

QString M(int id) {
    return QString::fromUtf16(Msg(id));
}

int ShowDialog(VorlixDialogRequest& request) {
    CVorlixSettingDialog dlg(request);
    if (dlg.exec() != QDialog::Accepted)
        return 0;
    dlg.StoreChoice();
    return 1;
}

void AddItems(QComboBox* box, std::initializer_list<std::pair<QString, int>> items) {
    for (const auto& [text, value] : items)
        box->addItem(text, value);
}

void Select(QComboBox* box, int value) {
    const int i = box->findData(value);
    box->setCurrentIndex(i < 0 ? 0 : i);
}

} // namespace

std::function<std::unique_ptr<IDeviceEventSource>()> CVorlixSettingDialog::deviceSource =
    &MakeUdevTtySource;

void RegisterVorlixSettingDialog() {
    VorlixSetDialogHook(&ShowDialog);
}

CVorlixSettingDialog::CVorlixSettingDialog(VorlixDialogRequest& request, QWidget* parent)
    : QDialog(parent), m_request(request) {
    setWindowTitle(M(MSG_COM_PORT_SETTINGS));
    setObjectName(QStringLiteral("VorlixSettingDialog"));

    portCombo = new QComboBox(this);
    portCombo->setObjectName(QStringLiteral("portCombo"));
    deviceLabel = new QLabel(this);
    deviceLabel->setObjectName(QStringLiteral("deviceLabel"));

    baudCombo = new QComboBox(this);
    baudCombo->setObjectName(QStringLiteral("baudCombo"));
    baudCombo->setEditable(true);
    baudCombo->setValidator(new QIntValidator(50, 4000000, baudCombo));
    for (uint32_t rate : VorlixStandardBaudRates())
        baudCombo->addItem(QString::number(rate), rate);
    dataBitsCombo = new QComboBox(this);
    dataBitsCombo->setObjectName(QStringLiteral("dataBitsCombo"));
    for (int bits = 5; bits <= 8; ++bits)
        dataBitsCombo->addItem(QString::number(bits), bits);
    parityCombo = new QComboBox(this);
    parityCombo->setObjectName(QStringLiteral("parityCombo"));
    AddItems(parityCombo, {{M(MSG_NONE), VORLIX_PARITY_NONE},
                           {M(MSG_PARITY_ODD), VORLIX_PARITY_ODD},
                           {M(MSG_PARITY_EVEN), VORLIX_PARITY_EVEN},
                           {M(MSG_PARITY_MARK), VORLIX_PARITY_MARK},
                           {M(MSG_PARITY_SPACE), VORLIX_PARITY_SPACE}});
    stopBitsCombo = new QComboBox(this);
    stopBitsCombo->setObjectName(QStringLiteral("stopBitsCombo"));
    AddItems(stopBitsCombo,
             {{QStringLiteral("1"), VORLIX_STOP_ONE}, {QStringLiteral("2"), VORLIX_STOP_TWO}});
    flowCombo = new QComboBox(this);
    flowCombo->setObjectName(QStringLiteral("flowCombo"));
    // The names of the two handshakes are the same in every language.
    AddItems(flowCombo, {{M(MSG_NONE), VORLIX_FLOW_NONE},
                         {QStringLiteral("RTS/CTS"), VORLIX_FLOW_RTSCTS},
                         {QStringLiteral("XON/XOFF"), VORLIX_FLOW_XONXOFF}});
    receiveQueueSpin = new QSpinBox(this);
    receiveQueueSpin->setObjectName(QStringLiteral("receiveQueueSpin"));
    receiveQueueSpin->setRange(1, 1 << 24);
    transmitQueueSpin = new QSpinBox(this);
    transmitQueueSpin->setObjectName(QStringLiteral("transmitQueueSpin"));
    transmitQueueSpin->setRange(1, 1 << 24);

    auto* form = new QFormLayout;
    form->addRow(M(MSG_PORT), portCombo);
    form->addRow(M(MSG_DEVICE), deviceLabel);
    form->addRow(M(MSG_BAUD_RATE), baudCombo);
    form->addRow(M(MSG_DATA_BITS), dataBitsCombo);
    form->addRow(M(MSG_PARITY), parityCombo);
    form->addRow(M(MSG_STOP_BITS), stopBitsCombo);
    form->addRow(M(MSG_FLOW_CONTROL), flowCombo);
    form->addRow(M(MSG_RECEIVE_QUEUE), receiveQueueSpin);
    form->addRow(M(MSG_TRANSMIT_QUEUE), transmitQueueSpin);

    // Device paths of the user's own (a simulator's pseudo-terminal, for example) and serial
    // device servers (tcp://HOST:PORT, rfc2217://HOST:PORT).
    auto* addedBox = new QGroupBox(M(MSG_ADDED_DEVICES), this);
    addedList = new QListWidget(addedBox);
    addedList->setObjectName(QStringLiteral("addedList"));
    addEdit = new QLineEdit(addedBox);
    addEdit->setObjectName(QStringLiteral("addEdit"));
    // The address forms are the same in every language.
    addEdit->setPlaceholderText(M(MSG_DEVICE_PATH_HINT) +
                                QStringLiteral(", tcp://host:port, rfc2217://host:port"));
    addProblem = new QLabel(addedBox);
    addProblem->setObjectName(QStringLiteral("addProblem"));
    addProblem->setWordWrap(true);
    auto* addButton = new QPushButton(M(MSG_ADD), addedBox);
    addButton->setObjectName(QStringLiteral("addButton"));
    auto* removeButton = new QPushButton(M(MSG_REMOVE), addedBox);
    removeButton->setObjectName(QStringLiteral("removeButton"));
    auto* addRow = new QHBoxLayout;
    addRow->addWidget(addEdit, 1);
    addRow->addWidget(addButton);
    addRow->addWidget(removeButton);
    auto* addedLayout = new QVBoxLayout(addedBox);
    addedLayout->addWidget(addedList);
    addedLayout->addLayout(addRow);
    addedLayout->addWidget(addProblem);
    for (const std::u16string& path : m_request.added)
        addedList->addItem(Q(path));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(addedBox);
    layout->addWidget(buttons);

    FillPorts();
    ShowParams(m_request.params);
    connect(portCombo, &QComboBox::currentIndexChanged, this, &CVorlixSettingDialog::OnPortChanged);
    connect(addButton, &QPushButton::clicked, this, &CVorlixSettingDialog::OnAdd);
    connect(removeButton, &QPushButton::clicked, this, &CVorlixSettingDialog::OnRemove);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    // The list follows devices as they are plugged in and out.
    m_monitor = std::make_unique<clDeviceMonitor>(deviceSource ? deviceSource() : nullptr);
    std::vector<std::string> watched;
    for (const std::u16string& path : m_request.added)
        watched.push_back(platform::Utf16ToUtf8(path));
    m_monitor->WatchPaths(std::move(watched));
    QPointer<CVorlixSettingDialog> self(this);
    m_monitor->AddListener([self](const DeviceEvent&) {
        // On the monitor's thread: the list is redone on the dialog's own.
        QMetaObject::invokeMethod(
            self.data(),
            [self] {
                if (self)
                    self->Relist();
            },
            Qt::QueuedConnection);
    });
    m_monitor->Start();
}

CVorlixSettingDialog::~CVorlixSettingDialog() {
    // No event may arrive for a dialog that is going.
    if (m_monitor)
        m_monitor->Stop();
}

void CVorlixSettingDialog::Relist() {
    if (!m_request.relist)
        return;
    m_request.relist(m_request);
    std::vector<std::string> watched;
    for (const std::u16string& path : m_request.added)
        watched.push_back(platform::Utf16ToUtf8(path));
    if (m_monitor)
        m_monitor->WatchPaths(std::move(watched));
    FillPorts();
}

void CVorlixSettingDialog::FillPorts() {
    const QSignalBlocker block(portCombo);
    if (m_request.selected >= 0 && static_cast<size_t>(m_request.selected) < m_request.ports.size())
        m_chosenName = m_request.ports[static_cast<size_t>(m_request.selected)].name;
    m_request.selected = -1;
    portCombo->clear();
    for (size_t i = 0; i < m_request.ports.size(); ++i) {
        const VorlixPort& p = m_request.ports[i];
        std::u16string text = p.name;
        if (!p.description.empty())
            text += u"  (" + p.description + u")";
        if (p.inUse)
            text += u"  [" + std::u16string(Msg(MSG_PORT_IN_USE)) + u"]";
        portCombo->addItem(Q(text));
        if (p.name == m_chosenName)
            m_request.selected = static_cast<int32_t>(i);
    }
    portCombo->setCurrentIndex(m_request.selected);
    deviceLabel->setText(
        m_request.selected >= 0
            ? Q(m_request.ports[static_cast<size_t>(m_request.selected)].devicePath)
            : QString());
}

void CVorlixSettingDialog::ShowParams(const ComPortParams& in) {
    const ComPortParams p = VorlixSanitize(in);
    const int b = baudCombo->findData(p.baudRate);
    if (b >= 0)
        baudCombo->setCurrentIndex(b);
    else
        baudCombo->setEditText(QString::number(p.baudRate));
    Select(dataBitsCombo, static_cast<int>(p.dataBits));
    Select(parityCombo, static_cast<int>(p.parity));
    Select(stopBitsCombo, p.stopBits == VORLIX_STOP_ONE ? VORLIX_STOP_ONE : VORLIX_STOP_TWO);
    Select(flowCombo, static_cast<int>(p.flowControl));
    receiveQueueSpin->setValue(static_cast<int>(p.receiveQueue));
    transmitQueueSpin->setValue(static_cast<int>(p.transmitQueue));
}

void CVorlixSettingDialog::OnPortChanged(int row) {
    m_request.selected = row;
    if (row >= 0 && static_cast<size_t>(row) < m_request.ports.size())
        m_chosenName = m_request.ports[static_cast<size_t>(row)].name;
    if (row < 0 || static_cast<size_t>(row) >= m_request.ports.size()) {
        deviceLabel->clear();
        return;
    }
    const VorlixPort& port = m_request.ports[static_cast<size_t>(row)];
    deviceLabel->setText(Q(port.devicePath));
    if (m_request.loadParams)
        ShowParams(m_request.loadParams(m_request.settingsPath, port.name));
}

void CVorlixSettingDialog::OnAdd() {
    const QString path = addEdit->text().trimmed();
    const std::u16string p = path.toStdU16String();
    platform::NetAddress address;
    const platform::NetAddressError error =
        platform::ParseNetAddress(path.toUtf8().toStdString(), address);
    if (error == platform::NetAddressError::Malformed ||
        error == platform::NetAddressError::PortOutOfRange) {
        addProblem->setText(
            Q(FormatMsg(error == platform::NetAddressError::PortOutOfRange ? MSG_NET_PORT_RANGE
                                                                           : MSG_NET_MALFORMED,
                        {p})));
        return;
    }
    addProblem->clear();
    const bool network = error == platform::NetAddressError::None;
    if ((!network && !path.startsWith(QLatin1Char('/'))) || path.contains(QLatin1Char(';')))
        return;
    for (const std::u16string& a : m_request.added)
        if (a == p)
            return;
    m_request.added.push_back(p);
    addedList->addItem(path);
    addEdit->clear();
    Relist();
}

void CVorlixSettingDialog::OnRemove() {
    const int row = addedList->currentRow();
    if (row < 0 || static_cast<size_t>(row) >= m_request.added.size())
        return;
    m_request.added.erase(m_request.added.begin() + row);
    delete addedList->takeItem(row);
    Relist();
}

void CVorlixSettingDialog::StoreChoice() {
    m_request.selected = portCombo->currentIndex();
    ComPortParams p;
    p.baudRate = baudCombo->currentText().toUInt();
    p.dataBits = static_cast<uint32_t>(dataBitsCombo->currentData().toInt());
    p.parity = static_cast<uint32_t>(parityCombo->currentData().toInt());
    p.stopBits = static_cast<uint32_t>(stopBitsCombo->currentData().toInt());
    p.flowControl = static_cast<uint32_t>(flowCombo->currentData().toInt());
    p.receiveQueue = static_cast<uint32_t>(receiveQueueSpin->value());
    p.transmitQueue = static_cast<uint32_t>(transmitQueueSpin->value());
    m_request.params = VorlixSanitize(p);
}
