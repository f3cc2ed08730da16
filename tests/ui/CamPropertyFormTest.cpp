// The property pane over the sample definitions: rows built from the definition tree, labels
// and group titles per UI language, enable states, values reloaded from the manager, the
// description area, and the buttons and keys that open and close groups.
#include "BoxAnswer.h"
#include "PropertyViewFixture.h"
#include "base/Messages.h"
#include "support/LocaleScope.h"

#include <QPushButton>
#include <sstream>

namespace {

using CamPropertyFormTest = PropertyViewTest;

QString Q(const char16_t* text) {
    return QString::fromUtf16(text);
}

std::vector<QString> Names(const CMFCPropertyGridProperty* group) {
    std::vector<QString> names;
    for (int i = 0; i < group->GetSubItemsCount(); ++i)
        names.push_back(group->GetSubItem(i)->GetName());
    return names;
}

} // namespace

TEST_F(CamPropertyFormTest, GroupsTakeEnglishTitlesInBothLanguagesItemsTheUiLanguage) {
    for (const bool japanese : {true, false}) {
        SCOPED_TRACE(japanese ? "ja" : "en");
        SetUiLanguage(japanese ? 0 : 1, japanese ? 1041 : 1033);
        ASSERT_EQ(LoadSample("XC-100.xml"), kLoadOk);
        ShowForm();
        // The root "TreeRoot" adds its groups at the top level.
        ASSERT_EQ(Grid().GetPropertyCount(), 4);
        EXPECT_EQ(Grid().GetProperty(0)->GetName(), QStringLiteral("Image quality"));
        EXPECT_EQ(Grid().GetProperty(1)->GetName(), QStringLiteral("Exposure and trigger"));
        EXPECT_EQ(Grid().GetProperty(3)->GetName(), QStringLiteral("Camera information"));
        const CMFCPropertyGridProperty* exposure = Grid().GetProperty(1);
        ASSERT_EQ(exposure->GetSubItemsCount(), 6);
        EXPECT_TRUE(exposure->GetSubItem(5)->IsGroup());
        EXPECT_EQ(exposure->GetSubItem(5)->GetName(), QStringLiteral("Frame"));
        if (japanese) {
            EXPECT_EQ(
                Names(Grid().GetProperty(0)),
                (std::vector<QString>{Q(u"\u30B2\u30A4\u30F3"), Q(u"\u9ED2\u30EC\u30D9\u30EB"),
                                      Q(u"\u30C6\u30B9\u30C8\u30D1\u30BF\u30FC\u30F3")}));
        } else {
            EXPECT_EQ(Names(Grid().GetProperty(0)),
                      (std::vector<QString>{QStringLiteral("Gain"), QStringLiteral("Black level"),
                                            QStringLiteral("Test pattern")}));
        }
        // Links in tree order, one per property.
        ASSERT_EQ(form->Links().size(), 19u);
        EXPECT_EQ(form->Links().front().name, u"Gain");
        EXPECT_EQ(form->Links().back().name, u"SaveSettings");
        form.reset();
    }
}

