// Records of one loaded camera definition: properties of six kinds, commands, information
// replies and the property tree. Plain records without virtual operations; the type field of a
// property tells which kind it is. The property manager owns every record it builds.
#pragma once

#include "camdef/MultiLangString.h"

#include <cstdint>
#include <memory>
#include <memory_resource>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

enum class CamPropertyType : int32_t {
    None = -1, // "no property of that name" in the answers of the value lookups
    Integer = 0,
    Bool = 1,
    Execution = 2,
    Float = 3,
    String = 4,
    Selection = 5,
};

// Access modes of a property.
constexpr int32_t kAccessWriteOnly = 0; // "WO"
constexpr int32_t kAccessReadOnly = 1;  // "RO"
constexpr int32_t kAccessReadWrite = 2; // "RW"

// A property may be written when its mode is write only or read and write.
constexpr bool IsWritableAccess(int32_t mode) {
    return (mode & ~2) == 0;
}

// Styles of a TARNCommand (how values follow the command word).
constexpr int32_t kMessageStyleUnknown = -1;
constexpr int32_t kMessageStyleCommandOnly = 0;
constexpr int32_t kMessageStyleNoSeparate = 1;
constexpr int32_t kMessageStyleSpaceAndComma = 2;

// Styles of an Information reply (kind of value read after the keyword).
constexpr int32_t kInformationStyleUnknown = -1;
constexpr int32_t kInformationStyleSingleInteger = 0;
constexpr int32_t kInformationStyleTwoIntegers = 1;
constexpr int32_t kInformationStyleSingleFloat = 2;
constexpr int32_t kInformationStyleSingleString = 3;

// Bucket counts the hash maps start with. A value table takes its buckets with its first entry,
// so the many properties without a table allocate nothing for it.
constexpr size_t kNameMapBuckets = 257;
constexpr size_t kValueTableBuckets = 101;

using IntegerValueTable = std::unordered_map<int64_t, int64_t>;
using FloatValueTable = std::unordered_map<int64_t, double>;

// The part common to every property record.
struct clCamProperty {
    CamPropertyType type;
    std::u16string name;
    clMultiLangString title;
    clMultiLangString note;
    int32_t accessMode = kAccessReadOnly;
    std::u16string unit;
    std::vector<std::u16string> commandNames; // TARNCommand names, sent in this order
    int32_t hasPrompt = 0;
    clMultiLangString prompt;
    std::u16string indexPropertyName; // pIndex
    std::u16string valueReference;    // ValueReference
    int32_t isCalculator = 0;
    std::vector<std::pair<std::u16string, std::u16string>> variables; // (variable, property)
    std::u16string formula;
    std::vector<std::u16string> dependences;
    // Calculators re-evaluated when this property's value is set; linked after loading.
    std::vector<std::u16string> dependents;

    bool IsWritable() const { return IsWritableAccess(accessMode); }

protected:
    explicit clCamProperty(CamPropertyType t) : type(t) {}
    ~clCamProperty() = default;
    clCamProperty(const clCamProperty&) = default;
    clCamProperty& operator=(const clCamProperty&) = default;
};

struct clCamPropertyInteger : clCamProperty {
    static constexpr CamPropertyType kType = CamPropertyType::Integer;
    clCamPropertyInteger() : clCamProperty(kType) {}

    int64_t min = -32768;
    int64_t max = 32767;
    int64_t inc = 1;
    int64_t value = 0;
    int64_t defaultValue = 0;
    IntegerValueTable indexTable; // ValueIndexed: index -> value
    std::u16string minReference;
    std::u16string maxReference;
    std::u16string incReference;
    int32_t hasRange = 0;
};

struct clCamPropertyBool : clCamProperty {
    static constexpr CamPropertyType kType = CamPropertyType::Bool;
    clCamPropertyBool() : clCamProperty(kType) {}

    int64_t onValue = 1;
    int64_t offValue = 0;
    int32_t state = 0; // 0 off, 1 on
};

struct clCamPropertyExecution : clCamProperty {
    static constexpr CamPropertyType kType = CamPropertyType::Execution;
    clCamPropertyExecution() : clCamProperty(kType) {}
};

struct clCamPropertyFloat : clCamProperty {
    static constexpr CamPropertyType kType = CamPropertyType::Float;
    clCamPropertyFloat() : clCamProperty(kType) {}

    double value = 0.0;
    double defaultValue = 0.0;
    FloatValueTable indexTable;
};

struct clCamPropertyString : clCamProperty {
    static constexpr CamPropertyType kType = CamPropertyType::String;
    clCamPropertyString() : clCamProperty(kType) {}

    std::u16string value;
    int64_t length = 55; // largest number of characters
};

struct clCamPropertySelection : clCamProperty {
    static constexpr CamPropertyType kType = CamPropertyType::Selection;
    clCamPropertySelection() : clCamProperty(kType) {}

    int64_t value = 0; // number of the selected entry
    std::vector<std::u16string> entryTexts;
    std::vector<int64_t> entryValues;

    // Label of the first entry whose number equals the value; empty when none does.
    std::u16string ValueText() const;
};

// Checked downcast by the type field: nullptr when `p` is null or of another kind.
template <class T>
T* PropertyAs(clCamProperty* p) {
    return p && p->type == T::kType ? static_cast<T*>(p) : nullptr;
}
template <class T>
const T* PropertyAs(const clCamProperty* p) {
    return p && p->type == T::kType ? static_cast<const T*>(p) : nullptr;
}

// Frees a property record as the kind its type field names. A record placed in an arena (memory
// its owner releases as a whole) is only destroyed.
struct CamPropertyDeleter {
    bool inArena = false;
    void operator()(clCamProperty* p) const;
};
using CamPropertyPtr = std::unique_ptr<clCamProperty, CamPropertyDeleter>;

// A new record of the kind (nullptr for an unknown type), on the heap or in `arena`.
CamPropertyPtr MakeCamProperty(CamPropertyType type, std::pmr::memory_resource* arena = nullptr);

// One TARNCommand.
struct clCamCommand {
    std::u16string name; // the command word
    int32_t style = kMessageStyleUnknown;
    std::vector<std::u16string> slots; // property name of each CommandValue, in order
    int32_t exported = 1;
};

// One Information reply.
struct clCamInformation {
    std::u16string name;
    std::u16string keyword;
    int32_t style = kInformationStyleUnknown;
    std::u16string templateText; // as written: backslash + 'r' is replaced when it is applied
    std::vector<std::u16string> propertyNames;
};

// A node of the property tree. Each node owns its first child and its next sibling; the
// manager frees the tree without recursion.
struct clCamTreeNode {
    clCamTreeNode* parent = nullptr;
    clCamTreeNode* nextSibling = nullptr;
    clCamTreeNode* firstChild = nullptr;
    int32_t isGroup = 0;
    int32_t depth = 0;
    std::u16string name; // "TreeRoot", "(+)" or a property name
    clMultiLangString title;

    clCamTreeNode() = default;
    clCamTreeNode(const clCamTreeNode&) = delete;
    clCamTreeNode& operator=(const clCamTreeNode&) = delete;
};

// A new tree node, on the heap or in `arena`.
clCamTreeNode* NewCamTreeNode(std::pmr::memory_resource* arena = nullptr);
// Frees a whole tree (node, its subtree and its following siblings) iteratively. Nodes made in
// an arena are only destroyed.
void FreeCamTree(clCamTreeNode* node, bool inArena = false);
