// Loads the input bytes as a camera definition file (validated against the shipped schema),
// reads every value through the getters, and clears the manager again.
#include "camdef/CamPropertyMgr.h"
#include "platform/Text.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

struct Workspace {
    std::filesystem::path folder;
    std::string definition;
    clCamPropertyMgr mgr;

    Workspace() {
        std::string templ = (std::filesystem::temp_directory_path() / "defloader-XXXXXX").string();
        if (!mkdtemp(templ.data()))
            std::abort();
        folder = templ;
        std::filesystem::copy_file(std::string(QUILLON_SOURCE_DIR) +
                                       "/CamDefine/OrvaCamSchema_v1_0.xsd",
                                   folder / "OrvaCamSchema_v1_0.xsd");
        definition = (folder / "input.xml").string();
        mgr.SetSchemaPathFormat(
            platform::Utf8ToUtf16((folder / "OrvaCamSchema_v%d_%d.xsd").string()));
    }
    ~Workspace() {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
};

Workspace& TheWorkspace() {
    static Workspace workspace;
    return workspace;
}

// Reads every value once, so reference chains of the input are followed.
void TouchValues(clCamPropertyMgr& mgr) {
    for (const auto& [name, record] : mgr.Properties()) {
        int64_t i = 0;
        double d = 0;
        CamPropertyType type;
        mgr.GetValueAsInteger(name, i, type);
        mgr.GetValueAsFloat(name, d, type);
        if (auto* p = PropertyAs<clCamPropertyInteger>(record.get())) {
            mgr.GetIntegerMin(p, i);
            mgr.GetIntegerMax(p, i);
            mgr.GetIntegerInc(p, i);
            mgr.SetIntegerValue(p, i);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Workspace& w = TheWorkspace();
    {
        std::ofstream out(w.definition, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    if (w.mgr.Load(platform::Utf8ToUtf16(w.definition)) == kLoadOk)
        TouchValues(w.mgr);
    w.mgr.Clear();
    return 0;
}