TEST_F(CamPropertyFormTest, ValuesAndEditorsPerPropertyType) {
    ASSERT_EQ(LoadSample("XC-100.xml"), kLoadOk);
    ShowForm();
    EXPECT_EQ(propvalue::AsInt64(Item<CSliderValueProp>(u"ExposureTime")->GetValue()), 10000);
    EXPECT_EQ(propvalue::AsInt64(Item<CSliderValueProp>(u"ImageWidth")->GetValue()), 2448);
    EXPECT_EQ(Item<CSelectProp>(u"TriggerMode")->FormatProperty(), QStringLiteral("Free run"));
    EXPECT_EQ(Item<CSelectProp>(u"TriggerMode")->GetOptionCount(), 3);
    EXPECT_NE(Item<CCheckBoxProp>(u"Binning"), nullptr);
    EXPECT_NE(Item<CButtonProp>(u"SaveSettings"), nullptr);
    EXPECT_EQ(Item<CDefaultExProp>(u"SensorTemperature")->FormatProperty(),
              QStringLiteral("0.000000"));
    EXPECT_EQ(Item<CDefaultExProp>(u"UserName")->FormatProperty(), QStringLiteral("XC-100"));
    EXPECT_EQ(Item<CDefaultExProp>(u"UserName")->GetValidChars(), QString());
    EXPECT_EQ(Item<CDefaultExProp>(u"FramePeriod")->GetValidChars(),
              QStringLiteral("-.0123456789"));
    // Writable Integer items get the slider with the manager's range; read-only ones do not.
    EXPECT_TRUE(Item<CSliderValueProp>(u"Gain")->HasSpin());
    EXPECT_EQ(Item<CSliderValueProp>(u"Gain")->GetMax64(), 240);
    EXPECT_FALSE(Item<CSliderValueProp>(u"ImageWidth")->HasSpin());

    // Camera replies change the manager; a refresh with reload shows them.
    mgr.SetBoolValue(Record<clCamPropertyBool>(u"Binning"), 1);
    mgr.SetSelectionValue(Record<clCamPropertySelection>(u"TriggerMode"), 2);
    mgr.SetSelectionValue(Record<clCamPropertySelection>(u"TestPattern"), 99);
    form->Refresh(REFRESH_PROPERTIES);
    EXPECT_EQ(propvalue::AsInt64(Item(u"ImageWidth")->GetValue()), 2448) << "no reload";
    form->Refresh(REFRESH_PROPERTIES | REFRESH_RELOAD_VALUES);
    EXPECT_EQ(propvalue::AsInt64(Item(u"ImageWidth")->GetValue()), 1224);
    EXPECT_EQ(propvalue::AsInt64(Item(u"Binning")->GetValue()), 1);
    EXPECT_EQ(Item(u"TriggerMode")->FormatProperty(), QStringLiteral("External pulse width"));
    EXPECT_EQ(Item(u"TestPattern")->FormatProperty(), QString()) << "no entry of that number";
}

TEST_F(CamPropertyFormTest, EnableStatesFollowAccessModeAndEngineReadiness) {
    ASSERT_EQ(LoadSample("XC-100.xml"), kLoadOk);
    ShowForm();
    EXPECT_FALSE(Item(u"ExposureMin")->IsEnabled()) << "read only";
    EXPECT_FALSE(Item(u"SensorTemperature")->IsEnabled()) << "read only";
    EXPECT_TRUE(Item(u"ReadTemperature")->IsEnabled()) << "write only";
    EXPECT_TRUE(Item(u"Gain")->IsEnabled()) << "read and write";

    ready = false; // a job starts
    form->Refresh(REFRESH_STATUS | REFRESH_CONSOLE | REFRESH_PROPERTIES);
    for (const PropertyItemLink& link : form->Links())
        EXPECT_FALSE(link.item->IsEnabled()) << platform::Utf16ToUtf8(link.name);
    // A reload while busy (before a job) does not open the items either.
    form->ReloadAllValues();
    EXPECT_FALSE(Item(u"Gain")->IsEnabled());
    // Clicking a disabled item starts nothing.
    ClickValue(Item(u"Gain"));
    EXPECT_FALSE(Item(u"Gain")->IsInPlaceEditing());

    ready = true; // the job ended
    form->Refresh(7);
    EXPECT_TRUE(Item(u"Gain")->IsEnabled());
    EXPECT_TRUE(Item(u"ReadTemperature")->IsEnabled());
    EXPECT_FALSE(Item(u"ExposureMin")->IsEnabled());
}

TEST_F(CamPropertyFormTest, BusyRefreshDropsARunningEditWithoutCommitting) {
    ASSERT_EQ(LoadSample("XC-100.xml"), kLoadOk);
    ShowForm();
    auto* gain = Item<CSliderValueProp>(u"Gain");
    QLineEdit* edit = Edit(gain);
    ASSERT_NE(edit, nullptr);
    QTest::keyClicks(edit, "33");
    ready = false;
    form->Refresh(7);
    EXPECT_FALSE(gain->IsInPlaceEditing());
    EXPECT_TRUE(Jobs().empty());
    EXPECT_EQ(Record<clCamPropertyInteger>(u"Gain")->value, 0);
}

