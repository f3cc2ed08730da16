// Settings files of any content: reading never fails, and a write changes only the key written
// (it reads back as written, a neighbour key keeps its value) or reports failure and leaves the
// file as it was.
#include "platform/IniProfile.h"
#include "platform/Text.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace {

std::string Folder() {
    static const std::string folder = [] {
        std::string templ = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
        templ += "/quillon-fuzz-ini-XXXXXX";
        if (!mkdtemp(templ.data()))
            std::abort();
        return templ;
    }();
    return folder;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    static const char16_t* const kSections[] = {u"App", u"app", u" S ", u"CAMERA_COMM_Ch00"};
    static const char16_t* const kKeys[] = {u"k", u"K", u"Console Rows", u"x y"};
    const uint8_t pick = data[0];
    const std::u16string section = kSections[pick & 3];
    const std::u16string key = kKeys[(pick >> 2) & 3];
    const std::u16string other = kKeys[((pick >> 2) + 1) & 3];
    const std::string path = Folder() + "/a.ini";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
    }
    const std::u16string ini = platform::Utf8ToUtf16(path);
    platform::ReadSettingInt(section, key, 7, ini);
    const std::u16string otherBefore = platform::ReadSetting(section, other, u"\u0001missing", ini);
    const std::string before = ReadAll(path);

    const std::u16string value = pick & 0x40 ? u"" : u"v=1 ; \u00e9";
    if (platform::WriteSetting(section, key, value, ini)) {
        if (platform::ReadSetting(section, key, u"\u0001missing", ini) != value)
            std::abort();
        // Keys of another name keep their values (names that differ only in case are one key).
        if (!platform::EqualsIgnoreAsciiCase(other, key) &&
            platform::ReadSetting(section, other, u"\u0001missing", ini) != otherBefore)
            std::abort();
    } else if (ReadAll(path) != before) {
        std::abort();
    }
    return 0;
}
