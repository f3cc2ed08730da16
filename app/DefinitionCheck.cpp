#include "app/DefinitionCheck.h"

#include "base/MessageTable.h"
#include "camdef/CamPropertyMgr.h"
#include "platform/Text.h"

#include <algorithm>
#include <map>
#include <set>

namespace {

std::string Utf8(std::u16string_view text) {
    return platform::Utf16ToUtf8(text);
}

// Property records by name, so every list comes out in the same order.
std::map<std::u16string, const clCamProperty*> SortedProperties(const clCamPropertyMgr& m) {
    std::map<std::u16string, const clCamProperty*> out;
    for (const auto& [name, record] : m.Properties())
        out.emplace(name, record.get());
    return out;
}

void CheckFormulas(const clCamPropertyMgr& m, std::vector<DefinitionProblem>& out) {
    for (const auto& [name, p] : SortedProperties(m)) {
        if (!p->isCalculator)
            continue;
        double result = 0.0;
        std::string error;
        if (m.TryCalculator(p, result, error) != 0)
            out.push_back({"formula", Utf8(name), "\"" + Utf8(p->formula) + "\": " + error});
    }
}

void CheckReferences(const clCamPropertyMgr& m, std::vector<DefinitionProblem>& out) {
    auto property = [&](const std::string& where, const char* role, const std::u16string& name) {
        if (!name.empty() && !m.FindProperty(name))
            out.push_back({"reference", where,
                           std::string(role) + " \"" + Utf8(name) + "\" names no property"});
    };
    for (const auto& [name, p] : SortedProperties(m)) {
        const std::string where = Utf8(name);
        property(where, "ValueReference", p->valueReference);
        property(where, "pIndex", p->indexPropertyName);
        if (auto* i = PropertyAs<clCamPropertyInteger>(p)) {
            property(where, "MinReference", i->minReference);
            property(where, "MaxReference", i->maxReference);
            property(where, "IncReference", i->incReference);
        }
        for (const auto& [variable, target] : p->variables)
            property(where, ("pVariable " + Utf8(variable)).c_str(), target);
        for (const std::u16string& d : p->dependences)
            property(where, "Dependence", d);
        for (const std::u16string& c : p->commandNames)
            if (!m.FindCommand(c))
                out.push_back(
                    {"reference", where, "TARNCommandName \"" + Utf8(c) + "\" names no command"});
    }
    for (const auto& c : m.CommandList())
        for (const std::u16string& slot : c->slots)
            property(Utf8(c->name), "CommandValue", slot);
    for (const auto& info : m.InformationList())
        for (const std::u16string& name : info->propertyNames)
            property(Utf8(info->name), "Information PropertyName", name);
    for (const std::u16string& name : TreePropertyNames(m))
        property("PropertyIndex", "PropertyName", name);
}

void CheckUnusedCommands(const clCamPropertyMgr& m, std::vector<DefinitionProblem>& out) {
    std::set<std::u16string> used;
    for (const auto& [name, p] : m.Properties())
        used.insert(p->commandNames.begin(), p->commandNames.end());
    std::vector<std::string> unused;
    for (const auto& c : m.CommandList())
        if (!used.count(c->name))
            unused.push_back(Utf8(c->name));
    std::sort(unused.begin(), unused.end());
    for (const std::string& name : unused)
        out.push_back({"unused-command", name, "no property sends this command"});
}

void CheckRanges(const clCamPropertyMgr& m, std::vector<DefinitionProblem>& out) {
    for (const auto& [name, p] : SortedProperties(m)) {
        auto* i = PropertyAs<clCamPropertyInteger>(p);
        if (!i || i->isCalculator)
            continue;
        int64_t min = 0, max = 0;
        m.GetIntegerMin(i, min);
        m.GetIntegerMax(i, max);
        if (min > max)
            out.push_back(
                {"empty-range", Utf8(name),
                 "minimum " + std::to_string(min) + " above maximum " + std::to_string(max)});
    }
}

void CheckEntries(const clCamPropertyMgr& m, std::vector<DefinitionProblem>& out) {
    for (const auto& [name, p] : SortedProperties(m)) {
        auto* s = PropertyAs<clCamPropertySelection>(p);
        if (!s)
            continue;
        std::set<std::u16string> texts;
        for (const std::u16string& t : s->entryTexts)
            if (!texts.insert(t).second)
                out.push_back(
                    {"duplicate-entry", Utf8(name), "entry text \"" + Utf8(t) + "\" given twice"});
        std::set<int64_t> values;
        for (int64_t v : s->entryValues)
            if (!values.insert(v).second)
                out.push_back({"duplicate-entry", Utf8(name),
                               "entry value " + std::to_string(v) + " given twice"});
    }
}

} // namespace

std::vector<std::u16string> TreePropertyNames(const clCamPropertyMgr& manager) {
    // Walked without recursion: children before the next sibling.
    std::vector<std::u16string> names;
    std::vector<const clCamTreeNode*> stack;
    if (manager.TreeRoot())
        stack.push_back(manager.TreeRoot());
    while (!stack.empty()) {
        const clCamTreeNode* node = stack.back();
        stack.pop_back();
        if (!node->isGroup && node->parent)
            names.push_back(node->name);
        if (node->nextSibling)
            stack.push_back(node->nextSibling);
        if (node->firstChild)
            stack.push_back(node->firstChild);
    }
    return names;
}

std::vector<DefinitionProblem> CheckDefinition(const clCamPropertyMgr& manager) {
    std::vector<DefinitionProblem> out;
    CheckFormulas(manager, out);
    CheckReferences(manager, out);
    CheckUnusedCommands(manager, out);
    CheckRanges(manager, out);
    CheckEntries(manager, out);
    return out;
}

int DefinitionLoadFailureMessage(int loadResult) {
    switch (loadResult) {
    case kLoadXmlParseError:
        return MSG_XML_PARSE_ERROR;
    case kLoadNoRoot:
        return MSG_XML_NO_ROOT;
    case kLoadUnsupportedRoot:
        return MSG_XML_NOT_SUPPORTED;
    case kLoadSchemaNotFound:
        return MSG_SCHEMA_NOT_FOUND;
    case kLoadSchemaContext:
        return MSG_FAIL_OPEN_DEFINE_FILE;
    case kLoadSchemaParseError:
        return MSG_SCHEMA_PARSE_ERROR;
    case kLoadValidatorFailed:
        return MSG_FAIL_CREATE_VALIDATOR;
    case kLoadValidationError:
        return MSG_XML_VALIDATION_ERROR;
    default:
        return MSG_UNKNOWN_ERROR;
    }
}
