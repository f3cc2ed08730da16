#include "tools/cli/PropertyEdit.h"

#include "camdef/CamPropertyMgr.h"
#include "camdef/PropertyCommit.h"
#include "comm/CommandCheck.h"
#include "platform/Text.h"

#include <algorithm>
#include <iterator>
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
