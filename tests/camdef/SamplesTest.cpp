// The shipped sample definitions: together they use every element of the format, they are
// consistent (every name they use resolves), and they behave as the cameras they describe.
#include "DefinitionFixture.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <set>

namespace {

const char* kSamples[] = {"XC-100.xml", "LX-4K.xml"};

void CollectElementNames(const xmlNode* node, std::set<std::string>& names, bool schemaDecls) {
    for (; node; node = node->next) {
        if (node->type != XML_ELEMENT_NODE)
            continue;
        if (!schemaDecls) {
            names.insert(reinterpret_cast<const char*>(node->name));
        } else if (std::string(reinterpret_cast<const char*>(node->name)) == "element") {
            if (xmlChar* name = xmlGetProp(node, BAD_CAST "name")) {
                names.insert(reinterpret_cast<const char*>(name));
                xmlFree(name);
            }
        }
        CollectElementNames(node->children, names, schemaDecls);
    }
}

std::set<std::string> ElementNames(const std::string& path, bool schemaDecls) {
    std::set<std::string> names;
    xmlDoc* doc = xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET);
    EXPECT_NE(doc, nullptr) << path;
    if (doc) {
        CollectElementNames(xmlDocGetRootElement(doc), names, schemaDecls);
        xmlFreeDoc(doc);
    }
    return names;
}

TEST(Samples, TogetherUseEveryElementOfTheSchema) {
    std::set<std::string> declared =
        ElementNames(SourcePath("CamDefine/OrvaCamSchema_v1_0.xsd"), true);
    ASSERT_GT(declared.size(), 40u);
    std::set<std::string> used;
    for (const char* sample : kSamples)
        used.merge(ElementNames(SourcePath(std::string("CamDefine/") + sample), false));
    for (const std::string& name : declared)
        EXPECT_TRUE(used.contains(name)) << name << " is used by no sample";
}

using SampleTest = DefinitionTest;

TEST_F(SampleTest, EveryNameResolvesAndEveryPropertyIsShown) {
    for (const char* sample : kSamples) {
        SCOPED_TRACE(sample);
        ASSERT_EQ(LoadSample(sample), kLoadOk);
        std::set<std::u16string> inTree;
        std::vector<const clCamTreeNode*> stack{mgr.TreeRoot()};
        while (!stack.empty()) {
            const clCamTreeNode* n = stack.back();
            stack.pop_back();
            if (n->isGroup) {
                if (n->depth > 0) {
                    EXPECT_NE(n->title.Find(u"ja"), nullptr);
                    EXPECT_NE(n->title.Find(u"en"), nullptr);
                }
            } else {
                EXPECT_NE(mgr.FindProperty(n->name), nullptr) << platform::Utf16ToUtf8(n->name);
                inTree.insert(n->name);
            }
            for (const clCamTreeNode* c = n->firstChild; c; c = c->nextSibling)
                stack.push_back(c);
        }
        for (const auto& [name, p] : mgr.Properties()) {
            std::string n = platform::Utf16ToUtf8(name);
            EXPECT_TRUE(inTree.contains(name)) << n;
            EXPECT_NE(p->title.Find(u"ja"), nullptr) << n;
            EXPECT_NE(p->title.Find(u"en"), nullptr) << n;
            for (const auto& c : p->commandNames)
                EXPECT_NE(mgr.FindCommand(c), nullptr) << n;
            for (const auto& [var, target] : p->variables) {
                EXPECT_NE(mgr.FindProperty(target), nullptr) << n;
                EXPECT_EQ(platform::Utf16ToUtf8(var), [&] {
                    std::string upper = platform::Utf16ToUtf8(var);
                    for (char& ch : upper)
                        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
                    return upper;
                }()) << "formula variables are written in upper case";
            }
            for (const auto& d : p->dependences)
                EXPECT_NE(mgr.FindProperty(d), nullptr) << n;
            if (p->isCalculator) {
                EXPECT_FALSE(p->formula.empty()) << n;
            }
        }
        for (const auto& c : mgr.CommandList())
            for (const auto& slot : c->slots)
                EXPECT_NE(mgr.FindProperty(slot), nullptr) << platform::Utf16ToUtf8(c->name);
        for (const auto& i : mgr.InformationList())
            for (const auto& target : i->propertyNames)
                EXPECT_NE(mgr.FindProperty(target), nullptr) << platform::Utf16ToUtf8(i->name);
    }
}

