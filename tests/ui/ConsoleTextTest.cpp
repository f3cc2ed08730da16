// The console's line store, wrap, row limit and layout without any window.
#include "ui/ConsoleText.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using console::LineStore;

namespace {

LineStore MakeStore(int columns = 78, int rows = 2000) {
    LineStore store;
    store.SetUp(columns, rows);
    return store;
}

std::u16string Repeat(char16_t c, std::size_t n) {
    return std::u16string(n, c);
}

} // namespace

TEST(ConsoleWrap, HundredAsciiCharactersMakeTwoLines) {
    LineStore store = MakeStore();
    store.Append(Repeat(u'a', 100));
    ASSERT_EQ(store.Lines().size(), 2u);
    EXPECT_EQ(store.Lines()[0], Repeat(u'a', 78) + u"\r\n");
    EXPECT_EQ(store.Lines()[1], Repeat(u'a', 22));
    EXPECT_EQ(store.Column(), 22);
    EXPECT_EQ(store.LineIndex(), 1);
}

TEST(ConsoleWrap, WideCharactersFillSeventyEightColumns) {
    LineStore store = MakeStore();
    store.Append(Repeat(u'\u3042', 40)); // hiragana, width 2
    ASSERT_EQ(store.Lines().size(), 2u);
    EXPECT_EQ(store.Lines()[0], Repeat(u'\u3042', 39) + u"\r\n");
    EXPECT_EQ(store.Lines()[1], u"\u3042");
    EXPECT_EQ(store.Column(), 2);
}

TEST(ConsoleWrap, WideCharacterAtColumn77StartsANewLine) {
    LineStore store = MakeStore();
    store.Append(Repeat(u'x', 77) + u"\u6F22");
    ASSERT_EQ(store.Lines().size(), 2u);
    EXPECT_EQ(store.Lines()[0], Repeat(u'x', 77) + u"\r\n");
    EXPECT_EQ(store.Lines()[1], u"\u6F22");
    EXPECT_EQ(store.Column(), 2);
}

TEST(ConsoleWrap, WidthTableEdges) {
    EXPECT_EQ(console::UnitWidth(u'A'), 1);
    EXPECT_EQ(console::UnitWidth(0x7F), 1);
    EXPECT_EQ(console::UnitWidth(0x80), 2); // a raw byte above ASCII counts double
    EXPECT_EQ(console::UnitWidth(0xFF60), 2);
    EXPECT_EQ(console::UnitWidth(0xFF61), 1); // half-width katakana
    EXPECT_EQ(console::UnitWidth(0xFFDC), 1);
    EXPECT_EQ(console::UnitWidth(0xFFDD), 2);
    EXPECT_EQ(console::UnitWidth(0xFFE7), 2);
    EXPECT_EQ(console::UnitWidth(0xFFE8), 1);
    EXPECT_EQ(console::UnitWidth(0xFFEE), 1);
    EXPECT_EQ(console::UnitWidth(0xFFEF), 2);
    EXPECT_EQ(console::UnitWidth(0xFFFF), 2);
}

TEST(ConsoleWrap, SurrogatePairIsOneWideCharacterAndNeverSplit) {
    const std::u16string emoji = u"\U0001F600";
    ASSERT_EQ(emoji.size(), 2u);
    LineStore store = MakeStore();
    // 76 columns, then three pairs: the first ends the line at 78, the next two share line 2.
    store.Append(Repeat(u'x', 76) + emoji + emoji + emoji);
    ASSERT_EQ(store.Lines().size(), 2u);
    EXPECT_EQ(store.Lines()[0], Repeat(u'x', 76) + emoji + u"\r\n");
    EXPECT_EQ(store.Lines()[1], emoji + emoji);
    EXPECT_EQ(store.Column(), 4);

    // A pair arriving at column 77 moves to the next line whole.
    LineStore late = MakeStore();
    late.Append(Repeat(u'x', 77) + emoji);
    ASSERT_EQ(late.Lines().size(), 2u);
    EXPECT_EQ(late.Lines()[1], emoji);
}

TEST(ConsoleWrap, HighSurrogateCutOffByTheMaximumStaysAlone) {
    // The low half lies beyond the units handed over: it is neither read nor stored.
    const std::u16string text = u"ab\U0001F600cd";
    LineStore store = MakeStore();
    store.Append(text, 3);
    ASSERT_EQ(store.Lines().size(), 1u);
    EXPECT_EQ(store.Lines()[0], std::u16string(u"ab") + char16_t(0xD83D));
    EXPECT_EQ(store.Column(), 4);
    // A lone high surrogate followed by a plain character is one wide unit of its own.
    LineStore lone = MakeStore();
    lone.Append(std::u16string{char16_t(0xD800), u'z'});
    EXPECT_EQ(lone.Column(), 3);
}

