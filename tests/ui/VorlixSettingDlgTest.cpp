// The port-settings dialog with real widgets, driven as a user would.
#include "ui/VorlixSettingDlg.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <gtest/gtest.h>
#include <memory>

namespace {

int g_relists = 0;

ComPortParams Stored(const std::u16string&, const std::u16string& name) {
    ComPortParams p;
    if (name == u"ttyS1") {
        p.baudRate = 115200;
        p.parity = VORLIX_PARITY_EVEN;
    }
    return p;
}

void Relist(VorlixDialogRequest& r) {
    ++g_relists;
    r.ports.clear();
    for (const std::u16string& path : r.added)
        r.ports.push_back({u"tmp-sim", path, u"added device", true});
}

// An application object for the test's duration, unless one exists already.
struct App {
    int argc = 1;
    char name[8] = "test_ui";
    char* argv[2] = {name, nullptr};
    std::unique_ptr<QApplication> app{qApp ? nullptr : new QApplication(argc, argv)};
};

TEST(VorlixSettingDlg, ChoosingAPortShowsItsStoredParametersAndOkReturnsTheEdits) {
    App app;
    VorlixDialogRequest r;
    r.ports = {{u"ttyUSB0", u"/dev/ttyUSB0", u"usb-FTDI", false},
               {u"ttyS1", u"/dev/ttyS1", u"serial8250", false}};
    r.selected = 0;
    r.loadParams = &Stored;
    r.relist = &Relist;
    CVorlixSettingDlg dlg(r);
    EXPECT_EQ(dlg.deviceLabel->text(), QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(dlg.baudCombo->currentText(), QStringLiteral("9600"));

    dlg.portCombo->setCurrentIndex(1);
    EXPECT_EQ(dlg.deviceLabel->text(), QStringLiteral("/dev/ttyS1"));
    EXPECT_EQ(dlg.baudCombo->currentText(), QStringLiteral("115200"));
    EXPECT_EQ(dlg.parityCombo->currentText(), QStringLiteral("Even"));

    dlg.baudCombo->setEditText(QStringLiteral("19200"));
    dlg.stopBitsCombo->setCurrentIndex(1);
    dlg.StoreChoice();
    EXPECT_EQ(r.selected, 1);
    EXPECT_EQ(r.params.baudRate, 19200u);
    EXPECT_EQ(r.params.parity, static_cast<uint32_t>(VORLIX_PARITY_EVEN));
    EXPECT_EQ(r.params.stopBits, static_cast<uint32_t>(VORLIX_STOP_TWO));
}

TEST(VorlixSettingDlg, AddedDevicePathsAreKeptAndListed) {
    App app;
    VorlixDialogRequest r;
    r.relist = &Relist;
    CVorlixSettingDlg dlg(r);
    dlg.addEdit->setText(QStringLiteral("relative/path"));
    dlg.findChild<QPushButton*>(QStringLiteral("addButton"))->click();
    EXPECT_TRUE(r.added.empty()); // only absolute paths
    dlg.addEdit->setText(QStringLiteral("/tmp/sim"));
    dlg.findChild<QPushButton*>(QStringLiteral("addButton"))->click();
    ASSERT_EQ(r.added.size(), 1u);
    EXPECT_EQ(r.added[0], u"/tmp/sim");
    EXPECT_EQ(g_relists, 1);
    EXPECT_EQ(dlg.portCombo->count(), 1);
    dlg.addedList->setCurrentRow(0);
    dlg.findChild<QPushButton*>(QStringLiteral("removeButton"))->click();
    EXPECT_TRUE(r.added.empty());
    EXPECT_EQ(dlg.portCombo->count(), 0);
}

} // namespace
