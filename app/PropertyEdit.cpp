#include "app/PropertyEdit.h"

#include "app/DefinitionCheck.h"
#include "app/Verify.h"
#include "camdef/CamPropertyMgr.h"
#include "camdef/PropertyCommit.h"
#include "comm/CommandCheck.h"
#include "comm/ReplyCollector.h"
#include "comm/TransactionCodes.h"
#include "platform/Text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iterator>
#include <set>
#include <type_traits>
#include <variant>

namespace {

std::string Utf8(std::u16string_view text) {
    return platform::Utf16ToUtf8(text);
}

} // namespace

bool DecodeArgument(std::string_view argument, std::u16string& text, std::string& reason,
                    const char* codesetName) {
    const std::string codeset = codesetName ? codesetName : platform::LocaleCodeset();
    bool clean = true;
    text = platform::DecodeToUtf16(argument, codeset.c_str(), &clean);
    if (clean)
        return true;
    // What the bytes of the argument do not spell in the codeset became U+FFFD.
    size_t position = 1;
    for (size_t i = 0; i < text.size() && text[i] != 0xFFFD; ++position)
        i += text[i] >= 0xD800 && text[i] <= 0xDBFF ? 2 : 1;
    reason = "character " + std::to_string(position) + " is no text of the current codeset (" +
             codeset + "); nothing was sent.";
    return false;
}

bool CommandArgument(std::string_view argument, std::u16string& text, std::string& reason,
                     bool allowEmpty, const char* codeset) {
    if (!DecodeArgument(argument, text, reason, codeset))
        return false;
    const CommandCheck check = CheckCommandText(text);
    if (check.Fit() || (allowEmpty && check.fault == CommandCheck::kEmpty))
        return true;
    reason = Utf8(CommandCheckText(check));
    return false;
}

const char* PropertyTypeName(CamPropertyType type) {
    // In the order of the type numbers.
    static constexpr const char* kNames[] = {"Integer", "Bool",   "Execution",
                                             "Float",   "String", "Selection"};
    const auto index = static_cast<size_t>(type); // None (-1) becomes the largest number
    return index < std::size(kNames) ? kNames[index] : "None";
}

const char* AccessName(int32_t mode) {
    switch (mode) {
    case kAccessWriteOnly:
        return "WO";
    case kAccessReadOnly:
        return "RO";
    case kAccessReadWrite:
        return "RW";
    default:
        return "?";
    }
}

bool ParsePropertyEdit(const clCamPropertyMgr& manager, std::string_view argument,
                       PropertyEdit& edit, std::string& error, const char* codeset) {
    const auto decode = [codeset](std::string_view bytes) {
        return codeset ? platform::DecodeToUtf16(bytes, codeset) : platform::LocaleToUtf16(bytes);
    };
    edit = PropertyEdit{};
    const size_t eq = argument.find('=');
    const std::string name(argument.substr(0, eq));
    edit.hasValue = eq != std::string_view::npos;
    const std::string_view value(edit.hasValue ? argument.substr(eq + 1) : std::string_view{});
    clCamProperty* p = manager.FindProperty(decode(name));
    if (!p) {
        error = "no property \"" + name + "\" in the definition";
        return false;
    }
    edit.property = p;
    edit.binding = propview::BindProperty(p);
    if (!p->IsWritable()) {
        error = name + " is read only";
        return false;
    }
    const bool takesValue = edit.binding->Editor() != propview::EditorKind::Button;
    if (!takesValue && edit.hasValue) {
        error = name + " is an " + PropertyTypeName(p->type) +
                " property: give its name without a value";
        return false;
    }
    if (takesValue && !edit.hasValue) {
        error = name + " needs a value (" + name + "=VALUE)";
        return false;
    }
    if (!takesValue)
        return true;
    // The value as text of the argument's codeset (a String is checked as every command is).
    std::u16string text;
    std::string reason;
    if (!DecodeArgument(value, text, reason, codeset) ||
        !edit.binding->Parse(manager, text, edit.value, edit.adjusted, reason)) {
        error = name + ": " + reason;
        return false;
    }
    return true;
}

