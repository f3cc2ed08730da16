// The console pane as a real widget: the output mirrors the line store, keyboard selection
// and copy, Send through the callback, enables, flush into the output.
#include "ui/ConsoleForm.h"

#include "BoxAnswer.h"
#include "QtAppTest.h"
#include "base/MessageTable.h"
#include "comm/RingBuffer.h"
#include "platform/Text.h"
#include "support/LocaleScope.h"
#include "support/QtWait.h"
#include "ui/ConsoleEdit.h"
#include "ui/DialogTemplate.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <random>

namespace {

// The widget shows each stored line as one block, without its CR LF.
QString StoreAsShown(const console::LineStore& store) {
    QString shown = QString::fromStdU16String(store.Text());
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

// A receive ring of the console's own, which the test fills as a port's receive thread would.
struct Received {
    Received() { EXPECT_TRUE(ring.Allocate(1 << 16)); }
    clRingBuffer ring;
};

} // namespace

using ConsoleEditTest = QtAppTest;
using ConsoleFormTest = QtAppTest;

TEST_F(ConsoleEditTest, WidgetMirrorsTheStoreThroughWrapsAndRowDrops) {
    CConsoleEdit edit;
    edit.Append(u"ignored before set-up");
    EXPECT_TRUE(edit.toPlainText().isEmpty());
    edit.SetUp(20, 7);
    std::mt19937 rng(1234);
    const std::u16string pieces[] = {
        u"ab",         u"\n",        u"\u3042\u3044",      u"0123456789012345",
        u"\U0001F600", u"x\ny\nz\n", u"\n\n\n\n\n\n\n\n\n"};
    for (int i = 0; i < 400; ++i) {
        edit.Append(pieces[rng() % std::size(pieces)]);
        ASSERT_EQ(edit.toPlainText(), StoreAsShown(edit.Store())) << "after append " << i;
        ASSERT_EQ(edit.document()->blockCount(), static_cast<int>(edit.Store().Lines().size()));
    }
    edit.Clear();
    EXPECT_TRUE(edit.toPlainText().isEmpty());
}

TEST_F(ConsoleEditTest, CtrlASelectsAllAndCtrlCCopies) {
    CConsoleEdit edit;
    edit.SetUp(78, 100);
    edit.Append(u"first\nsecond");
    QTest::keyClick(&edit, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(edit.textCursor().selectedText(), QStringLiteral("first\u2029second"));
    QApplication::clipboard()->clear();
    QTest::keyClick(&edit, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("first\nsecond"));
    // Typing does not change the output.
    QTest::keyClicks(&edit, "zz");
    EXPECT_EQ(edit.toPlainText(), QStringLiteral("first\nsecond"));
}

TEST_F(ConsoleFormTest, SendReportsTheCommandAndKeepsTheInput) {
    CConsoleForm form;
    form.InitialUpdate(2000, true, true);
    std::vector<std::u16string> sent;
    form.SetSendHandler([&sent](const std::u16string& c) { sent.push_back(c); });

    form.Input()->setText(QStringLiteral("sta"));
    FindControl<QPushButton>(&form, CConsoleForm::IDC_SEND)->click();
    QTest::keyClick(form.Input(), Qt::Key_Return);
    QTest::keyClick(FindControl<QPushButton>(&form, CConsoleForm::IDC_SEND), Qt::Key_Enter);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0], u"sta");
    EXPECT_EQ(form.Input()->text(), QStringLiteral("sta"));

    // An empty input sends nothing.
    form.Input()->clear();
    form.Send();
    EXPECT_EQ(sent.size(), 3u);
}

// A command that would not go out as typed is not handed on: a box says why, and the input
// keeps the text for mending.
TEST_F(ConsoleFormTest, SendRefusesATextThatWouldNotGoOutAsTyped) {
    LocaleScope ascii("C");
    ASSERT_TRUE(ascii.ok);
    CConsoleForm form;
    form.InitialUpdate(2000, true, true);
    std::vector<std::u16string> sent;
    form.SetSendHandler([&sent](const std::u16string& c) { sent.push_back(c); });
    const struct {
        QString text;
        const char* box;
    } cases[] = {
        {QStringLiteral("uid AB\rtpn1"), "Character 7 is the control character U+000D"},
        {QStringLiteral("uid M\u00fcller"), "Character 6 (U+00FC) cannot be written"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.box);
        BoxAnswer answer(QMessageBox::Ok);
        form.Input()->setText(c.text);
        form.Send();
        ASSERT_EQ(answer.texts.size(), 1);
        EXPECT_TRUE(answer.texts[0].startsWith(QString::fromUtf8(c.box)))
            << answer.texts[0].toStdString();
        EXPECT_EQ(form.Input()->text(), c.text);
    }
    EXPECT_TRUE(sent.empty());
}

