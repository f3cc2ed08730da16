#include "ui/AboutDlg.h"

#include "base/MessageTable.h"
#include "ui/ConsoleEdit.h"
#include "ui/DialogTemplate.h"
#include "ui/ImageStrip.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

namespace {

QString M(int id) {
    return QString::fromUtf16(Msg(id));
}

// The interface list is a console output of 36 columns and 5 rows.
constexpr int kListColumns = 36;
constexpr int kListRows = 5;

} // namespace

void SplitFileVersion(uint32_t mostSignificant, uint32_t leastSignificant, AboutInfo& info) {
    info.major = static_cast<int>(mostSignificant >> 16);
    info.minor = static_cast<int>(mostSignificant & 0xFFFF);
    info.build = static_cast<int>(leastSignificant >> 16);
}

QString CAboutDlg::ProgramLine(const AboutInfo& info) {
    return QStringLiteral("%1 Ver.%2.%3.%4")
        .arg(QString::fromStdU16String(info.programName))
        .arg(info.major)
        .arg(info.minor)
        .arg(info.build);
}

CAboutDlg::CAboutDlg(const AboutInfo& info, QWidget* parent) : QDialog(parent) {
    setWindowTitle(M(MSG_ABOUT_CAPTION));
    const DialogTemplate t(this);
    t.setFixedSize(182, 141);

    t.place(new QGroupBox(this), -1, {5, 2, 170, 112});
    auto* icon = t.place(new QLabel(this), -1, {9, 9, 21, 20});
    const QIcon appIcon = QApplication::windowIcon();
    icon->setPixmap(appIcon.isNull() ? imagestrip::Cell(imagestrip::kCamera).scaled(32, 30)
                                     : appIcon.pixmap(32, 32));
    t.place(new QLabel(ProgramLine(info), this), IDC_PROGRAM, {38, 10, 119, 8});
    t.place(new QLabel(QString::fromStdU16String(info.copyright), this), IDC_COPYRIGHT,
            {38, 19, 119, 8});
    t.place(new QLabel(M(MSG_BILINGUAL_SUPPORT), this), IDC_LANGUAGE, {38, 30, 127, 8});
    t.place(new QLabel(M(MSG_ABOUT_INTERFACES), this), IDC_INTERFACES_LABEL, {11, 40, 152, 8});
    m_interfaces = t.place(new CConsoleEdit(this), IDC_INTERFACES, {10, 49, 156, 56});
    m_interfaces->SetBackground(QColor()); // the palette's
    m_interfaces->SetUp(kListColumns, kListRows);
    m_interfaces->Clear();
    for (const std::u16string& label : info.interfaceLabels) {
        m_interfaces->Append(label);
        m_interfaces->Append(u"\n");
    }
    FitTexts(this);
    auto* ok = t.place(new QPushButton(QStringLiteral("OK"), this), IDC_OK, {64, 119, 50, 16});
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}
