#include "camdef/CamProperty.h"

#include <new>

std::u16string clCamPropertySelection::ValueText() const {
    for (size_t k = 0; k < entryValues.size(); ++k)
        if (entryValues[k] == value)
            return k < entryTexts.size() ? entryTexts[k] : std::u16string();
    return {};
}

namespace {

template <class T>
void Dispose(clCamProperty* p, bool inArena) {
    T* record = static_cast<T*>(p);
    if (inArena)
        record->~T();
    else
        delete record;
}

template <class T>
CamPropertyPtr Make(std::pmr::memory_resource* arena) {
    if (!arena)
        return CamPropertyPtr(new T);
    void* memory = arena->allocate(sizeof(T), alignof(T));
    return CamPropertyPtr(new (memory) T, CamPropertyDeleter{true});
}

} // namespace

void CamPropertyDeleter::operator()(clCamProperty* p) const {
    if (!p)
        return;
    switch (p->type) {
    case CamPropertyType::Integer:
        Dispose<clCamPropertyInteger>(p, inArena);
        break;
    case CamPropertyType::Bool:
        Dispose<clCamPropertyBool>(p, inArena);
        break;
    case CamPropertyType::Execution:
        Dispose<clCamPropertyExecution>(p, inArena);
        break;
    case CamPropertyType::Float:
        Dispose<clCamPropertyFloat>(p, inArena);
        break;
    case CamPropertyType::String:
        Dispose<clCamPropertyString>(p, inArena);
        break;
    case CamPropertyType::Selection:
        Dispose<clCamPropertySelection>(p, inArena);
        break;
    case CamPropertyType::None:
        break;
    }
}

CamPropertyPtr MakeCamProperty(CamPropertyType type, std::pmr::memory_resource* arena) {
    switch (type) {
    case CamPropertyType::Integer:
        return Make<clCamPropertyInteger>(arena);
    case CamPropertyType::Bool:
        return Make<clCamPropertyBool>(arena);
    case CamPropertyType::Execution:
        return Make<clCamPropertyExecution>(arena);
    case CamPropertyType::Float:
        return Make<clCamPropertyFloat>(arena);
    case CamPropertyType::String:
        return Make<clCamPropertyString>(arena);
    case CamPropertyType::Selection:
        return Make<clCamPropertySelection>(arena);
    case CamPropertyType::None:
        break;
    }
    return nullptr;
}

clCamTreeNode* NewCamTreeNode(std::pmr::memory_resource* arena) {
    if (!arena)
        return new clCamTreeNode;
    return new (arena->allocate(sizeof(clCamTreeNode), alignof(clCamTreeNode))) clCamTreeNode;
}

void FreeCamTree(clCamTreeNode* node, bool inArena) {
    // Unlink children into the sibling chain so that every node is visited once, without
    // recursion: a deep or wide tree cannot exhaust the stack.
    while (node) {
        if (node->firstChild) {
            clCamTreeNode* child = node->firstChild;
            node->firstChild = nullptr;
            clCamTreeNode* last = child;
            while (last->nextSibling)
                last = last->nextSibling;
            last->nextSibling = node->nextSibling;
            node->nextSibling = child;
        }
        clCamTreeNode* next = node->nextSibling;
        if (inArena)
            node->~clCamTreeNode();
        else
            delete node;
        node = next;
    }
}
