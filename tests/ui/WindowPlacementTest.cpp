// Initial size, console column and the save/restore round trip of the window placement, on
// real widgets, plus the saving rules with a docked panel that Qt's offscreen screen lacks.
#include "ui/WindowPlacement.h"

#include "QtAppTest.h"
#include "platform/Text.h"
#include "support/TempDir.h"
#include "ui/ConsoleForm.h"
#include "ui/DialogBars.h"
#include "ui/ImageButton.h"
#include "ui/WindowPlaceIni.h"

#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QScreen>
#include <QSplitter>
#include <QVBoxLayout>
#include <gtest/gtest.h>
#include <map>
#include <optional>

using placement::Rect;
using placement::Values;

namespace {

// "WindowPlace" keys with the settings file's reading rules: a missing key or an empty value
// gives the default.
class Store : public placement::IStore {
public:
    std::map<std::u16string, std::u16string> keys;

    int32_t ReadInt(std::u16string_view key, int32_t def) override {
        auto it = keys.find(std::u16string(key));
        if (it == keys.end() || it->second.empty())
            return def;
        return QString::fromStdU16String(it->second).toInt();
    }
    bool WriteInt(std::u16string_view key, int32_t value) override {
        keys[std::u16string(key)] = QString::number(value).toStdU16String();
        return true;
    }
    void SetEmptyKeys() {
        for (auto k : {u"Left", u"Top", u"Right", u"Bottom", u"State", u"Split"})
            keys[k] = u"";
    }
};

// A main window assembled the way the real one is: menu, upper bar, splitter with the
// console column, lower bar.
struct Window {
    QMainWindow main;
    CDialogBarUpper* upper;
    CDialogBarLower* lower;
    QSplitter* splitter;

    Window() {
        main.menuBar()->addMenu(QStringLiteral("&File"));
        auto* central = new QWidget;
        auto* column = new QVBoxLayout(central);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(0);
        upper = new CDialogBarUpper;
        lower = new CDialogBarLower;
        splitter = new QSplitter(Qt::Horizontal);
        auto* console = new CConsoleForm;
        console->InitialUpdate(2000, false, true);
        splitter->addWidget(console);
        splitter->addWidget(new QWidget);
        column->addWidget(upper, 0, Qt::AlignLeft);
        column->addWidget(splitter, 1);
        column->addWidget(lower, 0, Qt::AlignLeft);
        main.setCentralWidget(central);
        main.move(40, 30);
        main.show();
        QApplication::processEvents();
        placement::ApplyInitialSize(&main, upper, lower, lower->CancelButton());
        QApplication::processEvents();
    }
};

} // namespace

using WindowPlacementTest = QtAppTest;

TEST(PlacementRules, InitialSizeAndConsoleWidths) {
    placement::InitialSizeInput in;
    in.cancelRight = 700;
    in.windowLeft = 100;
    in.frameWidth = 4;
    in.frameHeight = 4;
    in.upperBarHeight = 90;
    in.lowerBarHeight = 60;
    in.captionHeight = 23;
    in.menuHeight = 20;
    EXPECT_EQ(placement::InitialWindowSize(in),
              (placement::Size{608, 4 + 90 + 60 + 23 + 20 + 352}));
    EXPECT_EQ(placement::ShowConsoleWidth(1000, 2, 4), 488);
}

TEST(PlacementRules, SavingWithAPanelAtTheLeftEdge) {
    placement::Snapshot snap;
    snap.workAreaLeft = 48; // a panel 48 pixels wide docked at the left
    snap.normal = {100, 100, 900, 700};
    snap.current = {148, 100, 948, 700};
    snap.split = 300;
    EXPECT_EQ(placement::PlacementToSave(snap), (Values{{100, 100, 900, 700}, 0, 300}));
    // Snapped elsewhere: the current place is kept with state 3.
    snap.current = {48, 0, 1048, 1000};
    EXPECT_EQ(placement::PlacementToSave(snap), (Values{{0, 0, 1000, 1000}, 3, 300}));
    // Maximized and minimized keep the normal rectangle.
    snap.maximized = true;
    EXPECT_EQ(placement::PlacementToSave(snap), (Values{{100, 100, 900, 700}, 1, 300}));
    snap.maximized = false;
    snap.minimized = true;
    EXPECT_EQ(placement::PlacementToSave(snap).state, 2);
}