TEST_F(CamPropertyFormTest, CommitStoresAndPostsTheRecord) {
    ASSERT_EQ(LoadSample("XC-100.xml"), kLoadOk);
    ShowForm();
    QLineEdit* edit = Edit(Item(u"LineTime"));
    ASSERT_NE(edit, nullptr);
    TypeAndEnter(edit, QStringLiteral("200"));
    EXPECT_EQ(Record<clCamPropertyInteger>(u"LineTime")->value, 200);
    ASSERT_EQ(target.messages.size(), 1u);
    const UiMessage& m = target.messages[0];
    EXPECT_EQ(m.msg, uint32_t(UM_RUN_PROPERTY_JOB));
    EXPECT_TRUE(m.posted);
    // Named by load generation and index, never by address.
    EXPECT_EQ(m.wParam, mgr.LoadGeneration());
    EXPECT_EQ(mgr.RecordOf(m.wParam, static_cast<uint32_t>(m.lParam)),
              mgr.FindProperty(u"LineTime"));

    // The main window's reload before the job shows the values as stored.
    form->ReloadAllValues();
    EXPECT_EQ(propvalue::AsInt64(Item(u"LineTime")->GetValue()), 200);

    // Without a main window the value is stored and nothing is posted.
    app.SetMainFrame(nullptr);
    edit = Edit(Item(u"Gain"));
    TypeAndEnter(edit, QStringLiteral("12"));
    EXPECT_EQ(Record<clCamPropertyInteger>(u"Gain")->value, 12);
    EXPECT_EQ(target.messages.size(), 1u);
}

// A String value that would not go out as typed is neither stored nor sent: a box names the
// property and the character, and the item shows the stored value again.
TEST_F(CamPropertyFormTest, StringThatWouldNotGoOutAsTypedIsNeitherStoredNorSent) {
    ASSERT_EQ(LoadSample("XC-100.xml"), kLoadOk);
    ShowForm();
    LocaleScope ascii("C");
    ASSERT_TRUE(ascii.ok);
    const struct {
        QString text;
        const char* box;
    } cases[] = {
        {QStringLiteral("AB\x1b[2J"), "UserName: Character 3 is the control character U+001B"},
        {QStringLiteral("M\u00fcller"), "UserName: Character 2 (U+00FC) cannot be written"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.box);
        QLineEdit* edit = Edit(Item(u"UserName"));
        ASSERT_NE(edit, nullptr);
        BoxAnswer answer(QMessageBox::Ok);
        edit->setText(c.text);
        QTest::keyClick(edit, Qt::Key_Return);
        ASSERT_EQ(answer.texts.size(), 1);
        EXPECT_TRUE(answer.texts[0].startsWith(QString::fromUtf8(c.box)))
            << answer.texts[0].toStdString();
        EXPECT_EQ(Record<clCamPropertyString>(u"UserName")->value, u"XC-100");
        EXPECT_EQ(Item<CDefaultExProp>(u"UserName")->FormatProperty(), QStringLiteral("XC-100"));
        EXPECT_TRUE(Jobs().empty());
    }
}

TEST_F(CamPropertyFormTest, RangeIsTakenAnewFromReferencesWhenEditingStarts) {
    ASSERT_EQ(LoadSample("XC-100.xml"), kLoadOk);
    ShowForm();
    // The camera reported a smaller maximum since the last reload.
    Record<clCamPropertyInteger>(u"ExposureMax")->value = 20000;
    auto* exposure = Item<CSliderValueProp>(u"ExposureTime");
    QLineEdit* edit = Edit(exposure);
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(exposure->GetMax64(), 20000);
    ASSERT_NE(exposure->GetSlider(), nullptr);
    EXPECT_EQ(exposure->GetSlider()->maximum(), 20000);
    EXPECT_EQ(exposure->GetSlider()->minimum(), 10);
    TypeAndEnter(edit, QStringLiteral("30000"));
    EXPECT_EQ(Record<clCamPropertyInteger>(u"ExposureTime")->value, 20000);
}

