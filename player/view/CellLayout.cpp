#include "CellLayout.h"

namespace zoplayer {

namespace {

constexpr int kGridLeft = 12;
constexpr int kGridTop = 54;
constexpr int kSkinWidth = 24;
constexpr int kSkinHeight = 105;

} // namespace

int ColumnsOfSplit(int splitMode)
{
    switch (splitMode) {
    case 1: return 1;
    case 4: return 2;
    case 6:
    case 9: return 3;
    case 10:
    case 16: return 4;
    case 32: return 6;
    default: return 8;
    }
}

QRect CellRect(int splitMode, int k, int width, int height)
{
    const int W = width - kSkinWidth;
    const int H = height - kSkinHeight;
    if (splitMode == 1)
        return k == 0 ? QRect(QPoint(kGridLeft, kGridTop), QPoint(kGridLeft + W - 1, kGridTop + H - 1)) : QRect();
    const int n = ColumnsOfSplit(splitMode);
    const int cw = W / n, rh = H / n;
    const int extraW = W - cw * n, extraH = H - rh * n;
    // Cell of the plain n x n grid at (row, column), right and bottom
    // exclusive as the skin's arithmetic has them.
    auto place = [&](int row, int column, int spanRows, int spanColumns) {
        const int left = kGridLeft + column * cw;
        const int top = kGridTop + row * rh;
        int right = left + cw * spanColumns;
        int bottom = top + rh * spanRows;
        if (column + spanColumns == n)
            right += extraW;
        if (row + spanRows == n)
            bottom += extraH;
        return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
    };
    if (splitMode == 6) {
        static const int places[5][2] = {{0, 2}, {1, 2}, {2, 0}, {2, 1}, {2, 2}};
        if (k == 0)
            return place(0, 0, 2, 2);
        if (k >= 1 && k <= 5)
            return place(places[k - 1][0], places[k - 1][1], 1, 1);
        return QRect();
    }
    if (splitMode == 10) {
        if (k == 0)
            return place(0, 0, 2, 2);
        if (k == 1)
            return place(0, 2, 2, 2);
        if (k >= 2 && k <= 9)
            return place(2 + (k - 2) / 4, (k - 2) % 4, 1, 1);
        return QRect();
    }
    if (k < 0 || k >= n * n)
        return QRect();
    return place(k / n, k % n, 1, 1);
}

int NextPageStart(int splitMode, int pageStart)
{
    int step = 0;
    switch (splitMode) {
    case 1: step = 1; break;
    case 4: step = 4; break;
    case 9: step = 8; break;
    case 16: step = 16; break;
    case 32: step = 32; break;
    default: return pageStart;
    }
    const int next = pageStart + step;
    return next >= 64 ? 0 : next;
}

} // namespace zoplayer
