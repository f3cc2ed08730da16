#include "tools/cli/Commands.h"

#include "app/DefinitionCheck.h"
#include "app/Monitor.h"
#include "app/PropertyEdit.h"
#include "app/Verify.h"
#include "base/MessageTable.h"
#include "camdef/CamPropertyMgr.h"
#include "comm/CommandCheck.h"
#include "components/vorlix/Vorlix.h"
#include "platform/Text.h"
#include "textfiles/BatchText.h"
#include "textfiles/TextFiles.h"
#include "tools/cli/Output.h"
#include "tools/cli/Reports.h"
#include "tools/cli/Session.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <map>
#include <optional>
#include <set>
#include <string_view>

using nlohmann::json;

namespace {

std::string Utf8(std::u16string_view text) {
    return platform::Utf16ToUtf8(text);
}
std::u16string Wide(std::string_view text) {
    return platform::LocaleToUtf16(text);
}
// A file name from the command line: its bytes, whatever the locale.
std::u16string PathArgument(std::string_view text) {
    return platform::PathToUtf16(text);
}

int Fail(int status, const std::string& message) {
    clCliOutput::Error(message);
    return status;
}

// ---- transactions

void ReportTransaction(const clCliOutput& out, const CliTransaction& t) {
    json o;
    o["command"] = Utf8(t.command);
    o["result"] = t.Outcome();
    o["ok"] = t.Ok();
    json replies = json::array();
    std::string text;
    for (const std::u16string& line : t.replyLines) {
        replies.push_back(Utf8(ReplyText(line)));
        text += Utf8(line) + "\n";
    }
    o["replies"] = replies;
    if (!t.message.empty())
        o["message"] = Utf8(t.message);
    out.Emit(o, text + t.Outcome());
    if (t.result != TRANSACTION_OK)
        clCliOutput::Error(Utf8(t.command) + ": " + t.Outcome() +
                           (t.message.empty() ? "" : " (" + Utf8(t.message) + ")"));
    else if (t.replyCode != kReplyCodeOk)
        clCliOutput::Error(Utf8(t.command) + ": the camera answered " + t.Outcome());
}

int ReportJob(const clCliOutput& out, const CliJob& job) {
    for (const CliTransaction& t : job.transactions)
        ReportTransaction(out, t);
    if (job.refused != 0)
        clCliOutput::Error("the engine did not take the job (refusal " +
                           std::to_string(job.refused) + ")");
    if (job.signal != 0)
        clCliOutput::Error(std::string(job.signal == SIGINT ? "interrupted" : "terminated") +
                           ": the running transaction was cancelled and the port closed");
    return JobStatus(job);
}

// ---- definition and port

// Loads --definition FILE. 0, or the exit status.
int LoadDefinitionFile(clCliSession& session, bool required) {
    const std::string& def = session.Options().definition;
    if (def.empty())
        return required ? Fail(kCliUsage, "this command needs --definition FILE|auto") : kCliOk;
    if (def == "auto")
        return kCliOk;
    std::string message;
    if (session.LoadDefinition(PathArgument(def), message) != 0)
        return Fail(kCliFile, "cannot use the definition " + def + ": " + message);
    return kCliOk;
}

// Sends "sta"; with --definition auto also loads the one definition of the model. 0, or the
// exit status. found gets the definition files of the model, answered whether "sta" got "OK".
int Identify(clCliSession& session, const clCliOutput& out,
             std::vector<std::string>* found = nullptr, bool* answered = nullptr) {
    const CliJob job = session.RunCommand(u"sta");
    const int status = JobStatus(job);
    if (answered)
        *answered = status == kCliOk;
    if (status != kCliOk)
        return ReportJob(out, job);
    if (session.Options().definition != "auto")
        return kCliOk;
    const std::u16string model = session.Model().empty() ? session.Type() : session.Model();
    if (model.empty())
        return Fail(kCliFile, Utf8(Msg(MSG_MODEL_NOT_DETECTED)));
    const std::vector<std::u16string> paths = session.DefinitionsForModel(model);
    std::vector<std::string> files;
    for (const std::u16string& path : paths)
        files.push_back(Utf8(path.substr(path.find_last_of(u'/') + 1)));
    if (found)
        *found = files;
    if (files.empty())
        return Fail(kCliFile, Utf8(Msg(MSG_DEFINE_NOT_FOUND)) + " (model " + Utf8(model) + ")");
    if (files.size() > 1) {
        std::string list;
        for (const std::string& f : files)
            list += (list.empty() ? "" : ", ") + f;
        return Fail(kCliFile, "several definitions fit model " + Utf8(model) + " (" + list +
                                  "): choose one with --definition FILE");
    }
    std::string message;
    const std::u16string& path = paths.front();
    if (session.LoadDefinition(path, message) != 0)
        return Fail(kCliFile, "cannot use the definition " + Utf8(path) + ": " + message);
    return kCliOk;
}

int Connect(clCliSession& session, const clCliOutput& out) {
    std::string message;
    const int status = session.OpenPort(message);
    if (status != 0)
        return Fail(status, message);
    return session.Options().definition == "auto" ? Identify(session, out) : kCliOk;
}

// Parses every edit before anything is stored or sent.
int ParseEdits(clCliSession& session, const std::vector<std::string>& arguments, size_t first,
               std::vector<PropertyEdit>& edits) {
    for (size_t i = first; i < arguments.size(); ++i) {
        PropertyEdit edit;
        std::string error;
        if (!ParsePropertyEdit(session.Manager(), arguments[i], edit, error))
            return Fail(kCliUsage, error);
        if (edit.adjusted)
            clCliOutput::Error(arguments[i] + ": stored as " +
                               std::to_string(propvalue::AsInt64(edit.value)) +
                               " (the property's step)");
        edits.push_back(edit);
    }
    return kCliOk;
}

// ---- commands

int Ports(clCliSession& session, const clCliOutput& out) {
    const clInterfaceRegistry& r = session.Interfaces();
    for (size_t i = 0; i < r.Count(); ++i) {
        const InterfaceTable* t = r.interfaces[i];
        const char16_t* name = t && t->GetInterfaceName ? t->GetInterfaceName() : u"";
        json o{{"interface", Utf8(name ? name : u"")},
               {"index", i},
               {"label", Utf8(r.versionTexts[i])},
               {"builtIn", r.modules[i] == nullptr}};
        out.Emit(o, "interface " + std::to_string(i) + ": " + Utf8(r.versionTexts[i]));
    }
    for (int32_t i = 0; VorlixGetPortNameW(i); ++i) {
        const std::string name = Utf8(VorlixGetPortNameW(i));
        const char16_t* path = VorlixGetFileNameW(i);
        const char16_t* description = VorlixGetDescriptionW(i);
        json o{{"port", name},
               {"device", Utf8(path ? path : u"")},
               {"description", Utf8(description ? description : u"")}};
        out.Emit(o, "port " + name + "  " + o["device"].get<std::string>() + "  " +
                        o["description"].get<std::string>());
    }
    return kCliOk;
}

int IdentifyCommand(clCliSession& session, const clCliOutput& out) {
    std::string message;
    const int opened = session.OpenPort(message);
    if (opened != 0)
        return Fail(opened, message);
    std::vector<std::string> found;
    bool answered = false;
    const int status = Identify(session, out, &found, &answered);
    if (!answered)
        return status;
    json o{{"model", Utf8(session.Model())},
           {"type", Utf8(session.Type())},
           {"version", Utf8(session.Version())},
           {"serial", Utf8(session.Serial())}};
    std::string text = "Model=" + Utf8(session.Model()) + "\nType=" + Utf8(session.Type()) +
                       "\nVer.=" + Utf8(session.Version()) + "\nSerial=" + Utf8(session.Serial());
    if (session.Options().definition == "auto") {
        o["definitions"] = found;
        for (const std::string& f : found)
            text += "\ndefinition " + f;
    }
    out.Emit(o, text);
    return status;
}

int Send(clCliSession& session, const clCliOutput& out, const std::vector<std::string>& commands) {
    if (commands.empty())
        return Fail(kCliUsage, "send needs at least one command");
    // Every command is checked before the port is opened: nothing goes out that was not asked
    // for, and no command goes out as something else.
    std::vector<std::u16string> texts;
    for (const std::string& command : commands) {
        std::u16string text;
        std::string reason;
        if (!CommandArgument(command, text, reason))
            return Fail(kCliUsage, "send \"" + command + "\": " + reason);
        texts.push_back(std::move(text));
    }
    if (const int s = LoadDefinitionFile(session, false))
        return s;
    if (const int s = Connect(session, out))
        return s;
    for (const std::u16string& text : texts) {
        const int status = ReportJob(out, session.RunCommand(text));
        if (status != kCliOk)
            return status;
    }
    return kCliOk;
}

int Set(clCliSession& session, const clCliOutput& out, const std::vector<std::string>& arguments) {
    if (arguments.empty())
        return Fail(kCliUsage, "set needs NAME=VALUE or NAME");
    if (session.Options().definition.empty())
        return Fail(kCliUsage, "set needs --definition FILE|auto");
    if (const int s = LoadDefinitionFile(session, true))
        return s;
    std::vector<PropertyEdit> edits;
    // With a file, every value is checked before the port is opened; with "auto" the
    // definition is known only after "sta", and still nothing more is sent before the check.
    if (session.Options().definition != "auto")
        if (const int s = ParseEdits(session, arguments, 0, edits))
            return s;
    if (const int s = Connect(session, out))
        return s;
    if (edits.empty())
        if (const int s = ParseEdits(session, arguments, 0, edits))
            return s;
    clCamPropertyMgr& m = session.Manager();
    for (const PropertyEdit& edit : edits) {
        StorePropertyEdit(m, edit);
        // What goes out: the edited value and the other values of its commands.
        std::map<const clCamProperty*, std::pair<std::string, json>> sent;
        auto remember = [&](const clCamProperty* p) {
            if (p && p->type != CamPropertyType::Execution)
                sent.emplace(
                    p, std::make_pair(PropertyValueText(m, p), PropertyValueJson(m, p)["value"]));
        };
        remember(edit.property);
        for (const std::u16string& name : edit.property->commandNames)
            if (const clCamCommand* c = m.FindCommand(name))
                for (const std::u16string& slot : c->slots)
                    remember(m.FindProperty(slot));
        const CliJob job = session.RunProperty(edit.property);
        const int status = ReportJob(out, job);
        std::vector<ReportedValue> reported = CarriedProperties(m, job);
        // A value no reply carried is the value sent, not the camera's.
        if (edit.property->type != CamPropertyType::Execution &&
            std::none_of(reported.begin(), reported.end(),
                         [&](const ReportedValue& r) { return r.property == edit.property; }))
            reported.push_back({edit.property, ReportedValue::kSent, std::nullopt});
        for (const ReportedValue& r : reported) {
            auto [text, o] = ReportedText(m, r);
            static constexpr const char* kSources[] = {"reply", "calculated", "sent"};
            o["source"] = kSources[r.source];
            std::string line = Utf8(r.property->name) + "=" + text;
            if (r.source == ReportedValue::kSent) {
                line += " (sent; no reply carried it)";
            } else if (const auto it = sent.find(r.property); r.source == ReportedValue::kReply &&
                                                              it != sent.end() &&
                                                              o["value"] != it->second.second) {
                o["sent"] = it->second.second;
                line += " (the camera's reply; sent " + it->second.first + ")";
            }
            out.Emit(o, line);
        }
        if (status != kCliOk)
            return status;
    }
    return kCliOk;
}

std::string TextsLine(const clMultiLangString& s) {
    std::string line;
    for (const auto& [lang, text] : s.Texts())
        line += (line.empty() ? "" : " / ") + Utf8(text);
    return line;
}

int Describe(clCliSession& session, const clCliOutput& out, const std::vector<std::string>& names) {
    if (const int s = LoadDefinitionFile(session, true))
        return s;
    if (session.Options().definition == "auto")
        if (const int s = Connect(session, out))
            return s;
    const clCamPropertyMgr& m = session.Manager();
    std::vector<const clCamProperty*> list;
    for (const std::string& name : names) {
        const clCamProperty* p = m.FindProperty(Wide(name));
        if (!p)
            return Fail(kCliUsage, "no property \"" + name + "\" in the definition");
        list.push_back(p);
    }
    if (names.empty())
        list = TreeOrder(m);
    for (const clCamProperty* p : list) {
        json o{{"property", Utf8(p->name)},
               {"type", PropertyTypeName(p->type)},
               {"access", AccessName(p->accessMode)},
               {"unit", Utf8(p->unit)},
               {"title", Texts(p->title)},
               {"note", Texts(p->note)},
               {"calculated", p->isCalculator != 0}};
        std::string text = Utf8(p->name) + " (" + PropertyTypeName(p->type) + ", " +
                           AccessName(p->accessMode) + ")\n  title: " + TextsLine(p->title);
        if (auto* i = PropertyAs<clCamPropertyInteger>(p)) {
            int64_t min = 0, max = 0, inc = 1;
            m.GetIntegerMin(i, min);
            m.GetIntegerMax(i, max);
            m.GetIntegerInc(i, inc);
            o["range"] = {{"min", min}, {"max", max}, {"inc", inc}};
            text += "\n  range: " + std::to_string(min) + " to " + std::to_string(max) + ", step " +
                    std::to_string(inc);
        }
        if (auto* s = PropertyAs<clCamPropertySelection>(p)) {
            json entries = json::array();
            text += "\n  entries:";
            for (size_t e = 0; e < s->entryTexts.size() && e < s->entryValues.size(); ++e) {
                entries.push_back({{"text", Utf8(s->entryTexts[e])}, {"value", s->entryValues[e]}});
                text += (e ? ", " : " ") + Utf8(s->entryTexts[e]) + "=" +
                        std::to_string(s->entryValues[e]);
            }
            o["entries"] = entries;
        }
        if (auto* s = PropertyAs<clCamPropertyString>(p)) {
            o["length"] = s->length;
            text += "\n  length: " + std::to_string(s->length);
        }
        if (!p->unit.empty())
            text += "\n  unit: " + Utf8(p->unit);
        if (!p->note.IsEmpty())
            text += "\n  note: " + TextsLine(p->note);
        if (p->isCalculator) {
            o["formula"] = Utf8(p->formula);
            text += "\n  formula: " + Utf8(p->formula);
        }
        json commands = json::array();
        std::string commandText;
        for (const std::u16string& c : p->commandNames) {
            commands.push_back(Utf8(c));
            commandText += (commandText.empty() ? "" : ", ") + Utf8(c);
        }
        o["commands"] = commands;
        if (!commandText.empty())
            text += "\n  commands: " + commandText;
        const json value = PropertyValueJson(m, p);
        o["value"] = value["value"];
        if (p->type != CamPropertyType::Execution)
            text += "\n  value: " + PropertyValueText(m, p);
        out.Emit(o, text);
    }
    return kCliOk;
}

// ---- load --verify

int Load(clCliSession& session, const clCliOutput& out, const std::vector<std::string>& arguments,
         bool verify) {
    if (arguments.size() != 1)
        return Fail(kCliUsage, "load needs exactly one FILE");
    // Read whole and checked as Text Load does: a file that cannot be read as it was written
    // sends nothing.
    const std::string& file = arguments.front();
    std::u16string text;
    const BatchTextFault fault = ReadCheckedBatchText(file, text);
    if (!fault.reason.empty())
        return Fail(kCliFile, Utf8(Msg(MSG_FAIL_OPEN_BATCH_FILE)) + ": " + file +
                                  (fault.line ? ": line " + std::to_string(fault.line) : "") +
                                  ": " + fault.reason);
    std::vector<std::u16string> lines;
    SplitBatchLines(text, lines);
    size_t total = 0;
    for (const std::u16string& line : lines)
        total += ParseBatchLine(line.substr(0, kBatchLineChars)).kind == BatchStep::kCommand;
    if (const int s = LoadDefinitionFile(session, false))
        return s;
    if (const int s = Connect(session, out))
        return s;
    session.onCommandSent = [&out, total](size_t n) { out.Progress(n, total); };
    const CliJob job = session.RunBatch(std::move(lines));
    session.onCommandSent = nullptr;
    if (job.signal == 0 && JobStatus(job) == kCliOk)
        out.Progress(total, total);
    const int status = ReportJob(out, job);
    if (!verify)
        return status;
    if (job.signal != 0 || job.refused != 0 || job.outcome != JobOutcome::kDone) {
        // Not every line was sent: the camera's values cannot be compared with the file's.
        clCliOutput::Error("not verified: the batch stopped before its end");
        return job.signal != 0 ? status : int{kCliTransaction};
    }
    clCamPropertyMgr* m = session.Manager().IsLoaded() ? &session.Manager() : nullptr;
    size_t verified = 0, mismatches = 0;
    for (const CliTransaction& t : job.transactions) {
        std::vector<VerifyMismatch> found;
        if (!VerifyCommandReply(m, t.command, t.replyLines, found))
            continue;
        ++verified;
        for (const VerifyMismatch& x : found) {
            ++mismatches;
            out.Emit({{"verify", "mismatch"},
                      {"command", Utf8(t.command)},
                      {"field", x.field},
                      {"sent", x.sent},
                      {"received", x.received}},
                     "mismatch " + Utf8(t.command) + ": " + x.field + " sent " + x.sent +
                         ", camera has " + x.received);
        }
    }
    out.Emit({{"verified", verified}, {"mismatches", mismatches}},
             "verified " + std::to_string(verified) + " commands, " + std::to_string(mismatches) +
                 " mismatches");
    if (mismatches)
        clCliOutput::Error("the camera holds other values than sent (" +
                           std::to_string(mismatches) + " mismatches)");
    // The most severe outcome: a reply code other than "OK" over a mismatch.
    return status != kCliOk ? status : mismatches ? int{kCliMismatch} : int{kCliOk};
}

int Save(clCliSession& session, const clCliOutput& out, const std::vector<std::string>& arguments) {
    if (arguments.empty())
        return Fail(kCliUsage, "save needs OUT [NAME=VALUE...]");
    if (session.Options().definition.empty())
        return Fail(kCliUsage, "save needs --definition FILE|auto");
    if (const int s = LoadDefinitionFile(session, true))
        return s;
    std::vector<PropertyEdit> edits;
    const bool auto_ = session.Options().definition == "auto";
    if (!auto_)
        if (const int s = ParseEdits(session, arguments, 1, edits))
            return s;
    // With a port the identity goes into the header.
    const CliOptions& o = session.Options();
    if (auto_ || !o.port.empty() || !o.interfaceName.empty()) {
        std::string message;
        const int opened = session.OpenPort(message);
        if (opened != 0)
            return Fail(opened, message);
        if (const int s = Identify(session, out))
            return s;
        if (auto_)
            if (const int s = ParseEdits(session, arguments, 1, edits))
                return s;
        session.ClosePort();
    }
    for (const PropertyEdit& edit : edits)
        StorePropertyEdit(session.Manager(), edit);
    const std::string& file = arguments.front();
    std::string reason;
    if (session.WriteSettingsText(PathArgument(file), reason) != FILE_COMMAND_OK)
        return Fail(kCliFile, "cannot write " + file + (reason.empty() ? "" : ": " + reason));
    out.Emit({{"saved", file}, {"definition", Utf8(session.DefinitionPath())}}, "saved " + file);
    return kCliOk;
}

int Check(clCliSession& session, const clCliOutput& out, const std::vector<std::string>& files) {
    if (files.empty())
        return Fail(kCliUsage, "check needs at least one definition file");
    int status = kCliOk;
    for (const std::string& file : files) {
        std::string message;
        const int result = session.LoadDefinition(PathArgument(file), message);
        out.Emit({{"definition", file},
                  {"load", result},
                  {"message", result == 0 ? std::string("loaded") : message}},
                 file + ": " + (result == 0 ? std::string("loaded") : message) + " (result " +
                     std::to_string(result) + ")");
        if (result != 0) {
            clCliOutput::Error("cannot use the definition " + file + ": " + message);
            status = kCliFile;
            continue;
        }
        for (const DefinitionProblem& p : CheckDefinition(session.Manager())) {
            out.Emit({{"definition", file},
                      {"problem", p.kind},
                      {"where", p.where},
                      {"detail", p.detail}},
                     "  " + p.kind + " " + p.where + ": " + p.detail);
            if (status == kCliOk)
                status = kCliMismatch;
        }
    }
    return status;
}

// ---- watch

int Watch(clCliSession& session, const clCliOutput& out, const CliCommand& command) {
    constexpr int64_t kLeastMs = 100, kMostMs = int64_t{24} * 3600 * 1000;
    int64_t every = 0;
    if (!ParseDuration(command.every, every) || every < kLeastMs || every > kMostMs)
        return Fail(kCliUsage, "--every takes a duration from 100ms to 24h, such as 500ms, 2s or "
                               "1m (not \"" +
                                   command.every + "\")");
    std::u16string text;
    std::string reason;
    if (!command.send.empty() && !CommandArgument(command.send, text, reason))
        return Fail(kCliUsage, "--send \"" + command.send + "\": " + reason);
    if (const int s = LoadDefinitionFile(session, true))
        return s;
    // With a file every name is checked before the port is opened.
    const bool automatic = session.Options().definition == "auto";
    std::vector<const clCamProperty*> watched;
    const clCamProperty* run = nullptr;
    auto resolve = [&]() -> int {
        const clCamPropertyMgr& m = session.Manager();
        for (const std::string& name : command.arguments) {
            const clCamProperty* p = m.FindProperty(Wide(name));
            if (!p || p->type == CamPropertyType::Execution)
                return Fail(kCliUsage,
                            "no property \"" + name + "\" with a value in the definition");
            watched.push_back(p);
        }
        if (!command.run.empty()) {
            run = m.FindProperty(Wide(command.run));
            if (!run || run->type != CamPropertyType::Execution)
                return Fail(kCliUsage,
                            "--run needs an Execution property of the definition, not \"" +
                                command.run + "\"");
        }
        return kCliOk;
    };
    if (!automatic)
        if (const int s = resolve())
            return s;
    if (const int s = Connect(session, out))
        return s;
    if (automatic)
        if (const int s = resolve())
            return s;

    if (!out.Json()) {
        std::string header = "time";
        for (const clCamProperty* p : watched)
            header += "," + CsvField(Utf8(p->name));
        out.Emit({}, header);
    }
    using Clock = std::chrono::steady_clock;
    auto due = Clock::now();
    for (;;) {
        std::string failure;
        if (run || !text.empty()) {
            const CliJob job = run ? session.RunProperty(run) : session.RunCommand(text);
            if (job.signal != 0)
                break;
            if (JobStatus(job) != kCliOk) {
                const CliTransaction* last =
                    job.transactions.empty() ? nullptr : &job.transactions.back();
                failure = last ? Utf8(last->command) + ": " + last->Outcome()
                               : "the engine did not take the round";
            }
        }
        const std::string time = clCliOutput::LocalTime(std::chrono::system_clock::now());
        json o{{"time", time}};
        std::string line = time;
        if (failure.empty()) {
            const clCamPropertyMgr& m = session.Manager();
            json values = json::object();
            for (const clCamProperty* p : watched) {
                const json v = PropertyValueJson(m, p);
                values[Utf8(p->name)] = PlainValue(v);
                line += "," + CsvField(p->type == CamPropertyType::Bool
                                           ? std::string(v["value"].get<bool>() ? "1" : "0")
                                           : PropertyValueText(m, p));
            }
            o["values"] = values;
        } else {
            // A round that failed is a gap: no values, the reason on standard error.
            o["error"] = failure;
            line += std::string(watched.size(), ',');
            clCliOutput::Error(failure);
        }
        out.Emit(o, line);
        // Rounds keep their pace; one that overran its interval is followed at once.
        due += std::chrono::milliseconds(every);
        if (due < Clock::now())
            due = Clock::now();
        bool signalled = false;
        while (!signalled && Clock::now() < due) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now()).count();
            signalled = !session.WaitForWork({}, static_cast<int>(left) + 1);
        }
        if (signalled)
            break;
    }
    return 128 + session.PendingSignal();
}

} // namespace

