// The communication settings dialog's enables, validation and Default; the list chooser;
// the wait and about dialogs.
#include "QtAppTest.h"
#include "base/MessageTable.h"
#include "ui/AboutDlg.h"
#include "ui/CamSelDlg.h"
#include "ui/ConsoleEdit.h"
#include "ui/DialogTemplate.h"
#include "ui/SimpleSelectDlg.h"
#include "ui/WaitMsgDlg.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QWindow>
#include <gtest/gtest.h>

using commsettings::Data;

namespace {

// Interfaces as the registry would list them; SettingDialog chooses a port.
class FakeInterfaces : public commsettings::IInterfaceList {
public:
    std::vector<std::u16string> labels{u"COM Ver.1.0.1", u"CameraLink Ver.2.1.0"};
    std::vector<std::u16string> ports{u"ttyUSB0", u"No settings"};
    int settingDialogCalls = 0;

    int Count() const override { return static_cast<int>(labels.size()); }
    std::u16string Label(int i) const override { return labels.at(i); }
    std::u16string PortName(int i) override { return ports.at(i); }
    int32_t SettingDialog(int i) override {
        ++settingDialogCalls;
        ports.at(i) = u"port0";
        return 1;
    }
};

struct CamSel {
    FakeInterfaces interfaces;
    std::unique_ptr<CCamSelDlg> dlg;
    QStringList rangeMessages;

    explicit CamSel(Data data) {
        dlg = std::make_unique<CCamSelDlg>(interfaces, data);
        dlg->SetRangeMessage(
            [this](QWidget*, const QString& text) { rangeMessages.push_back(text); });
    }
    QLineEdit* edit(int id) const { return FindControl<QLineEdit>(dlg.get(), id); }
    QPushButton* button(int id) const { return FindControl<QPushButton>(dlg.get(), id); }
    QComboBox* combo() const {
        return FindControl<QComboBox>(dlg.get(), CCamSelDlg::IDC_INTERFACE);
    }
    void choose(int index) {
        combo()->setCurrentIndex(index);
        Q_EMIT combo()->activated(index);
    }
};

Data Timeouts(uint32_t first, uint32_t next, uint32_t send, int32_t selected) {
    Data d;
    d.firstReceive = first;
    d.nextReceive = next;
    d.send = send;
    d.selectedInterface = selected;
    return d;
}

} // namespace

using CamSelDlgTest = QtAppTest;
using SimpleSelectDlgTest = QtAppTest;
using WaitMsgDlgTest = QtAppTest;
using AboutDlgTest = QtAppTest;

TEST(TimeoutParsing, RangeAndForm) {
    using commsettings::ParseTimeout;
    EXPECT_EQ(ParseTimeout(u"100"), 100u);
    EXPECT_EQ(ParseTimeout(u"4294967294"), 4294967294u);
    EXPECT_EQ(ParseTimeout(u"000250"), 250u);
    EXPECT_FALSE(ParseTimeout(u""));
    EXPECT_FALSE(ParseTimeout(u"99"));
    EXPECT_FALSE(ParseTimeout(u"0"));
    EXPECT_FALSE(ParseTimeout(u"4294967295"));
    EXPECT_FALSE(ParseTimeout(u"18446744073709551716")); // wraps a 64-bit value to 100
    EXPECT_FALSE(ParseTimeout(u"-100"));
    EXPECT_FALSE(ParseTimeout(u" 100"));
    EXPECT_FALSE(ParseTimeout(u"1e3"));
}

TEST_F(CamSelDlgTest, OpensWithTheCallersDataAndTexts) {
    CamSel s(Timeouts(1000, 200, 3000, 0));
    EXPECT_EQ(s.dlg->windowTitle(), QString::fromUtf16(Msg(MSG_COMM_SETTINGS)));
    EXPECT_EQ(s.combo()->count(), 2);
    EXPECT_EQ(s.combo()->itemText(1), QStringLiteral("CameraLink Ver.2.1.0"));
    EXPECT_EQ(s.combo()->currentIndex(), 0);
    EXPECT_EQ(s.edit(CCamSelDlg::IDC_FIRST_RECEIVE)->text(), QStringLiteral("1000"));
    EXPECT_EQ(s.edit(CCamSelDlg::IDC_NEXT_RECEIVE)->text(), QStringLiteral("200"));
    EXPECT_EQ(s.edit(CCamSelDlg::IDC_SEND)->text(), QStringLiteral("3000"));
    EXPECT_TRUE(s.button(CCamSelDlg::IDC_OK)->isEnabled());
    EXPECT_EQ(s.button(CCamSelDlg::IDC_DEFAULT)->text(), QString::fromUtf16(Msg(MSG_DEFAULT)));
    EXPECT_EQ(FindControl<QLabel>(s.dlg.get(), 1109)->text(),
              QString::fromUtf16(Msg(MSG_SEND_TIMEOUT)));
}

