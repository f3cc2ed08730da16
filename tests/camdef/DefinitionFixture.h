// A property manager whose schema folder is a temporary folder holding the shipped schema, and
// helpers that write definition files into it.
#pragma once

#include "camdef/CamPropertyMgr.h"
#include "platform/Text.h"
#include "support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

inline std::string SourcePath(const std::string& relative) {
    return std::string(QUILLON_SOURCE_DIR) + "/" + relative;
}

class DefinitionTest : public ::testing::Test {
protected:
    DefinitionTest() {
        std::filesystem::copy_file(SourcePath("CamDefine/OrvaCamSchema_v1_0.xsd"),
                                   dir.file("OrvaCamSchema_v1_0.xsd"));
        mgr.SetSchemaPathFormat(platform::Utf8ToUtf16(dir.str() + "/OrvaCamSchema_v%d_%d.xsd"));
    }

    // Writes `bytes` to a file of the folder and loads it.
    int LoadBytes(const std::string& bytes, const std::string& name = "def.xml") {
        WriteFileBytes(dir.file(name), bytes);
        return mgr.Load(platform::Utf8ToUtf16(dir.file(name)));
    }
    // Loads a definition made of `body` inside the root element.
    int LoadBody(const std::string& body, const std::string& rootAttributes = "") {
        return LoadBytes(Definition(body, rootAttributes));
    }
    static std::string Definition(const std::string& body, const std::string& rootAttributes = "") {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<CameraPropertyDefine" +
               (rootAttributes.empty() ? std::string() : " " + rootAttributes) + ">\n" + body +
               "\n</CameraPropertyDefine>\n";
    }
    int LoadSample(const std::string& file) {
        return mgr.Load(platform::Utf8ToUtf16(SourcePath("CamDefine/" + file)));
    }

    template <class T>
    T* Get(std::u16string_view name) {
        return PropertyAs<T>(mgr.FindProperty(name));
    }
    int64_t IntValue(std::u16string_view name) {
        int64_t v = -999;
        mgr.GetIntegerValue(Get<clCamPropertyInteger>(name), v);
        return v;
    }
    double FloatValue(std::u16string_view name) {
        double v = -999;
        mgr.GetFloatValue(Get<clCamPropertyFloat>(name), v);
        return v;
    }

    TempDir dir;
    clCamPropertyMgr mgr;
};
