// The bars' states and colours as the main window sets them, the image buttons' looks and
// the program-drawn image strip.
#include "ui/DialogBars.h"

#include "QtAppTest.h"
#include "base/MessageTable.h"
#include "ui/DialogTemplate.h"
#include "ui/ImageButton.h"
#include "ui/ImageStrip.h"

#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>
#include <utility>

using barstatus::ResultLook;
using barstatus::Rgb;

namespace {

QColor Pixel(const QImage& image, int x, int y) {
    return image.pixelColor(x, y);
}

bool AllChannelsAtLeast(const QImage& image, int floor) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() < floor || c.green() < floor || c.blue() < floor)
                return false;
        }
    return true;
}

const QColor kBlack(0, 0, 0);
const QColor kWhite(255, 255, 255);
const QColor kInner(153, 204, 204);
const QColor kPaledBlack(128, 128, 128);

} // namespace

using UpperBarTest = QtAppTest;
using LowerBarTest = QtAppTest;
using ImageStripTest = QtAppTest;

TEST(ResultLook, EveryTransactionOutcome) {
    EXPECT_EQ(barstatus::MakeResultLook(5, 0, u"OK"),
              (ResultLook{Msg(MSG_RECEIVE_TIMEOUT), barstatus::kBad}));
    EXPECT_EQ(barstatus::MakeResultLook(7, 0, u"OK"),
              (ResultLook{Msg(MSG_TRANSMIT_TIMEOUT), barstatus::kBad}));
    EXPECT_EQ(barstatus::MakeResultLook(6, 0, u"OK"),
              (ResultLook{Msg(MSG_CANCEL_RECEIVING), Rgb{200, 200, 128}}));
    EXPECT_EQ(barstatus::MakeResultLook(0, -1, u""), (ResultLook{u"???", barstatus::kBad}));
    EXPECT_EQ(barstatus::MakeResultLook(0, 0, u"OK"), (ResultLook{u"OK", Rgb{128, 192, 128}}));
    EXPECT_EQ(barstatus::MakeResultLook(0, 2, u"CMD ERR!"),
              (ResultLook{u"CMD ERR!", Rgb{200, 128, 128}}));
}

// The tooltip table by the template's control ids, so a wrong name in the table shows here.
TEST(Tooltips, EveryBarControlOfTheTable) {
    const std::pair<int, int> table[] = {{1, MSG_EXIT},
                                         {1012, MSG_CONNECT},
                                         {1013, MSG_DISCONNECT},
                                         {1020, MSG_TEXT_LOAD},
                                         {1021, MSG_ABOUT},
                                         {1023, MSG_COMM_SETTINGS},
                                         {1042, MSG_TEXT_SAVE},
                                         {1043, MSG_OPEN_CAMERA_DEFINE},
                                         {1075, MSG_CANCEL_RECEIVING},
                                         {1201, MSG_CLOSE_CAMERA_DEFINE}};
    for (const auto& [control, message] : table)
        EXPECT_EQ(barstatus::TooltipMessage(control), message) << control;
    for (int none : {0, 1202, 1203, 1028, 32780})
        EXPECT_EQ(barstatus::TooltipMessage(none), -1) << none;
}

TEST_F(UpperBarTest, ConnectAndDisconnectLookFollowTheConnection) {
    CDialogBarUpper bar;
    bar.show();
    CImageButton* connect = bar.Button(CDialogBarUpper::IDC_CONNECT);
    CImageButton* disconnect = bar.Button(CDialogBarUpper::IDC_DISCONNECT);
    ASSERT_EQ(connect->ButtonMode(), CImageButton::kToggle);

    bar.SetConnectionState(true, true);
    EXPECT_TRUE(connect->IsToggled());
    EXPECT_FALSE(connect->isEnabled()); // cannot connect twice
    EXPECT_FALSE(disconnect->IsToggled());
    EXPECT_TRUE(disconnect->isEnabled());
    QImage c = connect->Render();
    QImage d = disconnect->Render();
    // Pressed and paled: the black outer frame became grey on every side.
    EXPECT_EQ(Pixel(c, 0, 0), kPaledBlack);
    EXPECT_EQ(Pixel(c, c.width() - 1, c.height() - 1), kPaledBlack);
    // Raised: white top-left, black bottom-right, inner frame white and teal.
    EXPECT_EQ(Pixel(d, 0, 0), kWhite);
    EXPECT_EQ(Pixel(d, 1, 1), kWhite);
    EXPECT_EQ(Pixel(d, d.width() - 1, d.height() - 1), kBlack);
    EXPECT_EQ(Pixel(d, d.width() - 2, d.height() - 2), kInner);

    QSignalSpy spy(&bar, &CDialogBarUpper::commandTriggered);
    QTest::mouseClick(connect, Qt::LeftButton);
    EXPECT_EQ(spy.count(), 0);
    QTest::mouseClick(disconnect, Qt::LeftButton);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy[0][0].toInt(), CDialogBarUpper::IDC_DISCONNECT);
    EXPECT_TRUE(disconnect->IsToggled()); // a click flips the toggle until the next refresh

    bar.SetConnectionState(true, false);
    EXPECT_FALSE(connect->IsToggled());
    EXPECT_TRUE(connect->isEnabled());
    EXPECT_TRUE(disconnect->IsToggled());
    EXPECT_FALSE(disconnect->isEnabled());
    c = connect->Render();
    EXPECT_EQ(Pixel(c, 0, 0), kWhite);
    // Enabled and toggled on: black outer frame with the teal frame inside on all sides.
    connect->SetToggled(true);
    c = connect->Render();
    EXPECT_EQ(Pixel(c, 0, 0), kBlack);
    EXPECT_EQ(Pixel(c, 1, 1), kInner);

    bar.SetConnectionState(false, false); // no port: neither possible
    EXPECT_FALSE(connect->isEnabled());
    EXPECT_FALSE(disconnect->isEnabled());
}

