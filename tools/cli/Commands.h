// The commands of quillon-cli. Each returns the exit status of the tool.
#pragma once

#include <string>
#include <vector>

class clCliSession;
class clCliOutput;

enum CliStatus : int {
    kCliOk = 0,
    kCliUsage = 1,       // the command line does not fit (names, values, options)
    kCliFile = 2,        // a definition, batch or save file cannot be used
    kCliPort = 3,        // the port cannot be opened
    kCliTransaction = 4, // send failed, receive time-out, cancelled
    kCliReply = 5,       // the camera answered a reply code other than OK
    kCliMismatch = 6,    // load --verify found a mismatch, check found a problem
};

struct CliCommand {
    std::string name; // ports, identify, send, set, describe, load, save, check
    std::vector<std::string> arguments;
    bool verify = false; // load --verify
};

int RunCliCommand(clCliSession& session, const clCliOutput& out, const CliCommand& command);
