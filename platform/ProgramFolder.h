// The program folder: the folder of the running executable, where the settings files, logs,
// plug-ins and camera definitions live.
#pragma once

#include <string>

namespace platform {

// Folder of /proc/self/exe with a trailing "/", e.g. "/opt/quillon/". Empty when the link
// cannot be read.
std::string ProgramFolder();

// Full path of the running executable; empty when it cannot be read.
std::string ProgramFilePath();

} // namespace platform
