// Dialog units: the layout grid of the dialog templates. A horizontal unit is a quarter of
// the font's average character width, a vertical unit an eighth of its height, so every
// template keeps its proportions with whatever font the system gives. No Qt here.
#pragma once

#include <cstdint>

struct DialogBaseUnits {
    int cx = 6;  // average character width in pixels
    int cy = 12; // character height in pixels
};

// A rectangle in dialog units or pixels: left, top, width, height.
struct DlgRect {
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;
    int right() const { return x + w; }
    int bottom() const { return y + h; }
    bool operator==(const DlgRect&) const = default;
};

// a * b / c rounded to the nearest integer (halves away from zero).
inline int MulDivRound(int a, int b, int c) {
    if (c == 0)
        return 0;
    const int64_t p = static_cast<int64_t>(a) * b;
    const int64_t half = (c > 0 ? c : -c) / 2;
    return static_cast<int>((p >= 0 ? p + half : p - half) / c);
}

inline int DluToPixelX(int dlu, DialogBaseUnits base) {
    return MulDivRound(dlu, base.cx, 4);
}
inline int DluToPixelY(int dlu, DialogBaseUnits base) {
    return MulDivRound(dlu, base.cy, 8);
}

inline DlgRect DluToPixels(DlgRect dlu, DialogBaseUnits base) {
    const int left = DluToPixelX(dlu.x, base);
    const int top = DluToPixelY(dlu.y, base);
    return {left, top, DluToPixelX(dlu.x + dlu.w, base) - left,
            DluToPixelY(dlu.y + dlu.h, base) - top};
}
