#include "ui/WindowPlaceLogic.h"

#include <algorithm>

namespace placement {

Size InitialWindowSize(const InitialSizeInput& in) {
    return {in.cancelRight + 4 + in.frameWidth - in.windowLeft,
            in.frameHeight + in.upperBarHeight + in.lowerBarHeight + in.captionHeight +
                in.menuHeight + kInitialViewHeight};
}

int32_t ShowConsoleWidth(int32_t viewWidth, int32_t edgeWidth, int32_t frameWidth) {
    return viewWidth / 2 - 2 * (edgeWidth + frameWidth);
}

Values PlacementToSave(const Snapshot& window) {
    Values values;
    values.split = window.split;
    if (window.minimized || window.maximized) {
        values.rect = window.normal;
        values.state = window.minimized ? kMinimized : kMaximized;
        return values;
    }
    values.rect = window.current.moved(-window.workAreaLeft, -window.workAreaTop);
    values.state = values.rect == window.normal ? kNormal : kOutsideNormal;
    return values;
}

bool SavePlacement(IStore& store, const Values& values) {
    bool ok = store.WriteInt(kLeft, values.rect.left);
    ok = store.WriteInt(kTop, values.rect.top) && ok;
    ok = store.WriteInt(kRight, values.rect.right) && ok;
    ok = store.WriteInt(kBottom, values.rect.bottom) && ok;
    ok = store.WriteInt(kState, values.state) && ok;
    ok = store.WriteInt(kSplit, values.split) && ok;
    return ok;
}

Values ReadPlacement(IStore& store, const Rect& current) {
    Values values;
    values.rect.left = store.ReadInt(kLeft, current.left);
    values.rect.top = store.ReadInt(kTop, current.top);
    values.rect.right = store.ReadInt(kRight, current.right);
    values.rect.bottom = store.ReadInt(kBottom, current.bottom);
    values.state = store.ReadInt(kState, kNormal);
    values.split = store.ReadInt(kSplit, kConsoleHiddenWidth);
    return values;
}

ShowAs RestoreShow(int32_t state) {
    switch (state) {
    case kNormal:
    case kMinimized:
    case kOutsideNormal:
        return ShowAs::kNormal;
    case kMaximized:
        return ShowAs::kMaximized;
    default:
        return ShowAs::kUnchanged;
    }
}

} // namespace placement
