#include "ui/QuastorSettingDlg.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

namespace {

QString Text16(const char16_t* text, size_t capacity) {
    size_t n = 0;
    while (n < capacity && text[n] != 0)
        ++n;
    return QString::fromUtf16(text, static_cast<qsizetype>(n));
}

} // namespace

CQuastorSettingDlg::CQuastorSettingDlg(const QuastorDialogRequest& request, QWidget* parent)
    : QDialog(parent), m_request(request) {
    setWindowTitle(QStringLiteral("Camera Link API"));
    auto* form = new QFormLayout;
    m_library = new QComboBox(this);
    m_library->setObjectName(QStringLiteral("library"));
    m_channel = new QComboBox(this);
    m_channel->setObjectName(QStringLiteral("channel"));
    m_baud = new QComboBox(this);
    m_baud->setObjectName(QStringLiteral("baudRate"));
    form->addRow(QStringLiteral("Serial library:"), m_library);
    form->addRow(QStringLiteral("Channel:"), m_channel);
    form->addRow(QStringLiteral("Baud rate:"), m_baud);

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
    connect(m_library, &QComboBox::currentIndexChanged, this, [this] { FillChannels(0); });

    int baudIndex = -1;
    for (uint32_t i = 0; i < request.baudRateCount; ++i) {
        m_baud->addItem(QString::number(request.baudRates[i]), request.baudRates[i]);
        if (request.baudRates[i] == request.baudRate)
            baudIndex = static_cast<int>(i);
    }
    // A stored speed the list does not offer stays selectable as it is.
    if (baudIndex < 0 && request.baudRate != 0) {
        m_baud->addItem(QString::number(request.baudRate), request.baudRate);
        baudIndex = m_baud->count() - 1;
    }
    m_baud->setCurrentIndex(std::max(baudIndex, 0));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    if (request.libraryCount == 0)
        layout->addWidget(new QLabel(QStringLiteral("No Camera Link serial library in ") +
                                         QString::fromUtf16(request.folder ? request.folder : u""),
                                     this));
    layout->addLayout(form);
    layout->addWidget(buttons);
    buttons->button(QDialogButtonBox::Ok)->setEnabled(request.libraryCount > 0);
}

void CQuastorSettingDlg::FillChannels(uint32_t preferredIndex) {
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

bool CQuastorSettingDlg::Apply(QuastorDialogRequest& request) const {
    if (m_library->currentIndex() < 0 || m_channel->currentIndex() < 0)
        return false;
    request.library = m_library->currentIndex();
    request.serialIndex = m_channel->currentData().toUInt();
    request.baudRate = m_baud->currentData().toUInt();
    return true;
}

int32_t QuillonQuastorSettingDialog(QuastorDialogRequest* request) {
    try {
        if (!request || request->structSize < sizeof(QuastorDialogRequest))
            return 0;
        QApplication* app = qobject_cast<QApplication*>(QCoreApplication::instance());
        if (!app || QThread::currentThread() != app->thread())
            return 0;
        CQuastorSettingDlg dlg(*request, QApplication::activeWindow());
        if (dlg.exec() != QDialog::Accepted)
            return 0;
        return dlg.Apply(*request) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}
