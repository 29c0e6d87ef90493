#pragma once
// Where each display index goes in the host's split layouts.
#include <cstdint>

namespace vyrdax {

struct CellRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool IsEmpty() const { return right <= left || bottom <= top; }
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool operator==(const CellRect& o) const
    {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
};

struct LayoutState {
    int16_t displayMode = 16; // cell count: 1, 4, 6, 9, 10, 16, 36 or 64
    int16_t firstCell = 0;    // display index of the first cell
    int16_t singleCell = 0;   // display index shown in mode 1
    int16_t marginLeft = 0, marginTop = 0, marginRight = 0, marginBottom = 0;
};

// Grid size for a display mode; unknown modes lay out as 16.
int GridSize(int displayMode);

// The rectangle of display index `d` in a host client area of the given size;
// the empty rectangle (all zero) when the index has no cell.
CellRect ComputeCellRect(const LayoutState& layout, int clientWidth, int clientHeight, bool eventLogMode, int d);

} // namespace vyrdax
