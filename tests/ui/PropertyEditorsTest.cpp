// The editors of the property pane as the user meets them: typing into Integer, Float and
// String edits, the slider, check boxes, the Execute button and drop-down lists, each commit
// stored in the manager and posted to the main window as a property job.
#include "PropertyViewFixture.h"
#include "base/Messages.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QToolTip>

namespace {

const char* const kEditorsDefinition = R"(
  <PropertyIndex>
    <Grouping>
      <Title Lang="ja">&#x8A2D;&#x5B9A;</Title>
      <Title Lang="en">Settings</Title>
      <PropertyName>Step10</PropertyName>
      <PropertyName>Step7</PropertyName>
      <PropertyName>Wide</PropertyName>
      <PropertyName>NegRange</PropertyName>
      <PropertyName>Small</PropertyName>
      <PropertyName>Ratio</PropertyName>
      <PropertyName>Label</PropertyName>
      <PropertyName>Mode</PropertyName>
      <PropertyName>Enable</PropertyName>
      <PropertyName>Locked</PropertyName>
      <PropertyName>Run</PropertyName>
      <PropertyName>Ghost</PropertyName>
    </Grouping>
  </PropertyIndex>
  <TARNCommand Name="set"><MessageStyle>SpaceAndComma</MessageStyle></TARNCommand>
  <Property_Integer Name="Step10">
    <Title Lang="en">Step of ten</Title>
    <Note Lang="en">Moves in tens.</Note>
    <AccessMode>RW</AccessMode><Unit>ms</Unit><TARNCommandName>set</TARNCommandName>
    <Min>0</Min><Max>100</Max><Inc>10</Inc><Value>20</Value>
  </Property_Integer>
  <Property_Integer Name="Step7">
    <AccessMode>RW</AccessMode><Min>-100</Min><Max>100</Max><Inc>7</Inc><Value>0</Value>
  </Property_Integer>
  <Property_Integer Name="Wide">
    <AccessMode>RW</AccessMode><Min>-1</Min><Max>1</Max><Value>5</Value>
  </Property_Integer>
  <Property_Integer Name="NegRange">
    <AccessMode>RW</AccessMode><Min>-100</Min><Max>-10</Max><Value>-50</Value>
  </Property_Integer>
  <Property_Integer Name="Small">
    <AccessMode>WO</AccessMode><Min>-5</Min><Max>5</Max><Value>0</Value>
  </Property_Integer>
  <Property_Float Name="Ratio">
    <AccessMode>RW</AccessMode><Value>1.5</Value>
  </Property_Float>
  <Property_String Name="Label">
    <AccessMode>RW</AccessMode><Value>abc</Value><Length>5</Length>
  </Property_String>
  <Property_Selection Name="Mode">
    <AccessMode>RW</AccessMode><Value>5</Value>
    <SelectEntry><Value>3</Value><Text>A</Text></SelectEntry>
    <SelectEntry><Value>5</Value><Text>B</Text></SelectEntry>
    <SelectEntry><Value>7</Value><Text>A</Text></SelectEntry>
  </Property_Selection>
  <Property_Bool Name="Enable"><AccessMode>RW</AccessMode><Value>Off</Value></Property_Bool>
  <Property_Bool Name="Locked"><AccessMode>RO</AccessMode><Value>Off</Value></Property_Bool>
  <Property_Execution Name="Run"><AccessMode>WO</AccessMode></Property_Execution>
)";

class PropertyEditorsTest : public PropertyViewTest {
protected:
    void SetUp() override {
        ASSERT_EQ(LoadBody(kEditorsDefinition), kLoadOk);
        // Numbers of a definition file are 32-bit; a range beyond that is set here.
        auto* wide = Record<clCamPropertyInteger>(u"Wide");
        wide->min = -9999999999;
        wide->max = 9999999999;
        ShowForm();
    }
    int64_t IntValue(std::u16string_view name) {
        int64_t v = -999;
        mgr.GetIntegerValue(Record<clCamPropertyInteger>(name), v);
        return v;
    }
};

} // namespace

