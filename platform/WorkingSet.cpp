#include "platform/WorkingSet.h"

#include <cstdio>
#include <cstring>
#include <sys/resource.h>

namespace platform {

bool ReadProcKilobytes(const char* file, const char* key, uint64_t& bytes) {
    std::FILE* f = std::fopen(file, "re");
    if (!f)
        return false;
    const size_t keyLen = std::strlen(key);
    char line[256];
    bool found = false;
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, key, keyLen) != 0 || line[keyLen] != ':')
            continue;
        unsigned long long kb = 0;
        if (std::sscanf(line + keyLen + 1, "%llu", &kb) == 1) {
            bytes = static_cast<uint64_t>(kb) * 1024u;
            found = true;
        }
        break;
    }
    std::fclose(f);
    return found;
}

bool SystemWorkingSet::QueryAvailableVirtual(uint64_t& bytes) {
    constexpr uint64_t kUserAddressSpace = uint64_t(1) << 47;
    struct rlimit as {};
    if (::getrlimit(RLIMIT_AS, &as) != 0)
        return false;
    uint64_t space = as.rlim_cur == RLIM_INFINITY ? kUserAddressSpace : as.rlim_cur;
    uint64_t used = 0;
    if (!ReadProcKilobytes("/proc/self/status", "VmSize", used))
        return false;
    uint64_t avail = space > used ? space - used : 0;
    uint64_t memAvailable = 0, swapFree = 0;
    if (ReadProcKilobytes("/proc/meminfo", "MemAvailable", memAvailable)) {
        ReadProcKilobytes("/proc/meminfo", "SwapFree", swapFree);
        if (memAvailable + swapFree < avail)
            avail = memAvailable + swapFree;
    }
    bytes = avail;
    return true;
}

bool SystemWorkingSet::GetLimits(uint64_t& minimum, uint64_t& maximum) {
    struct rlimit rss {};
    if (::getrlimit(RLIMIT_RSS, &rss) != 0)
        return false;
    uint64_t resident = 0;
    if (!ReadProcKilobytes("/proc/self/status", "VmRSS", resident))
        return false;
    minimum = resident;
    maximum = rss.rlim_cur == RLIM_INFINITY ? UINT64_MAX : static_cast<uint64_t>(rss.rlim_cur);
    return true;
}

bool SystemWorkingSet::SetLimits(uint64_t minimum, uint64_t maximum) {
    if (minimum > maximum)
        return false;
    struct rlimit rss {};
    if (::getrlimit(RLIMIT_RSS, &rss) != 0)
        return false;
    rlim_t wanted = maximum == UINT64_MAX ? RLIM_INFINITY : static_cast<rlim_t>(maximum);
    if (rss.rlim_max != RLIM_INFINITY && (wanted == RLIM_INFINITY || wanted > rss.rlim_max))
        return false;
    rss.rlim_cur = wanted;
    return ::setrlimit(RLIMIT_RSS, &rss) == 0;
}

} // namespace platform
