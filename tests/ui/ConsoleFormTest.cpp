// The console pane as a real widget: the output mirrors the line store, keyboard selection
// and copy, Send through the callback, enables, flush into the output.
#include "ui/ConsoleForm.h"

#include "BoxAnswer.h"
#include "QtAppTest.h"
#include "base/MessageTable.h"
#include "support/LocaleScope.h"
#include "ui/ConsoleEdit.h"
#include "ui/DialogTemplate.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>
#include <random>

namespace {

// The widget shows each stored line as one block, without its CR LF.
QString StoreAsShown(const console::LineStore& store) {
    QString shown = QString::fromStdU16String(store.Text());
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

class Bytes : public console::IReceiveSource {
public:
    explicit Bytes(std::string b) : m_b(std::move(b)) {}
    uint64_t ConsoleBacklog() override { return m_b.size() - m_pos; }
    uint8_t TakeConsoleByte() override { return static_cast<uint8_t>(m_b[m_pos++]); }

private:
    std::string m_b;
    std::size_t m_pos = 0;
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

TEST_F(ConsoleFormTest, FlushEchoAndClear) {
    CConsoleForm form;
    form.InitialUpdate(100, false, true);
    form.AppendEcho(u"sta\r");
    Bytes bytes(std::string(">OK\r\x04") + std::string(600, 'r'));
    const uint64_t left = form.Flush(bytes);
    EXPECT_EQ(left, 605u - 500u);
    const QString shown = form.Output()->toPlainText();
    EXPECT_TRUE(shown.startsWith(QStringLiteral("sta\n>OK\n\n"))) << shown.toStdString();
    // Echo, reply, EOT line, six full lines of 78 and the rest of the 500th character.
    EXPECT_EQ(form.Output()->Store().Lines().size(), 3u + 6u + 1u);
    FindControl<QPushButton>(&form, CConsoleForm::IDC_CLEAR)->click();
    EXPECT_TRUE(form.Output()->toPlainText().isEmpty());
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