TEST_F(UpperBarTest, CameraPictureAlwaysPaled) {
    CDialogBarUpper bar;
    CImageButton* camera = bar.Button(CDialogBarUpper::IDC_CAMERA_PICTURE);
    bar.SetCommandEnabled(CDialogBarUpper::IDC_CAMERA_PICTURE, true);
    EXPECT_FALSE(camera->isEnabled());
    EXPECT_EQ(camera->ImageCell(), imagestrip::kCamera);
    const QImage image = camera->Render();
    EXPECT_TRUE(AllChannelsAtLeast(image, 128));
    // The same button enabled keeps its dark picture pixels.
    camera->setEnabled(true);
    EXPECT_FALSE(AllChannelsAtLeast(camera->Render(), 128));
}

TEST_F(UpperBarTest, PortLineIdentityAndColours) {
    CDialogBarUpper bar;
    CColorEdit* port = bar.Edit(CDialogBarUpper::IDC_PORT);
    EXPECT_EQ(port->Colour(), kWhite);
    EXPECT_TRUE(port->isReadOnly());
    bar.SetPort(QStringLiteral("ttyUSB0"), QStringLiteral("FT232R USB UART"), true);
    EXPECT_EQ(port->text(), QStringLiteral("ttyUSB0 , FT232R USB UART"));
    EXPECT_EQ(port->cursorPosition(), port->text().size());
    EXPECT_EQ(port->Colour(), QColor(128, 192, 128));
    EXPECT_EQ(port->palette().color(QPalette::Base), QColor(128, 192, 128));
    bar.SetPort(QStringLiteral("ttyUSB0"), QString(), false); // no current port
    EXPECT_EQ(port->text(), QStringLiteral("ttyUSB0"));
    EXPECT_EQ(port->Colour(), QColor(200, 128, 128));
    bar.SetPort(QStringLiteral("No settings"), QString(), true);
    EXPECT_EQ(port->Colour(), QColor(200, 128, 128));

    bar.SetLineSpeed(QStringLiteral("9600 bps"));
    bar.SetCameraIdentity(QStringLiteral("XC-100"), QStringLiteral("1.02"),
                          QStringLiteral("12345"));
    EXPECT_EQ(bar.Edit(CDialogBarUpper::IDC_LINE_SPEED)->text(), QStringLiteral("9600 bps"));
    EXPECT_EQ(bar.Edit(CDialogBarUpper::IDC_MODEL)->text(), QStringLiteral("XC-100"));
    EXPECT_EQ(bar.Edit(CDialogBarUpper::IDC_VERSION)->text(), QStringLiteral("1.02"));
    EXPECT_EQ(bar.Edit(CDialogBarUpper::IDC_SERIAL)->text(), QStringLiteral("12345"));
}

