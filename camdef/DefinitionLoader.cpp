// Loading and discarding a camera definition: read the XML file, validate it against the
// schema of the version it names, build the records, link and evaluate the calculators.
//
// Untrusted input: the file is read with network access off, no external entity or DTD is
// loaded, and while a definition loads, libxml2 may open no file other than the schema files of
// the schema folder. Entity references inside texts are expanded within fixed bounds.
#include "camdef/CamPropertyMgr.h"
#include "camdef/DefinitionFormat.h"
#include "camdef/NumberText.h"
#include "platform/Text.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlschemas.h>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace camdef::format;

// Bounds of entity expansion within one text: nesting of entity references and the size of
// the expanded text. A text beyond them fails the build (a resource was exhausted).
constexpr int kMaxEntityNesting = 8;
constexpr size_t kMaxTextBytes = 1u << 20;

// --- libxml2 plumbing ---------------------------------------------------------------------

#if LIBXML_VERSION >= 21200
using XmlErrorArg = const xmlError*;
#else
using XmlErrorArg = xmlError*;
#endif

// Keeps the first message libxml2 reports; nothing reaches stderr.
struct ErrorCollector {
    std::string first;
};

void CollectStructuredError(void* ctx, XmlErrorArg error) {
    auto* collector = static_cast<ErrorCollector*>(ctx);
    if (!collector || !error || !collector->first.empty())
        return;
    std::string text = error->message ? error->message : "";
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    if (error->line > 0)
        text = "line " + std::to_string(error->line) + ": " + text;
    collector->first = text;
}

void IgnoreGenericError(void*, const char*, ...) {}

// What libxml2 may open on the current thread while a definition loads.
struct OpenPolicy {
    std::string schemaPath;
    std::string schemaFolder; // ends with '/'
};
thread_local const OpenPolicy* t_openPolicy = nullptr;
xmlExternalEntityLoader g_defaultLoader = nullptr;

bool AllowedToOpen(const OpenPolicy& policy, const char* url) {
    if (!url)
        return false;
    std::string_view u(url);
    if (u.starts_with("file://"))
        u.remove_prefix(7);
    if (u == policy.schemaPath)
        return true;
    // Schema files included by the schema itself, from the same folder.
    return u.starts_with(policy.schemaFolder) && u.ends_with(".xsd") &&
           u.find("/../") == std::string_view::npos &&
           u.find('/', policy.schemaFolder.size()) == std::string_view::npos;
}

xmlParserInputPtr GuardedEntityLoader(const char* url, const char* id, xmlParserCtxtPtr ctxt) {
    if (t_openPolicy && !AllowedToOpen(*t_openPolicy, url))
        return nullptr;
    return g_defaultLoader(url, id, ctxt);
}

// Hands libxml2 back the loader it had when this copy of the guard goes away. A library that
// links its own copy of the loader (the simulated Camera Link libraries do) may be unloaded
// while libxml2 stays: without this, libxml2 would go on calling into the unloaded code, and
// the next copy installed would take that stale address as the loader to call on.
struct EntityLoaderUninstall {
    ~EntityLoaderUninstall() {
        if (g_defaultLoader && xmlGetExternalEntityLoader() == GuardedEntityLoader)
            xmlSetExternalEntityLoader(g_defaultLoader);
    }
};

void InstallEntityLoaderGuard() {
    static std::once_flag once;
    std::call_once(once, [] {
        static EntityLoaderUninstall uninstall; // destroyed at unload or exit
        g_defaultLoader = xmlGetExternalEntityLoader();
        xmlSetExternalEntityLoader(GuardedEntityLoader);
    });
}