bool ParseDuration(std::string_view text, int64_t& ms) {
    size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9')
        ++digits;
    if (digits == 0 || digits > 9)
        return false;
    int64_t n = 0;
    std::from_chars(text.data(), text.data() + digits, n);
    const std::string_view unit = text.substr(digits);
    const int64_t scale = unit == "ms"  ? 1
                          : unit == "s" ? 1000
                          : unit == "m" ? 60000
                          : unit == "h" ? 3600000
                                        : 0;
    ms = n * scale;
    return scale != 0;
}

int RunCliCommand(clCliSession& session, const clCliOutput& out, const CliCommand& command) {
    const std::vector<std::string>& a = command.arguments;
    if (command.name == "ports")
        return Ports(session, out);
    if (command.name == "identify")
        return IdentifyCommand(session, out);
    if (command.name == "send")
        return Send(session, out, a);
    if (command.name == "set")
        return Set(session, out, a);
    if (command.name == "describe")
        return Describe(session, out, a);
    if (command.name == "load")
        return Load(session, out, a, command.verify);
    if (command.name == "save")
        return Save(session, out, a);
    if (command.name == "check")
        return Check(session, out, a);
    if (command.name == "watch")
        return Watch(session, out, command);
    return Fail(kCliUsage, "unknown command " + command.name);
}
