// The settings dialog of the Camera Link serial utility component, on a request as the
// component builds it.
#include "ui/QuastorSettingDialog.h"

#include "QtAppTest.h"

#include <QColor>
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
    uint32_t channelRates[3] = {0, 0, 0}; // bits over rates; 0: the channel did not say
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
        r.channelRates = channelRates;
    }
};

} // namespace

class QuastorSettingDialogTest : public QtAppTest {};

TEST_F(QuastorSettingDialogTest, ShowsTheCurrentChoiceAndReturnsTheNewOne) {
    Request req;
    CQuastorSettingDialog dlg(req.r);
    EXPECT_EQ(dlg.libraryBox()->count(), 2);
    EXPECT_EQ(dlg.libraryBox()->currentIndex(), 1);
    EXPECT_EQ(dlg.libraryBox()->currentText(), QStringLiteral("libb.so (Maker) API 1.1"));
    ASSERT_EQ(dlg.channelBox()->count(), 2);
    EXPECT_EQ(dlg.channelBox()->currentText(), QStringLiteral("1: grabber port B"));
    // Kept selectable, marked as a speed the channel does not offer.
    EXPECT_EQ(dlg.baudBox()->currentText(), QStringLiteral("14400 (not supported)"));

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

namespace {

QStringList Items(QComboBox* box) {
    QStringList out;
    for (int i = 0; i < box->count(); ++i)
        out << box->itemText(i);
    return out;
}

} // namespace

TEST_F(QuastorSettingDialogTest, OffersTheChannelsSpeedsAndMarksAStoredOneItDoesNotSupport) {
    Request req;
    req.channelRates[2] = 0b011; // libb channel 1: 9600 and 19200
    req.r.baudRate = 115200;
    CQuastorSettingDialog dlg(req.r);
    ASSERT_EQ(dlg.channelBox()->currentText(), QStringLiteral("1: grabber port B"));
    EXPECT_EQ(Items(dlg.baudBox()), (QStringList{"9600", "19200", "115200 (not supported)"}));
    EXPECT_EQ(dlg.baudBox()->currentIndex(), 2);
    EXPECT_EQ(dlg.baudBox()->itemData(2, Qt::ForegroundRole).value<QColor>(), QColor(Qt::red));
    EXPECT_FALSE(dlg.baudBox()->itemData(0, Qt::ForegroundRole).isValid());

    // A channel that did not say offers every speed; the chosen one is kept, unmarked.
    dlg.channelBox()->setCurrentIndex(0);
    EXPECT_EQ(Items(dlg.baudBox()), (QStringList{"9600", "19200", "115200"}));
    EXPECT_EQ(dlg.baudBox()->currentText(), QStringLiteral("115200"));

    // Back on the limited channel with a speed it offers: nothing marked.
    dlg.baudBox()->setCurrentIndex(1);
    dlg.channelBox()->setCurrentIndex(1);
    EXPECT_EQ(Items(dlg.baudBox()), (QStringList{"9600", "19200"}));
    EXPECT_EQ(dlg.baudBox()->currentText(), QStringLiteral("19200"));
    QuastorDialogRequest out = req.r;
    ASSERT_TRUE(dlg.Apply(out));
    EXPECT_EQ(out.serialIndex, 1u);
    EXPECT_EQ(out.baudRate, 19200u);
}

TEST_F(QuastorSettingDialogTest, RequestOfAnOlderComponentOffersEverySpeed) {
    Request req;
    req.channelRates[2] = 0b001;
    req.r.baudRate = 19200;
    req.r.structSize = kQuastorDialogRequestBaseSize; // ends before channelRates
    CQuastorSettingDialog dlg(req.r);
    EXPECT_EQ(Items(dlg.baudBox()), (QStringList{"9600", "19200", "115200"}));
    QTimer::singleShot(0, [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<CQuastorSettingDialog*>(w))
                d->accept();
    });
    EXPECT_EQ(QuillonQuastorSettingDialog(&req.r), 1);
    EXPECT_EQ(req.r.baudRate, 19200u);
    req.r.structSize = kQuastorDialogRequestBaseSize - 1;
    EXPECT_EQ(QuillonQuastorSettingDialog(&req.r), 0);
}

TEST_F(QuastorSettingDialogTest, HookReportsCancelAndConfirm) {
    Request req;
    QTimer::singleShot(0, [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<CQuastorSettingDialog*>(w))
                d->reject();
    });
    EXPECT_EQ(QuillonQuastorSettingDialog(&req.r), 0);
    EXPECT_EQ(req.r.library, 1);

    QTimer::singleShot(0, [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<CQuastorSettingDialog*>(w)) {
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
