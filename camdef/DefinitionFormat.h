// Names and fixed texts of the camera definition file format.
#pragma once

namespace camdef::format {

// Elements.
inline constexpr char kRootElement[] = "CameraPropertyDefine";
inline constexpr char kPropertyIndex[] = "PropertyIndex";
inline constexpr char kGrouping[] = "Grouping";
inline constexpr char kTARNCommand[] = "TARNCommand";
inline constexpr char kInformation[] = "Information";
inline constexpr char kPropertyInteger[] = "Property_Integer";
inline constexpr char kCalculatorInteger[] = "Calculator_Integer";
inline constexpr char kPropertyBool[] = "Property_Bool";
inline constexpr char kPropertyExecution[] = "Property_Execution";
inline constexpr char kPropertyFloat[] = "Property_Float";
inline constexpr char kCalculatorFloat[] = "Calculator_Float";
inline constexpr char kPropertyString[] = "Property_String";
inline constexpr char kPropertySelection[] = "Property_Selection";

inline constexpr char kTitle[] = "Title";
inline constexpr char kNote[] = "Note";
inline constexpr char kAccessMode[] = "AccessMode";
inline constexpr char kUnit[] = "Unit";
inline constexpr char kPrompt[] = "Prompt";
inline constexpr char kTARNCommandName[] = "TARNCommandName";
inline constexpr char kValueReference[] = "ValueReference";
inline constexpr char kDependence[] = "Dependence";
inline constexpr char kPVariable[] = "pVariable";
inline constexpr char kFormula[] = "Formula";
inline constexpr char kValue[] = "Value";
inline constexpr char kMin[] = "Min";
inline constexpr char kMax[] = "Max";
inline constexpr char kInc[] = "Inc";
inline constexpr char kMinReference[] = "MinReference";
inline constexpr char kMaxReference[] = "MaxReference";
inline constexpr char kIncReference[] = "IncReference";
inline constexpr char kPIndex[] = "pIndex";
inline constexpr char kValueIndexed[] = "ValueIndexed";
inline constexpr char kValueDefault[] = "ValueDefault";
inline constexpr char kOnValue[] = "OnValue";
inline constexpr char kOffValue[] = "OffValue";
inline constexpr char kLength[] = "Length";
inline constexpr char kSelectEntry[] = "SelectEntry";
inline constexpr char kText[] = "Text";
inline constexpr char kMessageStyle[] = "MessageStyle";
inline constexpr char kExport[] = "Export";
inline constexpr char kCommandValue[] = "CommandValue";
inline constexpr char kPropertyName[] = "PropertyName";
inline constexpr char kKeyword[] = "Keyword";
inline constexpr char kInformationStyle[] = "InformationStyle";
inline constexpr char kTemplateString[] = "TemplateString";

// Attributes.
inline constexpr char kAttrName[] = "Name";
inline constexpr char kAttrLang[] = "Lang";
inline constexpr char kAttrIndex[] = "Index";
inline constexpr char kAttrSchemaMajorVersion[] = "SchemaMajorVersion";
inline constexpr char kAttrSchemaMinorVersion[] = "SchemaMinorVersion";

// Keyword values.
inline constexpr char16_t kAccessWO[] = u"WO";
inline constexpr char16_t kAccessRO[] = u"RO";
inline constexpr char16_t kOn[] = u"On";
inline constexpr char16_t kOff[] = u"Off";
inline constexpr char16_t kYes[] = u"Yes";
inline constexpr char16_t kStyleCommandOnly[] = u"CommandOnly";
inline constexpr char16_t kStyleNoSeparate[] = u"NoSeparate";
inline constexpr char16_t kStyleSpaceAndComma[] = u"SpaceAndComma";
inline constexpr char16_t kStyleSingleInteger[] = u"SingleInteger";
inline constexpr char16_t kStyleTwoIntegers[] = u"TwoIntegers";
inline constexpr char16_t kStyleSingleFloat[] = u"SingleFloat";
inline constexpr char16_t kStyleSingleString[] = u"SingleString";

// Texts the loader fills in for empty elements, and the names of tree nodes.
inline constexpr char16_t kNoTitle[] = u"(no_title)";
inline constexpr char16_t kNoNote[] = u"(no_note)";
inline constexpr char16_t kNoCommand[] = u"(no_command)";
inline constexpr char16_t kNoNameProp[] = u"(no_name_prop)";
inline constexpr char16_t kNoProp[] = u"(no_prop)";
inline constexpr char16_t kNoKeyword[] = u"(no_keyword)";
inline constexpr char16_t kTreeRootName[] = u"TreeRoot";
inline constexpr char16_t kGroupNodeName[] = u"(+)";

// Schema file name pattern inside the camera definition folder.
inline constexpr char16_t kSchemaFilePattern[] = u"OrvaCamSchema_v%d_%d.xsd";

} // namespace camdef::format
