#include "app/PropertyBinding.h"

#include "camdef/CamPropertyMgr.h"
#include "camdef/PropertyCommit.h"
#include "comm/CommandCheck.h"
#include "platform/Text.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace propview {

namespace {

// Whole texts only: an optional plus, then the number and nothing after it.
template <typename T, typename... Format>
bool WholeText(std::u16string_view text, T& value, Format... format) {
    std::string bytes = platform::Utf16ToUtf8(text);
    std::string_view s = bytes;
    if (!s.empty() && s.front() == '+')
        s.remove_prefix(1);
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, format...);
    return ec == std::errc() && end == s.data() + s.size() && !s.empty();
}

// An edit whose property's commands go out.
EditResult Run() {
    EditResult result;
    result.run = true;
    return result;
}

std::string Quoted(std::u16string_view text) {
    return "\"" + platform::Utf16ToUtf8(text) + "\"";
}

class clUnknownBinding final : public clPropertyBinding {
public:
    clUnknownBinding() : clPropertyBinding(nullptr) {}
    EditorKind Editor() const override { return EditorKind::Unknown; }
    PropValue Value(const clCamPropertyMgr&) const override {
        return PropValue(std::u16string(u"unknown"));
    }
    ScriptValue ScriptValueOf(const clCamPropertyMgr&) const override { return {}; }
    bool Parse(const clCamPropertyMgr&, std::u16string_view, PropValue&, bool&,
               std::string& reason) const override {
        reason = "cannot be set";
        return false;
    }
    EditResult Commit(clCamPropertyMgr&, const PropValue&) const override { return {}; }
};

// The binding of one record type.
template <typename Record>
class clTypedBinding : public clPropertyBinding {
public:
    explicit clTypedBinding(Record* record) : clPropertyBinding(record), m_record(record) {}

protected:
    Record* m_record;
};

class clIntegerBinding final : public clTypedBinding<clCamPropertyInteger> {
public:
    using clTypedBinding::clTypedBinding;
    EditorKind Editor() const override { return EditorKind::Slider; }
    std::u16string_view ValidChars() const override { return kIntegerChars; }
    PropValue Value(const clCamPropertyMgr& mgr) const override {
        int64_t value = 0;
        mgr.GetIntegerValue(m_record, value);
        return PropValue(value);
    }
    ScriptValue ScriptValueOf(const clCamPropertyMgr& mgr) const override {
        return propvalue::AsInt64(Value(mgr));
    }
    bool Range(const clCamPropertyMgr& mgr, int64_t& min, int64_t& max) const override {
        mgr.GetIntegerMin(m_record, min);
        mgr.GetIntegerMax(m_record, max);
        return true;
    }
    bool Parse(const clCamPropertyMgr& mgr, std::u16string_view text, PropValue& value,
               bool& adjusted, std::string& reason) const override {
        int64_t v = 0;
        if (!WholeText(text, v)) {
            reason = Quoted(text) + " is not an integer";
            return false;
        }
        int64_t min = 0;
        int64_t max = 0;
        Range(mgr, min, max);
        if (v < min || v > max) {
            reason = platform::Utf16ToUtf8(text) + " is out of range " + std::to_string(min) +
                     " to " + std::to_string(max);
            return false;
        }
        const IntegerCommit commit = Step(mgr, v);
        value = PropValue(commit.value);
        adjusted = commit.adjusted;
        return true;
    }
    EditResult Commit(clCamPropertyMgr& mgr, const PropValue& value) const override {
        const IntegerCommit commit = Step(mgr, propvalue::AsInt64(value));
        mgr.SetIntegerValue(m_record, commit.value);
        EditResult result;
        result.run = true;
        result.showChanged = commit.adjusted;
        result.shown = PropValue(commit.value);
        return result;
    }

private:
    IntegerCommit Step(const clCamPropertyMgr& mgr, int64_t v) const {
        int64_t min = 0;
        int64_t max = 0;
        int64_t inc = 1;
        Range(mgr, min, max);
        mgr.GetIntegerInc(m_record, inc);
        return CommitInteger(v, min, max, inc);
    }
};