TEST(PlacementRules, ReadingDefaultsAndRestoreStates) {
    Store store;
    const Rect current{10, 20, 610, 520};
    EXPECT_EQ(placement::ReadPlacement(store, current), (Values{current, 0, 1}));
    store.SetEmptyKeys(); // the settings file of a first start
    EXPECT_EQ(placement::ReadPlacement(store, current), (Values{current, 0, 1}));
    store.keys[u"Left"] = u"-8";
    store.keys[u"State"] = u"1";
    EXPECT_EQ(placement::ReadPlacement(store, current).rect.left, -8);
    EXPECT_EQ(placement::RestoreShow(0), placement::ShowAs::kNormal);
    EXPECT_EQ(placement::RestoreShow(1), placement::ShowAs::kMaximized);
    EXPECT_EQ(placement::RestoreShow(2), placement::ShowAs::kNormal);
    EXPECT_EQ(placement::RestoreShow(3), placement::ShowAs::kNormal);
    EXPECT_EQ(placement::RestoreShow(4), placement::ShowAs::kUnchanged);
    EXPECT_EQ(placement::RestoreShow(-1), placement::ShowAs::kUnchanged);
}

TEST_F(WindowPlacementTest, InitialSizeIsTheMinimumAndReachesTheCancelButton) {
    Window w;
    const QSize initial = w.main.size();
    EXPECT_EQ(w.main.minimumSize(), initial);
    const int cancelRight =
        w.lower->CancelButton()->mapTo(&w.main, QPoint(w.lower->CancelButton()->width(), 0)).x();
    EXPECT_EQ(w.main.width(), cancelRight + 4);
    EXPECT_EQ(w.main.frameGeometry().topLeft(), QPoint(40, 30));
    w.main.resize(10, 10);
    EXPECT_EQ(w.main.size(), initial);
}

TEST_F(WindowPlacementTest, ShowAndHideConsole) {
    Window w;
    w.main.resize(1200, 800);
    QApplication::processEvents();
    placement::ShowConsoleColumn(&w.main, w.splitter);
    const int margin = w.main.geometry().left() - w.main.frameGeometry().left();
    EXPECT_EQ(placement::ConsoleColumnWidth(w.splitter),
              placement::ShowConsoleWidth(1200 - 4, 2, margin));
    placement::HideConsoleColumn(w.splitter);
    EXPECT_EQ(placement::ConsoleColumnWidth(w.splitter), 0); // collapsed
    placement::SetConsoleColumnWidth(w.splitter, 9);
    EXPECT_EQ(placement::ConsoleColumnWidth(w.splitter), 0);
    placement::SetConsoleColumnWidth(w.splitter, 10);
    EXPECT_EQ(placement::ConsoleColumnWidth(w.splitter), 10);
}

TEST_F(WindowPlacementTest, FirstStartKeepsInitialPlaceWithConsoleHidden) {
    Window w;
    const QRect before = w.main.frameGeometry();
    Store store;
    store.SetEmptyKeys();
    placement::RestoreWindowPlacement(&w.main, w.splitter, store);
    QApplication::processEvents();
    EXPECT_EQ(w.main.frameGeometry(), before);
    EXPECT_FALSE(w.main.isMaximized());
    EXPECT_EQ(placement::ConsoleColumnWidth(w.splitter), 0);
}

