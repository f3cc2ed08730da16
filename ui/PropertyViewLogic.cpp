#include "ui/PropertyViewLogic.h"

#include "camdef/CamPropertyMgr.h"

#include <algorithm>
#include <charconv>

namespace propview {

std::u16string ItemLabel(const clCamProperty* record, std::u16string_view uiLang) {
    if (!record)
        return std::u16string();
    std::u16string label = record->title.Display(uiLang);
    return label.empty() ? record->name : label;
}

std::u16string GroupTitle(const clCamTreeNode& node) {
    const std::u16string* title = node.title.Find(u"en");
    return title ? *title : std::u16string();
}

namespace {

void AppendNumber(std::u16string& out, int64_t n) {
    char buffer[24];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, n);
    out.append(buffer, r.ptr);
}

} // namespace

std::u16string BuildDescription(const clCamPropertyMgr& mgr, const clCamProperty* record,
                                bool integerItem, std::u16string_view uiLang) {
    std::u16string text;
    if (!record)
        return text;
    const std::u16string note = record->note.Display(uiLang);
    if (!note.empty())
        text.append(u"Note  : ").append(note).append(u"\n");
    if (const auto* integer = PropertyAs<clCamPropertyInteger>(record);
        integerItem && integer && integer->hasRange) {
        int64_t min = 0;
        int64_t max = 0;
        mgr.GetIntegerMin(integer, min);
        mgr.GetIntegerMax(integer, max);
        text.append(u"Range : ");
        AppendNumber(text, min);
        text.append(u" to ");
        AppendNumber(text, max);
        text.append(u"\n");
    }
    if (!record->unit.empty())
        text.append(u"Unit  : ").append(record->unit).append(u"\n");
    return text;
}

bool IsWritable(const clCamProperty* record) {
    return !record || record->IsWritable();
}

bool IsItemEnabled(bool engineReady, int32_t type, const clCamProperty* record) {
    return engineReady && type >= 0 && type <= 5 && record && IsWritable(record);
}

bool MoveSlider(SliderRepeat& state, SliderAction action, int position, int min, int max,
                int& newPosition) {
    const bool repeating = action == SliderAction::Line || action == SliderAction::Page;
    if (repeating && action == state.lastAction) {
        const int before = state.counter--;
        if (before != 1) {
            newPosition = state.lastPosition;
            return false;
        }
    } else {
        state.counter = 0;
        state.lastAction = action;
    }
    if (max < min)
        max = min;
    switch (action) {
    case SliderAction::ToStart:
        newPosition = min;
        break;
    case SliderAction::ToEnd:
        newPosition = max;
        break;
    default:
        newPosition = std::clamp(position, min, max);
        break;
    }
    state.lastPosition = newPosition;
    if (action == SliderAction::Line)
        state.counter = 6;
    else if (action == SliderAction::Page)
        state.counter = 2;
    return true;
}

} // namespace propview
