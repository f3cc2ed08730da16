// Reads the input as one reply line (one character per byte, as replies arrive) into the sample
// definitions and a definition with every kind of template and slot, then composes every
// command from the values that resulted. The definitions are loaded once; their values carry
// over from input to input.
#include "camdef/CamPropertyMgr.h"
#include "platform/Text.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

struct Definitions {
    std::array<clCamPropertyMgr, 3> managers;

    Definitions() {
        const std::string source = QUILLON_SOURCE_DIR;
        const std::string files[] = {source + "/CamDefine/XC-100.xml",
                                     source + "/CamDefine/LX-4K.xml",
                                     source + "/fuzz/replyparser/Templates.xml"};
        for (size_t k = 0; k < managers.size(); ++k) {
            managers[k].SetSchemaPathFormat(
                platform::Utf8ToUtf16(source + "/CamDefine/OrvaCamSchema_v%d_%d.xsd"));
            if (managers[k].Load(platform::Utf8ToUtf16(files[k])) != kLoadOk)
                std::abort(); // a definition the target relies on no longer loads
        }
    }
};

Definitions& TheDefinitions() {
    static Definitions definitions;
    return definitions;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::u16string line =
        platform::BytesToUtf16(std::string_view(reinterpret_cast<const char*>(data), size));
    for (clCamPropertyMgr& mgr : TheDefinitions().managers) {
        int updated = 0;
        mgr.ParseReplyLine(line, updated);
        std::u16string text;
        for (const auto& command : mgr.CommandList())
            mgr.ComposeCommand(command.get(), text);
    }
    return 0;
}