TEST_F(ConsoleFormTest, EnablesTextsAndAppendCrBox) {
    CConsoleForm form;
    form.InitialUpdate(2000, true, false);
    auto* box = FindControl<QCheckBox>(&form, CConsoleForm::IDC_APPEND_CR);
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isChecked());
    EXPECT_FALSE(box->isEnabled());
    EXPECT_EQ(box->text(), QString::fromUtf16(Msg(MSG_APPEND_CR)));
    EXPECT_EQ(FindControl<QPushButton>(&form, CConsoleForm::IDC_CLEAR)->text(),
              QString::fromUtf16(Msg(MSG_CLEAR)));
    EXPECT_FALSE(form.Input()->isEnabled());
    EXPECT_FALSE(FindControl<QPushButton>(&form, CConsoleForm::IDC_SEND)->isEnabled());
    form.Refresh(true);
    EXPECT_TRUE(form.Input()->isEnabled());
    EXPECT_TRUE(FindControl<QPushButton>(&form, CConsoleForm::IDC_SEND)->isEnabled());
    form.Refresh(false);
    EXPECT_FALSE(box->isEnabled());
}

TEST_F(ConsoleFormTest, FlushEchoAndClearWhichDropsTheBacklogToo) {
    CConsoleForm form;
    form.InitialUpdate(2000, false, true);
    Received received;
    form.SetReceiveSource(std::make_unique<console::RingSource>(received.ring), {});
    form.AppendEcho(u"sta\r");
    const std::string reply = std::string(">OK\r\x04") + std::string(600, 'r');
    received.ring.Append(reinterpret_cast<const uint8_t*>(reply.data()), reply.size());
    EXPECT_EQ(form.Flush(), 605u - 500u);
    // The widget follows within its mirror interval.
    EXPECT_TRUE(WaitProcessingEvents([&] {
        return form.Output()->toPlainText().startsWith(QStringLiteral("sta\n>OK\n\n"));
    })) << form.Output()->toPlainText().toStdString();
    // Echo, reply, EOT line, six full lines of 78 and the rest of the 500th character.
    EXPECT_EQ(form.Output()->Store().Lines().size(), 3u + 6u + 1u);
    FindControl<QPushButton>(&form, CConsoleForm::IDC_CLEAR)->click();
    EXPECT_TRUE(form.Output()->toPlainText().isEmpty());
    EXPECT_EQ(received.ring.Pending(clRingBuffer::kConsoleReader), 0u);
    EXPECT_EQ(form.Flush(), 0u);
    EXPECT_EQ(form.Output()->Store().Text(), u"");
}

// The echo is shown when the window gets to it, and the reply may be in the ring by then: what
// arrived after the command went out still follows its echo.
TEST_F(ConsoleFormTest, BytesReceivedAfterTheCommandWentOutFollowItsEcho) {
    CConsoleForm form;
    form.InitialUpdate(2000, false, true);
    Received received;
    form.SetReceiveSource(std::make_unique<console::RingSource>(received.ring), {});
    const std::string before = "noise\r\n", reply = ">OK\r\n";
    received.ring.Append(reinterpret_cast<const uint8_t*>(before.data()), before.size());
    const uint64_t sentAt = received.ring.WrittenCount();
    received.ring.Append(reinterpret_cast<const uint8_t*>(reply.data()), reply.size());
    form.AppendEcho(u"sta\r", sentAt);
    form.Flush();
    const std::u16string text = form.Output()->Store().Text();
    EXPECT_LT(text.find(u"noise"), text.find(u"sta"));
    EXPECT_LT(text.find(u"sta"), text.find(u">OK")) << platform::Utf16ToUtf8(text);
}

TEST_F(ConsoleFormTest, ResizingMovesTheInputRowBelowTheOutput) {
    CConsoleForm form;
    form.InitialUpdate(2000, false, true);
    form.show();
    form.resize(900, 900);
    const QRect out = form.Output()->geometry();
    const QRect in = form.Input()->geometry();
    EXPECT_EQ(in.y(), out.y() + out.height() + 7);
    EXPECT_EQ(out.height(), 900 - 15 - out.y() - in.height() -
                                FindControl<QWidget>(&form, CConsoleForm::IDC_APPEND_CR)->height());
    const QRect clear = FindControl<QWidget>(&form, CConsoleForm::IDC_CLEAR)->geometry();
    form.resize(300, 200);
    EXPECT_EQ(FindControl<QWidget>(&form, CConsoleForm::IDC_CLEAR)->geometry(), clear);
}
