// The port-settings dialog with real widgets, driven as a user would.
#include "ui/VorlixSettingDialog.h"

#include "base/MessageTable.h"
#include "support/FakeDeviceSource.h"
#include "support/QtWait.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

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

TEST(VorlixSettingDialog, ChoosingAPortShowsItsStoredParametersAndOkReturnsTheEdits) {
    App app;
    VorlixDialogRequest r;
    r.ports = {{u"ttyUSB0", u"/dev/ttyUSB0", u"usb-FTDI", false},
               {u"ttyS1", u"/dev/ttyS1", u"serial8250", false}};
    r.selected = 0;
    r.loadParams = &Stored;
    r.relist = &Relist;
    CVorlixSettingDialog dlg(r);
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

TEST(VorlixSettingDialog, AddedDevicePathsAreKeptAndListed) {
    App app;
    VorlixDialogRequest r;
    r.relist = &Relist;
    CVorlixSettingDialog dlg(r);
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
    // A serial device server's address is added like a path; a malformed one says why.
    dlg.addEdit->setText(QStringLiteral("tcp://10.0.0.5:99999"));
    dlg.findChild<QPushButton*>(QStringLiteral("addButton"))->click();
    EXPECT_TRUE(r.added.empty());
    EXPECT_TRUE(dlg.addProblem->text().contains(QStringLiteral("tcp://10.0.0.5:99999")));
    dlg.addEdit->setText(QStringLiteral("rfc2217://10.0.0.5:4001"));
    dlg.findChild<QPushButton*>(QStringLiteral("addButton"))->click();
    EXPECT_EQ(r.added, std::vector<std::u16string>{u"rfc2217://10.0.0.5:4001"});
    EXPECT_TRUE(dlg.addProblem->text().isEmpty());
}

// The machine's ports as the fake re-listing sees them.
std::vector<VorlixPort> g_machine;
void RelistMachine(VorlixDialogRequest& r) {
    const std::u16string chosen =
        r.selected >= 0 ? r.ports[static_cast<size_t>(r.selected)].name : std::u16string();
    r.ports = g_machine;
    r.selected = -1;
    for (size_t i = 0; i < r.ports.size(); ++i)
        if (r.ports[i].name == chosen)
            r.selected = static_cast<int32_t>(i);
}

bool WaitForCount(QComboBox* box, int n) {
    return WaitProcessingEvents([&] { return box->count() == n; });
}

TEST(VorlixSettingDialog, PortListFollowsDevicesPluggedInAndOutAndMarksPortsInUse) {
    App app;
    SetUiLanguage(1, 1033);
    auto feed = std::make_shared<FakeDeviceSource::Feed>();
    CVorlixSettingDialog::deviceSource = [feed] {
        return std::make_unique<FakeDeviceSource>(feed);
    };
    g_machine = {{u"ttyS1", u"/dev/ttyS1", u"serial8250", false, true}};
    VorlixDialogRequest r;
    r.ports = g_machine;
    r.relist = &RelistMachine;
    {
        CVorlixSettingDialog dlg(r);
        ASSERT_EQ(dlg.portCombo->count(), 1);
        EXPECT_EQ(dlg.portCombo->itemText(0), QStringLiteral("ttyS1  (serial8250)  [in use]"));

        // An adapter is plugged in; the user chooses it.
        g_machine.push_back({u"ttyUSB0", u"/dev/ttyUSB0", u"usb-FTDI", false, false});
        feed->Push(DeviceEvent::Kind::Added, "/dev/ttyUSB0");
        ASSERT_TRUE(WaitForCount(dlg.portCombo, 2));
        EXPECT_EQ(dlg.portCombo->itemText(1), QStringLiteral("ttyUSB0  (usb-FTDI)"));
        dlg.portCombo->setCurrentIndex(1);
        // Pulled out: gone from the list, nothing chosen.
        g_machine.pop_back();
        feed->Push(DeviceEvent::Kind::Removed, "/dev/ttyUSB0");
        ASSERT_TRUE(WaitForCount(dlg.portCombo, 1));
        EXPECT_EQ(dlg.portCombo->currentIndex(), -1);
        // Back: chosen again.
        g_machine.push_back({u"ttyUSB0", u"/dev/ttyUSB0", u"usb-FTDI", false, false});
        feed->Push(DeviceEvent::Kind::Added, "/dev/ttyUSB0");
        ASSERT_TRUE(WaitForCount(dlg.portCombo, 2));
        EXPECT_EQ(dlg.portCombo->currentIndex(), 1);
        EXPECT_EQ(dlg.deviceLabel->text(), QStringLiteral("/dev/ttyUSB0"));
    }
    // The dialog has gone: a late event reaches nothing.
    feed->Push(DeviceEvent::Kind::Removed, "/dev/ttyS1");
    QCoreApplication::processEvents();
    CVorlixSettingDialog::deviceSource = &MakeUdevTtySource;
}

} // namespace
