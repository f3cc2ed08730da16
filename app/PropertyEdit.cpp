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
#include <set>

namespace {

std::string Utf8(std::u16string_view text) {
    return platform::Utf16ToUtf8(text);
}

bool WholeInteger(std::string_view text, int64_t& value) {
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

bool WholeNumber(std::string_view text, double& value) {
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    const auto [end, ec] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty() &&
           std::isfinite(value);
}

std::string Lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

} // namespace

bool CommandArgument(std::string_view argument, std::u16string& text, std::string& reason,
                     bool allowEmpty, const char* codesetName) {
    const std::string codeset = codesetName ? codesetName : platform::LocaleCodeset();
    bool clean = true;
    text = platform::DecodeToUtf16(argument, codeset.c_str(), &clean);
    if (!clean) {
        // What the bytes of the argument do not spell in the codeset became U+FFFD.
        size_t position = 1;
        for (size_t i = 0; i < text.size() && text[i] != 0xFFFD; ++position)
            i += text[i] >= 0xD800 && text[i] <= 0xDBFF ? 2 : 1;
        reason = "character " + std::to_string(position) + " is no text of the current codeset (" +
                 codeset + "); nothing was sent.";
        return false;
    }
    const CommandCheck check = CheckCommandText(text);
    if (check.Fit() || (allowEmpty && check.fault == CommandCheck::kEmpty))
        return true;
    reason = Utf8(CommandCheckText(check));
    return false;
}

const char* PropertyTypeName(CamPropertyType type) {
    switch (type) {
    case CamPropertyType::Integer:
        return "Integer";
    case CamPropertyType::Bool:
        return "Bool";
    case CamPropertyType::Execution:
        return "Execution";
    case CamPropertyType::Float:
        return "Float";
    case CamPropertyType::String:
        return "String";
    case CamPropertyType::Selection:
        return "Selection";
    default:
        return "None";
    }
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
    const std::string value(edit.hasValue ? argument.substr(eq + 1) : std::string_view{});
    clCamProperty* p = manager.FindProperty(decode(name));
    if (!p) {
        error = "no property \"" + name + "\" in the definition";
        return false;
    }
    edit.property = p;
    if (!p->IsWritable()) {
        error = name + " is read only";
        return false;
    }
    if (p->type == CamPropertyType::Execution) {
        if (edit.hasValue) {
            error = name + " is an Execution property: give its name without a value";
            return false;
        }
        return true;
    }
    if (!edit.hasValue) {
        error = name + " needs a value (" + name + "=VALUE)";
        return false;
    }
    switch (p->type) {
    case CamPropertyType::Integer: {
        auto* q = static_cast<clCamPropertyInteger*>(p);
        int64_t v = 0;
        if (!WholeInteger(value, v)) {
            error = name + ": \"" + value + "\" is not an integer";
            return false;
        }
        int64_t min = 0, max = 0, inc = 1;
        manager.GetIntegerMin(q, min);
        manager.GetIntegerMax(q, max);
        manager.GetIntegerInc(q, inc);
        if (v < min || v > max) {
            error = name + ": " + value + " is out of range " + std::to_string(min) + " to " +
                    std::to_string(max);
            return false;
        }
        const IntegerCommit commit = CommitInteger(v, min, max, inc);
        edit.integer = commit.value;
        edit.adjusted = commit.adjusted;
        return true;
    }
    case CamPropertyType::Float:
        // A Float property has no range in a definition; any finite number is taken.
        if (!WholeNumber(value, edit.number)) {
            error = name + ": \"" + value + "\" is not a number";
            return false;
        }
        return true;
    case CamPropertyType::Bool: {
        const std::string v = Lower(value);
        if (v == "1" || v == "on" || v == "true")
            edit.integer = 1;
        else if (v == "0" || v == "off" || v == "false")
            edit.integer = 0;
        else {
            error = name + ": \"" + value + "\" is not 0, 1, on, off, true or false";
            return false;
        }
        return true;
    }
    case CamPropertyType::String: {
        std::string reason;
        if (!CommandArgument(value, edit.text, reason, true, codeset)) {
            error = name + ": " + reason;
            return false;
        }
        std::u16string cut = edit.text;
        auto* q = static_cast<clCamPropertyString*>(p);
        if (CutToLength(cut, q->length)) {
            error = name + ": the text is longer than " + std::to_string(q->length) + " characters";
            return false;
        }
        return true;
    }
    case CamPropertyType::Selection: {
        auto* q = static_cast<clCamPropertySelection*>(p);
        const int entry = FindEntryByText(*q, decode(value));
        int64_t v = 0;
        if (entry >= 0) {
            edit.integer = q->entryValues[static_cast<size_t>(entry)];
            return true;
        }
        if (WholeInteger(value, v) &&
            std::find(q->entryValues.begin(), q->entryValues.end(), v) != q->entryValues.end()) {
            edit.integer = v;
            return true;
        }
        error = name + ": \"" + value + "\" is no entry (";
        for (size_t i = 0; i < q->entryTexts.size(); ++i) {
            error += i ? ", " : "";
            error += Utf8(q->entryTexts[i]);
            if (i < q->entryValues.size())
                error += "=" + std::to_string(q->entryValues[i]);
        }
        error += ")";
        return false;
    }
    default:
        error = name + " cannot be set";
        return false;
    }
}

void StorePropertyEdit(clCamPropertyMgr& manager, const PropertyEdit& edit) {
    clCamProperty* p = edit.property;
    switch (p ? p->type : CamPropertyType::None) {
    case CamPropertyType::Integer:
        manager.SetIntegerValue(static_cast<clCamPropertyInteger*>(p), edit.integer);
        break;
    case CamPropertyType::Bool:
        manager.SetBoolValue(static_cast<clCamPropertyBool*>(p), edit.integer ? 1 : 0);
        break;
    case CamPropertyType::Float:
        manager.SetFloatValue(static_cast<clCamPropertyFloat*>(p), edit.number);
        break;
    case CamPropertyType::String:
        manager.SetStringValue(static_cast<clCamPropertyString*>(p), edit.text);
        break;
    case CamPropertyType::Selection:
        manager.SetSelectionValue(static_cast<clCamPropertySelection*>(p), edit.integer);
        break;
    default:
        break;
    }
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
    switch (p->type) {
    case CamPropertyType::Integer: {
        int64_t v = 0;
        manager.GetIntegerValue(static_cast<const clCamPropertyInteger*>(p), v);
        out["value"] = v;
        break;
    }
    case CamPropertyType::Float: {
        double v = 0.0;
        manager.GetFloatValue(static_cast<const clCamPropertyFloat*>(p), v);
        out["value"] = v;
        break;
    }
    case CamPropertyType::Bool:
        out["value"] = static_cast<const clCamPropertyBool*>(p)->state != 0;
        break;
    case CamPropertyType::Selection: {
        auto* s = static_cast<const clCamPropertySelection*>(p);
        out["value"] = s->value;
        out["entry"] = Utf8(s->ValueText());
        break;
    }
    case CamPropertyType::String:
        out["value"] = Utf8(static_cast<const clCamPropertyString*>(p)->value);
        break;
    default:
        out["value"] = nullptr;
        break;
    }
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
