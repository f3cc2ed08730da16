// The settings dialog of the Camera Link serial utility component, on a request as the
// component builds it.
#include "ui/QuastorSettingDlg.h"

#include "QtAppTest.h"

#include <QComboBox>
#include <QTimer>
#include <algorithm>

namespace {

void Put(char16_t* dst, const std::u16string& s) {
    std::copy(s.begin(), s.end(), dst);
    dst[s.size()] = 0;
}

struct Request {
    QuastorLibraryEntry libs[2]{};
    QuastorChannelEntry channels[3]{};
    uint32_t rates[3] = {9600, 19200, 115200};
    QuastorDialogRequest r{};
    Request() {
        Put(libs[0].fileName, u"liba.so");
        libs[0].portCount = 1;
        libs[0].apiVersion = 2;
        Put(libs[1].fileName, u"libb.so");
        Put(libs[1].manufacturer, u"Maker");
        libs[1].portCount = 2;
        libs[1].apiVersion = 3;
        channels[0] = {0, 0, {}};
        channels[1] = {1, 0, {}};
        channels[2] = {1, 1, {}};
        Put(channels[2].identifier, u"grabber port B");
        r.structSize = sizeof r;
        r.folder = u"/opt/clserial/";
        r.libraryCount = 2;
        r.libraries = libs;
        r.channelCount = 3;
        r.channels = channels;
        r.baudRateCount = 3;
        r.baudRates = rates;
        r.library = 1;
        r.serialIndex = 1;
        r.baudRate = 14400; // stored speed not in the list
    }
};

} // namespace

class QuastorSettingDlgTest : public QtAppTest {};

TEST_F(QuastorSettingDlgTest, ShowsTheCurrentChoiceAndReturnsTheNewOne) {
    Request req;
    CQuastorSettingDlg dlg(req.r);
    EXPECT_EQ(dlg.libraryBox()->count(), 2);
    EXPECT_EQ(dlg.libraryBox()->currentIndex(), 1);
    EXPECT_EQ(dlg.libraryBox()->currentText(), QStringLiteral("libb.so (Maker) API 1.1"));
    ASSERT_EQ(dlg.channelBox()->count(), 2);
    EXPECT_EQ(dlg.channelBox()->currentText(), QStringLiteral("1: grabber port B"));
    EXPECT_EQ(dlg.baudBox()->currentText(), QStringLiteral("14400")); // kept selectable

    // Another library lists only its own channels.
    dlg.libraryBox()->setCurrentIndex(0);
    ASSERT_EQ(dlg.channelBox()->count(), 1);
    dlg.baudBox()->setCurrentIndex(2);
    QuastorDialogRequest out = req.r;
    ASSERT_TRUE(dlg.Apply(out));
    EXPECT_EQ(out.library, 0);
    EXPECT_EQ(out.serialIndex, 0u);
    EXPECT_EQ(out.baudRate, 115200u);
}

TEST_F(QuastorSettingDlgTest, HookReportsCancelAndConfirm) {
    Request req;
    QTimer::singleShot(0, [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<CQuastorSettingDlg*>(w))
                d->reject();
    });
    EXPECT_EQ(QuillonQuastorSettingDialog(&req.r), 0);
    EXPECT_EQ(req.r.library, 1);

    QTimer::singleShot(0, [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<CQuastorSettingDlg*>(w)) {
                d->baudBox()->setCurrentIndex(1);
                d->accept();
            }
    });
    EXPECT_EQ(QuillonQuastorSettingDialog(&req.r), 1);
    EXPECT_EQ(req.r.library, 1);
    EXPECT_EQ(req.r.serialIndex, 1u);
    EXPECT_EQ(req.r.baudRate, 19200u);
    EXPECT_EQ(QuillonQuastorSettingDialog(nullptr), 0);
}