TEST_F(PropertyEditorsTest, IntegerCommitRoundsClampsAndPostsTheJob) {
    struct {
        const char16_t* name;
        const char* typed;
        int64_t stored;
    } cases[] = {{u"Step10", "57", 50},
                 {u"Step10", "250", 100},
                 {u"Step10", "-3", 0},
                 {u"Step7", "-20", -14},
                 {u"Step10", "60", 60},
                 {u"Wide", "99999999999", 9999999999},
                 {u"Wide", "-9999999999", -9999999999}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        auto* item = Item<CSliderValueProp>(c.name);
        ASSERT_NE(item, nullptr);
        QLineEdit* edit = Edit(item);
        ASSERT_NE(edit, nullptr);
        target.messages.clear();
        TypeAndEnter(edit, QString::fromLatin1(c.typed));
        EXPECT_FALSE(item->IsInPlaceEditing());
        EXPECT_EQ(IntValue(c.name), c.stored);
        EXPECT_EQ(propvalue::AsInt64(item->GetValue()), c.stored) << "the item shows the result";
        ASSERT_EQ(Jobs().size(), 1u);
        EXPECT_EQ(Jobs()[0], mgr.FindProperty(c.name));
        EXPECT_EQ(Grid().GetEndEditFlag(), 1);
    }
}

TEST_F(PropertyEditorsTest, SliderTakesTheRangeClampedTo32Bits) {
    struct {
        const char16_t* name;
        int64_t min64, max64;
        int min32, max32;
    } cases[] = {{u"Small", -5, 5, -5, 5},
                 {u"NegRange", -100, -10, -100, -10},
                 {u"Wide", -9999999999, 9999999999, std::numeric_limits<int32_t>::min(),
                  std::numeric_limits<int32_t>::max()}};
    for (const auto& c : cases) {
        auto* item = Item<CSliderValueProp>(c.name);
        ASSERT_NE(Edit(item), nullptr);
        EXPECT_EQ(item->GetMin64(), c.min64);
        EXPECT_EQ(item->GetMax64(), c.max64);
        ASSERT_NE(item->GetSlider(), nullptr);
        EXPECT_EQ(item->GetSlider()->minimum(), c.min32);
        EXPECT_EQ(item->GetSlider()->maximum(), c.max32);
        EXPECT_EQ(item->GetSlider()->value(), propvalue::ClampToInt32(IntValue(c.name)));
        // The edit is (height / 2) x 10 wide; the slider fills the rest of the value cell.
        const QRect edit = item->InPlaceEditor()->geometry();
        EXPECT_EQ(edit.width(), (edit.height() / 2) * 10);
        const QRect slider = item->GetSlider()->geometry();
        EXPECT_EQ(slider.left(), edit.right() + 1);
        EXPECT_EQ(slider.right(), Grid().ValueRect(item).right());
        QTest::keyClick(item->InPlaceEditor(), Qt::Key_Escape);
    }
    EXPECT_TRUE(Jobs().empty());
}

TEST_F(PropertyEditorsTest, IntegerEditRefusesLettersAndATwelfthCharacter) {
    auto* item = Item<CSliderValueProp>(u"Wide");
    QLineEdit* edit = Edit(item);
    ASSERT_NE(edit, nullptr);
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, "-1234567890123");
    EXPECT_EQ(edit->text(), QStringLiteral("-1234567890"));
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, "x.e+ 9");
    EXPECT_EQ(edit->text(), QStringLiteral("-1234567899"));
    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_EQ(IntValue(u"Wide"), 5);
    EXPECT_TRUE(Jobs().empty());

    // A character typed on the selected row starts the edit with that character; a letter
    // starts it but is not taken.
    Grid().setFocus();
    Grid().SelectItem(item);
    QTest::keyClick(&Grid(), Qt::Key_A);
    ASSERT_TRUE(item->IsInPlaceEditing());
    EXPECT_EQ(static_cast<QLineEdit*>(item->InPlaceEditor())->text(), QStringLiteral("5"));
    QTest::keyClick(item->InPlaceEditor(), Qt::Key_Escape);
    QTest::keyClick(&Grid(), Qt::Key_7);
    ASSERT_TRUE(item->IsInPlaceEditing());
    EXPECT_EQ(static_cast<QLineEdit*>(item->InPlaceEditor())->text(), QStringLiteral("7"));
    QTest::keyClick(item->InPlaceEditor(), Qt::Key_Return);
    EXPECT_EQ(IntValue(u"Wide"), 7);
}

