#include "app/ScriptMethods.h"

#include "app/DefinitionCheck.h"
#include "app/Verify.h"
#include "base/MessageTable.h"
#include "camdef/CamPropertyMgr.h"
#include "comm/TrafficLog.h"
#include "components/vorlix/Vorlix.h"
#include "platform/Text.h"
#include "port/InterfaceRegistry.h"

#include <fstream>

using nlohmann::json;

namespace serve {

namespace {

std::string Utf8(std::u16string_view text) {
    return platform::Utf16ToUtf8(text);
}
std::u16string Wide(std::string_view utf8) {
    return platform::Utf8ToUtf16(utf8);
}

} // namespace

json Answer(const Request& r, const std::function<json()>& run) {
    try {
        return Response(r.id, run());
    } catch (const Failure& f) {
        return ErrorResponse(r.id, f.code, f.message, f.data);
    } catch (const std::exception& e) {
        // A fault of the service itself: the client hears it, the service goes on.
        return ErrorResponse(r.id, kInternalError, e.what());
    }
}

std::vector<const clCamProperty*> NamedProperties(const clCamPropertyMgr& m, const json& p) {
    if (!p.contains("names"))
        return TreeOrder(m);
    std::vector<const clCamProperty*> list;
    for (const json& n : p["names"]) {
        const clCamProperty* property = m.FindProperty(Wide(n.get<std::string>()));
        if (!property)
            throw Failure{kUsage, "no property \"" + n.get<std::string>() + "\" in the definition"};
        list.push_back(property);
    }
    return list;
}

json GetValues(const clCamPropertyMgr& m, const json& p) {
    json values = json::object();
    for (const clCamProperty* property : NamedProperties(m, p))
        if (property->type != CamPropertyType::Execution)
            values[Utf8(property->name)] = PlainValue(PropertyValueJson(m, property));
    return {{"values", values}};
}

json DescribeProperties(const clCamPropertyMgr& m, const json& p) {
    json properties = json::array();
    for (const clCamProperty* property : NamedProperties(m, p))
        properties.push_back(DescribeProperty(m, property));
    return {{"properties", properties}};
}

std::vector<PropertyEdit> ReadValues(const clCamPropertyMgr& m, const json& values) {
    std::vector<PropertyEdit> edits;
    std::string error;
    json range;
    if (!ParseScriptValues(m, values, edits, error, range))
        throw Failure{kUsage, error, range};
    return edits;
}

DefinitionsCheck::DefinitionsCheck(const std::u16string& schemaPathFormat)
    : m_manager(std::make_unique<clCamPropertyMgr>()) {
    m_manager->SetSchemaPathFormat(schemaPathFormat);
}

DefinitionsCheck::~DefinitionsCheck() = default;

void DefinitionsCheck::Add(const std::string& file) {
    ++m_files;
    const int result = m_manager->Load(platform::PathToUtf16(file));
    if (result != kLoadOk) {
        std::string why = Utf8(Msg(DefinitionLoadFailureMessage(result)));
        if (!m_manager->LastErrorDetail().empty())
            why += " (" + Utf8(m_manager->LastErrorDetail()) + ")";
        m_problems.push_back({{"file", file}, {"kind", "load"}, {"name", ""}, {"detail", why}});
        if (m_code != kFile)
            m_message = "cannot use the definition " + file + ": " + why;
        m_code = kFile;
        return;
    }
    for (const DefinitionProblem& problem : CheckDefinition(*m_manager)) {
        m_problems.push_back({{"file", file},
                              {"kind", problem.kind},
                              {"name", problem.where},
                              {"detail", problem.detail}});
        if (m_code == kOk) {
            m_code = kMismatch;
            m_message = file + ": " + problem.kind + " " + problem.where + ": " + problem.detail;
        }
    }
}

json DefinitionsCheck::Result() const {
    if (m_files == 0)
        throw Failure{kUsage, "check needs at least one definition file"};
    if (m_code == kOk)
        return {{"problems", m_problems}};
    std::string message = m_message;
    if (m_code == kMismatch && m_problems.size() > 1)
        message += " (and " + std::to_string(m_problems.size() - 1) + " more problems)";
    throw Failure{m_code, message, {{"problems", m_problems}}};
}

json CheckDefinitions(const json& p, const std::u16string& schemaPathFormat) {
    DefinitionsCheck check(schemaPathFormat);
    for (const json& f : p["paths"])
        check.Add(f.get<std::string>());
    return check.Result();
}

json ListPorts(const clInterfaceRegistry& registry, const std::u16string& held) {
    json interfaces = json::array();
    for (size_t i = 0; i < registry.Count(); ++i) {
        const InterfaceTable* t = registry.interfaces[i];
        const char16_t* name = t && t->GetInterfaceName ? t->GetInterfaceName() : u"";
        interfaces.push_back(
            {{"name", Utf8(name ? name : u"")}, {"version", Utf8(registry.versionTexts[i])}});
    }
    json ports = json::array();
    for (int32_t i = 0; VorlixGetPortNameW(i); ++i) {
        const char16_t* path = VorlixGetFileNameW(i);
        const char16_t* description = VorlixGetDescriptionW(i);
        const std::u16string device = path ? path : u"";
        ports.push_back({{"name", Utf8(VorlixGetPortNameW(i))},
                         {"device", Utf8(device)},
                         {"description", Utf8(description ? description : u"")},
                         {"in_use", !held.empty() && held == device}});
    }
    return {{"interfaces", interfaces}, {"ports", ports}};
}

json SaveSettings(clCamPropertyMgr& m, const json& p, const SettingsWriter& write) {
    const std::string file = p["path"].get<std::string>();
    const std::vector<PropertyEdit> edits = ReadValues(m, p.value("values", json::object()));
    // The file takes the values given; the definition keeps those the camera has.
    std::vector<std::string> before;
    for (const PropertyEdit& edit : edits)
        before.push_back(Utf8(edit.property->name) + "=" + PropertyValueText(m, edit.property));
    for (const PropertyEdit& edit : edits)
        StorePropertyEdit(m, edit);
    std::string reason;
    const int32_t written = write(platform::PathToUtf16(file), reason);
    for (auto it = before.rbegin(); it != before.rend(); ++it) {
        PropertyEdit edit;
        std::string error;
        if (ParsePropertyEdit(m, *it, edit, error, "UTF-8"))
            StorePropertyEdit(m, edit);
    }
    if (written != 0)
        throw Failure{kFile, "cannot write " + file + (reason.empty() ? "" : ": " + reason)};
    size_t count = 0;
    std::ifstream in(file, std::ios::binary);
    for (std::string line; std::getline(in, line);)
        ++count;
    return {{"path", file}, {"lines", count}};
}

WatchPlan ReadWatch(const clCamPropertyMgr& m, const json& p) {
    constexpr int64_t kLeastMs = 100, kMostMs = int64_t{24} * 3600 * 1000;
    const int64_t every = p["every_ms"].get<int64_t>();
    if (every < kLeastMs || every > kMostMs)
        throw Failure{kUsage, "every_ms must lie from 100 to 86400000"};
    if (p.contains("run") && p.contains("send"))
        throw Failure{kUsage, "watch takes run or send, not both"};
    WatchPlan w;
    w.every = std::chrono::milliseconds(every);
    if (p.contains("send")) {
        std::string reason;
        if (!CommandArgument(p["send"].get<std::string>(), w.send, reason, false, "UTF-8"))
            throw Failure{kUsage, "send \"" + p["send"].get<std::string>() + "\": " + reason};
    }
    for (const json& n : p["names"]) {
        const clCamProperty* property = m.FindProperty(Wide(n.get<std::string>()));
        if (!property || property->type == CamPropertyType::Execution)
            throw Failure{kUsage, "no property \"" + n.get<std::string>() +
                                      "\" with a value in the definition"};
        w.names.push_back(n.get<std::string>());
    }
    if (p.contains("run")) {
        const clCamProperty* run = m.FindProperty(Wide(p["run"].get<std::string>()));
        if (!run || run->type != CamPropertyType::Execution)
            throw Failure{kUsage, "run needs an Execution property of the definition, not \"" +
                                      p["run"].get<std::string>() + "\""};
        w.run = run->name;
    }
    return w;
}

json WatchValues(const clCamPropertyMgr& m, const std::vector<std::string>& names) {
    json values = json::object();
    for (const std::string& name : names) {
        const clCamProperty* property = m.FindProperty(Wide(name));
        if (!property)
            throw Failure{kUsage, "no property \"" + name + "\" in the definition"};
        values[name] = PlainValue(PropertyValueJson(m, property));
    }
    return values;
}

json RoundParams(uint64_t watch, const json& values, const Failure* failure) {
    json message{{"id", watch}};
    if (failure)
        // A round that failed is a gap: the client hears why, and the watch goes on.
        message["error"] = {{"code", failure->code}, {"message", failure->message}};
    else
        message["values"] = values;
    message["time"] = clTrafficLog::LocalStamp(std::chrono::system_clock::now(), 'T');
    return message;
}

json TrafficParams(std::string_view direction, std::string_view text,
                   std::chrono::system_clock::time_point at) {
    return {{"time", clTrafficLog::LocalStamp(at, 'T')},
            {"dir", std::string(direction)},
            {"text", std::string(text)}};
}

void AddMismatches(const clCamPropertyMgr* m, std::u16string_view command,
                   const std::vector<std::u16string>& replyLines, size_t fileLine,
                   json& mismatches) {
    std::vector<VerifyMismatch> found;
    if (!VerifyCommandReply(m, command, replyLines, found))
        return;
    for (const VerifyMismatch& x : found)
        mismatches.push_back({{"line", fileLine},
                              {"command", Utf8(command)},
                              {"field", x.field},
                              {"sent", x.sent},
                              {"camera", x.received}});
}

Failure BatchFileFailure(const std::string& file, size_t line, const std::string& reason) {
    return Failure{kFile, Utf8(Msg(MSG_FAIL_OPEN_BATCH_FILE)) + ": " + file +
                              (line ? ": line " + std::to_string(line) : "") + ": " + reason};
}

Failure MismatchFailure(json result) {
    const size_t count = result["mismatches"].size();
    return Failure{kMismatch,
                   "the camera holds other values than sent (" + std::to_string(count) +
                       " mismatches)",
                   std::move(result)};
}

} // namespace serve
