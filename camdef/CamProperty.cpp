#include "camdef/CamProperty.h"

#include <new>

std::u16string clCamPropertySelection::ValueText() const {
    for (size_t k = 0; k < entryValues.size(); ++k)
        if (entryValues[k] == value)
            return k < entryTexts.size() ? entryTexts[k] : std::u16string();
    return {};
}

void CamPropertyDeleter::operator()(clCamProperty* p) const {
    if (!p)
        return;
    switch (p->type) {
    case CamPropertyType::Integer:
        delete static_cast<clCamPropertyInteger*>(p);
        break;
    case CamPropertyType::Bool:
        delete static_cast<clCamPropertyBool*>(p);
        break;
    case CamPropertyType::Execution:
        delete static_cast<clCamPropertyExecution*>(p);
        break;
    case CamPropertyType::Float:
        delete static_cast<clCamPropertyFloat*>(p);
        break;
    case CamPropertyType::String:
        delete static_cast<clCamPropertyString*>(p);
        break;
    case CamPropertyType::Selection:
        delete static_cast<clCamPropertySelection*>(p);
        break;
    case CamPropertyType::None:
        break;
    }
}

CamPropertyPtr MakeCamProperty(CamPropertyType type) {
    switch (type) {
    case CamPropertyType::Integer:
        return CamPropertyPtr(new clCamPropertyInteger);
    case CamPropertyType::Bool:
        return CamPropertyPtr(new clCamPropertyBool);
    case CamPropertyType::Execution:
        return CamPropertyPtr(new clCamPropertyExecution);
    case CamPropertyType::Float:
        return CamPropertyPtr(new clCamPropertyFloat);
    case CamPropertyType::String:
        return CamPropertyPtr(new clCamPropertyString);
    case CamPropertyType::Selection:
        return CamPropertyPtr(new clCamPropertySelection);
    case CamPropertyType::None:
        break;
    }
    return nullptr;
}

void FreeCamTree(clCamTreeNode* node) {
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
        delete node;
        node = next;
    }
}