// The 11-character limit is for typing: a longer value opens whole and can be shortened.
TEST_F(PropertyEditorsTest, IntegerEditOpensALongerValueWholeAndLimitsOnlyTyping) {
    auto* wide = Record<clCamPropertyInteger>(u"Wide");
    wide->min = -999999999999;
    wide->value = -123456789012; // 13 characters
    form->ReloadAllValues();
    auto* item = Item<CSliderValueProp>(u"Wide");
    ASSERT_EQ(item->FormatProperty(), QStringLiteral("-123456789012"));
    QLineEdit* edit = Edit(item);
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->text(), QStringLiteral("-123456789012"));
    edit->setCursorPosition(static_cast<int>(edit->text().size()));
    QTest::keyClick(edit, Qt::Key_5);
    EXPECT_EQ(edit->text(), QStringLiteral("-123456789012")) << "no 14th character";
    EXPECT_EQ(edit->cursorPosition(), 13);
    QTest::keyClick(edit, Qt::Key_Backspace);
    EXPECT_EQ(edit->text(), QStringLiteral("-12345678901")) << "shortening stays possible";
    edit->setCursorPosition(1);
    QTest::keyClick(edit, Qt::Key_9);
    EXPECT_EQ(edit->text(), QStringLiteral("-12345678901")) << "still over the limit";
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(IntValue(u"Wide"), -12345678901);
}

// PageUp/PageDown and clicks beside the thumb move by a fifth of the slider's range.
TEST_F(PropertyEditorsTest, SliderPageIsAFifthOfItsRange) {
    struct {
        const char16_t* name;
        int page;
    } cases[] = {{u"Small", 2}, {u"NegRange", 18}, {u"Wide", 858993459}, {u"Step10", 20}};
    for (const auto& c : cases) {
        SCOPED_TRACE(QString::fromUtf16(c.name).toStdString());
        auto* item = Item<CSliderValueProp>(c.name);
        ASSERT_NE(Edit(item), nullptr);
        CPropSliderCtrl* slider = item->GetSlider();
        ASSERT_NE(slider, nullptr);
        EXPECT_EQ(slider->pageStep(), c.page);
        QTest::keyClick(slider, Qt::Key_Escape);
    }
    auto* item = Item<CSliderValueProp>(u"NegRange");
    ASSERT_NE(Edit(item), nullptr);
    CPropSliderCtrl* slider = item->GetSlider();
    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_PageUp);
    EXPECT_EQ(slider->value(), -32);
    QTest::keyClick(slider, Qt::Key_Return);
    EXPECT_EQ(IntValue(u"NegRange"), -32);
}

