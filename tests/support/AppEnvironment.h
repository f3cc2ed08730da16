// The environment of an application object under test: the test's own program and lock
// folders (the scripting socket beside the locks) and working-set layer, and the current directory
// left as it is.
#pragma once

#include "app/Application.h"

#include <string>
#include <utility>

inline clApplication::Environment TestEnvironment(std::string programFolder, std::string lockFolder,
                                                  platform::IWorkingSet* workingSet) {
    clApplication::Environment env;
    env.programFolder = std::move(programFolder);
    env.scriptFolder = lockFolder + "/quillon";
    env.lockFolder = std::move(lockFolder);
    env.workingSet = workingSet;
    env.changeCurrentDirectory = false;
    return env;
}
