// Property edits from the command line ("NAME=VALUE" or a bare "NAME"), checked and stored as
// the property view commits them, and property values in text and JSON form.
#pragma once

#include "camdef/CamProperty.h"
#include "ui/PropertyBinding.h"

#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

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
