#include "ui/DialogBars.h"

#include "base/MessageTable.h"
#include "ui/DialogTemplate.h"
#include "ui/ImageButton.h"
#include "ui/ImageStrip.h"

#include <QLabel>
#include <QMenu>
#include <QPushButton>

namespace {

QString M(int id) {
    return QString::fromUtf16(Msg(id));
}

void SetTooltip(QWidget* control, int id) {
    const std::u16string tip = barstatus::TooltipText(id);
    if (!tip.empty())
        control->setToolTip(QString::fromStdU16String(tip));
}

QLineEdit* ReadOnlyEdit(QLineEdit* edit) {
    edit->setReadOnly(true);
    edit->setFrame(true);
    return edit;
}

} // namespace

QColor ToQColor(barstatus::Rgb rgb) {
    return QColor(rgb.r, rgb.g, rgb.b);
}

void SetBarSize(QWidget* bar, const QSize& templateSize) {
    bar->setMinimumSize(0, templateSize.height());
    bar->setMaximumHeight(templateSize.height());
    bar->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    bar->resize(templateSize);
}

// ---- upper bar ----

CDialogBarUpper::CDialogBarUpper(QWidget* parent) : QWidget(parent) {
    const DialogTemplate t(this);
    m_templateSize = t.toPixels({0, 0, 326, 55}).size();
    SetBarSize(this, m_templateSize);

    auto* fileMenu = t.place(new CImageButton(this), IDC_FILE_MENU, {4, 0, 20, 15});
    fileMenu->SetPicture(imagestrip::OpenFolder());
    m_filePopup = new QMenu(this);
    m_filePopup->setObjectName(QStringLiteral("menu312"));
    m_selectFile = m_filePopup->addAction(M(MSG_SELECT_FILE));
    m_selectFile->setObjectName(QStringLiteral("cmd32780"));
    m_autoSelect = m_filePopup->addAction(M(MSG_AUTO_SELECT_BY_STA));
    m_autoSelect->setObjectName(QStringLiteral("cmd32781"));
    fileMenu->SetPopupMenu(m_filePopup);
    connect(m_selectFile, &QAction::triggered, this,
            [this] { Q_EMIT commandTriggered(ID_SELECT_FILE); });
    connect(m_autoSelect, &QAction::triggered, this,
            [this] { Q_EMIT commandTriggered(ID_AUTO_SELECT); });

    AddButton(IDC_CLOSE_DEFINE, imagestrip::kCross, 28, 0, false);
    AddButton(IDC_TEXT_SAVE, imagestrip::kWriting, 48, 0, false);
    AddButton(IDC_TEXT_LOAD, imagestrip::kPageIn, 62, 0, false);
    AddButton(IDC_CONNECT, imagestrip::kPhoneRinging, 83, 0, true);
    AddButton(IDC_DISCONNECT, imagestrip::kPhoneOnHook, 98, 0, true);
    AddButton(IDC_COMM_SETTINGS, imagestrip::kShapesMouse, 113, 0, false);
    AddButton(IDC_ABOUT, imagestrip::kQuestion, 130, 0, false);
    // The camera picture has no command and always shows paled.
    AddButton(IDC_CAMERA_PICTURE, imagestrip::kCamera, 4, 18, false)->setEnabled(false);

    t.place(new QLabel(QStringLiteral("Model"), this), -1, {58, 21, 19, 9});
    t.place(new CColorEdit(this), IDC_MODEL, {78, 18, 72, 15});
    t.place(new QLabel(QStringLiteral("Ver."), this), -1, {155, 21, 12, 9});
    t.place(new CColorEdit(this), IDC_VERSION, {172, 18, 62, 15});
    t.place(new QLabel(QStringLiteral("Serial No."), this), IDC_SERIAL_LABEL, {239, 21, 37, 9});
    t.place(new CColorEdit(this), IDC_SERIAL, {280, 18, 42, 15});
    t.place(new CColorEdit(this), IDC_PORT, {4, 37, 184, 15});
    t.place(new CColorEdit(this), IDC_LINE_SPEED, {193, 37, 73, 15});
    FitTexts(this);
}

CImageButton* CDialogBarUpper::AddButton(int id, int cell, int x, int y, bool toggle) {
    const DialogTemplate t(this);
    auto* button =
        t.place(new CImageButton(this, toggle ? CImageButton::kToggle : CImageButton::kPlain), id,
                {x, y, 14, 15});
    button->SetImageCell(cell);
    SetTooltip(button, id);
    connect(button, &QAbstractButton::clicked, this, [this, id] { Q_EMIT commandTriggered(id); });
    return button;
}

CImageButton* CDialogBarUpper::Button(int id) const {
    return FindControl<CImageButton>(this, id);
}