class clBoolBinding final : public clTypedBinding<clCamPropertyBool> {
public:
    using clTypedBinding::clTypedBinding;
    EditorKind Editor() const override { return EditorKind::CheckBox; }
    PropValue Value(const clCamPropertyMgr&) const override {
        return PropValue(int32_t{m_record->state != 0 ? 1 : 0});
    }
    ScriptValue ScriptValueOf(const clCamPropertyMgr&) const override {
        return m_record->state != 0;
    }
    bool Parse(const clCamPropertyMgr&, std::u16string_view text, PropValue& value, bool&,
               std::string& reason) const override {
        std::u16string v(text);
        std::transform(v.begin(), v.end(), v.begin(), [](char16_t c) {
            return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
        });
        if (v == u"1" || v == u"on" || v == u"true") {
            value = PropValue(int32_t{1});
        } else if (v == u"0" || v == u"off" || v == u"false") {
            value = PropValue(int32_t{0});
        } else {
            reason = Quoted(text) + " is not 0, 1, on, off, true or false";
            return false;
        }
        return true;
    }
    EditResult Commit(clCamPropertyMgr& mgr, const PropValue& value) const override {
        mgr.SetBoolValue(m_record, propvalue::AsInt64(value) != 0 ? 1 : 0);
        return Run();
    }
};

class clExecutionBinding final : public clTypedBinding<clCamPropertyExecution> {
public:
    using clTypedBinding::clTypedBinding;
    EditorKind Editor() const override { return EditorKind::Button; }
    PropValue Value(const clCamPropertyMgr&) const override { return {}; }
    ScriptValue ScriptValueOf(const clCamPropertyMgr&) const override { return {}; }
    bool Parse(const clCamPropertyMgr&, std::u16string_view, PropValue&, bool&,
               std::string& reason) const override {
        reason = "takes no value";
        return false;
    }
    EditResult Commit(clCamPropertyMgr&, const PropValue&) const override { return Run(); }
};

class clFloatBinding final : public clTypedBinding<clCamPropertyFloat> {
public:
    using clTypedBinding::clTypedBinding;
    EditorKind Editor() const override { return EditorKind::Text; }
    std::u16string_view ValidChars() const override { return kFloatChars; }
    PropValue Value(const clCamPropertyMgr& mgr) const override {
        double value = 0.0;
        mgr.GetFloatValue(m_record, value);
        return PropValue(value);
    }
    ScriptValue ScriptValueOf(const clCamPropertyMgr& mgr) const override {
        return propvalue::AsDouble(Value(mgr));
    }
    // A Float property has no range in a definition; any finite number is taken.
    bool Parse(const clCamPropertyMgr&, std::u16string_view text, PropValue& value, bool&,
               std::string& reason) const override {
        double v = 0.0;
        if (!WholeText(text, v, std::chars_format::general) || !std::isfinite(v)) {
            reason = Quoted(text) + " is not a number";
            return false;
        }
        value = PropValue(v);
        return true;
    }
    EditResult Commit(clCamPropertyMgr& mgr, const PropValue& value) const override {
        mgr.SetFloatValue(m_record, propvalue::AsDouble(value));
        return Run();
    }
};