TEST_F(PropertyEditorsTest, EscapeAfterMovingTheSliderRestoresAndCommitsNothing) {
    auto* item = Item<CSliderValueProp>(u"Small");
    QLineEdit* edit = Edit(item);
    ASSERT_NE(edit, nullptr);
    CPropSliderCtrl* slider = item->GetSlider();
    ASSERT_NE(slider, nullptr);
    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_Right);
    QTest::keyClick(slider, Qt::Key_Right);
    EXPECT_EQ(slider->value(), 2) << "separate presses move each time";
    EXPECT_EQ(edit->text(), QStringLiteral("2")) << "the edit follows the slider";
    EXPECT_EQ(propvalue::AsInt64(item->GetValue()), 2);
    QTest::keyClick(slider, Qt::Key_Escape);
    EXPECT_FALSE(item->IsInPlaceEditing());
    EXPECT_EQ(Grid().GetEndEditFlag(), 0);
    EXPECT_EQ(propvalue::AsInt64(item->GetValue()), 0);
    EXPECT_EQ(IntValue(u"Small"), 0);
    EXPECT_TRUE(Jobs().empty());

    // The same moves accepted with Enter are committed.
    edit = Edit(item);
    slider = item->GetSlider();
    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_End);
    QTest::keyClick(slider, Qt::Key_Return);
    EXPECT_EQ(IntValue(u"Small"), 5);
    EXPECT_EQ(Jobs().size(), 1u);
}

TEST_F(PropertyEditorsTest, HeldArrowOnTheSliderMovesOnlyEverySixthRepeat) {
    auto* item = Item<CSliderValueProp>(u"NegRange");
    ASSERT_NE(Edit(item), nullptr);
    CPropSliderCtrl* slider = item->GetSlider();
    slider->setFocus();
    for (int i = 0; i < 13; ++i) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier, QString(), i > 0);
        QApplication::sendEvent(slider, &press);
    }
    EXPECT_EQ(slider->value(), -47) << "moves at the first press and the 6th and 12th repeat";
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Right, Qt::NoModifier);
    QApplication::sendEvent(slider, &release);
    QTest::keyClick(slider, Qt::Key_Right);
    EXPECT_EQ(slider->value(), -46);
    QTest::keyClick(slider, Qt::Key_Escape);
}

TEST_F(PropertyEditorsTest, EditAndSliderAgreeWhenTheFocusMovesToTheSlider) {
    auto* item = Item<CSliderValueProp>(u"Small");
    QLineEdit* edit = Edit(item);
    ASSERT_NE(edit, nullptr);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, "-4");
    item->GetSlider()->setFocus();
    EXPECT_EQ(item->GetSlider()->value(), -4);
    EXPECT_TRUE(item->IsInPlaceEditing()) << "the slider belongs to the edit";
    EXPECT_TRUE(Jobs().empty());
    QTest::keyClick(item->GetSlider(), Qt::Key_Left);
    EXPECT_EQ(edit->text(), QStringLiteral("-5"));
    QTest::keyClick(item->GetSlider(), Qt::Key_Return);
    EXPECT_EQ(IntValue(u"Small"), -5);
}

TEST_F(PropertyEditorsTest, CheckBoxTogglesAndCommitsOnClickOnlyWhenEnabled) {
    auto* enable = Item<CCheckBoxProp>(u"Enable");
    ASSERT_NE(enable, nullptr);
    ClickValue(enable);
    EXPECT_EQ(Record<clCamPropertyBool>(u"Enable")->state, 1);
    EXPECT_EQ(propvalue::AsInt64(enable->GetValue()), 1);
    ASSERT_EQ(Jobs().size(), 1u);
    EXPECT_EQ(Jobs()[0], mgr.FindProperty(u"Enable"));
    EXPECT_EQ(enable->InPlaceEditor(), nullptr) << "no edit for a check box";
    ClickValue(enable);
    EXPECT_EQ(Record<clCamPropertyBool>(u"Enable")->state, 0);
    EXPECT_EQ(Jobs().size(), 2u);
    // Space on the selected row does the same.
    Grid().setFocus();
    QTest::keyClick(&Grid(), Qt::Key_Space);
    EXPECT_EQ(Record<clCamPropertyBool>(u"Enable")->state, 1);
    EXPECT_EQ(Jobs().size(), 3u);

    auto* locked = Item<CCheckBoxProp>(u"Locked");
    EXPECT_FALSE(locked->IsEnabled()) << "read-only";
    ClickValue(locked);
    QTest::keyClick(&Grid(), Qt::Key_Space);
    EXPECT_EQ(Record<clCamPropertyBool>(u"Locked")->state, 0);
    EXPECT_EQ(propvalue::AsInt64(locked->GetValue()), 0);
    EXPECT_EQ(Jobs().size(), 3u);
}

