#include "camdef/CamPropertyMgr.h"

#include "camdef/NumberText.h"

#include <iterator>
#include <unordered_set>
#include <vector>

// References between properties (ValueReference, pIndex, and the Min/Max/Inc references that
// read a value through them) form no cycle in a well-made definition, and a chain of them may
// be as long as the definition is. A chain is followed to its end without recursion; a
// definition that does loop must still end, so a record met again while it is being resolved
// counts with its own stored value, as if it had neither ValueReference nor pIndex. So
// A -> B -> A yields, for A, the own value of A as seen through B.
clCamPropertyMgr::clCamPropertyMgr()
    : m_properties(kNameMapBuckets), m_commandMap(kNameMapBuckets) {}

clCamPropertyMgr::~clCamPropertyMgr() {
    Clear();
}

clCamPropertyMgr::RecordName clCamPropertyMgr::NameOf(const clCamProperty* record) const {
    uint32_t index = 0;
    for (const auto& entry : m_properties) {
        if (entry.second.get() == record)
            return {m_loadGeneration, index};
        ++index;
    }
    return {};
}

const clCamProperty* clCamPropertyMgr::RecordOf(uint64_t generation, uint32_t index) const {
    if (generation != m_loadGeneration || index >= m_properties.size())
        return nullptr;
    auto it = m_properties.begin();
    std::advance(it, index);
    return it->second.get();
}

clCamProperty* clCamPropertyMgr::FindProperty(std::u16string_view name) const {
    if (name.empty())
        return nullptr; // an empty name (no reference, no property name) never matches
    auto it = m_properties.find(name);
    return it == m_properties.end() ? nullptr : it->second.get();
}

clCamCommand* clCamPropertyMgr::FindCommand(std::u16string_view name) const {
    if (name.empty())
        return nullptr;
    auto it = m_commandMap.find(name);
    return it == m_commandMap.end() ? nullptr : it->second;
}

// --- Getters ---------------------------------------------------------------------------------

auto clCamPropertyMgr::Resolve(const clCamProperty* start) const -> ChainValue {
    enum class Link { kReference, kIndex };
    struct Step {
        const clCamProperty* record;
        Link link;
    };
    auto own = [](const clCamProperty* p, bool useDefault = false) {
        ChainValue v;
        if (p->type == CamPropertyType::Float) {
            const auto* f = static_cast<const clCamPropertyFloat*>(p);
            v.isFloat = true;
            v.real = useDefault ? f->defaultValue : f->value;
        } else {
            const auto* i = static_cast<const clCamPropertyInteger*>(p);
            v.integer = useDefault ? i->defaultValue : i->value;
        }
        return v;
    };
    auto isNumber = [](const clCamProperty* p) {
        return p->type == CamPropertyType::Integer || p->type == CamPropertyType::Float;
    };
    auto plain = [](const clCamProperty* p) {
        // Bool and Selection give their state or value; Execution and String count as 0 when
        // read as a value.
        ChainValue v;
        if (p->type == CamPropertyType::Bool)
            v.integer = static_cast<const clCamPropertyBool*>(p)->state;
        else if (p->type == CamPropertyType::Selection)
            v.integer = static_cast<const clCamPropertySelection*>(p)->value;
        return v;
    };

    // Down the chain: every record passed on the way and how it reads the next one.
    std::vector<Step> path;
    std::unordered_set<const clCamProperty*> onPath;
    const clCamProperty* p = start;
    ChainValue value;
    for (;;) {
        if (!onPath.insert(p).second) {
            value = own(p); // met again: its own value ends the loop
            break;
        }
        const std::u16string& reference = p->valueReference;
        const std::u16string& indexName =
            p->type == CamPropertyType::Float
                ? static_cast<const clCamPropertyFloat*>(p)->indexPropertyName
                : static_cast<const clCamPropertyInteger*>(p)->indexPropertyName;
        if (const clCamProperty* next = FindProperty(reference)) {
            path.push_back({p, Link::kReference});
            if (!isNumber(next)) {
                value = plain(next);
                break;
            }
            p = next;
        } else if (const clCamProperty* index = FindProperty(indexName)) {
            if (index->type == CamPropertyType::Execution ||
                index->type == CamPropertyType::String) {
                value = own(p, true); // selects no entry: the default value
                break;
            }
            path.push_back({p, Link::kIndex});
            if (!isNumber(index)) {
                value = plain(index);
                break;
            }
            p = index;
        } else {
            value = own(p);
            break;
        }
    }
    // Back up the chain: each record turns what it read into its own value.
    for (auto step = path.rbegin(); step != path.rend(); ++step) {
        const clCamProperty* r = step->record;
        const bool isFloat = r->type == CamPropertyType::Float;
        if (step->link == Link::kReference) {
            ChainValue v;
            v.isFloat = isFloat;
            if (isFloat)
                v.real = value.isFloat ? value.real : static_cast<double>(value.integer);
            else
                v.integer = value.isFloat ? camdef::TruncateToInt64(value.real) : value.integer;
            value = v;
            continue;
        }
        const int64_t index = value.isFloat ? camdef::TruncateToInt64(value.real) : value.integer;
        ChainValue v;
        v.isFloat = isFloat;
        if (isFloat) {
            const auto* f = static_cast<const clCamPropertyFloat*>(r);
            auto it = f->indexTable.find(index);
            v.real = it != f->indexTable.end() ? it->second : f->value;
        } else {
            const auto* i = static_cast<const clCamPropertyInteger*>(r);
            auto it = i->indexTable.find(index);
            v.integer = it != i->indexTable.end() ? it->second : i->value;
        }
        value = v;
    }
    return value;
}

