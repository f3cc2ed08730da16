#include "platform/DataFolders.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr const char* kProgramName = "Quillon";

std::string WithSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/')
        folder.push_back('/');
    return folder;
}

std::string HomeFolder(const EnvLookup& env) {
    const char* home = env("HOME");
    if (home && *home == '/')
        return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return "/";
}

} // namespace

const char* SystemEnv(const char* name) {
    return std::getenv(name);
}

bool FolderWritable(const std::string& folder) {
    return !folder.empty() && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

std::string XdgBaseFolder(const char* variable, const char* fallback, const EnvLookup& env) {
    // A relative value counts as unset, as the XDG base-directory rules say.
    if (const char* value = env(variable); value && *value == '/')
        return WithSlash(value);
    return WithSlash(WithSlash(HomeFolder(env)) + fallback);
}

bool InstalledFolder(const std::string& programFolder) {
    // The marker decides, not permissions: root may write anywhere, and a user's own
    // installation under ~/.local is writable too.
    struct stat st {};
    return ::lstat((WithSlash(programFolder) + kInstalledMarker).c_str(), &st) == 0;
}

DataFolders ChooseDataFolders(const std::string& programFolder, const EnvLookup& env,
                              const WritableCheck& writable, const InstalledCheck& installed) {
    DataFolders folders;
    const std::string program = WithSlash(programFolder);
    if (!installed(program) && writable(program)) {
        folders.settingsFolder = program;
        folders.stateFolder = program;
        return folders;
    }
    const std::string own = std::string(kProgramName) + "/";
    folders.portable = false;
    folders.settingsFolder = XdgBaseFolder("XDG_CONFIG_HOME", ".config", env) + own;
    folders.stateFolder = XdgBaseFolder("XDG_STATE_HOME", ".local/state", env) + own;
    folders.userDefinitionFolder =
        XdgBaseFolder("XDG_DATA_HOME", ".local/share", env) + own + "CamDefine/";
    return folders;
}

bool MakeFolders(const std::string& folder) {
    if (folder.empty())
        return false;
    std::string path;
    size_t at = 0;
    while (at != std::string::npos) {
        const size_t next = folder.find('/', at + 1);
        path = folder.substr(0, next);
        at = next;
        if (path.empty() || path == "/")
            continue;
        if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    struct stat st {};
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string LogFolderFor(const std::string& moduleFolder) {
    const DataFolders folders = ChooseDataFolders(moduleFolder);
    if (!folders.portable)
        MakeFolders(folders.stateFolder);
    return folders.stateFolder;
}

} // namespace platform
