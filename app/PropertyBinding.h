// A property's binding: how a front-end reads a property's value, checks and stores an edit,
// learns the range and which editor fits. One binding class per property type; the type is
// looked at once, when BindProperty makes the binding, and nowhere after. The window's property
// view (ui/CamPropertyForm.h) and quillon-cli's set (tools/cli/PropertyEdit.h) both edit through
// bindings, so the two store the same value for the same edit.
#pragma once

#include "app/PropValue.h"
#include "camdef/CamProperty.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

class clCamPropertyMgr;

namespace propview {

// The editor a property item gets.
enum class EditorKind {
    Unknown,  // no property of the tree node's name: shows "unknown", never edited
    Slider,   // Integer: an edit of kIntegerChars and a slider over the range
    CheckBox, // Bool: a click toggles and commits
    Button,   // Execution: "(Command)" and an "Execute" button
    Text,     // Float (only kFloatChars) and String
    List,     // Selection: the entry texts
};

// Characters the editors of Integer and Float items accept.
inline constexpr std::u16string_view kIntegerChars = u"-0123456789";
inline constexpr std::u16string_view kFloatChars = u"-.0123456789";

// What an edit came to.
struct EditResult {
    // The property's commands are to go out (the value was stored, or the property is an
    // Execution).
    bool run = false;
    // The editor is to show `shown` instead of what was typed: the value moved onto the
    // Integer's step or range, a String cut to its length, or the stored value of a refused edit.
    bool showChanged = false;
    PropValue shown;
    // Why the edit was refused; empty when it was not.
    std::u16string refusal;
};

// A value as a script gets it: Integer and Selection numbers, Float numbers, Bool true/false,
// String texts; nothing for an Execution.
using ScriptValue = std::variant<std::monostate, bool, int64_t, double, std::u16string>;

class clPropertyBinding {
public:
    virtual ~clPropertyBinding() = default;
    clPropertyBinding(const clPropertyBinding&) = delete;
    clPropertyBinding& operator=(const clPropertyBinding&) = delete;

    // The record, nullptr for an unknown property.
    clCamProperty* Property() const { return m_property; }
    virtual EditorKind Editor() const = 0;
    // Characters an edit of the item accepts (empty: any).
    virtual std::u16string_view ValidChars() const { return {}; }
    // The texts a list offers, in order.
    virtual std::vector<std::u16string> Entries() const { return {}; }

    // The value the editor shows: Integer an int64, Bool an int32 0 or 1, Float a double, String
    // and Selection a text; "(Command)" for an Execution is the editor's own; "unknown" for an
    // unknown property.
    virtual PropValue Value(const clCamPropertyMgr& mgr) const = 0;
    virtual ScriptValue ScriptValueOf(const clCamPropertyMgr& mgr) const = 0;
    // The range an editor offers. False when the property has none to offer (only an Integer
    // has one).
    virtual bool Range(const clCamPropertyMgr& mgr, int64_t& min, int64_t& max) const;

    // Reads a value typed as text (quillon-cli's NAME=VALUE) without storing it. False with a
    // reason (without the property's name) when the text is no value the property takes: an
    // Integer out of its range is refused here, not moved into it. `adjusted` tells that an
    // Integer was moved onto its step.
    virtual bool Parse(const clCamPropertyMgr& mgr, std::u16string_view text, PropValue& value,
                       bool& adjusted, std::string& reason) const = 0;
    // Checks an edit and stores what it comes to. Integers move onto their step and into their
    // range, Strings are cut to their length and refused when they could not go to the camera
    // as typed, a Selection takes an entry by its text or its value (nothing happens without
    // one).
    virtual EditResult Commit(clCamPropertyMgr& mgr, const PropValue& value) const = 0;

protected:
    explicit clPropertyBinding(clCamProperty* property) : m_property(property) {}

private:
    clCamProperty* m_property;
};

// The binding of a property record of any type; nullptr gives the binding of an unknown
// property.
std::unique_ptr<clPropertyBinding> BindProperty(clCamProperty* record);

} // namespace propview
