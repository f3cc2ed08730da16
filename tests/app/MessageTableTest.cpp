#include "base/MessageTable.h"

#include <gtest/gtest.h>
#include <string>

namespace {

struct Restore {
    ~Restore() { SetUiLanguage(1, 1033); }
};

} // namespace

TEST(MessageTable, LanguageChoice) {
    Restore restore;
    SetUiLanguage(0, 1041); // Japanese system, no "Force English"
    EXPECT_EQ(UiLanguageIndex(), 0);
    EXPECT_EQ(UiLanguageCode(), u"ja");
    EXPECT_EQ(std::u16string(Msg(MSG_CONNECT)), u"接続");

    SetUiLanguage(1, 1041); // forced English on a Japanese system
    EXPECT_EQ(UiLanguageIndex(), 1);
    EXPECT_EQ(UiLanguageCode(), u"en");
    EXPECT_EQ(std::u16string(Msg(MSG_CONNECT)), u"Connect");

    SetUiLanguage(0, 1033);
    EXPECT_EQ(UiLanguageIndex(), 1);
    EXPECT_EQ(UiLanguageCode(), u"en");
}

TEST(MessageTable, TextsKeepTheirExactSpacingPlaceholdersAndFilters) {
    EXPECT_EQ(std::u16string(MsgIn(MSG_FIRST_RECEIVE, 1)), u"First Receive:");
    EXPECT_EQ(std::u16string(MsgIn(MSG_NEXT_RECEIVE, 1)), u"Next Receive :");
    EXPECT_EQ(std::u16string(MsgIn(MSG_SEND_TIMEOUT, 1)), u"Send         :");
    EXPECT_EQ(std::u16string(MsgIn(MSG_SEND_TIMEOUT, 0)), u"送信          ：");
    EXPECT_EQ(std::u16string(MsgIn(MSG_FOUND_FILES, 1)), u"Found %d files");
    EXPECT_EQ(std::u16string(MsgIn(MSG_FILTER_CAMERA_DEFINE, 1)), u"Camera define(*.xml)|*.xml||");
    EXPECT_EQ(std::u16string(MsgIn(MSG_FILTER_TEXT_FILE, 0)), u"テキストファイル(*.txt)|*.txt||");
    EXPECT_EQ(std::u16string(MsgIn(MSG_FAIL_OPEN_BATCH_FILE, 1)), u"Fail open batch text file");
    // Shared texts.
    EXPECT_EQ(std::u16string(MsgIn(8, 0)), std::u16string(MsgIn(28, 0)));
    EXPECT_EQ(std::u16string(MsgIn(50, 1)), std::u16string(MsgIn(67, 1)));
    // Every entry given out has both texts; an id not given out has none.
    for (int id = 0; id < MSG_COUNT; ++id) {
        if (!MsgExists(id)) {
            EXPECT_EQ(std::u16string(MsgIn(id, 1)), u"") << id;
            continue;
        }
        EXPECT_NE(std::u16string(MsgIn(id, 0)), u"") << id;
        EXPECT_NE(std::u16string(MsgIn(id, 1)), u"") << id;
    }
    for (int id : {0, 71, int{MSG_REASON_SPEED_REFUSED}, int{MSG_PORT_LIBRARY_MISSING}})
        EXPECT_TRUE(MsgExists(id)) << id;
    EXPECT_FALSE(MsgExists(MSG_COUNT));
    EXPECT_EQ(std::u16string(MsgIn(MSG_FAIL_SAVE_SETTINGS_TEXT, 1)),
              u"Fail save settings text file");
    EXPECT_EQ(std::u16string(Msg(MSG_COUNT)), u"");
    EXPECT_EQ(std::u16string(Msg(-1)), u"");
}

TEST(MessageTable, FormatFillsEachPlaceholderInOrder) {
    Restore restore;
    SetUiLanguage(1, 1033);
    EXPECT_EQ(FormatMsg(MSG_PORT_NO_PERMISSION, {u"/dev/ttyUSB0", u"dialout", u"dialout"}),
              u"No permission to open /dev/ttyUSB0 (group dialout). Add your user to the group "
              u"dialout and log in again.");
    // An argument holding "%s" is not expanded again; placeholders without one stay empty.
    EXPECT_EQ(FormatMsg(MSG_PORT_OTHER_CAMERA, {u"%s"}),
              u"Another camera answers on %s. Before:  Now: ");
    SetUiLanguage(0, 1041);
    EXPECT_EQ(FormatMsg(MSG_PORT_BUSY, {u"/dev/ttyS0"}),
              u"/dev/ttyS0 は他のプログラムが使用中です。");
}

// The texts of Text Load's progress and outcome call it by the name its menu item has.
TEST(MessageTable, TextLoadHasOneNameInEachLanguage) {
    for (int language : {0, 1}) {
        const std::u16string name = MsgIn(MSG_TEXT_LOAD, language);
        for (int id : {MSG_BATCH_PROGRESS, MSG_BATCH_ALL_SENT, MSG_BATCH_STOPPED_FAILED,
                       MSG_BATCH_STOPPED_CANCEL})
            EXPECT_EQ(std::u16string(MsgIn(id, language)).rfind(name, 0), 0u)
                << "message " << id << " in language " << language;
    }
}