// Error handlers and the open policy of the current thread for the duration of one Load.
class LoadScope {
public:
    LoadScope(ErrorCollector& errors, const OpenPolicy& policy)
        : m_prevStructured(xmlStructuredError), m_prevStructuredCtx(xmlStructuredErrorContext),
          m_prevGeneric(xmlGenericError), m_prevGenericCtx(xmlGenericErrorContext) {
        InstallEntityLoaderGuard();
        xmlSetStructuredErrorFunc(&errors, CollectStructuredError);
        xmlSetGenericErrorFunc(nullptr, IgnoreGenericError);
        t_openPolicy = &policy;
    }
    ~LoadScope() {
        t_openPolicy = nullptr;
        xmlSetStructuredErrorFunc(m_prevStructuredCtx, m_prevStructured);
        xmlSetGenericErrorFunc(m_prevGenericCtx, m_prevGeneric);
    }
    LoadScope(const LoadScope&) = delete;
    LoadScope& operator=(const LoadScope&) = delete;

private:
    xmlStructuredErrorFunc m_prevStructured;
    void* m_prevStructuredCtx;
    xmlGenericErrorFunc m_prevGeneric;
    void* m_prevGenericCtx;
};

struct DocFree {
    void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};
struct SchemaParserFree {
    void operator()(xmlSchemaParserCtxt* c) const { xmlSchemaFreeParserCtxt(c); }
};
struct SchemaFree {
    void operator()(xmlSchema* s) const { xmlSchemaFree(s); }
};
struct ValidFree {
    void operator()(xmlSchemaValidCtxt* c) const { xmlSchemaFreeValidCtxt(c); }
};

// Opens the definition file for reading: a regular file of at most `limit` bytes (a FIFO or a
// device could block or never end). -1 when it cannot be used.
int OpenDefinitionFile(const std::string& path, uint64_t limit) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) > limit) {
        close(fd);
        return -1;
    }
    return fd;
}

// Closes a file descriptor at the end of the scope.
class FdCloser {
public:
    explicit FdCloser(int fd) : m_fd(fd) {}
    ~FdCloser() {
        if (m_fd >= 0)
            close(m_fd);
    }
    FdCloser(const FdCloser&) = delete;
    FdCloser& operator=(const FdCloser&) = delete;

private:
    int m_fd;
};

// UTF-8 text of libxml2 as UTF-16. Most texts of a definition are ASCII, which widens directly.
std::u16string Widen(const xmlChar* text) {
    const char* s = reinterpret_cast<const char*>(text);
    size_t n = 0;
    bool ascii = true;
    for (; s[n]; ++n)
        ascii = ascii && static_cast<unsigned char>(s[n]) < 0x80;
    if (ascii)
        return std::u16string(s, s + n);
    return platform::Utf8ToUtf16(std::string_view(s, n));
}

bool IsElement(const xmlNode* n, const char* name) {
    return n->type == XML_ELEMENT_NODE &&
           std::strcmp(reinterpret_cast<const char*>(n->name), name) == 0;
}

bool IsFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

// --- Building the records --------------------------------------------------------------------

class clCamPropertyMgr::Builder {
public:
    Builder(clCamPropertyMgr& mgr, xmlDoc* doc) : m_mgr(mgr), m_doc(doc) {}

    // Builds every record below the root. kLoadOk or kLoadBuildFailed.
    int Build(const xmlNode* root);
    // Replaces every entity reference in element content below root by the text it stands
    // for (internal entities only, within the bounds of one text), so the schema sees the
    // text the records will hold. False when a text exceeds the bounds.
    bool ExpandEntityReferences(xmlNode* root);
    // Value of an attribute without namespace: false when absent.
    bool Attribute(const xmlNode* element, const char* name, std::u16string& value);

private:
    // Text of the element: false when it has no content at all ("empty").
    bool Text(const xmlNode* element, std::u16string& text);
    std::u16string TextOr(const xmlNode* element, std::u16string_view empty);
    int64_t IntegerOr(const xmlNode* element, std::u16string_view empty) {
        return camdef::ParseIntegerText(TextOr(element, empty));
    }
    double FloatOr(const xmlNode* element, std::u16string_view empty) {
        return camdef::ParseFloatText(TextOr(element, empty));
    }
    bool CollectText(const xmlNode* first, int nesting);
    std::u16string Lang(const xmlNode* element);