TEST_F(PropertyEditorsTest, ExecuteButtonPostsTheJob) {
    auto* run = Item<CButtonProp>(u"Run");
    ASSERT_NE(run, nullptr);
    EXPECT_EQ(run->FormatProperty(), QStringLiteral("(Command)"));
    Grid().EnsureVisible(run);
    const QRect value = Grid().ValueRect(run);
    const QRect button = run->GetButtonRect(value);
    EXPECT_EQ(button.right(), value.right());
    EXPECT_EQ(button.width(), value.height() * 4);
    // A click on the text beside the button does nothing.
    QTest::mouseClick(Grid().viewport(), Qt::LeftButton, {},
                      QPoint(value.left() + 2, value.center().y()));
    EXPECT_TRUE(Jobs().empty());
    QTest::mouseClick(Grid().viewport(), Qt::LeftButton, {}, button.center());
    ASSERT_EQ(Jobs().size(), 1u);
    EXPECT_EQ(Jobs()[0], mgr.FindProperty(u"Run"));
}

TEST_F(PropertyEditorsTest, SelectionListsATextOnceAndStoresItsFirstEntry) {
    auto* mode = Item<CSelectProp>(u"Mode");
    ASSERT_NE(mode, nullptr);
    EXPECT_EQ(mode->GetOptionCount(), 2);
    EXPECT_EQ(mode->FormatProperty(), QStringLiteral("B"));
    ClickValue(mode);
    auto* combo = qobject_cast<QComboBox*>(mode->InPlaceEditor());
    ASSERT_NE(combo, nullptr);
    ASSERT_EQ(combo->count(), 2);
    combo->hidePopup();
    combo->setCurrentIndex(0);
    Q_EMIT combo->activated(0);
    EXPECT_EQ(Record<clCamPropertySelection>(u"Mode")->value, 3);
    EXPECT_EQ(mode->FormatProperty(), QStringLiteral("A"));
    EXPECT_FALSE(mode->IsInPlaceEditing());
    ASSERT_EQ(Jobs().size(), 1u);

    // Choosing the entry already shown commits again.
    Record<clCamPropertySelection>(u"Mode")->value = 7;
    ClickValue(mode);
    combo = qobject_cast<QComboBox*>(mode->InPlaceEditor());
    ASSERT_NE(combo, nullptr);
    combo->hidePopup();
    EXPECT_EQ(combo->currentIndex(), 0);
    Q_EMIT combo->activated(0);
    EXPECT_EQ(Record<clCamPropertySelection>(u"Mode")->value, 3);
    EXPECT_EQ(Jobs().size(), 2u);

    // Arrow keys on the closed list leave the row; they never choose an entry.
    Grid().EditItem(mode);
    combo = qobject_cast<QComboBox*>(mode->InPlaceEditor());
    ASSERT_NE(combo, nullptr);
    QTest::keyClick(combo, Qt::Key_Down);
    EXPECT_EQ(Record<clCamPropertySelection>(u"Mode")->value, 3);
    EXPECT_EQ(Jobs().size(), 2u);
}

TEST_F(PropertyEditorsTest, AltDownOpensTheSelectionList) {
    auto* mode = Item<CSelectProp>(u"Mode");
    ASSERT_NE(mode, nullptr);
    // On the selected row: the edit starts with its list open.
    Grid().setFocus();
    Grid().SelectItem(mode);
    QTest::keyClick(&Grid(), Qt::Key_Down, Qt::AltModifier);
    auto* combo = qobject_cast<QComboBox*>(mode->InPlaceEditor());
    ASSERT_NE(combo, nullptr);
    EXPECT_TRUE(combo->view()->isVisible());
    combo->hidePopup();
    EXPECT_EQ(Grid().SelectedItem(), mode) << "the row stays selected";
    // In the open edit: the closed list opens again instead of leaving the row.
    QTest::keyClick(combo, Qt::Key_Down, Qt::AltModifier);
    EXPECT_TRUE(mode->IsInPlaceEditing());
    EXPECT_TRUE(combo->view()->isVisible());
    combo->hidePopup();
    EXPECT_TRUE(Jobs().empty());
}

