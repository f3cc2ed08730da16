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
    bool WaitJobEnd() { return events.WaitFor(Ev::JobEnded); }
};

} // namespace

TEST(CamPropertySource, PropertyJobSendsTheCommandsOfTheRecord) {
    DefinitionRig rig;
    rig.UseComposer();
    const clCamProperty* lineRate = rig.mgr.FindProperty(u"LineRate");
    ASSERT_NE(lineRate, nullptr);
    rig.camera.Expect({{0, ">OK\r\n\x04"}});
    ASSERT_EQ(rig.engine.RunPropertyJob(lineRate), SUBMIT_OK); // no prompt: no question asked
    ASSERT_TRUE(rig.WaitJobEnd());
    EXPECT_TRUE(rig.events.Boxes().empty());
    EXPECT_EQ(rig.composed, std::vector<std::u16string>{u"lnr"});
    EXPECT_EQ(rig.camera.Wire(), "lnr 7\r");
}

TEST(CamPropertySource, PromptInTheDefinitionLanguageThenTheCommandIsSent) {
    DefinitionRig rig;
    const clCamProperty* ffc = rig.mgr.FindProperty(u"FlatFieldCalibration");
    ASSERT_NE(ffc, nullptr);
    rig.ctx.languageCode = u"ja";
    rig.events.boxAnswer = IDCANCEL;
    EXPECT_EQ(rig.engine.RunPropertyJob(ffc), SUBMIT_DECLINED);
    ASSERT_EQ(rig.events.Boxes().size(), 1u);
    EXPECT_EQ(rig.events.Boxes()[0], u"フラットフィールド補正を実行しますか？ 数秒かかります。");

    rig.ctx.languageCode = u"en";
    rig.events.boxAnswer = IDOK;
    rig.camera.Expect({{0, ">OK\r\n\x04"}});
    ASSERT_EQ(rig.engine.RunPropertyJob(ffc), SUBMIT_OK);
    ASSERT_TRUE(rig.WaitJobEnd());
    EXPECT_EQ(rig.events.Boxes().back(),
              u"Run the flat-field calibration? It takes a few seconds.");
    EXPECT_EQ(rig.camera.Commands(), 1); // composed by the manager itself
}
