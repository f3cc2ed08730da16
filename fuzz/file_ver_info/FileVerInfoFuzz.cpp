// Files of any content handed to the version reader: no crash, no read outside the file, and a
// block found always answers its queries.
#include "platform/FileVerInfo.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = [] {
        std::string templ = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
        templ += "/quillon-fuzz-ver-XXXXXX";
        if (!mkdtemp(templ.data()))
            std::abort();
        return templ + "/module.so";
    }();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    nsGen::FileVerInfo info;
    if (info.LoadVersionInfo(path)) {
        if (info.BlockSize() == 0 || info.BlockSize() > nsGen::kMaxVersionBlockBytes)
            std::abort();
        uint32_t ms = 0, ls = 0;
        info.GetFixedFileVersion(ms, ls);
        info.GetString(u"LegalCopyright");
        std::u16string value;
        info.QueryValue(u"\\StringFileInfo\\040904b0\\", value);
        info.QueryValue(u"\\", value);
    }
    nsGen::ProgramLineOf(path);
    return 0;
}