void StorePropertyEdit(clCamPropertyMgr& manager, const PropertyEdit& edit) {
    if (edit.binding)
        edit.binding->Commit(manager, edit.value);
}

std::string PropertyValueText(const clCamPropertyMgr& manager, const clCamProperty* p) {
    if (!p)
        return {};
    if (auto* b = PropertyAs<clCamPropertyBool>(p))
        return b->state ? "on" : "off";
    if (auto* s = PropertyAs<clCamPropertySelection>(p)) {
        const std::u16string entry = s->ValueText();
        return entry.empty() ? std::to_string(s->value) : Utf8(entry);
    }
    std::u16string text;
    manager.GetValueText(p->name, text);
    return Utf8(text);
}

nlohmann::json PropertyValueJson(const clCamPropertyMgr& manager, const clCamProperty* p) {
    nlohmann::json out;
    if (!p)
        return out;
    out["property"] = Utf8(p->name);
    out["type"] = PropertyTypeName(p->type);
    // Reading only: the binding does not change the record.
    const auto binding = propview::BindProperty(const_cast<clCamProperty*>(p));
    std::visit(
        [&out](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::monostate>)
                out["value"] = nullptr;
            else if constexpr (std::is_same_v<T, std::u16string>)
                out["value"] = Utf8(v);
            else
                out["value"] = v;
        },
        binding->ScriptValueOf(manager));
    if (const auto* s = PropertyAs<clCamPropertySelection>(p))
        out["entry"] = Utf8(s->ValueText());
    return out;
}

// Properties in the order of the property tree, then those outside it by name.
std::vector<const clCamProperty*> TreeOrder(const clCamPropertyMgr& m) {
    std::vector<const clCamProperty*> out;
    std::set<const clCamProperty*> seen;
    for (const std::u16string& name : TreePropertyNames(m))
        if (const clCamProperty* p = m.FindProperty(name); p && seen.insert(p).second)
            out.push_back(p);
    std::vector<const clCamProperty*> rest;
    for (const auto& [name, p] : m.Properties())
        if (!seen.count(p.get()))
            rest.push_back(p.get());
    std::sort(rest.begin(), rest.end(),
              [](const clCamProperty* a, const clCamProperty* b) { return a->name < b->name; });
    out.insert(out.end(), rest.begin(), rest.end());
    return out;
}

nlohmann::json PlainValue(const nlohmann::json& value) {
    return value.contains("entry") ? value["entry"] : value["value"];
}

nlohmann::json Texts(const clMultiLangString& s) {
    nlohmann::json o = nlohmann::json::object();
    for (const auto& [lang, text] : s.Texts())
        o[Utf8(lang)] = Utf8(text);
    return o;
}

nlohmann::json DescribeProperty(const clCamPropertyMgr& m, const clCamProperty* property) {
    nlohmann::json o{{"name", Utf8(property->name)},
                     {"type", PropertyTypeName(property->type)},
                     {"access", AccessName(property->accessMode)},
                     {"unit", Utf8(property->unit)},
                     {"min", nullptr},
                     {"max", nullptr},
                     {"inc", nullptr},
                     {"titles", Texts(property->title)},
                     {"note", Texts(property->note)},
                     {"commands", nlohmann::json::array()},
                     {"entries", nlohmann::json::array()}};
    if (auto* i = PropertyAs<clCamPropertyInteger>(property)) {
        int64_t min = 0, max = 0, inc = 1;
        m.GetIntegerMin(i, min);
        m.GetIntegerMax(i, max);
        m.GetIntegerInc(i, inc);
        o["min"] = min;
        o["max"] = max;
        o["inc"] = inc;
    }
    if (auto* s = PropertyAs<clCamPropertySelection>(property))
        for (size_t e = 0; e < s->entryTexts.size() && e < s->entryValues.size(); ++e)
            o["entries"].push_back(
                {{"text", Utf8(s->entryTexts[e])}, {"value", s->entryValues[e]}});
    if (auto* s = PropertyAs<clCamPropertyString>(property))
        o["length"] = s->length;
    for (const std::u16string& c : property->commandNames)
        o["commands"].push_back(Utf8(c));
    if (property->isCalculator)
        o["formula"] = Utf8(property->formula);
    if (property->type != CamPropertyType::Execution)
        o["value"] = PlainValue(PropertyValueJson(m, property));
    return o;
}