    void BuildTree(const xmlNode* index);
    void BuildCommand(const xmlNode* element);
    void BuildInformation(const xmlNode* element);
    void BuildProperty(const xmlNode* element, CamPropertyType type, bool calculator);
    void ReadCommonChild(clCamProperty& p, const xmlNode* child);
    // The children an Integer and a Float share: the value, the index property, the values by
    // index and the default. False for any other child.
    template <typename Record>
    bool ReadNumberChild(Record& p, const xmlNode* child);
    // The number of an element for a record of that kind (0 or 0.0 when the element is empty).
    int64_t NumberOr(const clCamPropertyInteger&, const xmlNode* element) {
        return IntegerOr(element, u"0");
    }
    double NumberOr(const clCamPropertyFloat&, const xmlNode* element) {
        return FloatOr(element, u"0.0");
    }
    void ReadIntegerChild(clCamPropertyInteger& p, const xmlNode* child);
    void ReadBoolChild(clCamPropertyBool& p, const xmlNode* child);
    void ReadStringChild(clCamPropertyString& p, const xmlNode* child);
    void ReadSelectionChild(clCamPropertySelection& p, const xmlNode* child);

    clCamPropertyMgr& m_mgr;
    xmlDoc* m_doc;
    std::string m_scratch; // UTF-8 text being collected
    bool m_sawText = false;
    bool m_failed = false; // a text exceeded the expansion bounds
};

bool clCamPropertyMgr::Builder::CollectText(const xmlNode* node, int nesting) {
    for (; node; node = node->next) {
        switch (node->type) {
        case XML_TEXT_NODE:
        case XML_CDATA_SECTION_NODE:
            m_sawText = true;
            if (node->content)
                m_scratch.append(reinterpret_cast<const char*>(node->content));
            break;
        case XML_ENTITY_REF_NODE: {
            if (nesting >= kMaxEntityNesting)
                return false;
            xmlEntity* entity = xmlGetDocEntity(m_doc, node->name);
            // Only entities declared inside the document; an external entity is never read.
            if (entity && entity->etype == XML_INTERNAL_GENERAL_ENTITY) {
                if (entity->children) {
                    if (!CollectText(entity->children, nesting + 1))
                        return false;
                } else if (entity->content) {
                    m_sawText = true;
                    m_scratch.append(reinterpret_cast<const char*>(entity->content));
                }
            }
            break;
        }
        default:
            break;
        }
        if (m_scratch.size() > kMaxTextBytes)
            return false;
    }
    return true;
}

bool clCamPropertyMgr::Builder::ExpandEntityReferences(xmlNode* root) {
    // Depth first with an explicit stack: the nesting of the file never becomes the depth of
    // the call stack.
    std::vector<xmlNode*> elements{root};
    while (!elements.empty()) {
        xmlNode* element = elements.back();
        elements.pop_back();
        size_t expanded = 0; // bytes of expansion within this element
        for (xmlNode* child = element->children; child;) {
            xmlNode* next = child->next;
            if (child->type == XML_ELEMENT_NODE) {
                elements.push_back(child);
            } else if (child->type == XML_ENTITY_REF_NODE) {
                m_scratch.clear();
                xmlNode* lone = child->next;
                child->next = nullptr; // expand this reference alone
                const bool ok = CollectText(child, 0);
                child->next = lone;
                expanded += m_scratch.size();
                if (!ok || expanded > kMaxTextBytes) {
                    m_scratch.clear();
                    return false;
                }
                xmlNode* text =
                    xmlNewDocTextLen(m_doc, reinterpret_cast<const xmlChar*>(m_scratch.data()),
                                     static_cast<int>(m_scratch.size()));
                if (!text)
                    return false;
                xmlReplaceNode(child, text);
                xmlFreeNode(child);
                // Adjacent texts become one, as the parser would have given them.
                if (text->prev && text->prev->type == XML_TEXT_NODE) {
                    xmlNode* before = text->prev;
                    xmlTextMerge(before, text);
                    text = before;
                }
                if (next && next->type == XML_TEXT_NODE) {
                    xmlNode* after = next->next;
                    xmlTextMerge(text, next);
                    next = after;
                }
            }
            child = next;
        }
    }
    m_scratch.clear();
    return true;
}

