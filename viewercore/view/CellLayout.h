#pragma once
// The network viewer's split layouts: where each cell of the shown page lies
// in the field between the panels. Hit tests use the same rectangles.
#include <QRect>

namespace viewer {

struct PanelMargins {
    int left = 186, top = 50, right = 16, bottom = 55;
};

// Grid dimension of a split mode; unknown splits lay out as 16.
int GridDimension(int splitMode);
bool IsSplitMode(int splitMode);

// The rectangle of cell `cell` when `firstCell` is the first cell shown; an
// empty rectangle when the cell is not on the page.
QRect CellRectangle(int cell, int splitMode, int firstCell, int selectedCell, const QSize& client,
                    const PanelMargins& margins);

// The cell under `point` (view coordinates), or -1.
int HitTestCell(const QPoint& point, int splitMode, int firstCell, int selectedCell, const QSize& client,
                const PanelMargins& margins);

} // namespace viewer