TEST_F(CamPropertyFormTest, DescriptionOfTheSelectedItem) {
    ASSERT_EQ(LoadSample("XC-100.xml"), kLoadOk);
    SetUiLanguage(1, 1033);
    ShowForm();
    auto* gain = Item(u"Gain");
    Grid().SelectItem(gain);
    Grid().DescriptionArea()->repaint();
    EXPECT_EQ(gain->GetDescription(), QStringLiteral("Note  : Analog gain in steps of 0.1 dB.\n"
                                                     "Range : 0 to 240\n"
                                                     "Unit  : x0.1dB\n"));
    // Built anew each time: a changed reference shows at the next drawing.
    auto* exposure = Item(u"ExposureTime");
    Grid().SelectItem(exposure);
    Record<clCamPropertyInteger>(u"ExposureMin")->value = 20;
    Grid().DescriptionArea()->repaint();
    EXPECT_TRUE(exposure->GetDescription().contains(QStringLiteral("Range : 20 to 33000\n")));
}

TEST_F(CamPropertyFormTest, ExpandCollapseButtonsAndClear) {
    ASSERT_EQ(LoadSample("XC-100.xml"), kLoadOk);
    form = std::make_unique<CCamPropertyForm>(&app);
    form->SetPropertyManager(&mgr);
    form->show();
    form->InitialUpdate();
    auto* expand = FindControl<QPushButton>(form.get(), CCamPropertyForm::IDC_EXPAND_ALL);
    auto* collapse = FindControl<QPushButton>(form.get(), CCamPropertyForm::IDC_COLLAPSE_ALL);
    ASSERT_NE(expand, nullptr);
    ASSERT_NE(collapse, nullptr);
    EXPECT_EQ(expand->text(), QString::fromUtf16(Msg(MSG_EXPAND_ALL)));
    EXPECT_EQ(collapse->text(), QString::fromUtf16(Msg(MSG_COLLAPSE_ALL)));
    EXPECT_FALSE(expand->isEnabled());
    form->Build();
    form->Refresh(0);
    EXPECT_TRUE(expand->isEnabled());
    EXPECT_TRUE(collapse->isEnabled());
    const size_t all = Grid().VisibleRows().size();
    EXPECT_EQ(all, 19u + 5u);
    collapse->click();
    EXPECT_EQ(Grid().VisibleRows().size(), 4u);
    expand->click();
    EXPECT_EQ(Grid().VisibleRows().size(), all);

    // Clearing in the middle of an edit takes nothing from it.
    QLineEdit* edit = Edit(Item(u"Gain"));
    ASSERT_NE(edit, nullptr);
    QTest::keyClicks(edit, "77");
    form->Clear();
    EXPECT_TRUE(Jobs().empty());
    EXPECT_EQ(Record<clCamPropertyInteger>(u"Gain")->value, 0);
    EXPECT_FALSE(form->IsPopulated());
    EXPECT_TRUE(form->Links().empty());
    EXPECT_EQ(Grid().GetPropertyCount(), 0);
    EXPECT_FALSE(expand->isEnabled());
    // Another definition builds into the same pane.
    mgr.Clear();
    ASSERT_EQ(LoadSample("LX-4K.xml"), kLoadOk);
    form->Build();
    EXPECT_EQ(Grid().GetPropertyCount(), 5);
    EXPECT_TRUE(form->IsPopulated());
}

