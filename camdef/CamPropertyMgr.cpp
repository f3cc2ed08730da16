#include "camdef/CamPropertyMgr.h"

#include "camdef/NumberText.h"

#include <iterator>

// References between properties (ValueReference, pIndex, and the Min/Max/Inc references that
// read a value through them) form no cycle in a well-made definition. A definition that does
// loop must not make the getters recurse without end, so every resolution carries the chain of
// records it is resolving:
//   - a record met again while it is being resolved counts with its own stored value, as if
//     it had neither ValueReference nor pIndex (its value field; for the index, the value of
//     an Integer or Float record that way);
//   - a chain is at most kMaxChain records long; a record that would be the next one beyond
//     counts the same way.
// So A -> B -> A yields, for A, the own value of A as seen through B.
struct clCamPropertyMgr::ResolveChain {
    static constexpr int kMaxChain = 64;
    const clCamProperty* records[kMaxChain];
    int count = 0;

    bool Contains(const clCamProperty* p) const {
        for (int i = 0; i < count; ++i)
            if (records[i] == p)
                return true;
        return false;
    }
    // False when p is already on the chain or the chain is full.
    bool Enter(const clCamProperty* p) {
        if (count == kMaxChain || Contains(p))
            return false;
        records[count++] = p;
        return true;
    }
    void Leave() { --count; }
};

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
    auto it = m_properties.find(name);
    return it == m_properties.end() ? nullptr : it->second.get();
}

clCamCommand* clCamPropertyMgr::FindCommand(std::u16string_view name) const {
    auto it = m_commandMap.find(name);
    return it == m_commandMap.end() ? nullptr : it->second;
}

// --- Getters ---------------------------------------------------------------------------------

bool clCamPropertyMgr::IndexOf(const clCamProperty* P, int64_t& index, ResolveChain& chain) const {
    switch (P->type) {
    case CamPropertyType::Integer:
        index = IntegerValueOf(static_cast<const clCamPropertyInteger*>(P), chain);
        return true;
    case CamPropertyType::Bool:
        index = static_cast<const clCamPropertyBool*>(P)->state;
        return true;
    case CamPropertyType::Float:
        index =
            camdef::TruncateToInt64(FloatValueOf(static_cast<const clCamPropertyFloat*>(P), chain));
        return true;
    case CamPropertyType::Selection:
        index = static_cast<const clCamPropertySelection*>(P)->value;
        return true;
    default:
        return false; // Execution and String select no entry
    }
}

template <typename Record, typename Reader>
auto clCamPropertyMgr::EffectiveValue(const Record* p, ResolveChain& chain,
                                      Reader readReference) const -> decltype(p->value) {
    if (!chain.Enter(p))
        return p->value;
    auto result = p->value;
    CamPropertyType type;
    if (!p->valueReference.empty() && readReference(p->valueReference, result, type) == 0) {
        // the referenced value
    } else if (const clCamProperty * P;
               !p->indexPropertyName.empty() && (P = FindProperty(p->indexPropertyName))) {
        // An Execution or String index property selects no entry: the default value.
        int64_t index = 0;
        if (!IndexOf(P, index, chain)) {
            result = p->defaultValue;
        } else {
            auto it = p->indexTable.find(index);
            result = it != p->indexTable.end() ? it->second : p->value;
        }
    } else {
        result = p->value;
    }
    chain.Leave();
    return result;
}

int64_t clCamPropertyMgr::IntegerValueOf(const clCamPropertyInteger* p, ResolveChain& chain) const {
    return EffectiveValue(p, chain,
                          [&](const std::u16string& name, int64_t& v, CamPropertyType& t) {
                              return ValueAsInteger(name, v, t, chain);
                          });
}

double clCamPropertyMgr::FloatValueOf(const clCamPropertyFloat* p, ResolveChain& chain) const {
    return EffectiveValue(p, chain, [&](const std::u16string& name, double& v, CamPropertyType& t) {
        return ValueAsFloat(name, v, t, chain);
    });
}

int clCamPropertyMgr::ValueAsInteger(std::u16string_view name, int64_t& value,
                                     CamPropertyType& type, ResolveChain& chain) const {
    const clCamProperty* P = FindProperty(name);
    if (!P) {
        value = 0;
        type = CamPropertyType::None;
        return 1;
    }
    type = P->type;
    switch (P->type) {
    case CamPropertyType::Integer:
        value = IntegerValueOf(static_cast<const clCamPropertyInteger*>(P), chain);
        break;
    case CamPropertyType::Bool:
        value = static_cast<const clCamPropertyBool*>(P)->state;
        break;
    case CamPropertyType::Float:
        value =
            camdef::TruncateToInt64(FloatValueOf(static_cast<const clCamPropertyFloat*>(P), chain));
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

int clCamPropertyMgr::ValueAsFloat(std::u16string_view name, double& value, CamPropertyType& type,
                                   ResolveChain& chain) const {
    const clCamProperty* P = FindProperty(name);
    if (!P) {
        value = 0.0;
        type = CamPropertyType::None;
        return 1;
    }
    type = P->type;
    switch (P->type) {
    case CamPropertyType::Integer:
        value =
            static_cast<double>(IntegerValueOf(static_cast<const clCamPropertyInteger*>(P), chain));
        break;
    case CamPropertyType::Bool:
        value = static_cast<const clCamPropertyBool*>(P)->state;
        break;
    case CamPropertyType::Float:
        value = FloatValueOf(static_cast<const clCamPropertyFloat*>(P), chain);
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
    ResolveChain chain;
    value = IntegerValueOf(p, chain);
    return 0;
}

int clCamPropertyMgr::GetFloatValue(const clCamPropertyFloat* p, double& value) const {
    if (!p)
        return 1;
    ResolveChain chain;
    value = FloatValueOf(p, chain);
    return 0;
}

int clCamPropertyMgr::GetValueAsInteger(std::u16string_view name, int64_t& value,
                                        CamPropertyType& type) const {
    ResolveChain chain;
    return ValueAsInteger(name, value, type, chain);
}

int clCamPropertyMgr::GetValueAsFloat(std::u16string_view name, double& value,
                                      CamPropertyType& type) const {
    ResolveChain chain;
    return ValueAsFloat(name, value, type, chain);
}

int64_t clCamPropertyMgr::ReferencedBound(const std::u16string& reference, int64_t own,
                                          int64_t otherType) const {
    const clCamProperty* P = FindProperty(reference);
    if (!P)
        return own;
    if (P->type != CamPropertyType::Integer)
        return otherType;
    ResolveChain chain;
    return IntegerValueOf(static_cast<const clCamPropertyInteger*>(P), chain);
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
