// What the commands of quillon-cli and its scripting service report of a job and of the
// definition: the status of a job, the values its replies carried, the properties in the order
// of the property tree, a bilingual text as JSON.
#pragma once

#include "app/PropertyEdit.h"
#include "camdef/CamProperty.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class clCamPropertyMgr;
class clMultiLangString;
struct CliJob;

// The status of a job: the signal, else the most severe outcome of its transactions (one that
// failed over a reply code other than "OK").
int JobStatus(const CliJob& job);

// What set reports of a property after its job.
struct ReportedValue {
    const clCamProperty* property = nullptr;
    enum Source { kReply, kCalculated, kSent } source = kReply;
    // A value the camera answered that the property model does not read from a command's reply
    // (a String or Float slot): the reply's text.
    std::optional<std::u16string> replyText;
};

// The properties the replies of a job carried, in order: those of echoed commands and
// information replies, each followed by the calculators that depend on it.
std::vector<ReportedValue> CarriedProperties(const clCamPropertyMgr& m, const CliJob& job);

// The value of a reported property as text and as JSON (PropertyValueJson's object).
std::pair<std::string, nlohmann::json> ReportedText(const clCamPropertyMgr& m,
                                                    const ReportedValue& r);
