// The commands of quillon-cli. Each returns the exit status of the tool.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
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
    std::string name; // ports, identify, send, set, describe, load, save, check, watch
    std::vector<std::string> arguments;
    bool verify = false; // load --verify
    std::string every;   // watch --every DURATION
    std::string run;     // watch --run NAME
    std::string send;    // watch --send CMD
};

// "500ms", "2s", "1m", "1h": the time in milliseconds; false for anything else.
bool ParseDuration(std::string_view text, int64_t& ms);

int RunCliCommand(clCliSession& session, const clCliOutput& out, const CliCommand& command);
