// Property jobs over a real loaded camera definition.
#include "camdef/CamProperty.h"
#include "camdef/CamPropertyMgr.h"
#include "platform/Text.h"
#include "support/EngineRig.h"

#include <gtest/gtest.h>

namespace {

struct DefinitionRig : EngineRig {
    clCamPropertyMgr& mgr = engine.PropertyManager();
    std::vector<std::u16string> composed; // command names the composer was asked for

    DefinitionRig() {
        const std::string folder = std::string(QUILLON_SOURCE_DIR) + "/CamDefine/";
        mgr.SetSchemaPathFormat(platform::Utf8ToUtf16(folder + "OrvaCamSchema_v%d_%d.xsd"));
        EXPECT_EQ(mgr.Load(platform::Utf8ToUtf16(folder + "LX-4K.xml")), 0);
        engine.StartWorker();
    }
    void UseComposer() {
        engine.ManagerCommands().SetComposer(
            [this](const clCamPropertyMgr& m, const clCamCommand& c, std::u16string& text) {
                EXPECT_EQ(&m, &mgr);
                composed.push_back(c.name);
                text = c.name + u" 7";
                return 0;
            });
    }
    bool WaitJobEnd() {
        return ui.WaitFor(UM_CLOSE_WAIT_DIALOG) && ui.WaitFor(UM_REFRESH_VIEWS, 2);
    }
};

} // namespace

TEST(CamPropertySource, PropertyJobSendsTheCommandsOfTheRecord) {
    DefinitionRig rig;
    rig.UseComposer();
    const clCamProperty* lineRate = rig.mgr.FindProperty(u"LineRate");
    ASSERT_NE(lineRate, nullptr);
    rig.camera.Expect({{0, ">OK\r\n\x04"}});
    ASSERT_EQ(rig.engine.SubmitPropertyJob(lineRate), SUBMIT_OK); // no prompt: no question asked
    ASSERT_TRUE(rig.WaitJobEnd());
    EXPECT_TRUE(rig.ui.boxes.empty());
    EXPECT_EQ(rig.composed, std::vector<std::u16string>{u"lnr"});
    EXPECT_EQ(rig.camera.Wire(), "lnr 7\r");
}

TEST(CamPropertySource, PromptInTheDefinitionLanguageThenTheCommandIsSent) {
    DefinitionRig rig;
    const clCamProperty* ffc = rig.mgr.FindProperty(u"FlatFieldCalibration");
    ASSERT_NE(ffc, nullptr);
    rig.ctx.languageCode = u"ja";
    rig.ui.boxAnswer = IDCANCEL;
    EXPECT_EQ(rig.engine.SubmitPropertyJob(ffc), SUBMIT_DECLINED);
    ASSERT_EQ(rig.ui.boxes.size(), 1u);
    EXPECT_EQ(rig.ui.boxes[0], u"フラットフィールド補正を実行しますか？ 数秒かかります。");

    rig.ctx.languageCode = u"en";
    rig.ui.boxAnswer = IDOK;
    rig.camera.Expect({{0, ">OK\r\n\x04"}});
    ASSERT_EQ(rig.engine.SubmitPropertyJob(ffc), SUBMIT_OK);
    ASSERT_TRUE(rig.WaitJobEnd());
    EXPECT_EQ(rig.ui.boxes.back(), u"Run the flat-field calibration? It takes a few seconds.");
    EXPECT_EQ(rig.camera.Commands(), 1); // composed by the manager itself
}