bool clCamPropertyMgr::Builder::Text(const xmlNode* element, std::u16string& text) {
    const xmlNode* first = element->children;
    if (first && !first->next && first->type == XML_TEXT_NODE) { // the usual case
        text = Widen(first->content);
        return true;
    }
    m_scratch.clear();
    m_sawText = false;
    if (!CollectText(first, 0)) {
        m_failed = true;
        m_scratch.clear();
        text.clear();
        return false;
    }
    text = platform::Utf8ToUtf16(m_scratch);
    return m_sawText;
}

std::u16string clCamPropertyMgr::Builder::TextOr(const xmlNode* element,
                                                 std::u16string_view empty) {
    std::u16string text;
    if (!Text(element, text))
        text.assign(empty);
    return text;
}

bool clCamPropertyMgr::Builder::Attribute(const xmlNode* element, const char* name,
                                          std::u16string& value) {
    for (const xmlAttr* a = element->properties; a; a = a->next) {
        if (a->ns || std::strcmp(reinterpret_cast<const char*>(a->name), name) != 0)
            continue;
        const xmlNode* first = a->children;
        if (first && !first->next && first->type == XML_TEXT_NODE) {
            value = Widen(first->content);
            return true;
        }
        m_scratch.clear();
        m_sawText = false;
        if (!CollectText(first, 0)) {
            m_failed = true;
            value.clear();
            return true;
        }
        value = platform::Utf8ToUtf16(m_scratch);
        return true;
    }
    return false;
}

std::u16string clCamPropertyMgr::Builder::Lang(const xmlNode* element) {
    std::u16string lang;
    if (!Attribute(element, kAttrLang, lang))
        lang = u"en";
    return lang;
}

int clCamPropertyMgr::Builder::Build(const xmlNode* root) {
    for (const xmlNode* child = root->children; child && !m_failed; child = child->next) {
        if (child->type != XML_ELEMENT_NODE)
            continue;
        // Every test runs; a name matching one never prevents the others.
        if (IsElement(child, kPropertyIndex))
            BuildTree(child);
        if (IsElement(child, kTARNCommand))
            BuildCommand(child);
        if (IsElement(child, kInformation))
            BuildInformation(child);
        if (IsElement(child, kPropertyInteger))
            BuildProperty(child, CamPropertyType::Integer, false);
        if (IsElement(child, kCalculatorInteger))
            BuildProperty(child, CamPropertyType::Integer, true);
        if (IsElement(child, kPropertyBool))
            BuildProperty(child, CamPropertyType::Bool, false);
        if (IsElement(child, kPropertyExecution))
            BuildProperty(child, CamPropertyType::Execution, false);
        if (IsElement(child, kPropertyFloat))
            BuildProperty(child, CamPropertyType::Float, false);
        if (IsElement(child, kCalculatorFloat))
            BuildProperty(child, CamPropertyType::Float, true);
        if (IsElement(child, kPropertyString))
            BuildProperty(child, CamPropertyType::String, false);
        if (IsElement(child, kPropertySelection))
            BuildProperty(child, CamPropertyType::Selection, false);
    }
    return m_failed ? kLoadBuildFailed : kLoadOk;
}

