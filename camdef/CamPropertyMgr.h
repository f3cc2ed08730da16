// The property manager: one loaded camera definition with its current values.
//
// Loading and clearing run on the user-interface thread; the manager has no lock. Pointers to
// records handed out by the lookups stay valid until the next Load or Clear.
#pragma once

#include "camdef/CamProperty.h"

#include <cstdint>
#include <memory>
#include <memory_resource>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Results of Load.
enum LoadResult : int {
    kLoadOk = 0,
    kLoadBuildFailed = 1,       // building the records failed (a resource was exhausted)
    kLoadXmlParseError = 8,     // the file could not be read or parsed as XML
    kLoadNoRoot = 9,            // the document has no root element
    kLoadUnsupportedRoot = 10,  // the root element is not CameraPropertyDefine
    kLoadSchemaNotFound = 11,   // no schema file for the file's version
    kLoadSchemaContext = 12,    // no schema parser context for the schema file
    kLoadSchemaParseError = 13, // the schema file could not be parsed
    kLoadValidatorFailed = 14,  // no validation context
    kLoadValidationError = 15,  // the document does not validate against the schema
};

// Hash and equality that accept std::u16string_view, so lookups need no string copies.
struct NameHash {
    using is_transparent = void;
    size_t operator()(std::u16string_view s) const noexcept {
        return std::hash<std::u16string_view>{}(s);
    }
};
struct NameEqual {
    using is_transparent = void;
    bool operator()(std::u16string_view a, std::u16string_view b) const noexcept { return a == b; }
};

class clCamPropertyMgr {
public:
    using PropertyMap = std::unordered_map<std::u16string, CamPropertyPtr, NameHash, NameEqual>;
    using CommandMap = std::unordered_map<std::u16string, clCamCommand*, NameHash, NameEqual>;

    // Largest definition file Load reads; a larger file is refused as unreadable (8).
    static constexpr uint64_t kMaxDefinitionFileBytes = 64ull << 20;

    clCamPropertyMgr();
    ~clCamPropertyMgr();
    clCamPropertyMgr(const clCamPropertyMgr&) = delete;
    clCamPropertyMgr& operator=(const clCamPropertyMgr&) = delete;

    // --- Loading -------------------------------------------------------------------------
    // Reads, validates and builds the definition at `path`. Always starts from the empty state;
    // on any failure the manager is left empty and not loaded. Returns a LoadResult.
    int Load(const std::u16string& path);
    // Discards the whole definition.
    void Clear();

    // Path of the schema file with two "%d" places for the major and minor schema version,
    // e.g. "<program folder>CamDefine/OrvaCamSchema_v%d_%d.xsd".
    void SetSchemaPathFormat(std::u16string format) { m_schemaPathFormat = std::move(format); }
    const std::u16string& SchemaPathFormat() const { return m_schemaPathFormat; }
    // The schema path for a version, formatted from the schema path format.
    std::u16string SchemaPathFor(int64_t major, int64_t minor) const;

    bool IsLoaded() const { return m_loaded != 0; }
    int32_t LastValidationResult() const { return m_lastValidationResult; }
    // First message libxml2 reported during the last Load (for the log), empty when none.
    const std::u16string& LastErrorDetail() const { return m_lastErrorDetail; }

    // --- Records ---------------------------------------------------------------------------
    clCamTreeNode* TreeRoot() const { return m_treeRoot; }
    const PropertyMap& Properties() const { return m_properties; }
    // Every Load and Clear starts a new generation; a record is named by the generation and
    // its place among Properties(), so a name kept across a reload is recognised as stale
    // without touching the record.
    uint64_t LoadGeneration() const { return m_loadGeneration; }
    // The name of record (generation 0 when it is not a record of this definition).
    struct RecordName {
        uint64_t generation = 0;
        uint32_t index = 0;
    };
    RecordName NameOf(const clCamProperty* record) const;
    // The record of a name of the current generation; null for any other name.
    const clCamProperty* RecordOf(uint64_t generation, uint32_t index) const;
    const CommandMap& Commands() const { return m_commandMap; }
    // Commands and information records in file order.
    const std::vector<std::unique_ptr<clCamCommand>>& CommandList() const { return m_commandList; }
    const std::vector<std::unique_ptr<clCamInformation>>& InformationList() const {
        return m_informationList;
    }

    clCamProperty* FindProperty(std::u16string_view name) const;
    clCamCommand* FindCommand(std::u16string_view name) const;

    // --- Values ----------------------------------------------------------------------------
    // Operations on a record return 0, or 1 when given no record (nullptr).
    // Effective values: ValueReference first, then the value table selected by pIndex, then the
    // own value. References are resolved anew on every call.
    int GetIntegerValue(const clCamPropertyInteger* p, int64_t& value) const;
    int GetIntegerMin(const clCamPropertyInteger* p, int64_t& value) const;
    int GetIntegerMax(const clCamPropertyInteger* p, int64_t& value) const;
    int GetIntegerInc(const clCamPropertyInteger* p, int64_t& value) const;
    int GetFloatValue(const clCamPropertyFloat* p, double& value) const;
    // Value of the property `name` of any kind: 0 found, 1 not found (value 0, type None).
    int GetValueAsInteger(std::u16string_view name, int64_t& value, CamPropertyType& type) const;
    int GetValueAsFloat(std::u16string_view name, double& value, CamPropertyType& type) const;