class clStringBinding final : public clTypedBinding<clCamPropertyString> {
public:
    using clTypedBinding::clTypedBinding;
    EditorKind Editor() const override { return EditorKind::Text; }
    PropValue Value(const clCamPropertyMgr&) const override { return PropValue(m_record->value); }
    ScriptValue ScriptValueOf(const clCamPropertyMgr&) const override { return m_record->value; }
    bool Parse(const clCamPropertyMgr&, std::u16string_view text, PropValue& value, bool&,
               std::string& reason) const override {
        if (const CommandCheck check = CheckCommandText(text);
            !check.Fit() && check.fault != CommandCheck::kEmpty) {
            reason = platform::Utf16ToUtf8(CommandCheckText(check));
            return false;
        }
        std::u16string cut(text);
        if (CutToLength(cut, m_record->length)) {
            reason = "the text is longer than " + std::to_string(m_record->length) + " characters";
            return false;
        }
        value = PropValue(std::u16string(text));
        return true;
    }
    EditResult Commit(clCamPropertyMgr& mgr, const PropValue& value) const override {
        EditResult result;
        std::u16string text = propvalue::Format(value);
        if (CutToLength(text, m_record->length)) {
            result.showChanged = true;
            result.shown = PropValue(text);
        }
        // A text that would not go out as typed is neither stored nor sent; the editor shows
        // the stored value again.
        if (const CommandCheck check = CheckCommandText(text);
            !check.Fit() && check.fault != CommandCheck::kEmpty) {
            result.showChanged = true;
            result.shown = PropValue(m_record->value);
            result.refusal = m_record->name + u": " + CommandCheckText(check);
            return result;
        }
        // Stores the text and re-evaluates the calculators that depend on it.
        mgr.SetStringValue(m_record, std::move(text));
        result.run = true;
        return result;
    }
};

class clSelectionBinding final : public clTypedBinding<clCamPropertySelection> {
public:
    using clTypedBinding::clTypedBinding;
    EditorKind Editor() const override { return EditorKind::List; }
    std::vector<std::u16string> Entries() const override { return m_record->entryTexts; }
    PropValue Value(const clCamPropertyMgr&) const override {
        return PropValue(m_record->ValueText());
    }
    ScriptValue ScriptValueOf(const clCamPropertyMgr&) const override { return m_record->value; }
    // An entry by its text, else by its value.
    bool Parse(const clCamPropertyMgr&, std::u16string_view text, PropValue& value, bool&,
               std::string& reason) const override {
        const auto& values = m_record->entryValues;
        if (const int entry = FindEntryByText(*m_record, text); entry >= 0) {
            value = PropValue(values[static_cast<size_t>(entry)]);
            return true;
        }
        if (int64_t v = 0;
            WholeText(text, v) && std::find(values.begin(), values.end(), v) != values.end()) {
            value = PropValue(v);
            return true;
        }
        reason = Quoted(text) + " is no entry (";
        for (size_t i = 0; i < m_record->entryTexts.size(); ++i) {
            reason += i ? ", " : "";
            reason += platform::Utf16ToUtf8(m_record->entryTexts[i]);
            if (i < values.size())
                reason += "=" + std::to_string(values[i]);
        }
        reason += ")";
        return false;
    }
    // A text names the first entry of that text; a number is an entry's value.
    EditResult Commit(clCamPropertyMgr& mgr, const PropValue& value) const override {
        int64_t entryValue = propvalue::AsInt64(value);
        if (!propvalue::IsInteger(value)) {
            const int entry = FindEntryByText(*m_record, propvalue::Format(value));
            if (entry < 0)
                return {}; // no entry of that text: nothing is stored or sent
            entryValue = m_record->entryValues[static_cast<size_t>(entry)];
        }
        mgr.SetSelectionValue(m_record, entryValue);
        return Run();
    }
};

} // namespace

bool clPropertyBinding::Range(const clCamPropertyMgr&, int64_t&, int64_t&) const {
    return false;
}

std::unique_ptr<clPropertyBinding> BindProperty(clCamProperty* record) {
    if (auto* p = PropertyAs<clCamPropertyInteger>(record))
        return std::make_unique<clIntegerBinding>(p);
    if (auto* p = PropertyAs<clCamPropertyBool>(record))
        return std::make_unique<clBoolBinding>(p);
    if (auto* p = PropertyAs<clCamPropertyExecution>(record))
        return std::make_unique<clExecutionBinding>(p);
    if (auto* p = PropertyAs<clCamPropertyFloat>(record))
        return std::make_unique<clFloatBinding>(p);
    if (auto* p = PropertyAs<clCamPropertyString>(record))
        return std::make_unique<clStringBinding>(p);
    if (auto* p = PropertyAs<clCamPropertySelection>(record))
        return std::make_unique<clSelectionBinding>(p);
    return std::make_unique<clUnknownBinding>();
}

} // namespace propview