void clCamPropertyMgr::Builder::BuildTree(const xmlNode* index) {
    clCamTreeNode* root = NewCamTreeNode(&m_mgr.m_arena);
    root->isGroup = 1;
    root->depth = 0;
    root->name = kTreeRootName;
    // A later PropertyIndex replaces the tree of an earlier one.
    FreeCamTree(m_mgr.m_treeRoot, true);
    m_mgr.m_treeRoot = root;

    // Appends `node` as the last child of `parent`; `last` is the parent's last child so far.
    auto append = [](clCamTreeNode* parent, clCamTreeNode*& last, clCamTreeNode* node) {
        node->parent = parent;
        node->depth = parent->depth + 1;
        if (last)
            last->nextSibling = node;
        else
            parent->firstChild = node;
        last = node;
    };

    // Depth-first over the Grouping elements with an explicit stack, so the nesting depth of
    // the file never becomes the depth of the call stack.
    struct Frame {
        const xmlNode* next;  // next XML child to read
        clCamTreeNode* group; // group node the children go to
        clCamTreeNode* last;  // its last child so far
        bool isGrouping;      // false for PropertyIndex itself (only Grouping is read there)
    };
    std::vector<Frame> stack;
    stack.push_back({index->children, root, nullptr, false});
    while (!stack.empty() && !m_failed) {
        Frame& top = stack.back();
        const xmlNode* child = top.next;
        if (!child) {
            stack.pop_back();
            continue;
        }
        top.next = child->next;
        if (IsElement(child, kGrouping)) {
            clCamTreeNode* group = NewCamTreeNode(&m_mgr.m_arena);
            group->isGroup = 1;
            group->name = kGroupNodeName;
            append(top.group, top.last, group);
            stack.push_back({child->children, group, nullptr, true});
        } else if (top.isGrouping && IsElement(child, kTitle)) {
            top.group->title.Set(Lang(child), TextOr(child, kNoTitle));
        } else if (top.isGrouping && IsElement(child, kPropertyName)) {
            std::u16string name = TextOr(child, kNoNameProp);
            clCamTreeNode* leaf = NewCamTreeNode(&m_mgr.m_arena);
            leaf->name = std::move(name);
            append(top.group, top.last, leaf);
        }
    }
}

void clCamPropertyMgr::Builder::BuildCommand(const xmlNode* element) {
    std::u16string name;
    // An empty name is never found; the schema refuses it, an entity may still produce it.
    if (!Attribute(element, kAttrName, name) || name.empty() || m_mgr.m_commandMap.contains(name))
        return;
    auto command = std::make_unique<clCamCommand>();
    command->name = name;
    for (const xmlNode* child = element->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE)
            continue;
        if (IsElement(child, kMessageStyle)) {
            std::u16string style;
            Text(child, style);
            command->style = style == kStyleCommandOnly     ? kMessageStyleCommandOnly
                             : style == kStyleNoSeparate    ? kMessageStyleNoSeparate
                             : style == kStyleSpaceAndComma ? kMessageStyleSpaceAndComma
                                                            : kMessageStyleUnknown;
        } else if (IsElement(child, kExport)) {
            command->exported = TextOr(child, kYes) == kYes ? 1 : 0;
        } else if (IsElement(child, kCommandValue)) {
            std::u16string slot; // without PropertyName: the empty name, which never resolves
            for (const xmlNode* v = child->children; v; v = v->next)
                if (IsElement(v, kPropertyName))
                    slot = TextOr(v, kNoProp); // the last one counts
            command->slots.push_back(std::move(slot));
        }
    }
    clCamCommand* raw = command.get();
    m_mgr.m_commandList.push_back(std::move(command));
    m_mgr.m_commandMap.emplace(std::move(name), raw);
}

void clCamPropertyMgr::Builder::BuildInformation(const xmlNode* element) {
    std::u16string name;
    if (!Attribute(element, kAttrName, name))
        return;
    auto info = std::make_unique<clCamInformation>();
    info->name = std::move(name);
    for (const xmlNode* child = element->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE)
            continue;
        if (IsElement(child, kKeyword)) {
            info->keyword = TextOr(child, kNoKeyword);
        } else if (IsElement(child, kInformationStyle)) {
            std::u16string style;
            Text(child, style);
            info->style = style == kStyleSingleInteger  ? kInformationStyleSingleInteger
                          : style == kStyleTwoIntegers  ? kInformationStyleTwoIntegers
                          : style == kStyleSingleFloat  ? kInformationStyleSingleFloat
                          : style == kStyleSingleString ? kInformationStyleSingleString
                                                        : kInformationStyleUnknown;
        } else if (IsElement(child, kTemplateString)) {
            info->templateText = TextOr(child, u"%d");
        } else if (IsElement(child, kPropertyName)) {
            info->propertyNames.push_back(TextOr(child, kNoProp));
        }
    }
    m_mgr.m_informationList.push_back(std::move(info));
}