TEST_F(CamSelDlgTest, NoInterfaceSelectedDisablesOkAndDetailedUntilOneIsChosen) {
    CamSel s(Timeouts(20000, 20000, 20000, -1));
    EXPECT_EQ(s.combo()->currentIndex(), -1);
    EXPECT_FALSE(s.button(CCamSelDlg::IDC_OK)->isEnabled());
    EXPECT_FALSE(s.button(CCamSelDlg::IDC_DETAILED)->isEnabled());
    s.dlg->show();
    QTest::keyClick(s.dlg.get(), Qt::Key_Return); // Enter must not get round the disabled OK
    s.dlg->accept();
    EXPECT_TRUE(s.dlg->isVisible());
    EXPECT_EQ(s.dlg->result(), QDialog::Rejected);

    s.choose(0);
    EXPECT_EQ(s.dlg->Data().selectedInterface, 0);
    EXPECT_EQ(s.dlg->focusWidget(), s.button(CCamSelDlg::IDC_DETAILED));
    EXPECT_TRUE(s.button(CCamSelDlg::IDC_DETAILED)->isEnabled());
    EXPECT_TRUE(s.button(CCamSelDlg::IDC_OK)->isEnabled());
    // An index beyond the list counts as none.
    CamSel beyond(Timeouts(20000, 20000, 20000, 7));
    EXPECT_EQ(beyond.dlg->Data().selectedInterface, -1);
    EXPECT_FALSE(beyond.button(CCamSelDlg::IDC_OK)->isEnabled());
}

TEST_F(CamSelDlgTest, InterfaceWithoutPortNeedsDetailedSettingBeforeOk) {
    CamSel s(Timeouts(20000, 20000, 20000, 0));
    s.choose(1);
    EXPECT_TRUE(s.button(CCamSelDlg::IDC_DETAILED)->isEnabled());
    EXPECT_FALSE(s.button(CCamSelDlg::IDC_OK)->isEnabled());
    s.button(CCamSelDlg::IDC_DETAILED)->click();
    EXPECT_EQ(s.interfaces.settingDialogCalls, 1);
    EXPECT_TRUE(s.button(CCamSelDlg::IDC_OK)->isEnabled());
    s.button(CCamSelDlg::IDC_OK)->click();
    EXPECT_EQ(s.dlg->result(), QDialog::Accepted);
    EXPECT_EQ(s.dlg->Data().selectedInterface, 1);
}

TEST_F(CamSelDlgTest, DefaultThenOkStores20000Everywhere) {
    CamSel s(Timeouts(150, 250, 350, 0));
    s.button(CCamSelDlg::IDC_DEFAULT)->click();
    EXPECT_EQ(s.edit(CCamSelDlg::IDC_SEND)->text(), QStringLiteral("20000"));
    s.button(CCamSelDlg::IDC_OK)->click();
    EXPECT_EQ(s.dlg->result(), QDialog::Accepted);
    EXPECT_EQ(s.dlg->Data(), Timeouts(20000, 20000, 20000, 0));
    EXPECT_TRUE(s.rangeMessages.isEmpty());
}

TEST_F(CamSelDlgTest, BadTimeoutKeepsTheDialogOpenOnThatEdit) {
    CamSel s(Timeouts(20000, 20000, 20000, 0));
    s.dlg->show();
    s.edit(CCamSelDlg::IDC_FIRST_RECEIVE)->setText(QStringLiteral("50"));
    s.edit(CCamSelDlg::IDC_SEND)->setText(QString());
    s.button(CCamSelDlg::IDC_OK)->click();
    EXPECT_TRUE(s.dlg->isVisible());
    ASSERT_EQ(s.rangeMessages.size(), 1);
    EXPECT_TRUE(s.rangeMessages[0].contains(QStringLiteral("4294967294")));
    EXPECT_EQ(s.dlg->focusWidget(), s.edit(CCamSelDlg::IDC_FIRST_RECEIVE));
    EXPECT_EQ(s.dlg->Data().firstReceive, 20000u); // nothing stored

    // First fixed: the empty Send edit is next.
    s.edit(CCamSelDlg::IDC_FIRST_RECEIVE)->setText(QStringLiteral("100"));
    s.button(CCamSelDlg::IDC_OK)->click();
    EXPECT_TRUE(s.dlg->isVisible());
    EXPECT_EQ(s.dlg->focusWidget(), s.edit(CCamSelDlg::IDC_SEND));

    s.edit(CCamSelDlg::IDC_SEND)->setText(QStringLiteral("4294967294"));
    s.button(CCamSelDlg::IDC_OK)->click();
    EXPECT_FALSE(s.dlg->isVisible());
    EXPECT_EQ(s.dlg->Data(), Timeouts(100, 20000, 4294967294u, 0));
}

TEST_F(CamSelDlgTest, EditsTakeDigitsOnly) {
    CamSel s(Timeouts(20000, 20000, 20000, 0));
    QLineEdit* edit = s.edit(CCamSelDlg::IDC_NEXT_RECEIVE);
    edit->clear();
    QTest::keyClicks(edit, "1a-2 3");
    EXPECT_EQ(edit->text(), QStringLiteral("123"));
}