TEST(ConsoleWrap, StopsAtZeroUnitAndMaximum) {
    LineStore store = MakeStore();
    store.Append(std::u16string(u"abc\0def", 7));
    EXPECT_EQ(store.Lines()[0], u"abc");
    store.Append(u"12345", 2);
    EXPECT_EQ(store.Lines()[0], u"abc12");
}

TEST(ConsoleWrap, NothingBeforeSetUpAndClearResets) {
    LineStore store;
    store.Append(u"hello\n");
    EXPECT_EQ(store.Text(), u"");
    store.SetUp(78, 10);
    store.Append(u"hello\nworld");
    EXPECT_EQ(store.Text(), u"hello\r\nworld");
    store.Clear();
    EXPECT_EQ(store.Text(), u"");
    EXPECT_EQ(store.Lines().size(), 1u);
    EXPECT_EQ(store.Column(), 0);
    EXPECT_EQ(store.LineIndex(), 0);
}

TEST(ConsoleRows, OnlyTheNewestRowsRemain) {
    LineStore store = MakeStore(78, 5);
    for (int i = 0; i < 10; ++i)
        store.Append(u"line" + std::u16string(1, char16_t(u'0' + i)) + u"\n");
    // Five lines: four finished ones and the empty current line.
    ASSERT_EQ(store.Lines().size(), 5u);
    EXPECT_EQ(store.Lines()[0], u"line6\r\n");
    EXPECT_EQ(store.Lines()[3], u"line9\r\n");
    EXPECT_EQ(store.Lines()[4], u"");
    EXPECT_EQ(store.LineIndex(), 4);
}

TEST(ConsoleRows, ChangeReportsWhatAWidgetMustRewrite) {
    LineStore store = MakeStore(10, 3);
    auto change = store.Append(u"a\nb\n");
    EXPECT_EQ(change.removedFront, 0u);
    EXPECT_EQ(change.unchangedPrefix, 0u); // the old current line itself was written
    change = store.Append(u"c");
    EXPECT_EQ(change.unchangedPrefix, 2u);
    change = store.Append(u"\nd\ne");
    // Store was [a, b, c]; c finished, then d: two lines left the front.
    EXPECT_EQ(change.removedFront, 2u);
    EXPECT_EQ(change.unchangedPrefix, 0u);
    EXPECT_EQ(store.Text(), u"c\r\nd\r\ne");
    // Rows below 1 behave as one row: only the current line stays.
    LineStore one = MakeStore(10, 0);
    one.Append(u"x\ny");
    EXPECT_EQ(one.Text(), u"y");
}

TEST(ConsoleCleaning, ControlCharactersBecomeLineFeeds) {
    std::u16string raw;
    for (char16_t c = 0; c < 0x20; ++c)
        raw.push_back(c);
    const std::u16string clean = console::CleanForDisplay(raw);
    for (char16_t c = 0; c < 0x20; ++c) {
        const char16_t want = c == u'\t' ? u'\t' : c == 0x15 ? u'\u2415' : u'\n';
        EXPECT_EQ(clean[c], want) << "control " << int(c);
    }
    EXPECT_EQ(console::CleanForDisplay(u"A \x7F\u00E9"), u"A \x7F\u00E9");
}

TEST(ConsoleCleaning, EchoIsCutTo501Characters) {
    const std::u16string echo = console::MakeEchoText(Repeat(u'q', 600) + u"\r");
    EXPECT_EQ(echo.size(), 501u);
    EXPECT_EQ(console::MakeEchoText(u"sta\r"), u"sta\n");
}

TEST(ConsoleLayout, ResizeFollowsTheInitialRectangles) {
    const console::FormLayout initial{
        {6, 32, 532, 404}, {6, 445, 273, 22}, {285, 445, 75, 22}, {6, 474, 91, 16}};
    // Large form: the output fills it to the right and down to the input row, which grows too.
    auto big = console::ResizeForm(initial, 2000, 1000);
    EXPECT_EQ(big.output, (DlgRect{6, 32, 2000 - 6 - 4, 1000 - 15 - 32 - 22 - 16}));
    EXPECT_EQ(big.input, (DlgRect{6, 32 + 915 + 7, 2000 - 6 - 75 - 10, 22}));
    EXPECT_EQ(big.send, (DlgRect{2000 - 4 - 75, 954, 75, 22}));
    EXPECT_EQ(big.check, (DlgRect{6, 954 + 22 + 4, 91, 16}));
    // Tiny form: output keeps the minimum width and height.
    auto tiny = console::ResizeForm(initial, 50, 50);
    EXPECT_EQ(tiny.output.w, 91 + 75 + 6);
    EXPECT_EQ(tiny.output.h, 241 - 22 - 16);
    EXPECT_EQ(tiny.input.w, 91);
    EXPECT_EQ(tiny.send.x, 6 + 91 + 6);
}