TEST_F(UpperBarTest, CommandsMenuAndTooltips) {
    CDialogBarUpper bar;
    bar.show();
    QSignalSpy spy(&bar, &CDialogBarUpper::commandTriggered);
    for (int id : {1201, 1042, 1020, 1023, 1021})
        QTest::mouseClick(bar.Button(id), Qt::LeftButton);
    bar.SetCommandEnabled(1042, false);
    QTest::mouseClick(bar.Button(1042), Qt::LeftButton);
    bar.SelectFileAction()->trigger();
    bar.SetFileMenuEnables(true, false);
    EXPECT_FALSE(bar.AutoSelectAction()->isEnabled());
    bar.AutoSelectAction()->trigger(); // disabled: nothing
    bar.SetFileMenuEnables(true, true);
    bar.AutoSelectAction()->trigger();
    std::vector<int> ids;
    for (const auto& args : spy)
        ids.push_back(args[0].toInt());
    EXPECT_EQ(ids, (std::vector<int>{1201, 1042, 1020, 1023, 1021, 32780, 32781}));
    EXPECT_EQ(bar.FilePopup()->actions().size(), 2);
    EXPECT_EQ(bar.SelectFileAction()->text(), QString::fromUtf16(Msg(MSG_SELECT_FILE)));

    EXPECT_EQ(bar.Button(1201)->toolTip(), QString::fromUtf16(Msg(MSG_CLOSE_CAMERA_DEFINE)));
    EXPECT_EQ(bar.Button(1043)->toolTip(), QString::fromUtf16(Msg(MSG_OPEN_CAMERA_DEFINE)));
    EXPECT_TRUE(FindControl<QWidget>(&bar, 1202)->toolTip().isEmpty());
}

TEST_F(LowerBarTest, StateResultElapsedAndCommands) {
    CDialogBarLower bar;
    bar.show();
    EXPECT_EQ(FindControl<QPushButton>(&bar, 1203)->text(),
              QString::fromUtf16(Msg(MSG_SHOW_CONSOLE)));
    EXPECT_EQ(FindControl<QLabel>(&bar, 1074)->text(), QString::fromUtf16(Msg(MSG_ELAPSED_TIME)));
    bar.SetConnected(true);
    EXPECT_EQ(FindControl<QLineEdit>(&bar, 1045)->text(), QString::fromUtf16(Msg(MSG_CONNECT)));
    bar.SetConnected(false);
    EXPECT_EQ(FindControl<QLineEdit>(&bar, 1045)->text(), QString::fromUtf16(Msg(MSG_DISCONNECT)));
    bar.SetResult(barstatus::MakeResultLook(0, 1, u"CMD ERR!"));
    auto* result = FindControl<CColorEdit>(&bar, 1076);
    EXPECT_EQ(result->text(), QStringLiteral("CMD ERR!"));
    EXPECT_EQ(result->Colour(), QColor(200, 128, 128));
    bar.SetElapsedTime(QStringLiteral("01:05"));
    EXPECT_EQ(FindControl<QLineEdit>(&bar, 1027)->text(), QStringLiteral("01:05"));

    QSignalSpy spy(&bar, &CDialogBarLower::commandTriggered);
    bar.SetCancelEnabled(false);
    QTest::mouseClick(bar.CancelButton(), Qt::LeftButton);
    bar.SetCancelEnabled(true);
    QTest::mouseClick(bar.CancelButton(), Qt::LeftButton);
    FindControl<QPushButton>(&bar, 1203)->click();
    FindControl<QPushButton>(&bar, 1204)->click();
    ASSERT_EQ(spy.count(), 3);
    EXPECT_EQ(spy[0][0].toInt(), 1075);
    EXPECT_EQ(spy[1][0].toInt(), 1203);
    EXPECT_EQ(spy[2][0].toInt(), 1204);
    // The Cancel button closes the template's row: its right edge is the template's x 326.
    const DialogTemplate t(&bar);
    EXPECT_EQ(bar.CancelButton()->geometry().right() + 1, t.toPixels({0, 0, 326, 1}).width());
}

TEST_F(ImageStripTest, UsedCellsHavePicturesOnATransparentGround) {
    EXPECT_EQ(imagestrip::Strip().size(), QSize(30 * 16, 15));
    for (int cell : {8, 12, 16, 19, 20, 21, 22, 23, 24}) {
        const QImage image = imagestrip::Cell(cell).toImage();
        ASSERT_EQ(image.size(), QSize(16, 15)) << cell;
        int opaque = 0;
        int transparent = 0;
        for (int y = 0; y < 15; ++y)
            for (int x = 0; x < 16; ++x)
                (qAlpha(image.pixel(x, y)) == 255 ? opaque : transparent)++;
        EXPECT_GT(opaque, 10) << cell;
        EXPECT_GT(transparent, 0) << cell;
    }
    // Ringing and resting telephone differ.
    EXPECT_NE(imagestrip::Cell(21).toImage(), imagestrip::Cell(22).toImage());
    EXPECT_TRUE(imagestrip::Cell(-1).isNull());
    EXPECT_TRUE(imagestrip::Cell(30).isNull());
    EXPECT_EQ(imagestrip::OpenFolder().size(), QSize(16, 15));
}
