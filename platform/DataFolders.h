// Where one run of the program keeps its files. A program folder is portable (a build folder,
// or one copied anywhere): settings, logs and definitions all live in it. An installed program
// folder (the package's, or one of "cmake --install": the install step puts the marker
// kInstalledMarker into it) is never written, whoever runs the program, root included; nor is
// a folder the user cannot write. Their files go to the user's XDG base folders instead:
// settings to $XDG_CONFIG_HOME/Quillon/, logs to $XDG_STATE_HOME/Quillon/ and the user's own
// camera definitions to $XDG_DATA_HOME/Quillon/CamDefine/ (beside the program's CamDefine/).
#pragma once

#include <functional>
#include <string>

namespace platform {

struct DataFolders {
    bool portable = true;
    std::string settingsFolder;       // settings files; ends in "/"
    std::string stateFolder;          // logs of the application, the ports and the plug-ins
    std::string userDefinitionFolder; // empty when portable; ends in "/" otherwise
};

// Value of an environment variable, null when it is not set.
using EnvLookup = std::function<const char*(const char*)>;
// Whether the user may create files in a folder; whether a program folder is installed.
using WritableCheck = std::function<bool(const std::string& folder)>;
using InstalledCheck = std::function<bool(const std::string& folder)>;

// The file the install step writes into the program folder it installs.
constexpr const char* kInstalledMarker = "quillon-installed";

// The process environment (std::getenv).
const char* SystemEnv(const char* name);

// The user may create and remove files in the folder (access W_OK | X_OK of the effective
// user). Root passes on any folder that is not on a read-only file system.
bool FolderWritable(const std::string& folder);

// An XDG base folder with a trailing "/": the variable's value when it is an absolute path,
// otherwise $HOME (or the password database's home) + "/" + fallback, e.g. ".config".
std::string XdgBaseFolder(const char* variable, const char* fallback, const EnvLookup& env);

// The program folder (ending in "/") holds the install step's marker.
bool InstalledFolder(const std::string& programFolder);

// The folders for a program folder (ending in "/"): portable when it is not installed and the
// user may write it.
DataFolders ChooseDataFolders(const std::string& programFolder, const EnvLookup& env = SystemEnv,
                              const WritableCheck& writable = FolderWritable,
                              const InstalledCheck& installed = InstalledFolder);

// Creates the folder and its missing parents (new ones with mode 0700, as XDG asks). True when
// the folder exists afterwards.
bool MakeFolders(const std::string& folder);

// The folder for a module's own log: the module's folder while it is portable, otherwise the
// user's state folder (created on demand). Ends in "/".
std::string LogFolderFor(const std::string& moduleFolder);

} // namespace platform
