#include "PaneLayout.h"

namespace vyrdax {

int GridSize(int displayMode)
{
    switch (displayMode) {
    case 1: return 1;
    case 4: return 2;
    case 6:
    case 9: return 3;
    case 10:
    case 16: return 4;
    case 36: return 6;
    case 64: return 8;
    default: return 4;
    }
}

static int NormalisedMode(int displayMode)
{
    switch (displayMode) {
    case 1: case 4: case 6: case 9: case 10: case 16: case 36: case 64: return displayMode;
    default: return 16;
    }
}

CellRect ComputeCellRect(const LayoutState& layout, int clientWidth, int clientHeight, bool eventLogMode, int d)
{
    // Event-log panes only carry titles; they sit in one small fixed spot.
    if (eventLogMode)
        return {11, 65, 24, 80};

    const int mode = NormalisedMode(layout.displayMode);
    const int n = GridSize(mode);
    const int x0 = layout.marginLeft;
    const int y0 = layout.marginTop;
    const int W = clientWidth - layout.marginLeft - layout.marginRight;
    const int H = clientHeight - layout.marginTop - layout.marginBottom;
    const int w = W / n, rw = W % n;
    const int h = H / n, rh = H % n;

    auto grid = [&](int r, int c) {
        CellRect rect;
        rect.left = x0 + c * w;
        rect.top = y0 + r * h;
        rect.right = x0 + (c + 1) * w + (c == n - 1 ? rw : 0);
        rect.bottom = y0 + (r + 1) * h + (r == n - 1 ? rh : 0);
        return rect;
    };

    const int k = d - layout.firstCell; // position from the first cell
    if (mode == 1) {
        if (d == layout.singleCell)
            return {x0, y0, x0 + w, y0 + h};
        return {};
    }
    if (mode == 6) {
        static const int cells[5][2] = {{0, 2}, {1, 2}, {2, 0}, {2, 1}, {2, 2}};
        if (k == 0)
            return {x0, y0, x0 + 2 * w, y0 + 2 * h};
        if (k >= 1 && k <= 5)
            return grid(cells[k - 1][0], cells[k - 1][1]);
        return {};
    }
    if (mode == 10) {
        if (k == 0)
            return {x0, y0, x0 + 2 * w, y0 + 2 * h};
        if (k == 1)
            return {x0 + 2 * w, y0, x0 + 4 * w + rw, y0 + 2 * h};
        if (k >= 2 && k < 10)
            return grid(2 + (k - 2) / 4, (k - 2) % 4);
        return {};
    }
    if (k >= 0 && k < n * n)
        return grid(k / n, k % n);
    return {};
}

} // namespace vyrdax
