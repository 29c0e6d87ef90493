#include "CellLayout.h"

namespace viewer {

bool IsSplitMode(int splitMode)
{
    switch (splitMode) {
    case 1: case 4: case 6: case 9: case 10: case 16: case 36: case 64: return true;
    default: return false;
    }
}

int GridDimension(int splitMode)
{
    switch (splitMode) {
    case 1: return 1;
    case 4: return 2;
    case 6: case 9: return 3;
    case 10: case 16: return 4;
    case 36: return 6;
    case 64: return 8;
    default: return 4;
    }
}

// The rectangle of the k-th cell of the page, k counted from the first.
static QRect PagePosition(int k, int splitMode, const QSize& client, const PanelMargins& m)
{
    const int split = IsSplitMode(splitMode) ? splitMode : 16;
    const int n = GridDimension(split);
    const int x0 = m.left, y0 = m.top;
    const int W = client.width() - m.left - m.right;
    const int H = client.height() - m.top - m.bottom;
    if (W <= 0 || H <= 0)
        return {};
    const int w = W / n, rw = W % n, h = H / n, rh = H % n;
    auto rect = [](int left, int top, int right, int bottom) { return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)); };
    auto grid = [&](int r, int c) {
        return rect(x0 + c * w, y0 + r * h, x0 + (c + 1) * w + (c == n - 1 ? rw : 0),
                    y0 + (r + 1) * h + (r == n - 1 ? rh : 0));
    };
    if (split == 1)
        return k == 0 ? rect(x0, y0, x0 + W, y0 + H) : QRect();
    if (split == 6) {
        static const int cells[5][2] = {{0, 2}, {1, 2}, {2, 0}, {2, 1}, {2, 2}};
        if (k == 0)
            return rect(x0, y0, x0 + 2 * w, y0 + 2 * h);
        return k >= 1 && k <= 5 ? grid(cells[k - 1][0], cells[k - 1][1]) : QRect();
    }
    if (split == 10) {
        if (k == 0)
            return rect(x0, y0, x0 + 2 * w, y0 + 2 * h);
        if (k == 1)
            return rect(x0 + 2 * w, y0, x0 + 4 * w + rw, y0 + 2 * h);
        return k >= 2 && k < 10 ? grid(2 + (k - 2) / 4, (k - 2) % 4) : QRect();
    }
    return k >= 0 && k < n * n ? grid(k / n, k % n) : QRect();
}

QRect CellRectangle(int cell, int splitMode, int firstCell, int selectedCell, const QSize& client,
                    const PanelMargins& margins)
{
    if (splitMode == 1)
        return cell == selectedCell ? PagePosition(0, 1, client, margins) : QRect();
    return PagePosition(cell - firstCell, splitMode, client, margins);
}

int HitTestCell(const QPoint& point, int splitMode, int firstCell, int selectedCell, const QSize& client,
                const PanelMargins& margins)
{
    if (splitMode == 1)
        return PagePosition(0, 1, client, margins).contains(point) ? selectedCell : -1;
    const int split = IsSplitMode(splitMode) ? splitMode : 16;
    for (int k = 0; k < split; ++k)
        if (PagePosition(k, split, client, margins).contains(point))
            return firstCell + k < 64 ? firstCell + k : -1;
    return -1;
}

} // namespace viewer