void clCamPropertyMgr::Builder::BuildProperty(const xmlNode* element, CamPropertyType type,
                                              bool calculator) {
    std::u16string name;
    if (!Attribute(element, kAttrName, name) || name.empty() || m_mgr.m_properties.contains(name))
        return;
    CamPropertyPtr record = MakeCamProperty(type, &m_mgr.m_arena);
    record->name = name;
    record->isCalculator = calculator ? 1 : 0;
    for (const xmlNode* child = element->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE)
            continue;
        ReadCommonChild(*record, child);
        switch (type) {
        case CamPropertyType::Integer:
            ReadIntegerChild(static_cast<clCamPropertyInteger&>(*record), child);
            break;
        case CamPropertyType::Bool:
            ReadBoolChild(static_cast<clCamPropertyBool&>(*record), child);
            break;
        case CamPropertyType::Float:
            ReadNumberChild(static_cast<clCamPropertyFloat&>(*record), child);
            break;
        case CamPropertyType::String:
            ReadStringChild(static_cast<clCamPropertyString&>(*record), child);
            break;
        case CamPropertyType::Selection:
            ReadSelectionChild(static_cast<clCamPropertySelection&>(*record), child);
            break;
        default:
            break;
        }
    }
    m_mgr.m_properties.emplace(std::move(name), std::move(record));
}

void clCamPropertyMgr::Builder::ReadCommonChild(clCamProperty& p, const xmlNode* child) {
    const char* n = reinterpret_cast<const char*>(child->name);
    if (std::strcmp(n, kTitle) == 0) {
        p.title.Set(Lang(child), TextOr(child, kNoTitle));
    } else if (std::strcmp(n, kNote) == 0) {
        p.note.Set(Lang(child), TextOr(child, kNoNote));
    } else if (std::strcmp(n, kAccessMode) == 0) {
        std::u16string mode;
        Text(child, mode);
        p.accessMode = mode == kAccessWO   ? kAccessWriteOnly
                       : mode == kAccessRO ? kAccessReadOnly
                                           : kAccessReadWrite;
    } else if (std::strcmp(n, kUnit) == 0) {
        Text(child, p.unit);
    } else if (std::strcmp(n, kPrompt) == 0) {
        p.hasPrompt = 1;
        p.prompt.Set(Lang(child), TextOr(child, u""));
    } else if (std::strcmp(n, kTARNCommandName) == 0) {
        p.commandNames.push_back(TextOr(child, kNoCommand));
    } else if (std::strcmp(n, kValueReference) == 0) {
        Text(child, p.valueReference);
    } else if (std::strcmp(n, kDependence) == 0) {
        p.dependences.push_back(TextOr(child, u""));
    } else if (std::strcmp(n, kPVariable) == 0) {
        std::u16string variable;
        if (Attribute(child, kAttrName, variable))
            p.variables.emplace_back(std::move(variable), TextOr(child, u""));
    } else if (std::strcmp(n, kFormula) == 0) {
        Text(child, p.formula);
    }
}

template <typename Record>
bool clCamPropertyMgr::Builder::ReadNumberChild(Record& p, const xmlNode* child) {
    const char* n = reinterpret_cast<const char*>(child->name);
    if (std::strcmp(n, kValue) == 0) {
        p.value = NumberOr(p, child);
    } else if (std::strcmp(n, kPIndex) == 0) {
        Text(child, p.indexPropertyName);
    } else if (std::strcmp(n, kValueIndexed) == 0) {
        std::u16string index;
        if (Attribute(child, kAttrIndex, index)) {
            if (p.indexTable.empty())
                p.indexTable.rehash(kValueTableBuckets);
            p.indexTable[camdef::ParseIntegerText(index)] = NumberOr(p, child);
        }
    } else if (std::strcmp(n, kValueDefault) == 0) {
        p.defaultValue = NumberOr(p, child);
        p.value = p.defaultValue;
    } else {
        return false;
    }
    return true;
}

