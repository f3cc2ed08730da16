// Wildcard matching of file names without regard to letter case, and folder listing by pattern.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// fnmatch() with FNM_CASEFOLD: "*" and "?" and bracket sets; "pivra*.SO" matches
// "Pivra02CL_64bit.so".
bool WildcardMatch(const std::string& pattern, const std::string& name);

// Names (not paths) of the regular files in folder whose names match pattern, sorted by name.
// Sub-folders, "." and ".." are never listed; a symbolic link counts as what it points to.
// An unreadable or missing folder gives an empty list.
std::vector<std::string> ListMatchingFiles(const std::string& folder, const std::string& pattern);

} // namespace platform
