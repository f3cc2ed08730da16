#include "ui/QuastorSettingDialog.h"

#include "base/MessageTable.h"

#include <QApplication>
#include <QColor>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QThread>
#include <QVBoxLayout>

namespace {

QString M(int id) {
    return QString::fromUtf16(Msg(id));
}

QString Text16(const char16_t* text, size_t capacity) {
    size_t n = 0;
    while (n < capacity && text[n] != 0)
        ++n;
    return QString::fromUtf16(text, static_cast<qsizetype>(n));
}

} // namespace

CQuastorSettingDialog::CQuastorSettingDialog(const QuastorDialogRequest& request, QWidget* parent)
    : QDialog(parent), m_request(request) {
    setWindowTitle(M(MSG_CAMERA_LINK_SETTINGS));
    auto* form = new QFormLayout;
    m_library = new QComboBox(this);
    m_library->setObjectName(QStringLiteral("library"));
    m_channel = new QComboBox(this);
    m_channel->setObjectName(QStringLiteral("channel"));
    m_baud = new QComboBox(this);
    m_baud->setObjectName(QStringLiteral("baudRate"));
    form->addRow(M(MSG_SERIAL_LIBRARY), m_library);
    form->addRow(M(MSG_CHANNEL), m_channel);
    form->addRow(M(MSG_BAUD_RATE) + QStringLiteral(":"), m_baud);

    for (uint32_t i = 0; i < request.libraryCount; ++i) {
        const QuastorLibraryEntry& e = request.libraries[i];
        QString label = Text16(e.fileName, kClLibraryNameChars);
        const QString maker = Text16(e.manufacturer, 128);
        if (!maker.isEmpty())
            label += QStringLiteral(" (") + maker + QStringLiteral(")");
        label += e.apiVersion >= CL_DLL_VERSION_1_1 ? QStringLiteral(" API 1.1")
                                                    : QStringLiteral(" API 1.0");
        m_library->addItem(label);
    }
    if (request.library >= 0 && static_cast<uint32_t>(request.library) < request.libraryCount)
        m_library->setCurrentIndex(request.library);
    FillChannels(request.serialIndex);
    FillBaudRates(request.baudRate);
    connect(m_library, &QComboBox::currentIndexChanged, this, [this] { FillChannels(0); });
    connect(m_channel, &QComboBox::currentIndexChanged, this,
            [this] { FillBaudRates(m_baud->currentData().toUInt()); });

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    if (request.libraryCount == 0)
        layout->addWidget(
            new QLabel(QString::fromStdU16String(
                           FormatMsg(MSG_NO_CL_LIBRARY, {request.folder ? request.folder : u""})),
                       this));
    layout->addLayout(form);
    layout->addWidget(buttons);
    buttons->button(QDialogButtonBox::Ok)->setEnabled(request.libraryCount > 0);
}

void CQuastorSettingDialog::FillChannels(uint32_t preferredIndex) {
    m_channel->clear();
    const int library = m_library->currentIndex();
    int select = 0;
    for (uint32_t i = 0; i < m_request.channelCount; ++i) {
        const QuastorChannelEntry& c = m_request.channels[i];
        if (static_cast<int>(c.library) != library)
            continue;
        QString label = QString::number(c.serialIndex);
        const QString id = Text16(c.identifier, 128);
        if (!id.isEmpty())
            label += QStringLiteral(": ") + id;
        if (c.serialIndex == preferredIndex)
            select = m_channel->count();
        m_channel->addItem(label, c.serialIndex);
    }
    if (m_channel->count() > 0)
        m_channel->setCurrentIndex(select);
}

uint32_t CQuastorSettingDialog::ChannelRates() const {
    const bool told =
        m_request.structSize >= sizeof(QuastorDialogRequest) && m_request.channelRates != nullptr;
    if (!told || m_channel->currentIndex() < 0)
        return 0;
    const int library = m_library->currentIndex();
    const uint32_t serialIndex = m_channel->currentData().toUInt();
    for (uint32_t i = 0; i < m_request.channelCount; ++i) {
        const QuastorChannelEntry& c = m_request.channels[i];
        if (static_cast<int>(c.library) == library && c.serialIndex == serialIndex)
            return m_request.channelRates[i];
    }
    return 0;
}

void CQuastorSettingDialog::FillBaudRates(uint32_t preferred) {
    const QSignalBlocker block(m_baud);
    m_baud->clear();
    const uint32_t rates = ChannelRates();
    int select = -1;
    for (uint32_t i = 0; i < m_request.baudRateCount; ++i) {
        const bool offered = rates == 0 || (i < 32 && (rates & (1u << i)) != 0);
        if (!offered)
            continue;
        if (m_request.baudRates[i] == preferred)
            select = m_baud->count();
        m_baud->addItem(QString::number(m_request.baudRates[i]), m_request.baudRates[i]);
    }
    // The speed chosen so far stays selectable when the channel does not offer it, marked.
    if (select < 0 && preferred != 0) {
        select = m_baud->count();
        m_baud->addItem(QString::number(preferred) + M(MSG_SPEED_NOT_SUPPORTED), preferred);
        m_baud->setItemData(select, QColor(Qt::red), Qt::ForegroundRole);
        m_baud->setItemData(select, M(MSG_SPEED_NOT_OFFERED), Qt::ToolTipRole);
    }
    m_baud->setCurrentIndex(std::max(select, 0));
}

bool CQuastorSettingDialog::Apply(QuastorDialogRequest& request) const {
    if (m_library->currentIndex() < 0 || m_channel->currentIndex() < 0)
        return false;
    request.library = m_library->currentIndex();
    request.serialIndex = m_channel->currentData().toUInt();
    request.baudRate = m_baud->currentData().toUInt();
    return true;
}

int32_t QuillonQuastorSettingDialog(QuastorDialogRequest* request) {
    try {
        // A request from an older component lacks the fields appended since.
        if (!request || request->structSize < kQuastorDialogRequestBaseSize)
            return 0;
        QApplication* app = qobject_cast<QApplication*>(QCoreApplication::instance());
        if (!app || QThread::currentThread() != app->thread())
            return 0;
        CQuastorSettingDialog dlg(*request, QApplication::activeWindow());
        if (dlg.exec() != QDialog::Accepted)
            return 0;
        return dlg.Apply(*request) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}