CColorEdit* CDialogBarUpper::Edit(int id) const {
    return FindControl<CColorEdit>(this, id);
}

void CDialogBarUpper::SetCameraIdentity(const QString& model, const QString& version,
                                        const QString& serial) {
    Edit(IDC_MODEL)->setText(model);
    Edit(IDC_VERSION)->setText(version);
    Edit(IDC_SERIAL)->setText(serial);
}

void CDialogBarUpper::SetPort(const QString& portName, const QString& description,
                              bool hasCurrentPort) {
    const std::u16string name = portName.toStdU16String();
    CColorEdit* edit = Edit(IDC_PORT);
    edit->SetTextAtEnd(
        QString::fromStdU16String(barstatus::PortText(name, description.toStdU16String())));
    edit->SetColour(ToQColor(barstatus::PortColour(name, hasCurrentPort)));
}

void CDialogBarUpper::SetLineSpeed(const QString& text) {
    Edit(IDC_LINE_SPEED)->SetTextAtEnd(text);
}

void CDialogBarUpper::SetConnectionState(bool portSelected, bool connected) {
    CImageButton* connect = Button(IDC_CONNECT);
    CImageButton* disconnect = Button(IDC_DISCONNECT);
    connect->SetToggled(connected);
    disconnect->SetToggled(!connected);
    connect->setEnabled(portSelected && !connected);
    disconnect->setEnabled(portSelected && connected);
    connect->repaint();
    disconnect->repaint();
}

void CDialogBarUpper::SetFileMenuEnables(bool selectFile, bool autoSelect) {
    m_selectFile->setEnabled(selectFile);
    m_autoSelect->setEnabled(autoSelect);
}

void CDialogBarUpper::SetCommandEnabled(int id, bool enabled) {
    if (id == IDC_CAMERA_PICTURE)
        return;
    if (CImageButton* button = Button(id))
        button->setEnabled(enabled);
}

// ---- lower bar ----

CDialogBarLower::CDialogBarLower(QWidget* parent) : QWidget(parent) {
    const DialogTemplate t(this);
    m_templateSize = t.toPixels({0, 0, 330, 38}).size();
    SetBarSize(this, m_templateSize);

    auto* show =
        t.place(new QPushButton(M(MSG_SHOW_CONSOLE), this), IDC_SHOW_CONSOLE, {4, 2, 100, 15});
    auto* hide =
        t.place(new QPushButton(M(MSG_HIDE_CONSOLE), this), IDC_HIDE_CONSOLE, {107, 2, 100, 15});
    m_connection = t.place(ReadOnlyEdit(new QLineEdit(this)), IDC_CONNECTION, {4, 21, 43, 15});
    t.place(new QLabel(M(MSG_RESULT), this), IDC_RESULT_LABEL, {55, 25, 37, 8});
    m_result = t.place(new CColorEdit(this), IDC_RESULT, {97, 21, 100, 15});
    t.place(new QLabel(M(MSG_ELAPSED_TIME), this), IDC_ELAPSED_LABEL, {227, 25, 40, 8});
    m_elapsed = t.place(ReadOnlyEdit(new QLineEdit(this)), IDC_ELAPSED, {272, 21, 34, 15});
    m_cancel = t.place(new CImageButton(this), IDC_CANCEL_RECEIVING, {312, 21, 14, 15});
    m_cancel->SetImageCell(imagestrip::kNoEntry);
    SetTooltip(m_cancel, IDC_CANCEL_RECEIVING);

    FitTexts(this);
    connect(show, &QPushButton::clicked, this,
            [this] { Q_EMIT commandTriggered(IDC_SHOW_CONSOLE); });
    connect(hide, &QPushButton::clicked, this,
            [this] { Q_EMIT commandTriggered(IDC_HIDE_CONSOLE); });
    connect(m_cancel, &QAbstractButton::clicked, this,
            [this] { Q_EMIT commandTriggered(IDC_CANCEL_RECEIVING); });
}

void CDialogBarLower::SetConnected(bool connected) {
    m_connection->setText(M(connected ? MSG_CONNECT : MSG_DISCONNECT));
}

void CDialogBarLower::SetResult(const QString& text, const QColor& colour) {
    m_result->SetTextAtEnd(text);
    m_result->SetColour(colour);
    m_result->repaint();
}

void CDialogBarLower::SetResult(const barstatus::ResultLook& look) {
    SetResult(QString::fromStdU16String(look.text), ToQColor(look.colour));
}

void CDialogBarLower::SetElapsedTime(const QString& text) {
    m_elapsed->setText(text);
}

void CDialogBarLower::SetCancelEnabled(bool enabled) {
    m_cancel->setEnabled(enabled);
}