TEST_F(WindowPlacementTest, NormalRoundTrip) {
    Store store;
    Values saved;
    {
        Window w;
        w.main.resize(1100, 750);
        w.main.move(120, 90);
        QApplication::processEvents();
        placement::ShowConsoleColumn(&w.main, w.splitter);
        ASSERT_TRUE(placement::SaveWindowPlacement(&w.main, w.splitter, store));
        saved = placement::CapturePlacement(&w.main, w.splitter);
    }
    EXPECT_EQ(saved.state, 0);
    EXPECT_EQ(saved.rect.left, 120);
    EXPECT_EQ(saved.rect.top, 90);
    EXPECT_GE(saved.split, placement::kConsoleMinWidth);
    EXPECT_EQ(store.keys[u"Left"], u"120");

    Window next;
    placement::RestoreWindowPlacement(&next.main, next.splitter, store);
    QApplication::processEvents();
    EXPECT_EQ(placement::FrameRect(&next.main), saved.rect);
    EXPECT_FALSE(next.main.isMaximized());
    EXPECT_EQ(placement::ConsoleColumnWidth(next.splitter), saved.split);
    // Saved again unchanged.
    EXPECT_EQ(placement::CapturePlacement(&next.main, next.splitter), saved);
}

TEST_F(WindowPlacementTest, MaximizedRoundTripKeepsTheNormalRectangle) {
    Store store;
    Rect normal;
    {
        Window w;
        w.main.resize(900, 650);
        w.main.move(60, 50);
        QApplication::processEvents();
        normal = placement::FrameRect(&w.main);
        w.main.showMaximized();
        QApplication::processEvents();
        ASSERT_TRUE(w.main.isMaximized());
        placement::SaveWindowPlacement(&w.main, w.splitter, store);
    }
    EXPECT_EQ(store.keys[u"State"], u"1");
    EXPECT_EQ(store.keys[u"Left"], u"60");
    EXPECT_EQ(store.keys[u"Right"], QString::number(normal.right).toStdU16String());

    Window next;
    placement::RestoreWindowPlacement(&next.main, next.splitter, store);
    QApplication::processEvents();
    EXPECT_TRUE(next.main.isMaximized());
    next.main.showNormal();
    QApplication::processEvents();
    EXPECT_EQ(placement::FrameRect(&next.main), normal);
}

TEST_F(WindowPlacementTest, RectangleOffEveryScreenComesBack) {
    Store store;
    store.WriteInt(u"Left", -50000);
    store.WriteInt(u"Top", -50000);
    store.WriteInt(u"Right", -49000);
    store.WriteInt(u"Bottom", -49300);
    store.WriteInt(u"State", 0);
    Window w;
    placement::RestoreWindowPlacement(&w.main, w.splitter, store);
    QApplication::processEvents();
    const QRect work = w.main.screen()->availableGeometry();
    EXPECT_TRUE(work.intersects(w.main.frameGeometry()));
    EXPECT_EQ(w.main.frameGeometry().topLeft(), work.topLeft());
}

TEST(WindowPlaceIni, KeysRoundTripThroughTheSettingsFile) {
    TempDir dir;
    const std::string path = dir.file("Quillon_00.ini");
    // What a first start writes: every key present and empty.
    WriteFileBytes(path, "[App]\r\nConsole Rows=2000\r\n[WindowPlace]\r\nLeft=\r\nTop=\r\n"
                         "Right=\r\nBottom=\r\nState=\r\nSplit=\r\n");
    placement::IniStore store(platform::Utf8ToUtf16(path));
    const Rect current{10, 20, 610, 520};
    EXPECT_EQ(placement::ReadPlacement(store, current), (Values{current, 0, 1}));

    const Values maximized{{-8, -8, 1288, 1008}, 1, 0};
    ASSERT_TRUE(placement::SavePlacement(store, maximized));
    EXPECT_EQ(placement::ReadPlacement(store, current), maximized);
    const std::string text = ReadFileBytes(path);
    EXPECT_NE(text.find("Left=-8"), std::string::npos);
    EXPECT_NE(text.find("Console Rows=2000"), std::string::npos);
}