TEST_F(CamPropertyFormTest, KeyboardMovesOpensAndClosesGroups) {
    ASSERT_EQ(LoadSample("XC-100.xml"), kLoadOk);
    SetUiLanguage(1, 1033);
    ShowForm();
    CMFCPropertyGridCtrlEx& grid = Grid();
    grid.setFocus();
    QTest::keyClick(&grid, Qt::Key_Home);
    EXPECT_EQ(grid.SelectedItem(), grid.GetProperty(0));
    QTest::keyClick(&grid, Qt::Key_Left);
    EXPECT_FALSE(grid.GetProperty(0)->IsExpanded());
    QTest::keyClick(&grid, Qt::Key_Down);
    EXPECT_EQ(grid.SelectedItem(), grid.GetProperty(1));
    QTest::keyClick(&grid, Qt::Key_Up);
    QTest::keyClick(&grid, Qt::Key_Right);
    EXPECT_TRUE(grid.GetProperty(0)->IsExpanded());
    QTest::keyClick(&grid, Qt::Key_Right);
    EXPECT_EQ(grid.SelectedItem(), Item(u"Gain"));
    QTest::keyClick(&grid, Qt::Key_Return);
    ASSERT_TRUE(Item(u"Gain")->IsInPlaceEditing());
    // Down in the edit takes the text and moves on.
    auto* edit = static_cast<QLineEdit*>(Item(u"Gain")->InPlaceEditor());
    edit->selectAll();
    QTest::keyClicks(edit, "9");
    QTest::keyClick(edit, Qt::Key_Down);
    EXPECT_EQ(Record<clCamPropertyInteger>(u"Gain")->value, 9);
    EXPECT_EQ(grid.SelectedItem(), Item(u"BlackLevel"));
    QTest::keyClick(&grid, Qt::Key_End);
    EXPECT_EQ(grid.SelectedItem(), Item(u"SaveSettings"));
    // Left on an item goes to its group; collapsing a group with the selection inside keeps
    // the selection on a shown row.
    QTest::keyClick(&grid, Qt::Key_Left);
    EXPECT_EQ(grid.SelectedItem(), grid.GetProperty(3));
    grid.SelectItem(Item(u"FrameRate"));
    form->CollapseAll();
    EXPECT_EQ(grid.SelectedItem(), grid.GetProperty(1));
}

TEST_F(CamPropertyFormTest, GridFollowsTheFormSize) {
    ASSERT_EQ(LoadSample("XC-100.xml"), kLoadOk);
    ShowForm();
    const QRect before = Grid().geometry();
    const int rightMargin = form->width() - (before.left() + before.width());
    form->resize(700, 1000);
    EXPECT_EQ(Grid().geometry().width(), 700 - rightMargin - before.left());
    EXPECT_EQ(Grid().geometry().height(), 1000 - before.top() - 4);
    form->resize(300, 200);
    EXPECT_EQ(Grid().geometry().height(), 256);
    EXPECT_EQ(Grid().geometry().topLeft(), before.topLeft());
}

TEST_F(CamPropertyFormTest, LargeAndDeepDefinitionsUseNoWidgetPerRow) {
    // 2000 properties in 20 groups, and a chain of 150 nested groups.
    std::ostringstream xml;
    xml << "<PropertyIndex>";
    for (int g = 0; g < 20; ++g) {
        xml << "<Grouping><Title Lang=\"en\">G" << g << "</Title>";
        for (int i = 0; i < 100; ++i)
            xml << "<PropertyName>P" << g * 100 + i << "</PropertyName>";
        xml << "</Grouping>";
    }
    for (int d = 0; d < 150; ++d)
        xml << "<Grouping><Title Lang=\"en\">D" << d << "</Title>";
    xml << "<PropertyName>P0</PropertyName>";
    for (int d = 0; d < 150; ++d)
        xml << "</Grouping>";
    xml << "</PropertyIndex>";
    for (int i = 0; i < 2000; ++i)
        xml << "<Property_Integer Name=\"P" << i
            << "\"><AccessMode>RW</AccessMode><Min>0</Min><Max>1000</Max><Value>" << i
            << "</Value></Property_Integer>";
    ASSERT_EQ(LoadBody(xml.str()), kLoadOk);
    ShowForm();
    EXPECT_EQ(form->Links().size(), 2001u);
    EXPECT_EQ(Grid().VisibleRows().size(), 20u + 2000u + 150u + 1u);
    EXPECT_TRUE(Grid().viewport()->findChildren<QWidget*>().isEmpty());
    Grid().viewport()->repaint();
    // The deepest row sits at depth 150.
    const CMFCPropertyGridProperty* deepest = Grid().VisibleRows().back();
    EXPECT_EQ(deepest->Depth(), 150);

    auto* item = Item<CSliderValueProp>(u"P1999");
    ASSERT_NE(Edit(item), nullptr);
    EXPECT_EQ(Grid().viewport()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size(), 2)
        << "an edit and a slider while editing";
    QTest::keyClick(item->InPlaceEditor(), Qt::Key_Escape);
    form->CollapseAll();
    EXPECT_EQ(Grid().VisibleRows().size(), 21u);
    form->Clear();
    EXPECT_EQ(Grid().VisibleRows().size(), 0u);
}