void clCamPropertyMgr::Builder::ReadIntegerChild(clCamPropertyInteger& p, const xmlNode* child) {
    if (ReadNumberChild(p, child))
        return;
    const char* n = reinterpret_cast<const char*>(child->name);
    if (std::strcmp(n, kMin) == 0) {
        p.min = IntegerOr(child, u"-32768");
        p.hasRange = 1;
    } else if (std::strcmp(n, kMax) == 0) {
        p.max = IntegerOr(child, u"32767");
        p.hasRange = 1;
    } else if (std::strcmp(n, kInc) == 0) {
        p.inc = IntegerOr(child, u"1");
        p.hasRange = 1;
    } else if (std::strcmp(n, kMinReference) == 0) {
        Text(child, p.minReference);
        p.hasRange = 1;
    } else if (std::strcmp(n, kMaxReference) == 0) {
        Text(child, p.maxReference);
        p.hasRange = 1;
    } else if (std::strcmp(n, kIncReference) == 0) {
        Text(child, p.incReference);
        p.hasRange = 1;
    }
}

void clCamPropertyMgr::Builder::ReadBoolChild(clCamPropertyBool& p, const xmlNode* child) {
    const char* n = reinterpret_cast<const char*>(child->name);
    if (std::strcmp(n, kValue) == 0)
        p.state = TextOr(child, kOff) == kOn ? 1 : 0;
    else if (std::strcmp(n, kOnValue) == 0)
        p.onValue = IntegerOr(child, u"1");
    else if (std::strcmp(n, kOffValue) == 0)
        p.offValue = IntegerOr(child, u"0");
}

void clCamPropertyMgr::Builder::ReadStringChild(clCamPropertyString& p, const xmlNode* child) {
    const char* n = reinterpret_cast<const char*>(child->name);
    if (std::strcmp(n, kValue) == 0)
        Text(child, p.value);
    else if (std::strcmp(n, kLength) == 0)
        p.length = IntegerOr(child, u"100");
}

void clCamPropertyMgr::Builder::ReadSelectionChild(clCamPropertySelection& p,
                                                   const xmlNode* child) {
    const char* n = reinterpret_cast<const char*>(child->name);
    if (std::strcmp(n, kValue) == 0) {
        p.value = IntegerOr(child, u"0");
    } else if (std::strcmp(n, kSelectEntry) == 0) {
        for (const xmlNode* e = child->children; e; e = e->next) {
            if (IsElement(e, kValue))
                p.entryValues.push_back(IntegerOr(e, u"0"));
            else if (IsElement(e, kText))
                p.entryTexts.push_back(TextOr(e, kNoCommand));
        }
    }
}

// --- Load and Clear --------------------------------------------------------------------------

std::u16string clCamPropertyMgr::SchemaPathFor(int64_t major, int64_t minor) const {
    // Only "%d" (and "%%") have a meaning in the format, and only in its file name: the folder
    // before the last "/" is the program's folder and is taken as it is, whatever it holds.
    // The numbers go in as unsigned 32-bit decimals. Written out by hand so a format is never
    // handed to printf.
    const uint32_t numbers[2] = {static_cast<uint32_t>(major), static_cast<uint32_t>(minor)};
    int used = 0;
    const std::u16string& f = m_schemaPathFormat;
    const size_t slash = f.find_last_of(u'/');
    const size_t nameStart = slash == std::u16string::npos ? 0 : slash + 1;
    std::u16string out = f.substr(0, nameStart);
    for (size_t i = nameStart; i < f.size(); ++i) {
        if (f[i] == u'%' && i + 1 < f.size() && f[i + 1] == u'%') {
            out.push_back(u'%');
            ++i;
        } else if (f[i] == u'%' && i + 1 < f.size() && f[i + 1] == u'd' && used < 2) {
            std::string digits = std::to_string(numbers[used++]);
            out.append(digits.begin(), digits.end());
            ++i;
        } else {
            out.push_back(f[i]);
        }
    }
    return out;
}

int clCamPropertyMgr::Load(const std::u16string& path) {
    Clear();
    m_lastErrorDetail.clear();
    m_lastValidationResult = 0;
    int result;
    try {
        result = LoadDocument(platform::Utf16ToPath(path));
        if (result == kLoadOk) {
            LinkAndEvaluateCalculators();
            m_loaded = 1;
        }
    } catch (const std::bad_alloc&) {
        result = kLoadBuildFailed;
    }
    // A failed load leaves nothing behind, also when building stopped half-way: the records
    // of a partly built definition must not be mistaken for a definition.
    if (result != kLoadOk)
        Clear();
    return result;
}