int64_t clCamPropertyMgr::IntegerValueOf(const clCamPropertyInteger* p) const {
    return Resolve(p).integer;
}

double clCamPropertyMgr::FloatValueOf(const clCamPropertyFloat* p) const {
    return Resolve(p).real;
}

int clCamPropertyMgr::ValueAsInteger(std::u16string_view name, int64_t& value,
                                     CamPropertyType& type) const {
    const clCamProperty* P = FindProperty(name);
    if (!P) {
        value = 0;
        type = CamPropertyType::None;
        return 1;
    }
    type = P->type;
    switch (P->type) {
    case CamPropertyType::Integer:
        value = IntegerValueOf(static_cast<const clCamPropertyInteger*>(P));
        break;
    case CamPropertyType::Bool:
        value = static_cast<const clCamPropertyBool*>(P)->state;
        break;
    case CamPropertyType::Float:
        value = camdef::TruncateToInt64(FloatValueOf(static_cast<const clCamPropertyFloat*>(P)));
        break;
    case CamPropertyType::Selection:
        value = static_cast<const clCamPropertySelection*>(P)->value;
        break;
    default:
        value = 0;
        break;
    }
    return 0;
}

int clCamPropertyMgr::ValueAsFloat(std::u16string_view name, double& value,
                                   CamPropertyType& type) const {
    const clCamProperty* P = FindProperty(name);
    if (!P) {
        value = 0.0;
        type = CamPropertyType::None;
        return 1;
    }
    type = P->type;
    switch (P->type) {
    case CamPropertyType::Integer:
        value = static_cast<double>(IntegerValueOf(static_cast<const clCamPropertyInteger*>(P)));
        break;
    case CamPropertyType::Bool:
        value = static_cast<const clCamPropertyBool*>(P)->state;
        break;
    case CamPropertyType::Float:
        value = FloatValueOf(static_cast<const clCamPropertyFloat*>(P));
        break;
    case CamPropertyType::Selection:
        value = static_cast<double>(static_cast<const clCamPropertySelection*>(P)->value);
        break;
    default:
        value = 0.0;
        break;
    }
    return 0;
}

int clCamPropertyMgr::GetIntegerValue(const clCamPropertyInteger* p, int64_t& value) const {
    if (!p)
        return 1;
    value = IntegerValueOf(p);
    return 0;
}

int clCamPropertyMgr::GetFloatValue(const clCamPropertyFloat* p, double& value) const {
    if (!p)
        return 1;
    value = FloatValueOf(p);
    return 0;
}

int clCamPropertyMgr::GetValueAsInteger(std::u16string_view name, int64_t& value,
                                        CamPropertyType& type) const {
    return ValueAsInteger(name, value, type);
}

int clCamPropertyMgr::GetValueAsFloat(std::u16string_view name, double& value,
                                      CamPropertyType& type) const {
    return ValueAsFloat(name, value, type);
}

int64_t clCamPropertyMgr::ReferencedBound(const std::u16string& reference, int64_t own,
                                          int64_t otherType) const {
    const clCamProperty* P = FindProperty(reference);
    if (!P)
        return own;
    if (P->type != CamPropertyType::Integer)
        return otherType;
    return IntegerValueOf(static_cast<const clCamPropertyInteger*>(P));
}

int clCamPropertyMgr::GetIntegerMin(const clCamPropertyInteger* p, int64_t& value) const {
    if (!p)
        return 1;
    value = ReferencedBound(p->minReference, p->min, 0);
    return 0;
}

int clCamPropertyMgr::GetIntegerMax(const clCamPropertyInteger* p, int64_t& value) const {
    if (!p)
        return 1;
    value = ReferencedBound(p->maxReference, p->max, 0);
    return 0;
}

int clCamPropertyMgr::GetIntegerInc(const clCamPropertyInteger* p, int64_t& value) const {
    if (!p)
        return 1;
    value = ReferencedBound(p->incReference, p->inc, 1);
    return 0;
}

// --- Setters ---------------------------------------------------------------------------------

int clCamPropertyMgr::SetIntegerValue(clCamPropertyInteger* p, int64_t value) {
    if (!p)
        return 1;
    p->value = value;
    return RecalculateDependents(p);
}

int clCamPropertyMgr::SetBoolValue(clCamPropertyBool* p, int32_t state) {
    if (!p)
        return 1;
    p->state = state;
    return RecalculateDependents(p);
}

int clCamPropertyMgr::SetFloatValue(clCamPropertyFloat* p, double value) {
    if (!p)
        return 1;
    p->value = value;
    return RecalculateDependents(p);
}

int clCamPropertyMgr::SetStringValue(clCamPropertyString* p, std::u16string value) {
    if (!p)
        return 1;
    p->value = std::move(value);
    return RecalculateDependents(p);
}

int clCamPropertyMgr::SetSelectionValue(clCamPropertySelection* p, int64_t value) {
    if (!p)
        return 1;
    p->value = value;
    return RecalculateDependents(p);
}

int clCamPropertyMgr::RecalculateDependents(const clCamProperty* p) {
    if (!p)
        return 1;
    for (const std::u16string& name : p->dependents) {
        clCamProperty* dependent = FindProperty(name);
        if (!dependent || !dependent->isCalculator)
            continue;
        if (auto* i = PropertyAs<clCamPropertyInteger>(dependent))
            EvaluateIntegerCalculator(i);
        else if (auto* f = PropertyAs<clCamPropertyFloat>(dependent))
            EvaluateFloatCalculator(f);
    }
    return 0;
}