    // Setters store the value exactly as given (no range, step, access or length check) and
    // re-evaluate the calculators that depend on the property.
    int SetIntegerValue(clCamPropertyInteger* p, int64_t value);
    int SetBoolValue(clCamPropertyBool* p, int32_t state);
    int SetFloatValue(clCamPropertyFloat* p, double value);
    int SetStringValue(clCamPropertyString* p, std::u16string value);
    int SetSelectionValue(clCamPropertySelection* p, int64_t value);
    // Evaluates every calculator named in p->dependents, one level deep (a calculator's own
    // dependents are not followed).
    int RecalculateDependents(const clCamProperty* p);

    // --- Calculated properties ------------------------------------------------------------
    // Evaluate the formula of a calculator and store the result in its value. 0 success,
    // 1 failure (the value is stored as the evaluation left it). A record that is not a
    // calculator is left as it is (1).
    int EvaluateIntegerCalculator(clCamPropertyInteger* p);
    int EvaluateFloatCalculator(clCamPropertyFloat* p);
    // Evaluates the formula of any calculator with the current values without storing the
    // result: 0 with result, 1 with the evaluator's error text (or a word why nothing ran).
    int TryCalculator(const clCamProperty* p, double& result, std::string& errorText) const;

    // --- Command texts and replies --------------------------------------------------------
    // These hold no state between calls and take no lock; values are stored through the setters.

    // The text of command `c` with the current values of its slots (no line terminator).
    // Returns 0 (1 when given no command).
    int ComposeCommand(const clCamCommand* c, std::u16string& text) const;
    // Value text of the property `name` as it goes into a command: Integer, Bool (its on or off
    // number), Selection as signed decimal of the low 32 bits, String as it is, Float as the
    // shortest decimal that reads back to the same value, Execution as empty text. 0, or 1 when
    // no property has that name (the text is left as it was).
    int GetValueText(std::u16string_view name, std::u16string& text) const;
    // Reads one reply line (without marker and terminator) into the property values: an
    // information reply first, else an echo of a command. Sets `updated` to 1 when values were
    // applied (never clears it). Returns whether the line was taken as either. unreadValue, when
    // given, is set when the line was an information reply whose value could not be read.
    bool ParseReplyLine(std::u16string_view line, int& updated, bool* unreadValue = nullptr);
    // Splits the first 256 characters of a reply line into a command word and the rest.
    // Mode 2: the word is delimited by spaces, commas and carriage returns. Mode 1: the word is
    // what comes before the first digit or sign (at most 20 characters).
    static void SplitReplyLine(std::u16string_view line, int mode, std::u16string& word,
                               std::u16string& rest);
    // Reads the values after an echoed command word into the command's slot properties. 0.
    int ApplyCommandReply(const clCamCommand* c, std::u16string_view rest);
    // Reads the value after an information keyword by the information's template. 0 when a
    // property was updated, 1 otherwise.
    int ApplyInformationReply(const clCamInformation* i, std::u16string_view payload);

private:
    class Builder;

    // A number on its way along a chain of references: an Integer's or a Float's.
    struct ChainValue {
        bool isFloat = false;
        int64_t integer = 0;
        double real = 0.0;
    };
    // The effective value of an Integer or Float record: its ValueReference, else its value
    // table entry selected by pIndex, else its own value; followed to the end of the chain.
    ChainValue Resolve(const clCamProperty* p) const;
    int64_t IntegerValueOf(const clCamPropertyInteger* p) const;
    double FloatValueOf(const clCamPropertyFloat* p) const;
    int ValueAsInteger(std::u16string_view name, int64_t& value, CamPropertyType& type) const;
    int ValueAsFloat(std::u16string_view name, double& value, CamPropertyType& type) const;
    int64_t ReferencedBound(const std::u16string& reference, int64_t own, int64_t otherType) const;

    int LoadDocument(const std::string& pathUtf8);
    void LinkAndEvaluateCalculators();

    // Property records and tree nodes of the loaded definition live here and are released as a
    // whole by Clear: a large definition is freed in a few blocks instead of record by record.
    std::pmr::monotonic_buffer_resource m_arena{size_t{64} * 1024};
    clCamTreeNode* m_treeRoot = nullptr;
    int32_t m_loaded = 0;
    uint64_t m_loadGeneration = 1;
    PropertyMap m_properties;
    CommandMap m_commandMap;
    std::vector<std::unique_ptr<clCamCommand>> m_commandList; // the map points into it
    std::vector<std::unique_ptr<clCamInformation>> m_informationList;
    std::u16string m_schemaPathFormat;
    int32_t m_lastValidationResult = 0;
    std::u16string m_lastErrorDetail;
};