namespace {

// The range of an Integer property as a refusal's details, null for other types.
nlohmann::json RangeOf(const clCamPropertyMgr& m, const std::string& name) {
    if (auto* i = PropertyAs<clCamPropertyInteger>(m.FindProperty(platform::Utf8ToUtf16(name)))) {
        int64_t min = 0, max = 0, inc = 1;
        m.GetIntegerMin(i, min);
        m.GetIntegerMax(i, max);
        m.GetIntegerInc(i, inc);
        return {{"name", name}, {"min", min}, {"max", max}, {"inc", inc}};
    }
    return nullptr;
}

} // namespace

bool ParseScriptValues(const clCamPropertyMgr& m, const nlohmann::json& values,
                       std::vector<PropertyEdit>& edits, std::string& error,
                       nlohmann::json& range) {
    edits.clear();
    range = nullptr;
    for (const auto& [name, value] : values.items()) {
        std::string text;
        if (value.is_boolean())
            text = value.get<bool>() ? "on" : "off";
        else if (value.is_number())
            text = value.dump();
        else if (value.is_string())
            text = value.get<std::string>();
        else {
            error = name + ": a value is a number, true, false or a string";
            return false;
        }
        PropertyEdit edit;
        if (!ParsePropertyEdit(m, name + "=" + text, edit, error, "UTF-8")) {
            range = RangeOf(m, name);
            return false;
        }
        if (edit.property->type == CamPropertyType::Integer && !value.is_number_integer() &&
            !value.is_string()) {
            error = name + ": " + value.dump() + " is not an integer";
            range = RangeOf(m, name);
            return false;
        }
        edits.push_back(edit);
    }
    return true;
}

nlohmann::json TransactionJson(std::u16string_view command, int32_t result, int32_t replyCode,
                               const std::vector<std::u16string>& replyLines, int64_t elapsedMs,
                               bool lost) {
    const char* outcome = "send_failed";
    if (lost)
        outcome = "lost";
    else if (result == TRANSACTION_OK)
        outcome = replyCode == kReplyCodeOk ? "ok" : "reply_code";
    else if (result == TRANSACTION_TIMEOUT)
        outcome = "timeout";
    else if (result == TRANSACTION_CANCELLED)
        outcome = "cancelled";
    nlohmann::json replies = nlohmann::json::array();
    for (const std::u16string& line : replyLines)
        replies.push_back(Utf8(ReplyText(line)));
    return {{"command", Utf8(command)},
            {"result", outcome},
            {"reply_code", replyCode == kNoReplyCode
                               ? nlohmann::json(nullptr)
                               : nlohmann::json(Utf8(ReplyCodeText(replyCode)))},
            {"replies", replies},
            {"elapsed_ms", elapsedMs}};
}

bool CheckExecute(const clCamProperty* property, const std::string& name, bool confirm,
                  std::string& error, nlohmann::json& data) {
    data = nullptr;
    if (!property)
        error = "no property \"" + name + "\" in the definition";
    else if (property->type != CamPropertyType::Execution)
        error = name + " is no Execution property: give it a value with set";
    else if (!property->IsWritable())
        error = name + " is read only";
    else if (property->hasPrompt && !confirm) {
        error = name + " asks before it runs: execute it with confirm: true";
        data = {{"prompt", Texts(property->prompt)}};
    } else
        return true;
    return false;
}
