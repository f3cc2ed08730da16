// quillon-cli --attach [N]: a command sent through the scripting socket of the running window
// of instance N instead of opening the port. The window holds the port and runs the command as
// one of its own jobs, in turn with its operator's.
#pragma once

#include <string>
#include <vector>

struct CliCommand;
class clCliOutput;

// Takes "--attach", "--attach N" or "--attach=N" out of the arguments. -1 when there is none;
// the instance given, or fallback when none follows.
int TakeAttachOption(std::vector<std::string>& arguments, int fallback);

// Runs identify, send, set, describe or load through the window's socket at path and prints
// the result (as the serve protocol gives it, one JSON line). The exit status: 0, or the
// error's code (1 for the protocol's own errors).
int RunAttached(const std::string& path, const CliCommand& command, const clCliOutput& out);