TEST_F(SimpleSelectDlgTest, OkOnlyWithASelectionAndGivesItsText) {
    CSimpleSelectDlg dlg(
        QStringLiteral("Search result"), QStringLiteral("Found 3 files"),
        {QStringLiteral("b.xml"), QStringLiteral("a.xml"), QStringLiteral("c.xml")});
    auto* list = FindControl<QListWidget>(&dlg, CSimpleSelectDlg::IDC_LIST);
    auto* ok = FindControl<QPushButton>(&dlg, CSimpleSelectDlg::IDC_OK);
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Search result"));
    EXPECT_EQ(FindControl<QLabel>(&dlg, CSimpleSelectDlg::IDC_PROMPT)->text(),
              QStringLiteral("Found 3 files"));
    EXPECT_EQ(list->item(0)->text(), QStringLiteral("b.xml")); // caller's order, not sorted
    EXPECT_FALSE(ok->isEnabled());
    dlg.show();
    list->setFocus();
    EXPECT_FALSE(ok->isEnabled());
    list->item(2)->setSelected(true);
    EXPECT_TRUE(ok->isEnabled());
    list->clearSelection();
    EXPECT_FALSE(ok->isEnabled());
    list->item(1)->setSelected(true);
    ok->click();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.Result(), QStringLiteral("a.xml"));
}

TEST_F(WaitMsgDlgTest, ShowsCentredWithoutButtonsAndHides) {
    QWidget owner;
    owner.setGeometry(100, 100, 800, 600);
    owner.show();
    CWaitMsgDlg wait(&owner);
    EXPECT_FALSE(wait.isVisible());
    EXPECT_FALSE(FindControl<QPushButton>(&wait, CWaitMsgDlg::IDC_CANCEL)->isEnabled());
    wait.ShowCentred(&owner, QString::fromUtf16(Msg(MSG_DISCONNECTING)),
                     QString::fromUtf16(Msg(MSG_PLEASE_WAIT)));
    EXPECT_TRUE(wait.isVisible());
    EXPECT_FALSE(wait.isModal());
    EXPECT_FALSE(FindControl<QPushButton>(&wait, CWaitMsgDlg::IDC_OK)->isVisible());
    EXPECT_FALSE(FindControl<QPushButton>(&wait, CWaitMsgDlg::IDC_CANCEL)->isVisible());
    EXPECT_EQ(wait.Message(), QString::fromUtf16(Msg(MSG_PLEASE_WAIT)));
    EXPECT_LE((wait.frameGeometry().center() - owner.frameGeometry().center()).manhattanLength(),
              2);
    QTest::keyClick(&wait, Qt::Key_Escape); // the user cannot close it
    EXPECT_TRUE(wait.isVisible());
    wait.HideWait(&owner);
    EXPECT_FALSE(wait.isVisible());
}

// The application's wait dialog is made before the main window exists, without a parent. Shown,
// it belongs to the main window and has been painted before the caller blocks.
TEST_F(WaitMsgDlgTest, ParentlessDialogIsOwnedByTheMainWindowAndPaintedOnReturn) {
    QWidget frame;
    frame.setGeometry(50, 60, 900, 700);
    frame.show();
    auto* child = new QWidget(&frame); // the caller may pass any widget of the main window
    CWaitMsgDlg wait;
    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            paints += e->type() == QEvent::Paint;
            return false;
        }
    } counter;
    wait.installEventFilter(&counter);
    wait.ShowCentred(child, QStringLiteral("caption"), QStringLiteral("text"));
    ASSERT_NE(wait.windowHandle(), nullptr);
    EXPECT_EQ(wait.windowHandle()->transientParent(), frame.windowHandle());
    EXPECT_TRUE(wait.windowHandle()->isExposed());
    EXPECT_GE(counter.paints, 1) << "painted before ShowCentred returned";
    EXPECT_LE((wait.frameGeometry().center() - frame.frameGeometry().center()).manhattanLength(),
              2);
    wait.HideWait(&frame);
    EXPECT_FALSE(wait.isVisible());
}

TEST_F(AboutDlgTest, ProgramLineAndOnlyTheLastFourInterfaces) {
    AboutInfo info;
    info.programName = u"Quillon";
    SplitFileVersion(0x00010000u, 0x00010000u, info);
    info.copyright = u"Copyright (C) 2026";
    for (int i = 1; i <= 6; ++i)
        info.interfaceLabels.push_back(u"Interface " + std::u16string(1, char16_t(u'0' + i)));
    CAboutDlg dlg(info);
    EXPECT_EQ(FindControl<QLabel>(&dlg, CAboutDlg::IDC_PROGRAM)->text(),
              QStringLiteral("Quillon Ver.1.0.1"));
    EXPECT_EQ(FindControl<QLabel>(&dlg, CAboutDlg::IDC_COPYRIGHT)->text(),
              QStringLiteral("Copyright (C) 2026"));
    EXPECT_EQ(FindControl<QLabel>(&dlg, CAboutDlg::IDC_LANGUAGE)->text(),
              QString::fromUtf16(Msg(MSG_BILINGUAL_SUPPORT)));
    EXPECT_EQ(dlg.Interfaces()->toPlainText(),
              QStringLiteral("Interface 3\nInterface 4\nInterface 5\nInterface 6\n"));
}
