// The property view's rules that need no window: the texts of labels and descriptions, when an
// item may be edited, and how a slider follows held keys (how a typed value becomes the stored
// value: app/PropertyBinding.h, shared with quillon-cli). The view (ui/CamPropertyForm.h) and the
// editors (ui/PropertyItems.h) call these.
#pragma once

#include "camdef/CamProperty.h"
#include "camdef/PropertyCommit.h"

#include <cstdint>
#include <string>
#include <string_view>

class clCamPropertyMgr;

namespace propview {

// --- Texts -----------------------------------------------------------------------------------

// Label of a property item: the title in the UI language, else the English title, else the
// property name. Without a record the label is empty.
std::u16string ItemLabel(const clCamProperty* record, std::u16string_view uiLang);

// Title of a group row: the node's English title, empty when it has none (the same in every
// UI language).
std::u16string GroupTitle(const clCamTreeNode& node);

// Description of an item, each line ending with a line feed:
//   "Note  : <note>"              when the note (UI language, else English) is not empty;
//   "Range : <min> to <max>"      for an Integer item whose record has a range;
//   "Unit  : <unit>"              when the unit is not empty.
// Empty without a record.
std::u16string BuildDescription(const clCamPropertyMgr& mgr, const clCamProperty* record,
                                bool integerItem, std::u16string_view uiLang);

// --- Enable states ---------------------------------------------------------------------------

// A property may be written when it has no record or its access mode is write only or read and
// write.
bool IsWritable(const clCamProperty* record);

// An item is enabled exactly when the engine is ready, the item shows a property of a known
// type (0 to 5) and the property is writable.
bool IsItemEnabled(bool engineReady, int32_t type, const clCamProperty* record);

// --- Slider movement -------------------------------------------------------------------------

// What moved a slider.
enum class SliderAction {
    Line,    // arrow keys
    Page,    // page keys, clicks beside the thumb
    ToStart, // Home
    ToEnd,   // End
    Track,   // dragging the thumb
    End,     // the key or the mouse button was released
};

// The remembered values of slider movement: the last kind of movement, the repeat counter and
// the last position taken.
struct SliderRepeat {
    SliderAction lastAction = SliderAction::End;
    int counter = 0;
    int lastPosition = 0;
};

// One movement of a slider whose position is now `position` within [min, max]. Returns true
// when the slider takes a new position (written to `newPosition`); false when a held key's
// repeat is passed over, the slider then going back to state.lastPosition (also written to
// `newPosition`). A held arrow key moves once at once and then once every 6 repeats, a held
// page key every second repeat.
bool MoveSlider(SliderRepeat& state, SliderAction action, int position, int min, int max,
                int& newPosition);

} // namespace propview
