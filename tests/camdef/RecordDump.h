// A text rendering of every record a manager holds, in a stable order, to compare loads.
#pragma once

#include "camdef/CamPropertyMgr.h"
#include "platform/Text.h"

#include <algorithm>
#include <map>
#include <sstream>
#include <string>

inline std::string DumpText(const std::u16string& s) {
    return "\"" + platform::Utf16ToUtf8(s) + "\"";
}

inline std::string DumpLang(const clMultiLangString& m) {
    std::string out = "{";
    auto texts = m.Texts();
    std::map<std::u16string, std::u16string> sorted(texts.begin(), texts.end());
    for (const auto& [lang, text] : sorted)
        out += DumpText(lang) + ":" + DumpText(text) + " ";
    return out + "}";
}

inline std::string DumpList(const std::vector<std::u16string>& list) {
    std::string out = "[";
    for (const auto& s : list)
        out += DumpText(s) + " ";
    return out + "]";
}

template <class Map>
std::string DumpTable(const Map& table) {
    std::map<int64_t, typename Map::mapped_type> sorted(table.begin(), table.end());
    std::ostringstream out;
    for (const auto& [k, v] : sorted)
        out << k << "=" << v << " ";
    return out.str();
}

inline std::string DumpRecords(const clCamPropertyMgr& mgr) {
    std::ostringstream out;
    out << "loaded " << mgr.IsLoaded() << "\n";
    std::map<std::u16string, const clCamProperty*> sorted;
    for (const auto& [name, record] : mgr.Properties())
        sorted[name] = record.get();
    for (const auto& [name, p] : sorted) {
        out << DumpText(name) << " type " << static_cast<int>(p->type) << " title "
            << DumpLang(p->title) << " note " << DumpLang(p->note) << " access " << p->accessMode
            << " unit " << DumpText(p->unit) << " commands " << DumpList(p->commandNames)
            << " prompt " << p->hasPrompt << DumpLang(p->prompt) << " index "
            << DumpText(p->indexPropertyName) << " ref " << DumpText(p->valueReference) << " calc "
            << p->isCalculator << " formula " << DumpText(p->formula) << " deps "
            << DumpList(p->dependences) << " dependents " << DumpList(p->dependents) << " vars ";
        for (const auto& [v, n] : p->variables)
            out << DumpText(v) << "=" << DumpText(n) << " ";
        if (auto* i = PropertyAs<clCamPropertyInteger>(p))
            out << "int " << i->min << " " << i->max << " " << i->inc << " " << i->value << " "
                << i->defaultValue << " " << DumpTable(i->indexTable) << DumpText(i->minReference)
                << DumpText(i->maxReference) << DumpText(i->incReference) << " " << i->hasRange;
        if (auto* b = PropertyAs<clCamPropertyBool>(p))
            out << "bool " << b->onValue << " " << b->offValue << " " << b->state;
        if (auto* f = PropertyAs<clCamPropertyFloat>(p))
            out << "float " << f->value << " " << f->defaultValue << " "
                << DumpTable(f->indexTable);
        if (auto* s = PropertyAs<clCamPropertyString>(p))
            out << "string " << DumpText(s->value) << " " << s->length;
        if (auto* s = PropertyAs<clCamPropertySelection>(p)) {
            out << "selection " << s->value << " " << DumpList(s->entryTexts);
            for (int64_t v : s->entryValues)
                out << v << " ";
        }
        out << "\n";
    }
    for (const auto& c : mgr.CommandList())
        out << "command " << DumpText(c->name) << " " << c->style << " " << DumpList(c->slots)
            << " " << c->exported << " mapped " << (mgr.FindCommand(c->name) == c.get()) << "\n";
    for (const auto& i : mgr.InformationList())
        out << "information " << DumpText(i->name) << " " << DumpText(i->keyword) << " " << i->style
            << " " << DumpText(i->templateText) << " " << DumpList(i->propertyNames) << "\n";
    // The tree in preorder, with the parent links checked on the way.
    std::vector<const clCamTreeNode*> stack;
    if (mgr.TreeRoot())
        stack.push_back(mgr.TreeRoot());
    while (!stack.empty()) {
        const clCamTreeNode* n = stack.back();
        stack.pop_back();
        out << std::string(static_cast<size_t>(n->depth) * 2, ' ') << DumpText(n->name) << " "
            << n->isGroup << " " << DumpLang(n->title)
            << (n->parent && n->parent->depth + 1 != n->depth ? " BAD DEPTH" : "") << "\n";
        std::vector<const clCamTreeNode*> children;
        for (const clCamTreeNode* c = n->firstChild; c; c = c->nextSibling)
            children.push_back(c);
        std::reverse(children.begin(), children.end());
        stack.insert(stack.end(), children.begin(), children.end());
    }
    return out.str();
}