TEST_F(SampleTest, AreaScanCamera) {
    ASSERT_EQ(LoadSample("XC-100.xml"), kLoadOk);
    // Image size follows the binning switch through a value table indexed by a Bool.
    EXPECT_EQ(IntValue(u"ImageWidth"), 2448);
    mgr.SetBoolValue(Get<clCamPropertyBool>(u"Binning"), 1);
    EXPECT_EQ(IntValue(u"ImageWidth"), 1224);
    EXPECT_EQ(IntValue(u"ImageHeight"), 1024);
    // Exposure limits come from the properties the camera reports.
    auto* exposure = Get<clCamPropertyInteger>(u"ExposureTime");
    int64_t lo = 0, hi = 0;
    mgr.GetIntegerMin(exposure, lo);
    mgr.GetIntegerMax(exposure, hi);
    EXPECT_EQ(lo, 10);
    EXPECT_EQ(hi, 33000);
    EXPECT_EQ(exposure->hasRange, 1);
    // The frame period is a calculator re-evaluated when the line time or line count change.
    const clCamProperty* period = mgr.FindProperty(u"FramePeriod");
    EXPECT_EQ(period->isCalculator, 1);
    EXPECT_EQ(period->type, CamPropertyType::Float);
    for (const char16_t* source : {u"LineTime", u"FrameLines"}) {
        const auto& deps = mgr.FindProperty(source)->dependents;
        EXPECT_NE(std::find(deps.begin(), deps.end(), u"FramePeriod"), deps.end());
    }
    // Saving to flash asks first, in both languages.
    const clCamProperty* save = mgr.FindProperty(u"SaveSettings");
    EXPECT_EQ(save->type, CamPropertyType::Execution);
    EXPECT_EQ(save->hasPrompt, 1);
    EXPECT_EQ(save->prompt.Display(u"en"), u"Save the current settings to flash memory?");
    EXPECT_FALSE(save->prompt.Display(u"ja").empty());
    // A settings text file never switches the test pattern on.
    EXPECT_EQ(mgr.FindCommand(u"tpn")->exported, 0);
    // The temperature is read only and filled by an information reply.
    EXPECT_EQ(mgr.FindProperty(u"SensorTemperature")->accessMode, kAccessReadOnly);
    EXPECT_EQ(mgr.InformationList()[0]->keyword, u"TMP=");
    EXPECT_EQ(mgr.InformationList()[0]->style, kInformationStyleSingleFloat);
    EXPECT_EQ(Get<clCamPropertySelection>(u"TriggerMode")->entryTexts.size(), 3u);
    EXPECT_EQ(Get<clCamPropertySelection>(u"TestPattern")->ValueText(), u"Off");
}

TEST_F(SampleTest, LineScanCamera) {
    ASSERT_EQ(LoadSample("LX-4K.xml"), kLoadOk); // no version attributes: schema 1.0
    auto* rate = Get<clCamPropertyInteger>(u"LineRate");
    int64_t inc = 0;
    mgr.GetIntegerInc(rate, inc);
    EXPECT_EQ(inc, 10);
    mgr.SetIntegerValue(rate, 25000);
    EXPECT_EQ(IntValue(u"EffectiveLineRate"), 25000);
    EXPECT_EQ(FloatValue(u"GainFactor"), 1.0);
    mgr.SetSelectionValue(Get<clCamPropertySelection>(u"AnalogGain"), 2);
    EXPECT_EQ(FloatValue(u"GainFactor"), 4.0);
    EXPECT_EQ(mgr.InformationList()[0]->templateText, u"%d\\r");
    EXPECT_EQ(Get<clCamPropertyString>(u"FirmwareTag")->length, 24);
    EXPECT_EQ(mgr.FindCommand(u"roi")->slots,
              (std::vector<std::u16string>{u"RoiOffset", u"RoiWidth"}));
}

} // namespace
