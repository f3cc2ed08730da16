// The behaviour of a simulated TARN camera, taken from a camera definition file: it answers
// "sta" with its identity, accepts every TARNCommand of the definition in the command's style
// and keeps the values, answers a bare command word with the current values in the command's
// style and anything else with ">CMD ERR!". A command without values whose name is the keyword
// of an Information (without its "=", letter case ignored: "tmp" for "TMP=") is a query: it is
// answered with that information line, made from the template and the current values of the
// information's properties (an empty text: the simulator's version). Qt-free and without I/O, so a
// simulated Camera Link serial library can reuse it.
#pragma once

#include "camdef/CamPropertyMgr.h"

#include <string>
#include <utility>
#include <vector>

class clCameraSim {
public:
    struct Identity {
        std::u16string model = u"SIM-CAM";
        std::u16string version = u"1.00";
        std::u16string serial = u"00000001";
    };

    clCameraSim() = default;

    // Loads the definition; the schema files are looked for in schemaFolder (empty: the
    // definition's own folder). A LoadResult (kLoadOk on success).
    int Load(const std::string& definitionPath, const std::string& schemaFolder = {});

    // The complete answer to one command line (without its CR), as bytes on the wire:
    // optionally the echo of the command, then the reply lines each ended by CR LF, then EOT.
    std::string Answer(const std::string& commandLine);

    // The reply lines (without ">" and line end) for one command text.
    std::vector<std::u16string> ReplyLines(std::u16string_view command);

    clCamPropertyMgr& Manager() { return m_mgr; }
    Identity identity;
    bool echo = false; // send the command line back first
    // Integer properties the camera holds at a ceiling: a larger value written is kept as the
    // ceiling (and answered so), as a camera clamps a setting it cannot reach.
    std::vector<std::pair<std::u16string, int64_t>> ceilings;
    // Float properties whose value moves by a step each time an information line reads them,
    // as a sensor's temperature does on its own.
    std::vector<std::pair<std::u16string, double>> drifts;
    // Properties an information line gives as "n/a", as a camera reports a sensor it cannot read.
    std::vector<std::u16string> unreadable;

private:
    // The information line a query command is answered with; false when it is no query.
    bool InformationLine(std::u16string_view command, std::u16string& line);

    clCamPropertyMgr m_mgr;
};