TEST_F(PropertyEditorsTest, UnchangedFloatEditStillCommits) {
    auto* ratio = Item<CDefaultExProp>(u"Ratio");
    ClickValue(ratio);
    auto* edit = qobject_cast<QLineEdit*>(ratio->InPlaceEditor());
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->text(), QStringLiteral("1.500000"));
    EXPECT_TRUE(ratio->IsCommitPending());
    // Leaving the cell by clicking another row takes the text.
    ClickValue(Item(u"Step10"));
    EXPECT_FALSE(ratio->IsInPlaceEditing());
    EXPECT_FALSE(ratio->IsCommitPending());
    ASSERT_EQ(Jobs().size(), 1u);
    EXPECT_EQ(Jobs()[0], mgr.FindProperty(u"Ratio"));

    // Float edits take "-.0123456789" only.
    QLineEdit* typed = Edit(ratio);
    ASSERT_NE(typed, nullptr);
    TypeAndEnter(typed, QStringLiteral("-2,5e1.75"));
    EXPECT_DOUBLE_EQ(Record<clCamPropertyFloat>(u"Ratio")->value, -251.75);
    EXPECT_EQ(ratio->FormatProperty(), QStringLiteral("-251.750000"));
}

TEST_F(PropertyEditorsTest, StringCommitCutsToTheLength) {
    auto* label = Item<CDefaultExProp>(u"Label");
    QLineEdit* edit = Edit(label);
    ASSERT_NE(edit, nullptr);
    TypeAndEnter(edit, QStringLiteral("ABCDEFG"));
    EXPECT_TRUE(Record<clCamPropertyString>(u"Label")->value == u"ABCDE");
    EXPECT_EQ(label->FormatProperty(), QStringLiteral("ABCDE"));
    EXPECT_EQ(Jobs().size(), 1u);
}

TEST_F(PropertyEditorsTest, UnknownPropertyShowsUnknownAndStaysDisabled) {
    auto* ghost = Item(u"Ghost");
    ASSERT_NE(ghost, nullptr);
    EXPECT_EQ(ghost->FormatProperty(), QStringLiteral("unknown"));
    EXPECT_TRUE(ghost->GetName().isEmpty());
    EXPECT_FALSE(ghost->IsEnabled());
    EXPECT_EQ(ghost->OnValueCommitted, nullptr);
    ClickValue(ghost);
    EXPECT_FALSE(ghost->IsInPlaceEditing());
    form->Refresh(REFRESH_PROPERTIES | REFRESH_RELOAD_VALUES);
    EXPECT_FALSE(ghost->IsEnabled());
    EXPECT_EQ(ghost->FormatProperty(), QStringLiteral("unknown"));
}

TEST_F(PropertyEditorsTest, CutValueShowsWholeAsTooltip) {
    auto* label = Item<CDefaultExProp>(u"Label");
    Grid().EnsureVisible(label);
    const QString longText(200, QLatin1Char('W'));
    label->SetValue(PropValue(longText.toStdU16String()));
    Grid().viewport()->repaint();
    EXPECT_TRUE(label->IsValueTruncated());
    QHelpEvent help(QEvent::ToolTip, Grid().ValueRect(label).center(),
                    Grid().viewport()->mapToGlobal(Grid().ValueRect(label).center()));
    QApplication::sendEvent(Grid().viewport(), &help);
    EXPECT_EQ(QToolTip::text(), longText);
    QToolTip::hideText();

    label->SetValue(PropValue(std::u16string(u"ab")));
    Grid().viewport()->repaint();
    EXPECT_FALSE(label->IsValueTruncated());
}
