#include "platform/Wildcard.h"

#include <algorithm>
#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

namespace platform {

bool WildcardMatch(const std::string& pattern, const std::string& name) {
    return ::fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) == 0;
}

std::vector<std::string> ListMatchingFiles(const std::string& folder, const std::string& pattern) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir)
        return names;
    std::string prefix = folder.empty() ? std::string() : folder;
    if (!prefix.empty() && prefix.back() != '/')
        prefix.push_back('/');
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == ".." || !WildcardMatch(pattern, name))
            continue;
        struct stat st {};
        if (::stat((prefix + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        names.push_back(std::move(name));
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace platform