int clCamPropertyMgr::LoadDocument(const std::string& pathUtf8) {
    ErrorCollector errors;
    OpenPolicy policy;
    std::unique_ptr<xmlDoc, DocFree> doc;
    std::unique_ptr<xmlSchemaParserCtxt, SchemaParserFree> parser;
    std::unique_ptr<xmlSchema, SchemaFree> schema;
    std::unique_ptr<xmlSchemaValidCtxt, ValidFree> validator;
    // Declared last: handlers and policy are restored before the objects above are freed.
    LoadScope scope(errors, policy);
    auto finish = [&](int result) {
        m_lastErrorDetail = platform::Utf8ToUtf16(errors.first);
        return result;
    };

    // Read and parse: network off, blank text between elements dropped; entities are not
    // substituted and no DTD is loaded.
    {
        int fd = OpenDefinitionFile(pathUtf8, kMaxDefinitionFileBytes);
        if (fd < 0)
            return finish(kLoadXmlParseError);
        FdCloser closer(fd);
        doc.reset(xmlReadFd(fd, pathUtf8.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOBLANKS));
    }
    if (!doc)
        return finish(kLoadXmlParseError);

    // The root.
    xmlNode* root = xmlDocGetRootElement(doc.get());
    if (!root)
        return finish(kLoadNoRoot);
    if (!IsElement(root, kRootElement))
        return finish(kLoadUnsupportedRoot);

    // The schema file of the file's version.
    Builder builder(*this, doc.get());
    std::u16string major = u"1", minor = u"0";
    builder.Attribute(root, kAttrSchemaMajorVersion, major);
    builder.Attribute(root, kAttrSchemaMinorVersion, minor);
    std::string schemaPath = platform::Utf16ToPath(
        SchemaPathFor(camdef::ParseIntegerText(major), camdef::ParseIntegerText(minor)));
    if (!IsFile(schemaPath))
        return finish(kLoadSchemaNotFound);
    policy.schemaPath = schemaPath;
    size_t slash = schemaPath.rfind('/');
    policy.schemaFolder =
        slash == std::string::npos ? std::string() : schemaPath.substr(0, slash + 1);

    // Validate before anything is built, the entity references of element text replaced.
    if (!builder.ExpandEntityReferences(root))
        return finish(kLoadBuildFailed);
    parser.reset(xmlSchemaNewParserCtxt(schemaPath.c_str()));
    if (!parser)
        return finish(kLoadSchemaContext);
    xmlSchemaSetParserStructuredErrors(parser.get(), CollectStructuredError, &errors);
    schema.reset(xmlSchemaParse(parser.get()));
    if (!schema)
        return finish(kLoadSchemaParseError);
    validator.reset(xmlSchemaNewValidCtxt(schema.get()));
    if (!validator)
        return finish(kLoadValidatorFailed);
    xmlSchemaSetValidStructuredErrors(validator.get(), CollectStructuredError, &errors);
    m_lastValidationResult = xmlSchemaValidateDoc(validator.get(), doc.get());
    if (m_lastValidationResult != 0)
        return finish(kLoadValidationError);

    // The records.
    return finish(builder.Build(root));
}

void clCamPropertyMgr::LinkAndEvaluateCalculators() {
    for (auto& [name, record] : m_properties) {
        if (!record->isCalculator)
            continue;
        for (const std::u16string& dependence : record->dependences)
            if (clCamProperty* target = FindProperty(dependence))
                target->dependents.push_back(name);
        if (auto* i = PropertyAs<clCamPropertyInteger>(record.get()))
            EvaluateIntegerCalculator(i);
        else if (auto* f = PropertyAs<clCamPropertyFloat>(record.get()))
            EvaluateFloatCalculator(f);
    }
}

void clCamPropertyMgr::Clear() {
    m_loaded = 0;
    ++m_loadGeneration;
    m_properties.clear();
    m_commandMap.clear();
    m_commandList.clear();
    m_informationList.clear();
    FreeCamTree(m_treeRoot, true);
    m_treeRoot = nullptr;
    m_arena.release();
}
