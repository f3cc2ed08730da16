// Property edits from the command line ("NAME=VALUE" or a bare "NAME"), checked and stored as
// the property view commits them, and property values in text and JSON form.
#pragma once

#include "app/PropertyBinding.h"
#include "camdef/CamProperty.h"

#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

class clCamPropertyMgr;

struct PropertyEdit {
    clCamProperty* property = nullptr;
    std::shared_ptr<const propview::clPropertyBinding> binding;
    bool hasValue = false;
    // What is stored: Integer an int64, Selection the entry's value, Bool 0 off or 1 on, Float a
    // double, String a text.
    PropValue value;
    bool adjusted = false; // an Integer moved onto its step
};

// A text from the command line decoded from its codeset (null: the locale's). False with a
// one-line reason naming the position of the first character the bytes do not spell.
bool DecodeArgument(std::string_view argument, std::u16string& text, std::string& reason,
                    const char* codeset = nullptr);

// A text from the command line that goes to the camera, decoded from the locale codeset and
// checked as every command is (CheckCommandText). False with a one-line reason naming the
// character's position when the bytes are no text of the codeset, or when the text holds a
// control character or one the codeset cannot hold. An empty text is refused unless
// allowEmpty (a String value may be empty; a command may not).
// codeset: that of the argument's bytes (null: the locale's; the scripting service's texts are
// "UTF-8" whatever the locale).
bool CommandArgument(std::string_view argument, std::u16string& text, std::string& reason,
                     bool allowEmpty = false, const char* codeset = nullptr);

// Reads one argument against the loaded definition. False with a one-line reason naming the
// property and what is wrong (unknown name, read only, wrong type, out of range with the
// range, too long, not an entry, missing or superfluous value, a String value that could not
// go to the camera as typed).
bool ParsePropertyEdit(const clCamPropertyMgr& manager, std::string_view argument,
                       PropertyEdit& edit, std::string& error, const char* codeset = nullptr);

// Stores the value through the property's binding (dependent calculators follow).
void StorePropertyEdit(clCamPropertyMgr& manager, const PropertyEdit& edit);

// The value of a property as the tool prints it (Bool "on"/"off", Selection its entry text).
std::string PropertyValueText(const clCamPropertyMgr& manager, const clCamProperty* property);
// {"property": name, "type": ..., "value": ...} with a number, bool or text value (Selection
// adds "entry").
nlohmann::json PropertyValueJson(const clCamPropertyMgr& manager, const clCamProperty* property);

const char* PropertyTypeName(CamPropertyType type);
const char* AccessName(int32_t mode);

// A value of PropertyValueJson as scripts get it: Integer and Float numbers, Bool true/false,
// String text, Selection the entry's text.
nlohmann::json PlainValue(const nlohmann::json& value);

// Properties in the order of the property tree, then those outside it by name.
std::vector<const clCamProperty*> TreeOrder(const clCamPropertyMgr& m);

// {"ja": ..., "en": ...}: the texts a bilingual string has.
nlohmann::json Texts(const clMultiLangString& s);

// What a script learns of a property: name, type, access, unit, range, titles, note, commands,
// entries (and length, formula, value where the property has them).
nlohmann::json DescribeProperty(const clCamPropertyMgr& m, const clCamProperty* property);

// A script's values object ({name: value}) read as quillon-cli set reads NAME=VALUE: Bool
// true/false, numbers, texts. False with a one-line reason, and an Integer's range in range
// ({name, min, max, inc}; else null).
bool ParseScriptValues(const clCamPropertyMgr& m, const nlohmann::json& values,
                       std::vector<PropertyEdit>& edits, std::string& error, nlohmann::json& range);

// A transaction as a script learns of it: {command, result ("ok", "reply_code", "timeout",
// "send_failed", "cancelled", "lost"), reply_code (null when none was read), replies (without
// their '>'), elapsed_ms}.
nlohmann::json TransactionJson(std::u16string_view command, int32_t result, int32_t replyCode,
                               const std::vector<std::u16string>& replyLines, int64_t elapsedMs,
                               bool lost);

// Whether a script may execute property (an Execution property it may write, confirmed when
// it asks first). False with the reason, and with the prompt's texts ({prompt: {ja, en}}) in
// data when it asks.
bool CheckExecute(const clCamProperty* property, const std::string& name, bool confirm,
                  std::string& error, nlohmann::json& data);
