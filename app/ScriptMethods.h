// The methods of the scripting protocol that every scripting front-end (quillon-cli serve, the
// window's socket) answers alike: the error codes, the values and descriptions of the
// definition's properties, the check of definition files, the port list, the settings text of
// save, the checks and messages of a watch, and the mismatches of a verified load. A front-end
// supplies what only it holds (its definition, its ports, its settings writer) and runs the
// camera jobs its own way. Every function that can refuse throws serve::Failure.
#pragma once

#include "app/PropertyEdit.h"
#include "app/ServeRequest.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

class clCamPropertyMgr;
class clInterfaceRegistry;
struct clCamProperty;

namespace serve {

// The codes a request's error is answered with: quillon-cli's exit statuses, so a script reads
// one table whichever front-end it talks to.
enum Status : int {
    kOk = 0,
    kUsage = 1,       // a name, value or parameter that does not fit
    kFile = 2,        // a definition, batch or save file cannot be used
    kPort = 3,        // the port cannot be used (not open, held by the window)
    kTransaction = 4, // send failed, receive time-out, cancelled
    kReply = 5,       // the camera answered a reply code other than OK
    kMismatch = 6,    // a verified load found a mismatch, check found a problem
};

// The outcome of a request other than its result: the error it is answered with.
struct Failure {
    int code;
    std::string message;
    nlohmann::json data = nullptr;
};

// The response to r: run's result, or the error a Failure or a fault of the service (any other
// exception) makes of it.
nlohmann::json Answer(const Request& r, const std::function<nlohmann::json()>& run);

// The properties named by p's "names" (all, in the property tree's order, without it).
std::vector<const clCamProperty*> NamedProperties(const clCamPropertyMgr& m,
                                                  const nlohmann::json& p);
// get: {"values": {name: value}} of the named properties that have a value.
nlohmann::json GetValues(const clCamPropertyMgr& m, const nlohmann::json& p);
// describe: {"properties": [...]}.
nlohmann::json DescribeProperties(const clCamPropertyMgr& m, const nlohmann::json& p);
// A values object read into edits (a refusal carries an Integer's range as its data).
std::vector<PropertyEdit> ReadValues(const clCamPropertyMgr& m, const nlohmann::json& values);

// check: definition files loaded by a manager of their own (the front-end's definition stays as
// it is) and checked, one file at a time.
class DefinitionsCheck {
public:
    explicit DefinitionsCheck(const std::u16string& schemaPathFormat);
    ~DefinitionsCheck();
    DefinitionsCheck(const DefinitionsCheck&) = delete;
    DefinitionsCheck& operator=(const DefinitionsCheck&) = delete;

    void Add(const std::string& file);
    // {"problems": []}, or a Failure kUsage (no file added), kFile (a file that does not load; it
    // wins) or kMismatch (the first problem named) with every problem as its data.
    nlohmann::json Result() const;

private:
    std::unique_ptr<clCamPropertyMgr> m_manager;
    size_t m_files = 0;
    nlohmann::json m_problems = nlohmann::json::array();
    int m_code = kOk;
    std::string m_message;
};
// check with p's "paths" at once.
nlohmann::json CheckDefinitions(const nlohmann::json& p, const std::u16string& schemaPathFormat);

// ports: the interfaces of the registry and the serial ports there are now; held is the device
// of the port the front-end holds open (empty: none).
nlohmann::json ListPorts(const clInterfaceRegistry& registry, const std::u16string& held);

// Writes the settings text of the definition's values to path: FILE_COMMAND_OK, or another
// result with a one-line reason.
using SettingsWriter = std::function<int32_t(const std::u16string& path, std::string& reason)>;
// save: the settings text with p's "values" in place of the definition's; the definition keeps
// its own values. {"path", "lines"}.
nlohmann::json SaveSettings(clCamPropertyMgr& m, const nlohmann::json& p,
                            const SettingsWriter& write);

// What a watch asks for, checked against the definition.
struct WatchPlan {
    std::chrono::milliseconds every{0};
    std::vector<std::string> names; // properties with a value, read after each round's job
    std::u16string run;             // an Execution property run each round, or empty
    std::u16string send;            // a command sent each round, or empty
};
WatchPlan ReadWatch(const clCamPropertyMgr& m, const nlohmann::json& p);
// The values of a round.
nlohmann::json WatchValues(const clCamPropertyMgr& m, const std::vector<std::string>& names);
// The parameters of a round's "watch" notification: its values, or why the round is a gap.
nlohmann::json RoundParams(uint64_t watch, const nlohmann::json& values, const Failure* failure);

// The parameters of a "traffic" notification: one line of the traffic log.
nlohmann::json TrafficParams(std::string_view direction, std::string_view text,
                             std::chrono::system_clock::time_point at);

// A verified load: the mismatches of one transaction's reply added to mismatches (manager may
// be null: no definition).
void AddMismatches(const clCamPropertyMgr* m, std::u16string_view command,
                   const std::vector<std::u16string>& replyLines, size_t fileLine,
                   nlohmann::json& mismatches);
// load: the batch file cannot be used (line: where, 0 for the whole file).
Failure BatchFileFailure(const std::string& file, size_t line, const std::string& reason);
// The failure of a verified load whose result holds mismatches.
Failure MismatchFailure(nlohmann::json result);

} // namespace serve
