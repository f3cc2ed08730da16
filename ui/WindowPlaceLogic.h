// The main window's size and placement rules without Qt: the initial size worked out from the
// bars, the console column's show and hide widths, and what is saved to and read from the
// settings file's "WindowPlace" section.
#pragma once

#include <cstdint>
#include <string_view>

namespace placement {

// A window rectangle; right and bottom are exclusive (right = left + width).
struct Rect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    int32_t width() const { return right - left; }
    int32_t height() const { return bottom - top; }
    Rect moved(int32_t dx, int32_t dy) const {
        return {left + dx, top + dy, right + dx, bottom + dy};
    }
    bool operator==(const Rect&) const = default;
};

enum State : int32_t {
    kNormal = 0,
    kMaximized = 1,
    kMinimized = 2,
    kOutsideNormal = 3, // snapped or otherwise placed outside its normal rectangle
};

struct Values {
    Rect rect; // the window's normal rectangle, in work-area coordinates
    int32_t state = kNormal;
    int32_t split = 1; // width of the console column in pixels
    bool operator==(const Values&) const = default;
};

constexpr std::u16string_view kSection = u"WindowPlace";
constexpr std::u16string_view kLeft = u"Left";
constexpr std::u16string_view kTop = u"Top";
constexpr std::u16string_view kRight = u"Right";
constexpr std::u16string_view kBottom = u"Bottom";
constexpr std::u16string_view kState = u"State";
constexpr std::u16string_view kSplit = u"Split";

// The "WindowPlace" keys of the settings file. A missing key or an empty value reads as the
// default; values are written as signed decimal text.
class IStore {
public:
    virtual ~IStore() = default;
    virtual int32_t ReadInt(std::u16string_view key, int32_t defaultValue) = 0;
    virtual bool WriteInt(std::u16string_view key, int32_t value) = 0;
};

// Initial window size from the lower bar's Cancel button and the bars' heights.
struct InitialSizeInput {
    int32_t cancelRight = 0;    // right edge of the Cancel button, screen coordinates
    int32_t windowLeft = 0;     // left edge of the window (with its frame)
    int32_t frameWidth = 0;     // sizing frame, horizontal
    int32_t frameHeight = 0;    // sizing frame, vertical
    int32_t upperBarHeight = 0; // 0 when the bar is absent or hidden
    int32_t lowerBarHeight = 0; // likewise
    int32_t captionHeight = 0;
    int32_t menuHeight = 0;
};
struct Size {
    int32_t width = 0;
    int32_t height = 0;
    bool operator==(const Size&) const = default;
};
// The view area below the menu and bars is 352 pixels high less the sizing frame.
constexpr int32_t kInitialViewHeight = 352;
Size InitialWindowSize(const InitialSizeInput& in);

// The console column: narrower than its minimum, it is shown collapsed.
constexpr int32_t kConsoleMinWidth = 10;
constexpr int32_t kConsoleHiddenWidth = 1;
// Show console: half the view width less the edge and frame allowances.
int32_t ShowConsoleWidth(int32_t viewWidth, int32_t edgeWidth, int32_t frameWidth);

// The window as it is when its placement is saved.
struct Snapshot {
    bool minimized = false;
    bool maximized = false;
    Rect normal;              // normal rectangle, work-area coordinates
    Rect current;             // current rectangle, screen coordinates
    int32_t workAreaLeft = 0; // offset of the work area of the window's screen from that
    int32_t workAreaTop = 0;  // screen's corner (a panel docked at the left or top edge)
    int32_t split = 1;
};
// What is saved: minimized or maximized keep the normal rectangle (state 2 or 1); otherwise
// the current rectangle in work-area coordinates, state 0 when that is the normal rectangle
// and 3 when not.
Values PlacementToSave(const Snapshot& window);

bool SavePlacement(IStore& store, const Values& values);
// Reads the keys; the rectangle defaults to `current` (work-area coordinates), the state to
// 0 and the split to 1.
Values ReadPlacement(IStore& store, const Rect& current);

enum class ShowAs { kNormal, kMaximized, kUnchanged };
// States 0, 2 and 3 show the window normally, 1 maximized; any other leaves it as it is.
ShowAs RestoreShow(int32_t state);

} // namespace placement
